// The frame pattern: painted in each pixel format, it reads back with its
// counter and tag, and a mirrored or flipped reading is refused.
#include <gtest/gtest.h>

#include <vector>

#include "test_pattern.h"

namespace vcam {
namespace {

VideoFormat Format(PixelFormat pixel, int32_t width, int32_t height) {
    VideoFormat format;
    format.pixel = pixel;
    format.width = width;
    format.height = height;
    return format;
}

std::vector<uint8_t> Painted(const VideoFormat &format, uint32_t counter, uint32_t tag) {
    FramePainter painter;
    EXPECT_TRUE(painter.Prepare(format));
    std::vector<uint8_t> frame(ImageBytes(format), 0xA5);
    painter.Paint(counter, tag, frame.data());
    return frame;
}

TEST(TestPatternTest, CounterAndTagReadBackInEveryFormat) {
    const VideoFormat formats[] = {
        Format(PixelFormat::kRgb24, 320, 240), Format(PixelFormat::kRgb24, 176, -144),
        Format(PixelFormat::kRgb24, 178, 100), Format(PixelFormat::kI420, 640, 480),
        Format(PixelFormat::kI420, 176, 32),   Format(PixelFormat::kYuy2, 352, 288),
    };
    const uint32_t counters[] = {0, 1, 0x8000, 0xBEEF, 0xFFFF};
    for (const VideoFormat &format : formats) {
        for (uint32_t counter : counters) {
            uint32_t tag = counter % 16;
            SCOPED_TRACE(testing::Message() << format.width << "x" << format.height << " counter " << counter);
            std::vector<uint8_t> frame = Painted(format, counter, tag);
            DecodedPattern decoded = DecodePattern(LumaOfFrame(format, frame.data()), format.width,
                                                   AbsoluteHeight(format));
            ASSERT_TRUE(decoded.valid);
            EXPECT_EQ(decoded.counter, counter);
            EXPECT_EQ(decoded.tag, tag);
        }
    }
}

TEST(TestPatternTest, CounterWrapsAtSixteenBits) {
    VideoFormat format = Format(PixelFormat::kRgb24, 176, 32);
    std::vector<uint8_t> frame = Painted(format, 0x12345, 0);
    DecodedPattern decoded = DecodePattern(LumaOfFrame(format, frame.data()), 176, 32);
    ASSERT_TRUE(decoded.valid);
    EXPECT_EQ(decoded.counter, 0x2345u);
}

TEST(TestPatternTest, BottomUpRgbStoresTheBottomRowFirstAndPadsRowsWithZeros) {
    VideoFormat bottom_up = Format(PixelFormat::kRgb24, 178, 40);
    std::vector<uint8_t> frame = Painted(bottom_up, 0, 0);
    // The first row in memory is the picture's bottom row: the white bar at the
    // left, the black bar at the right (bytes are blue, green, red).
    EXPECT_EQ(frame[0], 255);
    EXPECT_EQ(frame[2], 255);
    EXPECT_EQ(frame[3 * 177], 0);
    // The last row in memory is the top row: the grey code row begins with the white sync block.
    size_t top = static_cast<size_t>(39) * 536;
    EXPECT_EQ(frame[top], 255);
    EXPECT_EQ(frame[top + 3 * 8], 0) << "second sync block is black";
    for (int row = 0; row < 40; ++row) {
        EXPECT_EQ(frame[row * 536 + 534], 0) << "row " << row;
        EXPECT_EQ(frame[row * 536 + 535], 0) << "row " << row;
    }
    // Top-down: the same picture, rows in the other order.
    VideoFormat top_down = Format(PixelFormat::kRgb24, 178, -40);
    std::vector<uint8_t> flipped = Painted(top_down, 0, 0);
    for (int row = 0; row < 40; ++row) {
        ASSERT_EQ(std::vector<uint8_t>(flipped.begin() + row * 536, flipped.begin() + (row + 1) * 536),
                  std::vector<uint8_t>(frame.begin() + (39 - row) * 536, frame.begin() + (40 - row) * 536))
            << "row " << row;
    }
}

TEST(TestPatternTest, MirroredFlippedOrTruncatedPicturesDoNotDecode) {
    VideoFormat format = Format(PixelFormat::kRgb24, 320, 240);
    std::vector<uint8_t> frame = Painted(format, 0x1234, 5);
    LumaAt upright = LumaOfFrame(format, frame.data());
    LumaAt mirrored = [&](int x, int y) { return upright(319 - x, y); };
    LumaAt flipped = [&](int x, int y) { return upright(x, 239 - y); };
    LumaAt turned = [&](int x, int y) { return upright(319 - x, 239 - y); };
    EXPECT_TRUE(DecodePattern(upright, 320, 240).valid);
    EXPECT_FALSE(DecodePattern(mirrored, 320, 240).valid);
    EXPECT_FALSE(DecodePattern(flipped, 320, 240).valid);
    EXPECT_FALSE(DecodePattern(turned, 320, 240).valid);
    EXPECT_FALSE(DecodePattern(upright, kMinPatternWidth - 1, 240).valid);
    LumaAt grey = [](int, int) { return 128; };
    EXPECT_FALSE(DecodePattern(grey, 320, 240).valid);
}

TEST(TestPatternTest, YuvFramesCarryNeutralChromaInTheCodeBlocks) {
    VideoFormat i420 = Format(PixelFormat::kI420, 176, 32);
    std::vector<uint8_t> frame = Painted(i420, 0xFFFF, 15);
    size_t luma = 176 * 32;
    // Chroma of the first code block (white) and the second (black): neutral.
    EXPECT_NEAR(frame[luma], 128, 1);
    EXPECT_NEAR(frame[luma + luma / 4], 128, 1);
    EXPECT_NEAR(frame[luma + 4], 128, 1);
    VideoFormat yuy2 = Format(PixelFormat::kYuy2, 176, 32);
    std::vector<uint8_t> packed = Painted(yuy2, 0, 0);
    EXPECT_EQ(packed[0], 255);  // Y of the white sync block
    EXPECT_NEAR(packed[1], 128, 1);
    EXPECT_EQ(packed[2 * 8], 0);  // Y of the black sync block
}

}  // namespace
}  // namespace vcam
