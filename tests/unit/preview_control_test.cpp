// Preview control through the exports, on devices that deliver nothing by
// themselves: the codes, texts and messages of starting and stopping, a run
// that fails, a graph without run control, and the unbuilt session.
#include <string>
#include <vector>

#include "graph/preview_control.h"
#include "session/capture_session.h"
#include "session/live_sessions.h"
#include "support/emulated_fixture.h"

using kovic_test::EmulatedTest;
using kovic_test::RecordingWindow;

namespace {

class PreviewControlTest : public EmulatedTest {
protected:
    static kovic::CaptureSession *Record(KOVIC_SESSION h) { return kovic::LookUpSession(h); }
    static emu::GraphState GraphState(KOVIC_SESSION h) { return emu::StateOf(Record(h)->graph.filter_graph()); }
};

// Each status message: the id, a text readable during the call, and lParam 1024.
TEST_F(PreviewControlTest, StartAndStopSendTheirTextsSynchronously) {
    CreateWith({Named(L"Cam")});
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    ASSERT_EQ(window.messages.size(), 1u) << "sent inside KOVICStartPreview";
    EXPECT_EQ(KOVICIsPreviewing(h), 1);
    EXPECT_EQ(GraphState(h), emu::GraphState::kRunning);
    ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);
    ASSERT_EQ(window.messages.size(), 2u) << "sent inside KOVICStopPreview";
    EXPECT_EQ(KOVICIsPreviewing(h), 0);
    EXPECT_EQ(GraphState(h), emu::GraphState::kStopped);
    EXPECT_EQ(Record(h)->built, 1) << "stopping does not tear the graph down";
    for (const auto &m : window.messages) {
        EXPECT_EQ(m.message, static_cast<UINT>(KOVIC_MSG_STATUS));
        EXPECT_EQ(m.lparam, 1024);
    }
    EXPECT_EQ(window.StatusTexts(), (std::vector<std::string>{"Preview Start", "Preview Stop"}));
    EXPECT_EQ(emu::PumpMessages(window.handle()), 0) << "nothing was posted";
    KOVICClose(h);
}

TEST_F(PreviewControlTest, StoppingABuiltStoppedSessionSendsNothing) {
    CreateWith({Named(L"Cam")});
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    ASSERT_EQ(KOVICGetWidth(h), 640) << "the query gate builds the graph";
    ASSERT_EQ(Record(h)->built, 1);
    emu::ResetCallCounts();
    EXPECT_EQ(KOVICStopPreview(h), KOVIC_E_NOT_PREVIEWING);
    EXPECT_EQ(emu::CallCount(emu::Call::MediaControlStop), 0);
    EXPECT_EQ(emu::CallCount(emu::Call::QueryInterface), 0);
    EXPECT_TRUE(window.messages.empty());
    // And after a completed stop, a second one is refused the same way.
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);
    EXPECT_EQ(KOVICStopPreview(h), KOVIC_E_NOT_PREVIEWING);
    EXPECT_EQ(window.StatusTexts(), (std::vector<std::string>{"Preview Start", "Preview Stop"}));
    KOVICClose(h);
}

// A graph that will not run is stopped at once, yet the session previews:
// the host saw "Preview Start" and must stop before anything is rebuilt.
TEST_F(PreviewControlTest, ARunThatFailsIsAnsweredWithStopAndStillCountsAsPreviewing) {
    CreateWith({Named(L"Cam")});
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    emu::FailCall(emu::Call::MediaControlRun, E_FAIL);
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    EXPECT_EQ(emu::CallCount(emu::Call::MediaControlRun), 1);
    EXPECT_EQ(emu::CallCount(emu::Call::MediaControlStop), 1) << "Stop answers the failed Run";
    EXPECT_EQ(GraphState(h), emu::GraphState::kStopped);
    EXPECT_EQ(KOVICIsPreviewing(h), 1);
    EXPECT_EQ(window.StatusTexts(), std::vector<std::string>{"Preview Start"});
    EXPECT_EQ(KOVICGetFrameCall(h), KOVIC_OK);
    EXPECT_EQ(emu::DeliverSample(Record(h)->graph.device_source(), 0, reinterpret_cast<const BYTE *>("abcd"), 4),
              VFW_E_WRONG_STATE)
        << "no frames from a graph that did not run";

    KOVICSetVideoFormat(h, 320, 240);
    EXPECT_EQ(KOVICStartPreview(h), KOVIC_E_PREVIEWING) << "no rebuild before a stop";
    EXPECT_EQ(Record(h)->built_width, 0);
    ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    EXPECT_EQ(Record(h)->built_width, 320) << "rebuilt after the stop";
    EXPECT_EQ(GraphState(h), emu::GraphState::kRunning);
    KOVICClose(h);
}

// Without run control nothing changes: no flag, no message, the graph kept.
TEST_F(PreviewControlTest, AGraphWithoutRunControlLeavesThePreviewingFlagAsItWas) {
    CreateWith({Named(L"Cam")});
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    emu::FailCall(emu::Call::QueryInterface, E_NOINTERFACE, 1, &IID_IMediaControl);
    EXPECT_EQ(KOVICStartPreview(h), KOVIC_E_MEDIA_CONTROL);
    EXPECT_STREQ(Record(h)->last_error, "MediaControl interface not create");
    EXPECT_EQ(KOVICIsPreviewing(h), 0);
    EXPECT_EQ(Record(h)->built, 1) << "the built graph stays for the next try";
    EXPECT_EQ(emu::CallCount(emu::Call::MediaControlRun), 0);
    EXPECT_TRUE(window.messages.empty());

    emu::ClearFaults();
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    Record(h)->last_error[0] = '\0';
    emu::FailCall(emu::Call::QueryInterface, E_NOINTERFACE, 1, &IID_IMediaControl);
    emu::ResetCallCounts();
    EXPECT_EQ(KOVICStopPreview(h), KOVIC_E_MEDIA_CONTROL);
    EXPECT_STREQ(Record(h)->last_error, "MediaControl interface not create");
    EXPECT_EQ(KOVICIsPreviewing(h), 1);
    EXPECT_EQ(GraphState(h), emu::GraphState::kRunning);
    EXPECT_EQ(emu::CallCount(emu::Call::MediaControlStop), 0);
    EXPECT_EQ(window.StatusTexts(), std::vector<std::string>{"Preview Start"});

    emu::ClearFaults();
    EXPECT_EQ(KOVICStopPreview(h), KOVIC_OK);
    EXPECT_EQ(window.StatusTexts(), (std::vector<std::string>{"Preview Start", "Preview Stop"}));
    KOVICClose(h);
}

// The exports build before they run, so only a direct call meets an unbuilt session.
TEST_F(PreviewControlTest, RunningAnUnbuiltSessionIsRefused) {
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    kovic::CaptureSession *s = Record(h);
    EXPECT_EQ(s->graph.RunPreview(*s), KOVIC_E_GRAPH_NOT_BUILT);
    EXPECT_STREQ(s->last_error, "Preview graph not built");
    EXPECT_EQ(s->previewing, 0);
    EXPECT_EQ(s->graph.StopPreviewGraph(*s), KOVIC_E_NOT_PREVIEWING);
    s->previewing = 1;  // the previewing test comes before the built test
    EXPECT_EQ(s->graph.RunPreview(*s), KOVIC_E_PREVIEWING);
    s->previewing = 0;
    EXPECT_TRUE(window.messages.empty());
    KOVICClose(h);
}

// The status buffer is the library's: the host sees a whole, terminated
// 1024-byte block, and a failed send changes no result.
TEST_F(PreviewControlTest, TheStatusBufferIsAWholeBlock) {
    struct Seen {
        std::vector<unsigned char> block;
    } seen;
    HWND window = emu::CreateHostWindow(
        [](HWND, UINT message, WPARAM wparam, LPARAM lparam, void *context) -> LRESULT {
            auto *s = static_cast<Seen *>(context);
            if (message == KOVIC_MSG_STATUS) {
                const auto *p = reinterpret_cast<const unsigned char *>(wparam);
                s->block.assign(p, p + lparam);
            }
            return 0;
        },
        &seen);
    KOVIC_SESSION h = KOVICOpen(window);
    kovic::NotifyStatus(window, "Preview Start");
    ASSERT_EQ(seen.block.size(), 1024u);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(seen.block.data())), "Preview Start");
    for (size_t i = 13; i < seen.block.size(); ++i) ASSERT_EQ(seen.block[i], 0) << "byte " << i;

    CreateWith({Named(L"Cam")});
    emu::ResetCallCounts();
    emu::FailCall(emu::Call::SendMessage, E_FAIL, 0);
    EXPECT_EQ(KOVICStartPreview(h), KOVIC_OK);
    EXPECT_EQ(KOVICStopPreview(h), KOVIC_OK);
    EXPECT_EQ(emu::CallCount(emu::Call::SendMessage), 2);
    KOVICClose(h);
    emu::DestroyHostWindow(window);
}

}  // namespace
