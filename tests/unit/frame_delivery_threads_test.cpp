// The frame handshake across two threads: a thread pushing samples through a
// running graph while the host arms the sink and takes frame messages, and a
// stop that waits for the delivery in progress.
#include <algorithm>
#include <atomic>
#include <thread>
#include <vector>

#include "frames/frame_sink.h"
#include "session/capture_session.h"
#include "session/live_sessions.h"
#include "support/emulated_fixture.h"

using kovic_test::EmulatedTest;

namespace {

class FrameDeliveryThreadsTest : public EmulatedTest {};

TEST_F(FrameDeliveryThreadsTest, OneFramePerArmingWhileAnotherThreadDelivers) {
    CreateWith({Named(L"Cam")});
    std::vector<int> first_bytes;
    struct Host {
        std::vector<int> *first_bytes;
        int status_messages = 0;
    } host{&first_bytes};
    HWND window = emu::CreateHostWindow(
        [](HWND, UINT message, WPARAM wparam, LPARAM, void *context) -> LRESULT {
            auto *h = static_cast<Host *>(context);
            if (message == KOVIC_MSG_FRAME) {
                const auto *frame = reinterpret_cast<const FrameDescriptor *>(wparam);
                // Every byte of a frame carries its number: a torn frame shows.
                bool whole = true;
                for (int32_t i = 0; i < frame->length; ++i) whole &= frame->data[i] == frame->data[0];
                h->first_bytes->push_back(whole ? frame->data[0] : -1);
            } else {
                ++h->status_messages;
            }
            return 0;
        },
        &host);
    KOVIC_SESSION h = KOVICOpen(window);
    ASSERT_EQ(KOVICStartPreview(h), 1);
    IBaseFilter *source = kovic::LookUpSession(h)->graph.device_source();
    IBaseFilter *renderer = kovic::LookUpSession(h)->graph.null_renderer();

    std::atomic<bool> stopped{false};
    std::atomic<int> refused{0};
    std::thread streaming([&] {
        std::vector<BYTE> frame(640 * 480 * 3);
        for (int n = 0; !stopped.load(); ++n) {
            std::fill(frame.begin(), frame.end(), static_cast<BYTE>(n));
            if (emu::DeliverSample(source, n * 333333LL, frame.data(), static_cast<LONG>(frame.size())) ==
                VFW_E_WRONG_STATE) {
                refused.fetch_add(1);
            }
        }
    });

    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(KOVICGetFrameCall(h), 1);
        ASSERT_TRUE(emu::WaitAndDispatchMessage(window, 5000)) << "frame " << i;
    }
    ASSERT_EQ(KOVICStopPreview(h), 1);
    // Once the stop has returned, no sample passes.
    const int passed = emu::RendererSamples(renderer);
    while (refused.load() == 0) std::this_thread::yield();
    EXPECT_EQ(emu::RendererSamples(renderer), passed);
    stopped = true;
    streaming.join();
    EXPECT_EQ(emu::PumpMessages(window), 0) << "one message per arming";

    ASSERT_EQ(first_bytes.size(), 20u);
    for (size_t i = 0; i < first_bytes.size(); ++i) EXPECT_NE(first_bytes[i], -1) << "frame " << i << " torn";
    KOVICClose(h);
    emu::DestroyHostWindow(window);
}

}  // namespace
