// Frame to RGB24: worked colours and orientation through the dispatched
// conversion, sizes and refusals, the whole YUV cube against the real-valued
// formula, and every kernel set this processor runs against the reference on
// random frames of awkward shapes in buffers against inaccessible pages.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "frames/frame_to_rgb24.h"
#include "frames/frame_to_rgb24_rows.h"
#include "platform/cpu_features.h"
#include "support/guarded_buffer.h"

using kovic::FrameFormat;
using kovic::FrameToRgb24Kernels;
using kovic_test::GuardedBuffer;

namespace {

constexpr FrameFormat kAllFormats[] = {FrameFormat::kRgb32, FrameFormat::kYuy2, FrameFormat::kUyvy,
                                       FrameFormat::kNv12,  FrameFormat::kI420, FrameFormat::kYv12};

const char *NameOf(FrameFormat format) {
    switch (format) {
    case FrameFormat::kRgb32: return "RGB32";
    case FrameFormat::kYuy2: return "YUY2";
    case FrameFormat::kUyvy: return "UYVY";
    case FrameFormat::kNv12: return "NV12";
    case FrameFormat::kI420: return "I420";
    case FrameFormat::kYv12: return "YV12";
    default: return "other";
    }
}

// Every kernel set this processor can run, the scalar one first.
std::vector<FrameToRgb24Kernels> KernelSetsHere() {
    std::vector<FrameToRgb24Kernels> sets{kovic::ScalarFrameToRgb24Kernels()};
    const uint32_t features = kovic::CpuFeatures();
    for (uint32_t mask : {uint32_t{kovic::kCpuSse2}, uint32_t{kovic::kCpuSse2 | kovic::kCpuSsse3},
                          uint32_t{kovic::kCpuSse2 | kovic::kCpuSsse3 | kovic::kCpuAvx2}}) {
        if ((features & mask) != mask) continue;
        const FrameToRgb24Kernels set = kovic::SelectFrameToRgb24Kernels(mask);
        const bool seen = std::any_of(sets.begin(), sets.end(),
                                      [&](const FrameToRgb24Kernels &s) { return std::strcmp(s.name, set.name) == 0; });
        if (!seen) sets.push_back(set);
    }
    return sets;
}

struct Bgr {
    int b, g, r;
    bool operator==(const Bgr &o) const { return b == o.b && g == o.g && r == o.r; }
};

std::ostream &operator<<(std::ostream &os, const Bgr &c) {
    return os << "(B " << c.b << ", G " << c.g << ", R " << c.r << ")";
}

// One YUV colour through the dispatched conversion, as a 2 x 2 I420 frame.
Bgr ConvertYuv(int y, int u, int v) {
    const uint8_t source[6] = {static_cast<uint8_t>(y), static_cast<uint8_t>(y), static_cast<uint8_t>(y),
                               static_cast<uint8_t>(y), static_cast<uint8_t>(u), static_cast<uint8_t>(v)};
    uint8_t out[16];
    EXPECT_TRUE(kovic::ConvertFrameToRgb24(FrameFormat::kI420, source, sizeof source, 2, 2, out, sizeof out));
    for (int row = 0; row < 2; ++row)
        for (int i = 0; i < 6; ++i) EXPECT_EQ(out[8 * row + i], out[i % 3]) << "row " << row << " byte " << i;
    return {out[0], out[1], out[2]};
}

TEST(FrameToRgb24Values, BlackWhiteAndSeventyFivePercentBars) {
    EXPECT_EQ(ConvertYuv(16, 128, 128), (Bgr{0, 0, 0}));
    EXPECT_EQ(ConvertYuv(235, 128, 128), (Bgr{255, 255, 255}));
    // Below black and above white clamp.
    EXPECT_EQ(ConvertYuv(0, 128, 128), (Bgr{0, 0, 0}));
    EXPECT_EQ(ConvertYuv(255, 128, 128), (Bgr{255, 255, 255}));
    // The 75% bars (BT.601 limited-range codes); nominal 191 and 0.
    EXPECT_EQ(ConvertYuv(180, 128, 128), (Bgr{191, 191, 191}));  // white
    EXPECT_EQ(ConvertYuv(162, 44, 142), (Bgr{0, 191, 192}));      // yellow
    EXPECT_EQ(ConvertYuv(131, 156, 44), (Bgr{190, 191, 0}));      // cyan
    EXPECT_EQ(ConvertYuv(112, 72, 58), (Bgr{0, 191, 0}));         // green
    EXPECT_EQ(ConvertYuv(84, 184, 198), (Bgr{192, 0, 191}));      // magenta
    EXPECT_EQ(ConvertYuv(65, 100, 212), (Bgr{1, 0, 191}));        // red
    EXPECT_EQ(ConvertYuv(35, 212, 114), (Bgr{192, 1, 0}));        // blue
}

TEST(FrameToRgb24Values, EachPackedLayoutReadsItsOwnBytes) {
    // Two pixels, distinct luma, one chroma pair: (Y0, Y1) = (16, 235), grey.
    const uint8_t yuy2[4] = {16, 128, 235, 128};
    const uint8_t uyvy[4] = {128, 16, 128, 235};
    for (auto [format, source] : {std::pair{FrameFormat::kYuy2, yuy2}, std::pair{FrameFormat::kUyvy, uyvy}}) {
        uint8_t out[8];
        ASSERT_TRUE(kovic::ConvertFrameToRgb24(format, source, 4, 2, 1, out, sizeof out)) << NameOf(format);
        const uint8_t expected[8] = {0, 0, 0, 255, 255, 255, 0, 0};
        EXPECT_EQ(std::memcmp(out, expected, 8), 0) << NameOf(format);
    }
    // The chroma order of the planar and semi-planar layouts: U = 44 makes blue
    // 0, V = 44 makes red 0 (the yellow and cyan bars).
    const uint8_t nv12_yellow[6] = {162, 162, 162, 162, 44, 142};
    const uint8_t i420_yellow[6] = {162, 162, 162, 162, 44, 142};
    const uint8_t yv12_yellow[6] = {162, 162, 162, 162, 142, 44};
    for (auto [format, source] :
         {std::pair{FrameFormat::kNv12, nv12_yellow}, std::pair{FrameFormat::kI420, i420_yellow},
          std::pair{FrameFormat::kYv12, yv12_yellow}}) {
        uint8_t out[16];
        ASSERT_TRUE(kovic::ConvertFrameToRgb24(format, source, 6, 2, 2, out, sizeof out)) << NameOf(format);
        EXPECT_EQ((Bgr{out[0], out[1], out[2]}), (Bgr{0, 191, 192})) << NameOf(format);
    }
}

TEST(FrameToRgb24Values, TopRowEndsLastAndPadBytesAreZero) {
    // Width 5: 15 bytes of pixels, one pad byte. The top row is white, the
    // rest black.
    constexpr int kWidth = 5, kRows = 3;
    const size_t stride = kovic::Rgb24RowBytes(kWidth);
    ASSERT_EQ(stride, 16u);
    for (FrameFormat format : kAllFormats) {
        std::vector<uint8_t> source(kovic::SourceFrameBytes(format, kWidth, -kRows), 128);
        for (int r = 0; r < kRows; ++r) {
            for (int x = 0; x < kWidth; ++x) {
                const uint8_t luma = r == 0 ? 235 : 16;
                switch (format) {
                case FrameFormat::kRgb32:  // top-down: negative height below
                    std::memset(&source[4 * (kWidth * r + x)], r == 0 ? 255 : 0, 4);
                    break;
                case FrameFormat::kYuy2: source[12 * r + 2 * x] = luma; break;
                case FrameFormat::kUyvy: source[12 * r + 2 * x + 1] = luma; break;
                default: source[kWidth * r + x] = luma; break;
                }
            }
        }
        // The YUV layouts are top-down whatever the height's sign says.
        for (int32_t height : {-kRows, kRows}) {
            if (format == FrameFormat::kRgb32 && height > 0) continue;
            std::vector<uint8_t> out(stride * kRows, 0xA5);
            ASSERT_TRUE(kovic::ConvertFrameToRgb24(format, source.data(), source.size(), kWidth, height, out.data(),
                                                   out.size()))
                << NameOf(format);
            for (int row = 0; row < kRows; ++row) {
                const uint8_t expected = row == kRows - 1 ? 255 : 0;
                for (size_t i = 0; i < 15; ++i) {
                    ASSERT_EQ(out[stride * row + i], expected)
                        << NameOf(format) << " height " << height << " row " << row << " byte " << i;
                }
                EXPECT_EQ(out[stride * row + 15], 0) << NameOf(format) << " pad of row " << row;
            }
        }
    }
}

TEST(FrameToRgb24Values, Rgb32HeightSignChoosesRowOrder) {
    // Two rows of one pixel each; the first in memory is (1, 2, 3), the second (4, 5, 6).
    const uint8_t source[8] = {1, 2, 3, 99, 4, 5, 6, 99};
    uint8_t out[8];
    ASSERT_TRUE(kovic::ConvertFrameToRgb24(FrameFormat::kRgb32, source, 8, 1, 2, out, 8));
    // Bottom-up source: memory order is already the output's.
    const uint8_t bottom_up[8] = {1, 2, 3, 0, 4, 5, 6, 0};
    EXPECT_EQ(std::memcmp(out, bottom_up, 8), 0);
    ASSERT_TRUE(kovic::ConvertFrameToRgb24(FrameFormat::kRgb32, source, 8, 1, -2, out, 8));
    const uint8_t top_down[8] = {4, 5, 6, 0, 1, 2, 3, 0};
    EXPECT_EQ(std::memcmp(out, top_down, 8), 0);
}

TEST(FrameToRgb24Sizes, RowAndSourceBytes) {
    EXPECT_EQ(kovic::Rgb24RowBytes(1), 4u);
    EXPECT_EQ(kovic::Rgb24RowBytes(4), 12u);
    EXPECT_EQ(kovic::Rgb24RowBytes(5), 16u);
    EXPECT_EQ(kovic::Rgb24RowBytes(640), 1920u);
    EXPECT_EQ(kovic::Rgb24RowBytes(0), 0u);
    EXPECT_EQ(kovic::Rgb24RowBytes(-4), 0u);
    EXPECT_EQ(kovic::Rgb24RowBytes(715827881), 2147483644u);  // the widest row within 31 bits
    EXPECT_EQ(kovic::Rgb24RowBytes(715827882), 0u);
    EXPECT_EQ(kovic::Rgb24RowBytes(INT32_MAX), 0u);

    EXPECT_EQ(kovic::SourceFrameBytes(FrameFormat::kRgb32, 3, 2), 24u);
    EXPECT_EQ(kovic::SourceFrameBytes(FrameFormat::kRgb32, 3, -2), 24u);
    EXPECT_EQ(kovic::SourceFrameBytes(FrameFormat::kYuy2, 3, 2), 16u);
    EXPECT_EQ(kovic::SourceFrameBytes(FrameFormat::kUyvy, 4, -3), 24u);
    EXPECT_EQ(kovic::SourceFrameBytes(FrameFormat::kNv12, 3, 3), 17u);
    EXPECT_EQ(kovic::SourceFrameBytes(FrameFormat::kI420, 3, 3), 17u);
    EXPECT_EQ(kovic::SourceFrameBytes(FrameFormat::kYv12, 640, 480), 460800u);
    EXPECT_EQ(kovic::SourceFrameBytes(FrameFormat::kNv12, 1, 1), 3u);

    for (FrameFormat format : kAllFormats) {
        EXPECT_EQ(kovic::SourceFrameBytes(format, 0, 2), 0u) << NameOf(format);
        EXPECT_EQ(kovic::SourceFrameBytes(format, -2, 2), 0u) << NameOf(format);
        EXPECT_EQ(kovic::SourceFrameBytes(format, 2, 0), 0u) << NameOf(format);
        EXPECT_EQ(kovic::SourceFrameBytes(format, 2, INT32_MIN), 0u) << NameOf(format);
        // The RGB24 frame would pass 31 bits.
        EXPECT_EQ(kovic::SourceFrameBytes(format, 40000, 40000), 0u) << NameOf(format);
        EXPECT_EQ(kovic::SourceFrameBytes(format, INT32_MAX, INT32_MAX), 0u) << NameOf(format);
    }
    // A source beyond 31 bits while its RGB24 frame fits: RGB32 at 4 bytes a
    // pixel against 3.
    EXPECT_EQ(kovic::SourceFrameBytes(FrameFormat::kRgb32, 23000, 30000), 0u);
    EXPECT_EQ(kovic::SourceFrameBytes(FrameFormat::kI420, 23000, 30000), 1035000000u);
    EXPECT_EQ(kovic::SourceFrameBytes(FrameFormat::kUnknown, 2, 2), 0u);
    EXPECT_EQ(kovic::SourceFrameBytes(FrameFormat::kRgb24, 2, 2), 0u);
    EXPECT_EQ(kovic::SourceFrameBytes(static_cast<FrameFormat>(200), 2, 2), 0u);
}

TEST(FrameToRgb24Refusals, WriteNothing) {
    constexpr int kWidth = 6, kHeight = 4;
    std::vector<uint8_t> source(kWidth * kHeight * 4, 77);
    std::vector<uint8_t> out(kovic::Rgb24RowBytes(kWidth) * kHeight + 8);
    const size_t out_bytes = kovic::Rgb24RowBytes(kWidth) * kHeight;
    using Convert = bool (*)(FrameFormat, const uint8_t *, size_t, int32_t, int32_t, uint8_t *, size_t);
    for (Convert convert : {Convert{kovic::ConvertFrameToRgb24}, Convert{kovic::ConvertFrameToRgb24Reference}}) {
        auto refused = [&](FrameFormat format, const uint8_t *src, size_t src_bytes, int32_t w, int32_t h,
                           uint8_t *dst, size_t dst_bytes) {
            std::fill(out.begin(), out.end(), 0xEE);
            const bool converted = convert(format, src, src_bytes, w, h, dst, dst_bytes);
            const bool untouched = std::all_of(out.begin(), out.end(), [](uint8_t b) { return b == 0xEE; });
            return !converted && untouched;
        };
        for (FrameFormat format : kAllFormats) {
            const size_t need = kovic::SourceFrameBytes(format, kWidth, kHeight);
            ASSERT_GT(need, 0u);
            SCOPED_TRACE(NameOf(format));
            EXPECT_TRUE(refused(format, source.data(), need - 1, kWidth, kHeight, out.data(), out_bytes));
            EXPECT_TRUE(refused(format, source.data(), need, kWidth, kHeight, out.data(), out_bytes - 1));
            EXPECT_TRUE(refused(format, source.data(), need, kWidth, -kHeight, out.data(), out_bytes - 1));
            EXPECT_TRUE(refused(format, nullptr, need, kWidth, kHeight, out.data(), out_bytes));
            EXPECT_TRUE(refused(format, source.data(), need, kWidth, kHeight, nullptr, out_bytes));
            EXPECT_TRUE(refused(format, source.data(), source.size(), 0, kHeight, out.data(), out.size()));
            EXPECT_TRUE(refused(format, source.data(), source.size(), -kWidth, kHeight, out.data(), out.size()));
            EXPECT_TRUE(refused(format, source.data(), source.size(), kWidth, 0, out.data(), out.size()));
            EXPECT_TRUE(refused(format, source.data(), source.size(), kWidth, INT32_MIN, out.data(), out.size()));
            // Sizes whose byte counts wrap: the lengths given cannot be met.
            EXPECT_TRUE(refused(format, source.data(), SIZE_MAX, 40000, 40000, out.data(), SIZE_MAX));
            EXPECT_TRUE(refused(format, source.data(), SIZE_MAX, INT32_MAX, 2, out.data(), SIZE_MAX));
            // Exactly enough converts.
            EXPECT_TRUE(convert(format, source.data(), need, kWidth, kHeight, out.data(), out_bytes));
        }
        for (FrameFormat format : {FrameFormat::kUnknown, FrameFormat::kRgb24, static_cast<FrameFormat>(200)})
            EXPECT_TRUE(refused(format, source.data(), source.size(), kWidth, kHeight, out.data(), out.size()));
    }
}

// Rows of 65536 pixels walk the whole cube: luma x & 255 and U x >> 8, one V
// per row. Every channel lies within the stated bound of the real-valued
// formula; the vector planar kernels give the scalar kernel's bytes for every
// triple.
TEST(FrameToRgb24Accuracy, WholeYuvCubeWithinBoundOfFormula) {
    constexpr int kWidth = 65536;
    std::vector<uint8_t> y(kWidth), u(kWidth / 2), v(kWidth / 2);
    for (int x = 0; x < kWidth; ++x) y[x] = static_cast<uint8_t>(x);
    for (int p = 0; p < kWidth / 2; ++p) u[p] = static_cast<uint8_t>(p >> 7);
    std::vector<uint8_t> out(3 * kWidth), vector_out(3 * kWidth);
    const std::vector<FrameToRgb24Kernels> sets = KernelSetsHere();
    double worst = 0;
    long mismatches = 0;
    for (int v_sample = 0; v_sample < 256; ++v_sample) {
        std::fill(v.begin(), v.end(), static_cast<uint8_t>(v_sample));
        kovic::PlanarToRgb24Row_C(y.data(), u.data(), v.data(), out.data(), kWidth);
        const double vv = v_sample - 128;
        for (int x = 0; x < kWidth; ++x) {
            const double luma = 1.164 * ((x & 255) - 16);
            const double uu = (x >> 8) - 128;
            const double exact[3] = {luma + 2.018 * uu, luma - 0.813 * vv - 0.391 * uu, luma + 1.596 * vv};
            for (int c = 0; c < 3; ++c) {
                const double error = std::fabs(out[3 * x + c] - std::min(255.0, std::max(0.0, exact[c])));
                worst = std::max(worst, error);
            }
        }
        for (size_t s = 1; s < sets.size(); ++s) {
            std::fill(vector_out.begin(), vector_out.end(), 0);
            sets[s].planar_row(y.data(), u.data(), v.data(), vector_out.data(), kWidth);
            if (vector_out != out) ++mismatches;
        }
    }
    EXPECT_LE(worst, kovic::kMaxErrorAgainstFormula);
    EXPECT_EQ(mismatches, 0);
    std::printf("largest error against the formula: %.4f over %zu kernel sets\n", worst, sets.size());
}

// A frame of random bytes in a buffer with an inaccessible page right after
// (or right before) it; `offset` shifts its start off the page's alignment.
struct GuardedFrame {
    GuardedFrame(size_t bytes, GuardedBuffer::Guard guard, size_t offset)
        : buffer(bytes + offset, guard), data(buffer.data() + (guard == GuardedBuffer::Guard::kAfterEnd ? offset : 0)),
          size(bytes) {}
    GuardedBuffer buffer;
    uint8_t *data;
    size_t size;
};

class FrameToRgb24KernelsTest : public ::testing::TestWithParam<FrameFormat> {};

TEST_P(FrameToRgb24KernelsTest, EveryKernelSetMatchesReferenceInGuardedBuffers) {
    const FrameFormat format = GetParam();
    std::mt19937 random(static_cast<unsigned>(format) * 7919u);
    const std::vector<FrameToRgb24Kernels> sets = KernelSetsHere();
    for (const FrameToRgb24Kernels &set : sets) std::printf("[%s kernels: %s]\n", NameOf(format), set.name);
    const int widths[] = {1, 2, 3, 4, 5, 15, 16, 17, 31, 32, 33, 47, 48, 63, 64, 65, 95, 96, 97, 130};
    const int heights[] = {1, 2, 3, -3, 4, 7};
    for (int width : widths) {
        for (int height : heights) {
            const size_t source_bytes = kovic::SourceFrameBytes(format, width, height);
            const size_t out_bytes = kovic::Rgb24RowBytes(width) * static_cast<size_t>(std::abs(height));
            ASSERT_GT(source_bytes, 0u);
            std::vector<uint8_t> random_source(source_bytes);
            for (uint8_t &b : random_source) b = static_cast<uint8_t>(random());
            std::vector<uint8_t> expected(out_bytes, 0x5A);
            ASSERT_TRUE(kovic::ConvertFrameToRgb24Reference(format, random_source.data(), source_bytes, width,
                                                            height, expected.data(), out_bytes));
            for (const FrameToRgb24Kernels &set : sets) {
                for (auto guard : {GuardedBuffer::Guard::kAfterEnd, GuardedBuffer::Guard::kBeforeStart}) {
                    for (size_t offset : {size_t{0}, size_t{1}}) {
                        GuardedFrame source(source_bytes, guard, offset);
                        GuardedFrame out(out_bytes, guard, offset);
                        ASSERT_NE(source.buffer.data(), nullptr);
                        ASSERT_NE(out.buffer.data(), nullptr);
                        std::memcpy(source.data, random_source.data(), source_bytes);
                        std::memset(out.data, 0xC3, out_bytes);
                        ASSERT_TRUE(kovic::ConvertFrameToRgb24With(set, format, source.data, source_bytes, width,
                                                                   height, out.data, out_bytes));
                        ASSERT_EQ(std::memcmp(out.data, expected.data(), out_bytes), 0)
                            << set.name << " " << NameOf(format) << " " << width << " x " << height << " offset "
                            << offset;
                    }
                }
            }
        }
    }
}

TEST_P(FrameToRgb24KernelsTest, DispatchedConversionMatchesReferenceAtCameraSizes) {
    const FrameFormat format = GetParam();
    std::mt19937 random(12345);
    for (auto [width, height] : {std::pair{640, 480}, std::pair{1280, -720}, std::pair{176, 144}}) {
        const size_t source_bytes = kovic::SourceFrameBytes(format, width, height);
        const size_t out_bytes = kovic::Rgb24RowBytes(width) * static_cast<size_t>(std::abs(height));
        std::vector<uint8_t> source(source_bytes);
        for (uint8_t &b : source) b = static_cast<uint8_t>(random());
        std::vector<uint8_t> expected(out_bytes), actual(out_bytes);
        ASSERT_TRUE(kovic::ConvertFrameToRgb24Reference(format, source.data(), source_bytes, width, height,
                                                        expected.data(), out_bytes));
        ASSERT_TRUE(kovic::ConvertFrameToRgb24(format, source.data(), source_bytes, width, height, actual.data(),
                                               out_bytes));
        EXPECT_TRUE(expected == actual) << kovic::FrameToRgb24KernelsInUse().name << " " << width << " x " << height;
    }
}

INSTANTIATE_TEST_SUITE_P(AllFormats, FrameToRgb24KernelsTest, ::testing::ValuesIn(kAllFormats),
                         [](const ::testing::TestParamInfo<FrameFormat> &info) {
                             return std::string(NameOf(info.param));
                         });

TEST(FrameToRgb24Selection, FeaturesChooseTheSet) {
    EXPECT_STREQ(kovic::SelectFrameToRgb24Kernels(0).name, "C");
    EXPECT_EQ(kovic::SelectFrameToRgb24Kernels(0).step, 1);
#if defined(__x86_64__) || defined(__i386__) || defined(_M_X64) || defined(_M_IX86)
    EXPECT_STREQ(kovic::SelectFrameToRgb24Kernels(kovic::kCpuSse2).name, "SSE2");
    EXPECT_STREQ(kovic::SelectFrameToRgb24Kernels(kovic::kCpuSse2 | kovic::kCpuSsse3).name, "SSSE3");
    EXPECT_STREQ(kovic::SelectFrameToRgb24Kernels(kovic::kCpuSse2 | kovic::kCpuSsse3 | kovic::kCpuAvx2).name, "AVX2");
    EXPECT_EQ(kovic::SelectFrameToRgb24Kernels(kovic::kCpuSse2 | kovic::kCpuSsse3 | kovic::kCpuAvx2).step, 32);
#endif
    const FrameToRgb24Kernels &in_use = kovic::FrameToRgb24KernelsInUse();
    EXPECT_STREQ(in_use.name, kovic::SelectFrameToRgb24Kernels(kovic::CpuFeatures()).name);
}

}  // namespace
