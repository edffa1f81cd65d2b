// The MJPG decoder on frames encoded here with libjpeg-turbo: pictures close to
// their source, bottom-up with zeroed row padding, at odd and even sizes and
// both camera subsamplings; frames without Huffman tables after frames with
// tables of their own; frames refused for their size, their missing tables or
// their damage, each with sample and frame buffer against inaccessible pages.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "frames/frame_to_rgb24.h"
#include "frames/mjpeg_decoder.h"
#include "support/guarded_buffer.h"
#include "support/jpeg_test_frames.h"

using kovic::MjpegDecoder;
using kovic::MjpegDecoderPtr;
using kovic::Rgb24RowBytes;
using kovic_test::Chroma;
using kovic_test::EncodeJpeg;
using kovic_test::GuardedBuffer;
using kovic_test::JpegOptions;
using kovic_test::TestPicture;

namespace {

constexpr uint8_t kSentinel = 0xA5;

size_t FrameBytes(int width, int height) { return Rgb24RowBytes(width) * static_cast<size_t>(std::abs(height)); }

// A sample and a frame buffer of exactly their sizes, each against an
// inaccessible page on the side the guard names.
struct GuardedDecode {
    GuardedDecode(const std::vector<uint8_t> &jpeg, size_t frame_bytes, GuardedBuffer::Guard guard)
        : sample(jpeg.size(), guard), frame(frame_bytes, guard) {
        std::memcpy(sample.data(), jpeg.data(), jpeg.size());
        std::memset(frame.data(), kSentinel, frame_bytes);
    }
    bool Run(MjpegDecoder &decoder, int width, int height) {
        return decoder.Decode(sample.data(), sample.size(), width, height, frame.data(), frame.size());
    }
    GuardedBuffer sample;
    GuardedBuffer frame;
};

struct Error {
    int max = 0;
    double mean = 0;
};

// The decoded bottom-up frame against the top-down source picture; every pad
// byte must be 0.
Error CompareWithPicture(const uint8_t *frame, const std::vector<uint8_t> &picture, int width, int height) {
    const size_t row_bytes = Rgb24RowBytes(width);
    Error error;
    double total = 0;
    for (int y = 0; y < height; ++y) {
        const uint8_t *row = frame + static_cast<size_t>(height - 1 - y) * row_bytes;
        const uint8_t *source = &picture[static_cast<size_t>(y) * width * 3];
        for (int i = 0; i < width * 3; ++i) {
            const int difference = std::abs(row[i] - source[i]);
            total += difference;
            if (difference > error.max) error.max = difference;
        }
        for (size_t pad = static_cast<size_t>(width) * 3; pad < row_bytes; ++pad) {
            EXPECT_EQ(row[pad], 0) << "pad byte " << pad << " of picture row " << y;
        }
    }
    error.mean = total / (static_cast<double>(width) * height * 3);
    return error;
}

MjpegDecoderPtr NewDecoder() {
    MjpegDecoderPtr decoder = MjpegDecoder::Create();
    EXPECT_NE(decoder, nullptr);
    return decoder;
}

// Decodes into a plain vector (for comparing two decodes byte for byte).
std::vector<uint8_t> DecodeToVector(MjpegDecoder &decoder, const std::vector<uint8_t> &jpeg, int width, int height,
                                    bool *ok) {
    std::vector<uint8_t> frame(FrameBytes(width, height), kSentinel);
    *ok = decoder.Decode(jpeg.data(), jpeg.size(), width, height, frame.data(), frame.size());
    return frame;
}

TEST(MjpegDecoderTest, DecodesPicturesBottomUpAtOddAndEvenSizes) {
    MjpegDecoderPtr decoder = NewDecoder();
    ASSERT_NE(decoder, nullptr);
    const int sizes[][2] = {{1, 1}, {2, 2}, {3, 5}, {16, 16}, {17, 9}, {33, 17}, {63, 47}, {64, 48}, {322, 241},
                            {640, 480}};
    for (Chroma chroma : {Chroma::k420, Chroma::k422}) {
        for (const auto &size : sizes) {
            const int width = size[0], height = size[1];
            SCOPED_TRACE(::testing::Message() << width << "x" << height << (chroma == Chroma::k420 ? " 4:2:0" : " 4:2:2"));
            const std::vector<uint8_t> picture = TestPicture(width, height);
            JpegOptions options;
            options.chroma = chroma;
            const std::vector<uint8_t> jpeg = EncodeJpeg(picture, width, height, options);
            for (auto guard : {GuardedBuffer::Guard::kAfterEnd, GuardedBuffer::Guard::kBeforeStart}) {
                GuardedDecode run(jpeg, FrameBytes(width, height), guard);
                ASSERT_TRUE(run.Run(*decoder, width, height));
                // Quality 95 on a smooth picture: a wrong channel order, a
                // flipped or shifted row or a wrong row size is off by tens.
                const Error error = CompareWithPicture(run.frame.data(), picture, width, height);
                EXPECT_LE(error.max, 10);
                EXPECT_LE(error.mean, 1.5);
            }
        }
    }
}

TEST(MjpegDecoderTest, NegativeHeightGivesTheSameBottomUpFrame) {
    MjpegDecoderPtr decoder = NewDecoder();
    ASSERT_NE(decoder, nullptr);
    const std::vector<uint8_t> jpeg = EncodeJpeg(TestPicture(21, 13), 21, 13);
    bool ok_positive = false, ok_negative = false;
    const std::vector<uint8_t> positive = DecodeToVector(*decoder, jpeg, 21, 13, &ok_positive);
    const std::vector<uint8_t> negative = DecodeToVector(*decoder, jpeg, 21, -13, &ok_negative);
    ASSERT_TRUE(ok_positive);
    ASSERT_TRUE(ok_negative);
    EXPECT_EQ(positive, negative);
}

// Webcams leave the standard Huffman tables out of their frames; a decoder
// must apply them, also after frames that brought tables of their own.
TEST(MjpegDecoderTest, FramesWithoutHuffmanTablesGetTheStandardOnes) {
    const int width = 96, height = 64;
    const std::vector<uint8_t> picture = TestPicture(width, height);
    const std::vector<uint8_t> with_tables = EncodeJpeg(picture, width, height);
    const std::vector<uint8_t> without_tables = kovic_test::WithoutSegments(with_tables, 0xC4);
    ASSERT_TRUE(kovic_test::HasSegment(with_tables, 0xC4));
    ASSERT_FALSE(kovic_test::HasSegment(without_tables, 0xC4));
    ASSERT_LT(without_tables.size(), with_tables.size());

    MjpegDecoderPtr decoder = NewDecoder();
    ASSERT_NE(decoder, nullptr);
    bool ok = false;
    const std::vector<uint8_t> expected = DecodeToVector(*decoder, with_tables, width, height, &ok);
    ASSERT_TRUE(ok);
    {
        GuardedDecode run(without_tables, FrameBytes(width, height), GuardedBuffer::Guard::kAfterEnd);
        ASSERT_TRUE(run.Run(*decoder, width, height));
        EXPECT_EQ(std::memcmp(run.frame.data(), expected.data(), expected.size()), 0);
    }

    // Tables of the picture's own statistics fill the same slots; the next
    // frame without tables must not be decoded with them.
    JpegOptions optimised;
    optimised.optimise_huffman = true;
    const std::vector<uint8_t> own_tables = EncodeJpeg(picture, width, height, optimised);
    ASSERT_NE(own_tables, with_tables);
    std::vector<uint8_t> frame = DecodeToVector(*decoder, own_tables, width, height, &ok);
    ASSERT_TRUE(ok);
    frame = DecodeToVector(*decoder, without_tables, width, height, &ok);
    ASSERT_TRUE(ok);
    EXPECT_EQ(frame, expected);
}

// Quantisation tables are never standard: a frame without them is refused,
// even after frames that had them, and the decoder goes on afterwards.
TEST(MjpegDecoderTest, FramesWithoutQuantisationTablesAreRefused) {
    const int width = 40, height = 24;
    const std::vector<uint8_t> jpeg = EncodeJpeg(TestPicture(width, height), width, height);
    const std::vector<uint8_t> without = kovic_test::WithoutSegments(jpeg, 0xDB);
    ASSERT_FALSE(kovic_test::HasSegment(without, 0xDB));
    MjpegDecoderPtr decoder = NewDecoder();
    ASSERT_NE(decoder, nullptr);
    bool ok = false;
    const std::vector<uint8_t> expected = DecodeToVector(*decoder, jpeg, width, height, &ok);
    ASSERT_TRUE(ok);
    DecodeToVector(*decoder, without, width, height, &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(DecodeToVector(*decoder, jpeg, width, height, &ok), expected);
    EXPECT_TRUE(ok);
}

TEST(MjpegDecoderTest, RefusesOtherSizesAndBadArgumentsWithoutWriting) {
    const int width = 48, height = 32;
    const std::vector<uint8_t> jpeg = EncodeJpeg(TestPicture(width, height), width, height);
    MjpegDecoderPtr decoder = NewDecoder();
    ASSERT_NE(decoder, nullptr);
    const size_t bytes = FrameBytes(width, height);
    std::vector<uint8_t> frame(bytes + 64, kSentinel);
    const std::vector<uint8_t> untouched = frame;
    const int other_sizes[][2] = {{47, 32}, {49, 32}, {48, 31}, {48, 33}, {32, 48}, {24, 16}, {96, 64}};
    for (const auto &size : other_sizes) {
        EXPECT_FALSE(decoder->Decode(jpeg.data(), jpeg.size(), size[0], size[1], frame.data(), frame.size()))
            << size[0] << "x" << size[1];
    }
    EXPECT_FALSE(decoder->Decode(jpeg.data(), jpeg.size(), width, height, frame.data(), bytes - 1));
    EXPECT_FALSE(decoder->Decode(jpeg.data(), jpeg.size(), width, height, nullptr, bytes));
    EXPECT_FALSE(decoder->Decode(nullptr, jpeg.size(), width, height, frame.data(), bytes));
    EXPECT_FALSE(decoder->Decode(jpeg.data(), 0, width, height, frame.data(), bytes));
    EXPECT_FALSE(decoder->Decode(jpeg.data(), jpeg.size(), 0, height, frame.data(), bytes));
    EXPECT_FALSE(decoder->Decode(jpeg.data(), jpeg.size(), width, 0, frame.data(), bytes));
    EXPECT_FALSE(decoder->Decode(jpeg.data(), jpeg.size(), -width, height, frame.data(), bytes));
    EXPECT_FALSE(decoder->Decode(jpeg.data(), jpeg.size(), width, INT32_MIN, frame.data(), frame.size()));
    EXPECT_FALSE(decoder->Decode(jpeg.data(), jpeg.size(), 70000, 70000, frame.data(), frame.size()));
    EXPECT_EQ(frame, untouched);
    // A buffer larger than the frame is fine; only the frame's bytes change.
    ASSERT_TRUE(decoder->Decode(jpeg.data(), jpeg.size(), width, height, frame.data(), frame.size()));
    EXPECT_TRUE(std::equal(frame.begin() + bytes, frame.end(), untouched.begin() + bytes));
}

TEST(MjpegDecoderTest, RefusesProgressivePictures) {
    const int width = 32, height = 32;
    JpegOptions progressive;
    progressive.progressive = true;
    const std::vector<uint8_t> jpeg = EncodeJpeg(TestPicture(width, height), width, height, progressive);
    MjpegDecoderPtr decoder = NewDecoder();
    ASSERT_NE(decoder, nullptr);
    bool ok = true;
    DecodeToVector(*decoder, jpeg, width, height, &ok);
    EXPECT_FALSE(ok);
}

// Every cut of a frame is refused (the end marker is part of a complete
// frame), with nothing read past the cut; the decoder then decodes whole
// frames as before.
TEST(MjpegDecoderTest, RefusesFramesCutAtAnyLength) {
    const int width = 37, height = 21;
    const std::vector<uint8_t> jpeg = EncodeJpeg(TestPicture(width, height), width, height);
    MjpegDecoderPtr decoder = NewDecoder();
    ASSERT_NE(decoder, nullptr);
    bool ok = false;
    const std::vector<uint8_t> expected = DecodeToVector(*decoder, jpeg, width, height, &ok);
    ASSERT_TRUE(ok);
    for (size_t length = 1; length < jpeg.size(); ++length) {
        const std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + static_cast<std::ptrdiff_t>(length));
        GuardedDecode run(cut, FrameBytes(width, height), length % 2 ? GuardedBuffer::Guard::kAfterEnd
                                                                        : GuardedBuffer::Guard::kBeforeStart);
        EXPECT_FALSE(run.Run(*decoder, width, height)) << "cut at " << length << " of " << jpeg.size();
    }
    EXPECT_EQ(DecodeToVector(*decoder, jpeg, width, height, &ok), expected);
    EXPECT_TRUE(ok);

    // A large frame cut in the middle of its entropy-coded data.
    const std::vector<uint8_t> large = EncodeJpeg(TestPicture(640, 480), 640, 480);
    for (size_t length = large.size() / 8; length < large.size(); length += large.size() / 9) {
        const std::vector<uint8_t> cut(large.begin(), large.begin() + static_cast<std::ptrdiff_t>(length));
        GuardedDecode run(cut, FrameBytes(640, 480), GuardedBuffer::Guard::kAfterEnd);
        EXPECT_FALSE(run.Run(*decoder, 640, 480)) << "cut at " << length;
    }
}

// Damaged bytes anywhere: refused or decoded, but never a read or write past
// either buffer (each against an inaccessible page); whole frames still decode
// between damaged ones.
TEST(MjpegDecoderTest, SurvivesDamagedBytesAnywhere) {
    const int width = 45, height = 30;
    JpegOptions options;
    for (Chroma chroma : {Chroma::k420, Chroma::k422}) {
        options.chroma = chroma;
        const std::vector<uint8_t> jpeg = EncodeJpeg(TestPicture(width, height), width, height, options);
        MjpegDecoderPtr decoder = NewDecoder();
        ASSERT_NE(decoder, nullptr);
        bool ok = false;
        const std::vector<uint8_t> expected = DecodeToVector(*decoder, jpeg, width, height, &ok);
        ASSERT_TRUE(ok);
        std::mt19937 random(chroma == Chroma::k420 ? 2024u : 7u);
        int refused = 0;
        for (int round = 0; round < 1500; ++round) {
            std::vector<uint8_t> damaged = jpeg;
            const int flips = 1 + static_cast<int>(random() % 3);
            for (int f = 0; f < flips; ++f) {
                damaged[random() % damaged.size()] ^= static_cast<uint8_t>(1 + random() % 255);
            }
            GuardedDecode run(damaged, FrameBytes(width, height),
                              round % 2 ? GuardedBuffer::Guard::kAfterEnd : GuardedBuffer::Guard::kBeforeStart);
            if (!run.Run(*decoder, width, height)) ++refused;
            if (round % 100 == 99) {
                EXPECT_EQ(DecodeToVector(*decoder, jpeg, width, height, &ok), expected) << "after round " << round;
                EXPECT_TRUE(ok);
            }
        }
        // Most damage shows: in the headers as errors, in the coded data as
        // warnings the decoder stops on.
        EXPECT_GT(refused, 1500 / 3);
    }
}

}  // namespace
