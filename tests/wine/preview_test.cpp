// Preview, the frame handshake, conversion and snapshots of kovic.dll under
// Wine, on the virtual camera.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>

#include "e2e_fixture.h"

namespace kovic_wine {
namespace {

using PreviewTest = CaptureTest;

TEST_F(PreviewTest, StartSendsPreviewStartDuringTheCallAndFramesWaitForTheHost) {
    KOVIC_SESSION session = OpenOn(kMainCamera);
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    ASSERT_EQ(host_.statuses.size(), 1u) << "sent, not posted: the text arrives inside the call";
    EXPECT_EQ(host_.statuses[0], "Preview Start");
    EXPECT_EQ(host_.status_lparams[0], 1024);
    EXPECT_EQ(host_.status_threads[0], GetCurrentThreadId());
    EXPECT_EQ(KOVICIsPreviewing(session), 1);
    EXPECT_EQ(KOVICStartPreview(session), KOVIC_E_PREVIEWING);
    EXPECT_EQ(host_.statuses.size(), 1u);

    // A new sink delivers nothing until it is armed.
    host_.PumpFor(500);
    EXPECT_TRUE(host_.frames.empty());

    // One arming, one message, however many samples pass; two armings, still one.
    const FrameMessage *frame = NextFrame(session);
    ASSERT_NE(frame, nullptr);
    host_.PumpFor(250);
    EXPECT_EQ(host_.frames.size(), 1u);
    EXPECT_EQ(KOVICGetFrameCall(session), KOVIC_OK);
    EXPECT_EQ(KOVICGetFrameCall(session), KOVIC_OK);
    host_.PumpFor(250);
    EXPECT_EQ(host_.frames.size(), 2u);

    ASSERT_EQ(KOVICStopPreview(session), KOVIC_OK);
    ASSERT_EQ(host_.statuses.size(), 2u);
    EXPECT_EQ(host_.statuses[1], "Preview Stop");
    EXPECT_EQ(KOVICIsPreviewing(session), 0);
    EXPECT_EQ(KOVICStopPreview(session), KOVIC_E_NOT_PREVIEWING);
    EXPECT_EQ(host_.statuses.size(), 2u) << "a refused stop sends nothing";
}

TEST_F(PreviewTest, FramesCarryTheDescriptorRisingTimesAndCountersAndConvertUprightMirrored) {
    KOVIC_SESSION session = OpenOn(kMainCamera);
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    std::vector<FrameMessage> frames;
    std::vector<uint32_t> counters;
    std::vector<unsigned char> i420(320 * 240 * 3 / 2);
    for (int i = 0; i < 4; ++i) {
        const FrameMessage *frame = NextFrame(session);
        ASSERT_NE(frame, nullptr);
        SCOPED_TRACE(testing::Message() << "frame " << i);
        EXPECT_EQ(frame->lparam, 0);
        EXPECT_EQ(frame->busy, 1u) << "the sink waits while the frame is out";
        EXPECT_EQ(frame->thread, GetCurrentThreadId());
        EXPECT_EQ(frame->width, 320);
        EXPECT_EQ(frame->height, 240);
        EXPECT_EQ(frame->length, 230400);
        ASSERT_NE(frame->data, nullptr);
        vcam::DecodedPattern pattern = DecodeDeliveredFrame(frame->width, frame->height, frame->data);
        ASSERT_TRUE(pattern.valid);
        EXPECT_EQ(pattern.tag, 1u);
        counters.push_back(pattern.counter);
        frames.push_back(*frame);

        // Converted, the bottom-up frame comes out upright and mirrored left to right.
        std::memset(i420.data(), 0x5A, i420.size());
        EXPECT_EQ(KOVICGetYuvFrame(i420.data(), frame->data, 320, 240, frame->length), 1);
        vcam::DecodedPattern converted = vcam::DecodePattern(LumaOfConvertedFrame(i420.data(), 320, 240, true), 320, 240);
        ASSERT_TRUE(converted.valid);
        EXPECT_EQ(converted.counter, pattern.counter);
        vcam::LumaAt unmirrored = [&](int x, int y) { return static_cast<int>(i420[static_cast<size_t>(y) * 320 + x]); };
        EXPECT_FALSE(vcam::DecodePattern(unmirrored, 320, 240).valid) << "the conversion mirrors";
        if (i == 0) SaveAndCheckBitmap(session, *frame, "kovic-e2e-");
        host_.PumpFor(40);
    }
    for (size_t i = 1; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].descriptor, frames[0].descriptor) << "one descriptor per sink";
        EXPECT_EQ(frames[i].data, frames[0].data) << "one buffer per sink";
        EXPECT_GT(frames[i].sample_time, frames[i - 1].sample_time);
        EXPECT_GT(counters[i], counters[i - 1]);
    }
    EXPECT_GE(frames[0].sample_time, 0.0);
    EXPECT_LT(frames[0].sample_time, 1.0) << "sample times count from the run's start";
}

TEST_F(PreviewTest, ATopDownFrameKeepsItsNegativeHeightAndConvertsTurnedHalfACircle) {
    KOVIC_SESSION session = OpenOn(kMainCamera, 176, 144);
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    const FrameMessage *frame = NextFrame(session);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 176);
    EXPECT_EQ(frame->height, -144) << "sign as the connected format stores it";
    EXPECT_EQ(frame->length, 176 * 3 * 144);
    EXPECT_TRUE(DecodeDeliveredFrame(frame->width, frame->height, frame->data).valid);
    std::vector<unsigned char> i420(176 * 144 * 3 / 2);
    KOVICGetYuvFrame(i420.data(), frame->data, 176, 144, frame->length);
    EXPECT_TRUE(vcam::DecodePattern(LumaOfConvertedFrame(i420.data(), 176, 144, false), 176, 144).valid);
    EXPECT_FALSE(vcam::DecodePattern(LumaOfConvertedFrame(i420.data(), 176, 144, true), 176, 144).valid);
    SaveAndCheckBitmap(session, *frame, "kovic-e2e-");
}

TEST_F(PreviewTest, RowsOfAWidthNotAMultipleOfFourArePaddedAndSavedAsDelivered) {
    KOVIC_SESSION session = OpenOn(kMainCamera, 178, 100);
    EXPECT_EQ(KOVICGetWidth(session), 178);
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    const FrameMessage *frame = NextFrame(session);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 178);
    EXPECT_EQ(frame->height, 100);
    EXPECT_EQ(frame->length, ((178 * 3 + 3) & ~3) * 100) << "rows of 534 bytes padded to 536";
    EXPECT_TRUE(DecodeDeliveredFrame(frame->width, frame->height, frame->data).valid);
    for (int row = 0; row < 100; ++row) {
        ASSERT_EQ(frame->data[row * 536 + 534], 0) << "row " << row;
        ASSERT_EQ(frame->data[row * 536 + 535], 0) << "row " << row;
    }
    SaveAndCheckBitmap(session, *frame, "kovic-e2e-");
}

TEST_F(PreviewTest, ShortFramesAreDeliveredWithTheirOwnLengthAndAFullFrameAfterThemIsWhole) {
    KOVIC_SESSION session = OpenOn(kShortFrameCamera);
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    // Armed before the first sample: the first frame (counter 0) is short.
    const FrameMessage *first = NextFrame(session);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->length, 76032 / 2);
    bool saw_full = false;
    for (int i = 0; i < 8 && !saw_full; ++i) {
        host_.PumpFor(20);
        const FrameMessage *frame = NextFrame(session);
        ASSERT_NE(frame, nullptr);
        if (frame->length == 76032) {
            saw_full = true;
            vcam::DecodedPattern pattern = DecodeDeliveredFrame(frame->width, frame->height, frame->data);
            ASSERT_TRUE(pattern.valid) << "a longer frame after a short one is copied whole";
            EXPECT_NE(pattern.counter % 3, 0u);
            EXPECT_EQ(pattern.tag, 4u);
        } else {
            EXPECT_EQ(frame->length, 76032 / 2);
        }
    }
    EXPECT_TRUE(saw_full);
}

}  // namespace
}  // namespace kovic_wine
