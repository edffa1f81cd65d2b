// Graph reuse and rebuild, closing, devices that fail or put a preview pin
// first, and repeated sessions that must leave nothing behind: kovic.dll
// under Wine on the virtual camera.
#include <algorithm>

#include "e2e_fixture.h"

namespace kovic_wine {
namespace {

using LifecycleTest = CaptureTest;

TEST_F(LifecycleTest, StopAndStartReuseTheGraphAndASizeChangeRebuildsItWithAFreshSink) {
    KOVIC_SESSION session = OpenOn(kMainCamera);
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    const FrameMessage *frame = NextFrame(session);
    ASSERT_NE(frame, nullptr);
    const FrameDescriptor *descriptor = frame->descriptor;
    vcam::DecodedPattern before = DecodeDeliveredFrame(frame->width, frame->height, frame->data);
    ASSERT_TRUE(before.valid);
    ASSERT_EQ(KOVICStopPreview(session), KOVIC_OK);

    // Same device and size: the same graph runs again. Its source goes on
    // counting, the sink and its descriptor stay, and so does its busy flag:
    // the frame taken before the stop was never handed back.
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    host_.PumpFor(400);
    size_t seen = host_.frames.size();
    EXPECT_EQ(descriptor->busy, 1u);
    frame = NextFrame(session);
    ASSERT_NE(frame, nullptr);
    ASSERT_EQ(host_.frames.size(), seen + 1);
    EXPECT_EQ(frame->descriptor, descriptor);
    vcam::DecodedPattern reused = DecodeDeliveredFrame(frame->width, frame->height, frame->data);
    ASSERT_TRUE(reused.valid);
    EXPECT_GT(reused.counter, before.counter) << "the same device filter kept running";
    EXPECT_LT(frame->sample_time, 1.0) << "a new run starts its clock afresh";
    ASSERT_EQ(KOVICStopPreview(session), KOVIC_OK);
    std::vector<std::string> expected = {"Preview Start", "Preview Stop", "Preview Start", "Preview Stop"};
    EXPECT_EQ(host_.statuses, expected);

    // Another size: a new graph with a new device filter and a new sink that
    // waits to be armed.
    host_.DiscardQueuedFrames();
    ASSERT_EQ(KOVICSetVideoFormat(session, 176, 144), KOVIC_OK);
    EXPECT_EQ(KOVICGetWidth(session), 320) << "the built graph answers until the next start";
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    EXPECT_EQ(KOVICGetWidth(session), 176);
    host_.PumpFor(400);
    EXPECT_EQ(host_.frames.size(), seen + 1) << "the fresh sink delivered before it was armed";
    frame = NextFrame(session);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 176);
    EXPECT_EQ(frame->height, -144);
    vcam::DecodedPattern rebuilt = DecodeDeliveredFrame(frame->width, frame->height, frame->data);
    ASSERT_TRUE(rebuilt.valid);
    // A new device filter counts from 0 at its run's start and never sends
    // ahead of its 30 frames a second, so its counter is bounded by the
    // frame's sample time; the old filter would add the frames it sent before.
    // (Comparing with the reused counter instead fails on a loaded machine,
    // where the old filter may have sent no more frames than the new one.)
    EXPECT_LE(rebuilt.counter, frame->sample_time * 30.0 + 1.0)
        << "a new device filter counts from the start (counter " << rebuilt.counter << " at "
        << frame->sample_time << " s; the old one had reached " << reused.counter << ")";
}

TEST_F(LifecycleTest, ClosingWhilePreviewingSendsPreviewStopAndForgetsTheHandle) {
    KOVIC_SESSION session = OpenOn(kMainCamera);
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    ASSERT_NE(NextFrame(session), nullptr);
    Forget(session);
    ASSERT_EQ(KOVICClose(session), KOVIC_OK);
    ASSERT_EQ(host_.statuses.size(), 2u);
    EXPECT_EQ(host_.statuses[1], "Preview Stop");
    host_.DiscardQueuedFrames();
    EXPECT_EQ(KOVICIsPreviewing(session), KOVIC_E_NULL_HANDLE) << "a closed handle is not a session";
    EXPECT_EQ(KOVICGetFrameCall(session), KOVIC_E_NULL_HANDLE);
    EXPECT_EQ(VirtualCameraObjects(), 0);
}

TEST_F(LifecycleTest, ADeviceThatFailsToBindIsListedButCannotBeAdded) {
    KOVIC_SESSION session = OpenOn(kBrokenCamera);
    EXPECT_EQ(KOVICStartPreview(session), KOVIC_E_ADD_DEVICE_SOURCE);
    EXPECT_EQ(KOVICIsPreviewing(session), 0);
    EXPECT_TRUE(host_.statuses.empty());
    EXPECT_EQ(KOVICGetWidth(session), 0);
    EXPECT_EQ(KOVICEnumVideoFormat(session, 320, 240), 0);
    EXPECT_EQ(KOVICGetFrameCall(session), KOVIC_E_NO_FRAME_SINK);
    // The same session still works on a good device afterwards.
    ASSERT_EQ(KOVICSelectDevice(session, DeviceIndex(kMainCamera)), KOVIC_OK);
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    EXPECT_NE(NextFrame(session), nullptr);
}

TEST_F(LifecycleTest, APreviewPinFirstIsTheOneConnected) {
    KOVIC_SESSION session = OpenOn(kPreviewFirstCamera);
    // The format interface is found on the capture pin, the chain is built
    // from output pin 0, the preview pin; both share the device's format.
    EXPECT_EQ(KOVICGetWidth(session), 224);
    EXPECT_EQ(KOVICGetHeight(session), 168);
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    const FrameMessage *frame = NextFrame(session);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 224);
    vcam::DecodedPattern pattern = DecodeDeliveredFrame(frame->width, frame->height, frame->data);
    ASSERT_TRUE(pattern.valid);
    EXPECT_EQ(pattern.tag, 2u ^ vcam::kPreviewTagBit) << "frames of the preview pin";
}

TEST_F(LifecycleTest, SelectingNoDeviceOrOneBeyondTheListFindsNothing) {
    KOVIC_SESSION session = OpenOn(kMainCamera);
    ASSERT_EQ(KOVICSelectDevice(session, -1), KOVIC_OK);
    EXPECT_EQ(KOVICGetWidth(session), 0);
    EXPECT_EQ(KOVICStartPreview(session), KOVIC_E_DEVICE_NOT_FOUND);
    EXPECT_EQ(KOVICSelectDevice(session, KOVICGetVideoDeviceCount()), KOVIC_E_DEVICE_INDEX);
}

// Threads, handles and device objects after many sessions, and no frame
// callback once KOVICStopPreview has returned.
TEST_F(LifecycleTest, RepeatedSessionsLeaveNothingBehindAndStopEndsTheCallbacks) {
    const char *devices[] = {kMainCamera, kPreviewFirstCamera, kStubbornCamera};
    int threads_while_running = 0;
    auto cycle = [&](int i) {
        KOVIC_SESSION session = OpenOn(devices[i % 3], i % 2 == 0 ? 0 : 176, i % 2 == 0 ? 0 : 144);
        ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
        const FrameMessage *frame = NextFrame(session);
        ASSERT_NE(frame, nullptr) << "cycle " << i;
        const FrameDescriptor *descriptor = frame->descriptor;
        threads_while_running = std::max(threads_while_running, ThreadCount());
        if (i % 4 == 3) {
            // Closed while running.
            CloseAsHost(session);
            return;
        }
        // Armed as the graph stops: whatever the stop lets through arrives
        // before it returns; after that the sink must stay armed and silent.
        EXPECT_EQ(KOVICGetFrameCall(session), KOVIC_OK);
        ASSERT_EQ(KOVICStopPreview(session), KOVIC_OK);
        // Frames taken and frames still queued when the stop returned; the
        // queued ones are discarded here and stay counted.
        const size_t discarded = static_cast<size_t>(host_.DiscardQueuedFrames());
        const size_t queued = host_.frames.size() + discarded;
        if (descriptor->busy != 0) {
            EXPECT_EQ(KOVICGetFrameCall(session), KOVIC_OK);
        }
        host_.PumpFor(120);
        EXPECT_EQ(descriptor->busy, 0u) << "a frame callback ran after the stop returned (cycle " << i << ")";
        EXPECT_EQ(host_.frames.size() + discarded + static_cast<size_t>(host_.DiscardQueuedFrames()), queued)
            << "a frame message came after the stop returned (cycle " << i << ")";
        CloseAsHost(session);
    };
    // The first cycles load Wine's DirectShow and start its service threads.
    for (int i = 0; i < 3; ++i) cycle(i);
    ASSERT_EQ(VirtualCameraObjects(), 0);
    int threads = ThreadCount();
    DWORD handles = HandleCount();
    ASSERT_GT(threads, 0);
    ASSERT_GT(handles, 0u);
    std::vector<int> indices;
    for (int i = 3; i < 33; ++i) {
        cycle(i);
        indices.push_back(DeviceIndex(devices[i % 3]));
    }
    EXPECT_EQ(VirtualCameraObjects(), 0);
    // Settle: threads that end as their graph goes need a moment to be gone
    // (longer on a loaded machine).
    host_.PumpUntil([&] { return ThreadCount() <= threads; }, 10000);
    EXPECT_GT(threads_while_running, threads) << "the count does not see the streaming threads";
    EXPECT_LE(ThreadCount(), threads) << "threads were left behind";
    DWORD growth = HandleCount() - handles;
    DWORD platform = PlatformHandleGrowth(indices);
    EXPECT_LE(growth, platform + 2) << "handles left behind beyond the platform's own " << platform;
}

}  // namespace
}  // namespace kovic_wine
