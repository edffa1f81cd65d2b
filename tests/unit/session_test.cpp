// Sessions through the exports: handles, selection, the build gate and the
// codes of the graph steps the emulated platform can reach.
#include <cstring>
#include <set>

#include "session/capture_session.h"
#include "session/live_sessions.h"
#include "support/emulated_fixture.h"

using kovic_test::EmulatedTest;
using kovic_test::RecordingWindow;

namespace {

class SessionTest : public EmulatedTest {};

TEST_F(SessionTest, HandlesThatAreNotLiveSessionsAreAnsweredLikeNull) {
    CreateWith({Named(L"Cam")});
    KOVIC_SESSION live = KOVICOpen(nullptr);
    ASSERT_NE(live, 0);
    KOVIC_SESSION closed = KOVICOpen(nullptr);
    ASSERT_EQ(KOVICClose(closed), 1);
    int not_a_session = 42;
    const KOVIC_SESSION bad[] = {0, closed, reinterpret_cast<KOVIC_SESSION>(&not_a_session)};
    for (KOVIC_SESSION h : bad) {
        EXPECT_EQ(KOVICClose(h), KOVIC_E_NULL_HANDLE);
        EXPECT_EQ(KOVICSelectDevice(h, 0), KOVIC_E_NULL_HANDLE);
        EXPECT_EQ(KOVICSetVideoFormat(h, 640, 480), KOVIC_E_NULL_HANDLE);
        EXPECT_EQ(KOVICEnumVideoFormat(h, 640, 480), 0);
        EXPECT_EQ(KOVICGetWidth(h), 0);
        EXPECT_EQ(KOVICGetHeight(h), 0);
        EXPECT_EQ(KOVICStartPreview(h), KOVIC_E_NULL_HANDLE);
        EXPECT_EQ(KOVICStopPreview(h), KOVIC_E_NULL_HANDLE);
        EXPECT_EQ(KOVICIsPreviewing(h), KOVIC_E_NULL_HANDLE);
        EXPECT_EQ(KOVICGetFrameCall(h), KOVIC_E_NULL_HANDLE);
        EXPECT_EQ(KOVICSaveSingleFrameBitmap(h, "x.bmp", nullptr), KOVIC_E_NULL_HANDLE);
    }
    EXPECT_EQ(KOVICIsPreviewing(live), 0);
    EXPECT_EQ(KOVICClose(live), 1);
    EXPECT_EQ(KOVICClose(live), KOVIC_E_NULL_HANDLE) << "double close";
}

// A handle is issued once: a session opened after another closed never gets
// its handle (even when its record lands at the same address), so a stale
// close is answered like a null handle and leaves the new session open.
TEST_F(SessionTest, HandlesAreNeverIssuedTwice) {
    CreateWith({Named(L"Cam")});
    std::set<KOVIC_SESSION> issued;
    for (int round = 0; round < 100; ++round) {
        KOVIC_SESSION a = KOVICOpen(nullptr);
        ASSERT_GT(a, 0);
        ASSERT_EQ(KOVICClose(a), 1);
        KOVIC_SESSION b = KOVICOpen(nullptr);
        ASSERT_GT(b, 0);
        EXPECT_NE(b, a);
        EXPECT_EQ(KOVICClose(a), KOVIC_E_NULL_HANDLE) << "a stale handle closed another session";
        EXPECT_EQ(KOVICGetFrameCall(a), KOVIC_E_NULL_HANDLE);
        EXPECT_EQ(KOVICIsPreviewing(b), 0) << "the newer session is still open";
        EXPECT_TRUE(issued.insert(a).second && issued.insert(b).second) << "a handle was issued twice";
        ASSERT_EQ(KOVICClose(b), 1);
    }
}

TEST_F(SessionTest, ANewSessionHasItsInitialValues) {
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    kovic::CaptureSession *s = kovic::LookUpSession(h);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->host_window, window.handle());
    EXPECT_EQ(s->selected_device, 0);
    EXPECT_EQ(s->built_device, -1);
    EXPECT_EQ(s->built, 0);
    EXPECT_EQ(s->previewing, 0);
    EXPECT_EQ(s->graph.frame_sink(), nullptr);
    EXPECT_EQ(s->last_error[0], '\0');
    KOVICClose(h);
}

TEST_F(SessionTest, SelectionRules) {
    CreateWith({Named(L"A"), Named(L"B")});
    KOVIC_SESSION h = KOVICOpen(nullptr);
    kovic::CaptureSession *s = kovic::LookUpSession(h);
    EXPECT_EQ(KOVICSelectDevice(h, 1), 1);
    EXPECT_EQ(s->selected_device, 1);
    EXPECT_EQ(KOVICSelectDevice(h, 2), KOVIC_E_DEVICE_INDEX);
    EXPECT_EQ(s->selected_device, 1) << "a refused index changes nothing";
    EXPECT_EQ(KOVICSelectDevice(h, -1), 1);
    EXPECT_EQ(s->selected_device, -1) << "a negative index is stored unchanged";
    // No device selected: the queries answer 0 without building anything.
    emu::ResetCallCounts();
    EXPECT_EQ(KOVICGetWidth(h), 0);
    EXPECT_EQ(KOVICEnumVideoFormat(h, 640, 480), 0);
    EXPECT_EQ(emu::CallCount(emu::Call::CoCreateInstance), 0);
    KOVICClose(h);

    CreateWith({});
    h = KOVICOpen(nullptr);
    EXPECT_EQ(KOVICSelectDevice(h, 0), KOVIC_E_DEVICE_INDEX);
    EXPECT_EQ(KOVICSelectDevice(h, -5), KOVIC_E_DEVICE_INDEX) << "k is 0 for a negative index";
    EXPECT_EQ(KOVICSetVideoFormat(h, -3, 100000), 1) << "sizes are not validated";
    KOVICClose(h);
}

TEST_F(SessionTest, FrameExportsWithoutASinkAnswerNoSink) {
    CreateWith({Named(L"A")});
    KOVIC_SESSION h = KOVICOpen(nullptr);
    EXPECT_EQ(KOVICGetFrameCall(h), KOVIC_E_NO_FRAME_SINK);
    FrameDescriptor frame = {};
    EXPECT_EQ(KOVICSaveSingleFrameBitmap(h, "never.bmp", &frame), KOVIC_E_NO_FRAME_SINK);
    EXPECT_EQ(KOVICSaveSingleFrameBitmap(h, nullptr, &frame), KOVIC_E_NO_FRAME_SINK) << "the sink test comes first";
    EXPECT_EQ(KOVICStopPreview(h), KOVIC_E_NOT_PREVIEWING);
    KOVICClose(h);
}

TEST_F(SessionTest, FailedOpenReturnsANullHandle) {
    emu::FailCall(emu::Call::LibraryAlloc, E_OUTOFMEMORY);
    EXPECT_EQ(KOVICOpen(nullptr), 0);
}

TEST_F(SessionTest, ReportErrorFormatsLowerCaseHexAndNeverOverflows) {
    kovic::CaptureSession s;
    s.ReportError("Error %x: Cannot find VCapture:IAMStreamConfig", static_cast<HRESULT>(0x80004002L));
    EXPECT_STREQ(s.last_error, "Error 80004002: Cannot find VCapture:IAMStreamConfig");
    std::string huge(3000, 'y');
    s.ReportError("%s", huge.c_str());
    EXPECT_EQ(std::strlen(s.last_error), 1023u);
}

}  // namespace
