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
        Format(PixelFormat::kNv12, 640, 480),  Format(PixelFormat::kNv12, 178, 100),
        Format(PixelFormat::kYv12, 320, 240),  Format(PixelFormat::kUyvy, 178, 99),
        Format(PixelFormat::kRgb32, 320, 240), Format(PixelFormat::kRgb32, 178, -100),
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
    EXPECT_EQ(packed[0], 235);  // Y of the white sync block, studio range
    EXPECT_NEAR(packed[1], 128, 1);
    EXPECT_EQ(packed[2 * 8], 16);  // Y of the black sync block
}

TEST(TestPatternTest, StudioRangeLevelsOfThePrimaries) {
    struct Case {
        Rgb colour;
        int y, u, v;
    } cases[] = {
        {{255, 255, 255}, 235, 128, 128}, {{0, 0, 0}, 16, 128, 128},   {{255, 0, 0}, 81, 90, 240},
        {{0, 255, 0}, 145, 54, 34},       {{0, 0, 255}, 41, 240, 110}, {{255, 255, 0}, 210, 16, 146},
        {{0, 255, 255}, 170, 166, 16},    {{255, 0, 255}, 106, 202, 222},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << int(c.colour.r) << "," << int(c.colour.g) << "," << int(c.colour.b));
        Yuv yuv = StudioYuvOf(c.colour);
        EXPECT_EQ(yuv.y, c.y);
        EXPECT_EQ(yuv.u, c.u);
        EXPECT_EQ(yuv.v, c.v);
        EXPECT_NEAR(FullRangeLuma(yuv.y), LumaOf(c.colour), 1) << "studio luma read back on the full scale";
    }
    EXPECT_EQ(FullRangeLuma(16), 0);
    EXPECT_EQ(FullRangeLuma(235), 255);
    EXPECT_EQ(FullRangeLuma(0), 0) << "below black clamps";
    EXPECT_EQ(FullRangeLuma(255), 255) << "above white clamps";
}

// Each format's bytes at one pixel of a bar, found from the layout written out
// here rather than through the painter's own arithmetic.
struct Sample {
    int y, u, v;
};

Sample SampleAt(const VideoFormat &format, const std::vector<uint8_t> &frame, int x, int y) {
    const size_t w = static_cast<size_t>(format.width), h = static_cast<size_t>(AbsoluteHeight(format));
    const size_t cx = static_cast<size_t>(x / 2), cy = static_cast<size_t>(y / 2);
    const size_t luma = static_cast<size_t>(y) * w + static_cast<size_t>(x);
    const size_t quarter = (w / 2) * (h / 2);
    switch (format.pixel) {
    case PixelFormat::kI420:
        return {frame[luma], frame[w * h + cy * (w / 2) + cx], frame[w * h + quarter + cy * (w / 2) + cx]};
    case PixelFormat::kYv12:
        return {frame[luma], frame[w * h + quarter + cy * (w / 2) + cx], frame[w * h + cy * (w / 2) + cx]};
    case PixelFormat::kNv12:
        return {frame[luma], frame[w * h + cy * w + 2 * cx], frame[w * h + cy * w + 2 * cx + 1]};
    case PixelFormat::kYuy2: {
        const uint8_t *pair = frame.data() + static_cast<size_t>(y) * 2 * w + 4 * cx;
        return {pair[2 * (x & 1)], pair[1], pair[3]};
    }
    case PixelFormat::kUyvy: {
        const uint8_t *pair = frame.data() + static_cast<size_t>(y) * 2 * w + 4 * cx;
        return {pair[1 + 2 * (x & 1)], pair[0], pair[2]};
    }
    default: return {-1, -1, -1};
    }
}

TEST(TestPatternTest, EachYuvLayoutStoresLumaAndBothChromaComponentsInTheirOwnPlaces) {
    const PixelFormat formats[] = {PixelFormat::kI420, PixelFormat::kYv12, PixelFormat::kNv12, PixelFormat::kYuy2,
                                   PixelFormat::kUyvy};
    for (PixelFormat pixel : formats) {
        VideoFormat format = Format(pixel, 320, 240);
        SCOPED_TRACE(testing::PrintToString(std::wstring(NameOf(pixel))));
        std::vector<uint8_t> frame = Painted(format, 0x5A5A, 9);
        // Bars are 40 pixels wide: red is bar 5, blue bar 6, green bar 3;
        // odd coordinates too, which share their block's chroma.
        for (int y : {100, 101}) {
            for (int x : {220, 221}) {
                Sample red = SampleAt(format, frame, x, y);
                EXPECT_EQ(red.y, 81);
                EXPECT_EQ(red.u, 90);
                EXPECT_EQ(red.v, 240);
            }
        }
        Sample blue = SampleAt(format, frame, 260, 120);
        EXPECT_EQ(blue.y, 41);
        EXPECT_EQ(blue.u, 240);
        EXPECT_EQ(blue.v, 110);
        Sample green = SampleAt(format, frame, 140, 200);
        EXPECT_EQ(green.y, 145);
        EXPECT_EQ(green.u, 54);
        EXPECT_EQ(green.v, 34);
        // The grey code row and marker, and nothing left unpainted.
        EXPECT_EQ(SampleAt(format, frame, 300, 3).y, 126);
        EXPECT_EQ(SampleAt(format, frame, 4, 12).y, 126);
        // Studio levels never go below 16: a 0 is a byte the painter left unwritten.
        for (uint8_t byte : frame) ASSERT_GE(byte, 16);
    }
}

TEST(TestPatternTest, Rgb32StoresBlueGreenRedThenAnOpaqueAlphaBottomUpUnlessTheHeightIsNegative) {
    VideoFormat bottom_up = Format(PixelFormat::kRgb32, 176, 40);
    std::vector<uint8_t> frame = Painted(bottom_up, 0, 0);
    ASSERT_EQ(frame.size(), 176u * 4 * 40);
    // The first row in memory is the bottom row: white bar at the left, then
    // (22 pixels per bar) yellow, and red in bar 5.
    EXPECT_EQ(std::vector<uint8_t>(frame.begin(), frame.begin() + 4), (std::vector<uint8_t>{255, 255, 255, 255}));
    EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 4 * 30, frame.begin() + 4 * 31),
              (std::vector<uint8_t>{0, 255, 255, 255}));
    EXPECT_EQ(std::vector<uint8_t>(frame.begin() + 4 * 120, frame.begin() + 4 * 121),
              (std::vector<uint8_t>{0, 0, 255, 255}));
    for (size_t at = 3; at < frame.size(); at += 4) ASSERT_EQ(frame[at], 255) << "alpha at byte " << at;
    VideoFormat top_down = Format(PixelFormat::kRgb32, 176, -40);
    std::vector<uint8_t> flipped = Painted(top_down, 0, 0);
    for (int row = 0; row < 40; ++row) {
        ASSERT_EQ(std::vector<uint8_t>(flipped.begin() + row * 704, flipped.begin() + (row + 1) * 704),
                  std::vector<uint8_t>(frame.begin() + (39 - row) * 704, frame.begin() + (40 - row) * 704))
            << "row " << row;
    }
}

}  // namespace
}  // namespace vcam
