// kovic.dll against a careless or hostile host under Wine, on the virtual
// camera: stale handles, exports called from a second thread while the
// session's own thread closes it, snapshots beside files that are someone
// else's, and the session's own descriptor passed back with a length its
// buffer does not hold.
#include <atomic>
#include <cstring>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <thread>

#include "e2e_fixture.h"

namespace kovic_wine {
namespace {

using HostileHostTest = CaptureTest;

// A fresh folder of this process under the temporary folder.
std::string ScratchFolder(const char *stem) {
    const std::string folder = ProcessTempPath(stem);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder + "\\";
}

std::string Content(const std::string &name) {
    std::ifstream in(name, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void Write(const std::string &name, const std::string &text) { std::ofstream(name, std::ios::binary) << text; }

TEST_F(HostileHostTest, AClosedSessionsHandleIsNeverIssuedAgain) {
    std::set<KOVIC_SESSION> issued;
    for (int round = 0; round < 100; ++round) {
        const KOVIC_SESSION a = KOVICOpen(host_.as_handle());
        ASSERT_GT(a, 0);
        ASSERT_EQ(KOVICClose(a), KOVIC_OK);
        const KOVIC_SESSION b = KOVICOpen(host_.as_handle());
        ASSERT_GT(b, 0);
        EXPECT_NE(a, b);
        EXPECT_EQ(KOVICClose(a), KOVIC_E_NULL_HANDLE) << "a stale handle closed another session";
        EXPECT_EQ(KOVICIsPreviewing(b), 0);
        EXPECT_TRUE(issued.insert(a).second && issued.insert(b).second);
        ASSERT_EQ(KOVICClose(b), KOVIC_OK);
    }
}

// A second thread keeps arming and asking while the session's own thread
// starts, stops and closes sessions on a streaming camera.
TEST_F(HostileHostTest, ArmingFromAnotherThreadRacesCloseSafely) {
    const int device = DeviceIndex(kMainCamera);
    ASSERT_GE(device, 0);
    std::atomic<KOVIC_SESSION> current{0};
    std::atomic<bool> done{false};
    std::atomic<int> armed{0}, gone{0}, wrong{0};
    std::thread other([&] {
        while (!done.load()) {
            const int r = KOVICGetFrameCall(current.load());
            if (r == KOVIC_OK) {
                armed.fetch_add(1);
            } else if (r == KOVIC_E_NULL_HANDLE) {
                gone.fetch_add(1);
            } else if (r != KOVIC_E_NO_FRAME_SINK) {
                wrong.fetch_add(1);
            }
            const int p = KOVICIsPreviewing(current.load());
            if (p != 0 && p != 1 && p != KOVIC_E_NULL_HANDLE) wrong.fetch_add(1);
        }
    });
    int rounds = 0;
    for (; rounds < 12; ++rounds) {
        const KOVIC_SESSION session = KOVICOpen(host_.as_handle());
        current.store(session);
        if (KOVICSelectDevice(session, device) != KOVIC_OK || KOVICStartPreview(session) != KOVIC_OK) break;
        // A frame first: Wine's graph can hang in its final release when it is
        // stopped before its clock has started.
        const size_t before = host_.frames.size();
        if (!host_.PumpUntil([&] { return host_.frames.size() > before; }, 5000)) break;
        if (rounds % 2 == 0 && KOVICStopPreview(session) != KOVIC_OK) break;
        host_.DiscardQueuedFrames();
        if (KOVICClose(session) != KOVIC_OK) break;
        host_.DiscardQueuedFrames();  // frames posted before the close returned
    }
    done.store(true);
    other.join();
    EXPECT_EQ(rounds, 12);
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(armed.load(), 0);
    EXPECT_GT(gone.load(), 0);
}

TEST_F(HostileHostTest, SnapshotsLeaveOtherFilesAloneAndNeverReadPastTheBuffer) {
    KOVIC_SESSION session = OpenOn(kMainCamera, 320, 240);
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    const FrameMessage *frame = NextFrame(session);
    ASSERT_NE(frame, nullptr);
    auto *own = const_cast<FrameDescriptor *>(frame->descriptor);
    const int32_t length = own->length;
    ASSERT_EQ(length, 320 * 240 * 3);

    // Files named like temporary files, belonging to someone else.
    const std::string folder = ScratchFolder("kovic-hostile-");
    const char *theirs[] = {"snap.bmp.0.tmp", "snap.bmp.1.tmp", "album.1.tmp", "~kv0.tmp", "~kv1.tmp"};
    for (const char *name : theirs) Write(folder + name, std::string("theirs: ") + name);
    Write(folder + "snap.bmp", "old");
    CreateDirectoryA((folder + "album").c_str(), nullptr);
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(KOVICSaveSingleFrameBitmap(session, (folder + "snap.bmp").c_str(), own), 1);
        EXPECT_EQ(KOVICSaveSingleFrameBitmap(session, (folder + "album").c_str(), own), 0);
    }
    EXPECT_EQ(Content(folder + "snap.bmp").size(), static_cast<size_t>(length) + 54);
    for (const char *name : theirs) EXPECT_EQ(Content(folder + name), std::string("theirs: ") + name) << name;

    // The session's own descriptor with a length past its buffer: refused,
    // and the file it names is not created.
    own->length = length + 4096;
    EXPECT_EQ(KOVICSaveSingleFrameBitmap(session, (folder + "inflated.bmp").c_str(), own), 0);
    own->length = length;
    EXPECT_EQ(GetFileAttributesA((folder + "inflated.bmp").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(KOVICSaveSingleFrameBitmap(session, (folder + "whole.bmp").c_str(), own), 1);
    EXPECT_EQ(Content(folder + "whole.bmp").size(), static_cast<size_t>(length) + 54);

    for (const char *name : {"snap.bmp", "whole.bmp", "snap.bmp.0.tmp", "snap.bmp.1.tmp", "album.1.tmp", "~kv0.tmp",
                             "~kv1.tmp"}) {
        DeleteFileA((folder + name).c_str());
    }
    RemoveDirectoryA((folder + "album").c_str());
    EXPECT_TRUE(RemoveDirectoryA(folder.c_str())) << "a file was left in the scratch folder";
}

}  // namespace
}  // namespace kovic_wine
