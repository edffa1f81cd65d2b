// The exports a host may call from any thread at any time, KOVICGetFrameCall
// and KOVICIsPreviewing, racing the session's own thread as it starts, rebuilds
// (which replaces the frame sink) and closes it, with a camera streaming from
// its own thread. Run under ThreadSanitizer and AddressSanitizer, a use of a
// freed record or sink shows at once; here the answers must always be codes
// the export can give.
#include <atomic>
#include <thread>

#include "support/emulated_fixture.h"

using kovic_test::EmulatedTest;

namespace {

class ConcurrentExportsTest : public EmulatedTest {};

TEST_F(ConcurrentExportsTest, ArmingAndAskingRaceStartRebuildAndClose) {
    emu::SimulatedDevice camera = Named(L"Streaming camera");
    camera.capabilities = {{MEDIASUBTYPE_RGB24, 64, 48}, {MEDIASUBTYPE_RGB24, 32, 24}};
    camera.current_format = {MEDIASUBTYPE_RGB24, 64, 48};
    camera.frames_per_second = 1000.0;
    camera.streams_test_pattern = true;
    CreateWith({camera});

    std::atomic<KOVIC_SESSION> current{0};
    std::atomic<bool> done{false};
    std::atomic<int> armed{0}, no_sink{0}, gone{0}, previewing{0}, wrong{0};
    std::thread other([&] {
        while (!done.load()) {
            const KOVIC_SESSION h = current.load();
            const int arm = KOVICGetFrameCall(h);
            if (arm == KOVIC_OK) {
                armed.fetch_add(1);
            } else if (arm == KOVIC_E_NO_FRAME_SINK) {
                no_sink.fetch_add(1);
            } else if (arm == KOVIC_E_NULL_HANDLE) {
                gone.fetch_add(1);
            } else {
                wrong.fetch_add(1);
            }
            const int asked = KOVICIsPreviewing(h);
            if (asked == 1) previewing.fetch_add(1);
            if (asked != 0 && asked != 1 && asked != KOVIC_E_NULL_HANDLE) wrong.fetch_add(1);
            // Lets the session's thread in where threads take turns (valgrind
            // runs one at a time and would otherwise starve it).
            std::this_thread::yield();
        }
    });
    // One round of the session's own thread; false at the first unexpected code.
    auto round_trip = [&](int round) {
        const KOVIC_SESSION h = KOVICOpen(nullptr);
        if (h <= 0) return false;
        current.store(h);
        bool ok = KOVICStartPreview(h) == KOVIC_OK && KOVICStopPreview(h) == KOVIC_OK;
        // Another size: the next start tears the graph down and builds a new
        // one with a new sink.
        ok = ok && KOVICSetVideoFormat(h, 32, 24) == KOVIC_OK && KOVICStartPreview(h) == KOVIC_OK;
        if (ok && round % 2 == 0) ok = KOVICStopPreview(h) == KOVIC_OK;
        // Closed while the other thread still uses the handle.
        return KOVICClose(h) == KOVIC_OK && ok;
    };
    int rounds = 0;
    while (rounds < 150 && round_trip(rounds)) ++rounds;
    done.store(true);
    other.join();
    EXPECT_EQ(rounds, 150) << "a round of the session's own thread failed";
    EXPECT_EQ(wrong.load(), 0);
    // The race was run: the other thread met live sinks and closed sessions.
    EXPECT_GT(armed.load(), 0);
    EXPECT_GT(gone.load(), 0);
}

}  // namespace
