// RGB24 to I420: the tables and worked values through the export, the
// arithmetic the vector kernels use checked against the tables for every byte,
// every kernel this processor runs against the reference walk (whole RGB cube,
// awkward shapes, buffers against inaccessible pages), and argument checks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "frames/rgb_to_i420_rows.h"
#include "frames/rgb_to_yuv.h"
#include "kovic.h"
#include "platform/cpu_features.h"
#include "support/guarded_buffer.h"

using kovic_test::GuardedBuffer;

namespace {

struct Yuv {
    int y, u, v;
    bool operator==(const Yuv &o) const { return y == o.y && u == o.u && v == o.v; }
};

std::ostream &operator<<(std::ostream &os, const Yuv &c) {
    return os << "(" << c.y << ", " << c.u << ", " << c.v << ")";
}

uint32_t Pack(int y, int cb, int cr) {
    return (static_cast<uint32_t>(cr & 0xFF) << 20) | (static_cast<uint32_t>(cb & 0xFF) << 10) |
           static_cast<uint32_t>(y);
}

// One colour through the export, as a 2 x 2 frame of it.
Yuv Convert(int r, int g, int b) {
    uint8_t source[12];
    for (int p = 0; p < 4; ++p) {
        source[3 * p] = static_cast<uint8_t>(b);
        source[3 * p + 1] = static_cast<uint8_t>(g);
        source[3 * p + 2] = static_cast<uint8_t>(r);
    }
    uint8_t out[6];
    EXPECT_EQ(KOVICGetYuvFrame(out, source, 2, 2, 12), 1);
    return {out[0], out[4], out[5]};
}

// Index of the first byte where the two differ, or -1.
long FirstDifference(const uint8_t *a, const uint8_t *b, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (a[i] != b[i]) return static_cast<long>(i);
    return -1;
}

class TablesTest : public ::testing::Test {
protected:
    void SetUp() override { kovic::BuildRgbToYuvTables(); }
};

TEST_F(TablesTest, EntriesAtTheWorkedIndices) {
    const kovic::RgbToYuvTables &t = kovic::g_rgb_to_yuv_tables;
    for (int i : {0, 1}) {
        EXPECT_EQ(t.red[i], 0u);
        EXPECT_EQ(t.green[i], 0u);
        EXPECT_EQ(t.blue[i], 0u);
    }
    EXPECT_EQ(t.red[2], 0x00100000u);
    EXPECT_EQ(t.green[2], 0x00000001u);
    EXPECT_EQ(t.blue[2], 0x00000400u);
    EXPECT_EQ(t.red[128], 0x0403AC26u);
    EXPECT_EQ(t.green[128], 0x0CB3584Bu);
    EXPECT_EQ(t.blue[128], 0x0F61000Eu);
    EXPECT_EQ(t.red[255], 0x07F3544Cu);
    EXPECT_EQ(t.green[255], 0x0962B095u);
    EXPECT_EQ(t.blue[255], 0x0EC1FC1Du);
    // A second build writes the same values.
    kovic::BuildRgbToYuvTables();
    EXPECT_EQ(t.green[128], 0x0CB3584Bu);
}

// The vector kernels compute each term as a multiply-high or a halving; this
// is what entitles them to skip the tables.
TEST_F(TablesTest, ArithmeticTermsEqualTheTablesForEveryByte) {
    using kovic::MultiplyHigh;
    const kovic::RgbToYuvTables &t = kovic::g_rgb_to_yuv_tables;
    for (uint32_t i = 0; i < 256; ++i) {
        const int half = static_cast<int>(i >> 1);
        const int luma_r = static_cast<int>(MultiplyHigh(i, kovic::kLumaRedMultiplier));
        const int luma_g = static_cast<int>(MultiplyHigh(i, kovic::kLumaGreenMultiplier));
        const int luma_b = static_cast<int>(MultiplyHigh(i, kovic::kLumaBlueMultiplier));
        const int cb_r = -static_cast<int>(MultiplyHigh(i, kovic::kChromaBlueRedMultiplier));
        const int cb_g = -static_cast<int>(MultiplyHigh(i, kovic::kChromaBlueGreenMultiplier));
        const int cr_g = -static_cast<int>(MultiplyHigh(i, kovic::kChromaRedGreenMultiplier));
        const int cr_b = -static_cast<int>(MultiplyHigh(i, kovic::kChromaRedBlueMultiplier));
        ASSERT_EQ(t.red[i], Pack(luma_r, cb_r, half)) << "red " << i;
        ASSERT_EQ(t.green[i], Pack(luma_g, cb_g, cr_g)) << "green " << i;
        ASSERT_EQ(t.blue[i], Pack(luma_b, half, cr_b)) << "blue " << i;
    }
}

TEST_F(TablesTest, WorkedColours) {
    EXPECT_EQ(Convert(0, 0, 0), (Yuv{0, 128, 128}));
    EXPECT_EQ(Convert(255, 255, 255), (Yuv{254, 128, 129}));
    EXPECT_EQ(Convert(255, 0, 0), (Yuv{76, 85, 255}));
    EXPECT_EQ(Convert(0, 255, 0), (Yuv{149, 44, 22}));
    EXPECT_EQ(Convert(0, 0, 255), (Yuv{29, 255, 108}));
    EXPECT_EQ(Convert(255, 255, 0), (Yuv{225, 1, 149}));
    EXPECT_EQ(Convert(0, 255, 255), (Yuv{178, 171, 2}));
    EXPECT_EQ(Convert(255, 0, 255), (Yuv{105, 212, 235}));
    EXPECT_EQ(Convert(128, 128, 128), (Yuv{127, 129, 129}));
    EXPECT_EQ(Convert(127, 127, 127), (Yuv{125, 128, 128}));
}

TEST_F(TablesTest, GreysComeOutOneOrTwoDarkerWithNeutralChroma) {
    for (int g = 1; g < 256; ++g) {
        const Yuv c = Convert(g, g, g);
        EXPECT_TRUE(c.y == g - 1 || c.y == g - 2) << "grey " << g << " gives Y " << c.y;
        EXPECT_TRUE(c.u == 128 || c.u == 129) << "grey " << g << " gives U " << c.u;
        EXPECT_TRUE(c.v == 128 || c.v == 129) << "grey " << g << " gives V " << c.v;
    }
}

TEST_F(TablesTest, SmallFramesAreReversedAndTakeChromaFromTheLastPixel) {
    // 2 x 2: pixels red, green, blue, white in memory order.
    const uint8_t two[12] = {0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255, 255};
    uint8_t out[6];
    ASSERT_EQ(KOVICGetYuvFrame(out, two, 2, 2, 12), 1);
    const uint8_t expected_two[6] = {254, 29, 149, 76, 128, 129};
    EXPECT_EQ(FirstDifference(out, expected_two, 6), -1);

    // 4 x 2: pixel k is the grey 10k; chroma from the greys 70 and 50.
    uint8_t four[24];
    for (int k = 0; k < 8; ++k) std::memset(four + 3 * k, 10 * k, 3);
    uint8_t out4[12];
    ASSERT_EQ(KOVICGetYuvFrame(out4, four, 4, 2, 24), 1);
    const uint8_t expected_four[12] = {68, 58, 48, 38, 28, 18, 8, 0, 129, 129, 129, 129};
    EXPECT_EQ(FirstDifference(out4, expected_four, 12), -1);

    // One leading byte too many: the last 12 bytes are used, so the junk byte
    // is ignored; one byte more at the end shifts the channels instead.
    uint8_t shifted[13];
    shifted[0] = 77;
    std::memcpy(shifted + 1, two, 12);
    ASSERT_EQ(KOVICGetYuvFrame(out, shifted, 2, 2, 13), 1);
    EXPECT_EQ(FirstDifference(out, expected_two, 6), -1);
    uint8_t trailing[13];
    std::memcpy(trailing, two, 12);
    trailing[12] = 0;
    ASSERT_EQ(KOVICGetYuvFrame(out, trailing, 2, 2, 13), 1);
    // The last pixel is now (b, g, r) = (255, 255, 0): cyan.
    EXPECT_EQ(out[0], 178);
    EXPECT_EQ(out[4], 171);
    EXPECT_EQ(out[5], 2);
}

TEST_F(TablesTest, CallsThatWouldStrayOutsideTheirBuffersTouchNothing) {
    std::vector<uint8_t> source(3 * 4 * 4, 200);
    std::vector<uint8_t> out(4 * 4 * 3 / 2 + 8, 0xEE);
    const auto untouched = [&] {
        for (uint8_t b : out)
            if (b != 0xEE) return false;
        return true;
    };
    const int n = static_cast<int>(source.size());
    EXPECT_EQ(KOVICGetYuvFrame(nullptr, source.data(), 4, 4, n), 0);
    EXPECT_EQ(KOVICGetYuvFrame(out.data(), nullptr, 4, 4, n), 0);
    EXPECT_EQ(KOVICGetYuvFrame(out.data(), source.data(), 3, 4, n), 0);
    EXPECT_EQ(KOVICGetYuvFrame(out.data(), source.data(), 4, 3, n), 0);
    EXPECT_EQ(KOVICGetYuvFrame(out.data(), source.data(), 4, 4, n - 1), 0);
    EXPECT_EQ(KOVICGetYuvFrame(out.data(), source.data(), 4, 4, -n), 0);
    // 3 * 65536 * 16384 bytes does not fit in 32 bits; nor does 65536 * 65536.
    EXPECT_EQ(KOVICGetYuvFrame(out.data(), source.data(), 65536, 16384, INT32_MAX), 0);
    EXPECT_EQ(KOVICGetYuvFrame(out.data(), source.data(), 65536, 65536, INT32_MAX), 0);
    EXPECT_TRUE(untouched());

    // Nothing to convert: success, nothing written, pointers not needed.
    EXPECT_EQ(KOVICGetYuvFrame(out.data(), source.data(), 0, 4, n), 1);
    EXPECT_EQ(KOVICGetYuvFrame(out.data(), source.data(), 4, 0, n), 1);
    EXPECT_EQ(KOVICGetYuvFrame(out.data(), source.data(), -4, 4, n), 1);
    EXPECT_EQ(KOVICGetYuvFrame(out.data(), source.data(), 4, -4, n), 1);
    EXPECT_EQ(KOVICGetYuvFrame(nullptr, nullptr, 0, 0, 0), 1);
    EXPECT_TRUE(untouched());

    // The reference walk checks its arguments the same way.
    EXPECT_EQ(kovic::ConvertRgb24ToI420Reference(out.data(), source.data(), 4, 4, n - 1), 0);
    EXPECT_EQ(kovic::ConvertRgb24ToI420Reference(out.data(), source.data(), 4, 3, n), 0);
    EXPECT_EQ(kovic::ConvertRgb24ToI420Reference(out.data(), source.data(), 0, 4, n), 1);
    EXPECT_TRUE(untouched());

    EXPECT_EQ(KOVICGetYuvFrame(out.data(), source.data(), 4, 4, n), 1);
    EXPECT_FALSE(untouched());
    EXPECT_EQ(out[24], 0xEE) << "wrote past the I420 frame";
}

// Every kernel set, selected by hiding the processor features above it.
struct KernelCase {
    const char *name;
    uint32_t hidden;
};

void PrintTo(const KernelCase &c, std::ostream *os) { *os << c.name; }

const KernelCase kKernels[] = {
    {"C", kovic::kCpuSse2 | kovic::kCpuSsse3 | kovic::kCpuAvx2},
    {"SSE2", kovic::kCpuSsse3 | kovic::kCpuAvx2},
    {"SSSE3", kovic::kCpuAvx2},
    {"AVX2", 0},
};

class KernelTest : public ::testing::TestWithParam<KernelCase> {
protected:
    void SetUp() override {
        kovic::BuildRgbToYuvTables();
        kovic::HideCpuFeatures(GetParam().hidden);
        if (std::string(kovic::Rgb24ToI420KernelName()) != GetParam().name)
            GTEST_SKIP() << "this processor does not run the " << GetParam().name << " kernels";
    }
    void TearDown() override { kovic::HideCpuFeatures(0); }

    // Converts with the kernel under test and with the reference walk into
    // buffers pre-filled differently (so a byte either leaves unwritten shows),
    // and compares the whole frame.
    static void ExpectSameAsReference(const uint8_t *source, int width, int height, int source_length,
                                      uint8_t *destination) {
        const size_t size = static_cast<size_t>(width) * height * 3 / 2;
        std::vector<uint8_t> expected(size, 0x5A);
        ASSERT_EQ(kovic::ConvertRgb24ToI420Reference(expected.data(), source, width, height, source_length), 1);
        std::memset(destination, 0xA5, size);
        ASSERT_EQ(kovic::ConvertRgb24ToI420(destination, source, width, height, source_length), 1);
        const long at = FirstDifference(destination, expected.data(), size);
        ASSERT_EQ(at, -1) << width << " x " << height << ", source length " << source_length << ": byte " << at
                          << " is " << int(destination[at]) << ", expected " << int(expected[at]);
    }
};

std::string KernelCaseName(const ::testing::TestParamInfo<KernelCase> &info) { return info.param.name; }

INSTANTIATE_TEST_SUITE_P(Kernels, KernelTest, ::testing::ValuesIn(kKernels), KernelCaseName);

// Every colour, as a 2 x 2 block of one colour so that it gives chroma as well
// as luma: one 512 x 512 frame per red value, blue across and green down.
TEST_P(KernelTest, WholeRgbCubeMatchesTheReference) {
    const int width = 512, height = 512;
    std::vector<uint8_t> source(3 * width * height);
    std::vector<uint8_t> out(width * height * 3 / 2);
    for (int r = 0; r < 256; ++r) {
        for (int row = 0; row < height; ++row) {
            for (int col = 0; col < width; ++col) {
                uint8_t *p = &source[3 * (row * width + col)];
                p[0] = static_cast<uint8_t>(col / 2);
                p[1] = static_cast<uint8_t>(row / 2);
                p[2] = static_cast<uint8_t>(r);
            }
        }
        ExpectSameAsReference(source.data(), width, height, static_cast<int>(source.size()), out.data());
        if (HasFatalFailure()) return;
    }
}

// Random frames whose width is off the vector step, whose source starts one
// byte off alignment or carries excess bytes, with the source and the
// destination against an inaccessible page on either side and sentinels
// around the planes.
TEST_P(KernelTest, AwkwardShapesMatchTheReferenceAndStayInsideTheirBuffers) {
    std::mt19937 random(12345);
    const int widths[] = {2, 4, 6, 14, 16, 18, 30, 32, 34, 46, 48, 50, 62, 64, 66, 94, 96, 98, 130, 640, 642};
    const int margin = 64;
    for (int width : widths) {
        for (int height : {2, 4, 6}) {
            for (int excess : {0, 1, 2, 3, 7}) {
                for (GuardedBuffer::Guard guard :
                     {GuardedBuffer::Guard::kAfterEnd, GuardedBuffer::Guard::kBeforeStart}) {
                    const int frame_bytes = 3 * width * height;
                    const int length = frame_bytes + excess;
                    GuardedBuffer source(length, guard);
                    ASSERT_NE(source.data(), nullptr);
                    for (int i = 0; i < length; ++i) source.data()[i] = static_cast<uint8_t>(random());
                    const size_t size = static_cast<size_t>(width) * height * 3 / 2;
                    GuardedBuffer destination(size + 2 * margin, GuardedBuffer::Guard::kAfterEnd);
                    ASSERT_NE(destination.data(), nullptr);
                    std::memset(destination.data(), 0xC3, margin);
                    std::memset(destination.data() + margin + size, 0xC3, margin);
                    ExpectSameAsReference(source.data(), width, height, length, destination.data() + margin);
                    if (HasFatalFailure()) return;
                    for (int i = 0; i < margin; ++i) {
                        ASSERT_EQ(destination.data()[i], 0xC3) << "wrote before the Y plane";
                        ASSERT_EQ(destination.data()[margin + size + i], 0xC3) << "wrote past the V plane";
                    }
                }
            }
        }
    }
    // A destination flush against inaccessible pages on both sides and a
    // source one byte off a page boundary.
    for (int width : {32, 48, 96}) {
        const int height = 2;
        const size_t size = static_cast<size_t>(width) * height * 3 / 2;
        for (GuardedBuffer::Guard guard : {GuardedBuffer::Guard::kAfterEnd, GuardedBuffer::Guard::kBeforeStart}) {
            GuardedBuffer destination(size, guard);
            GuardedBuffer source(3 * width * height + 1, GuardedBuffer::Guard::kBeforeStart);
            ASSERT_NE(destination.data(), nullptr);
            ASSERT_NE(source.data(), nullptr);
            for (size_t i = 0; i < source.size(); ++i) source.data()[i] = static_cast<uint8_t>(random());
            ExpectSameAsReference(source.data() + 1, width, height, 3 * width * height, destination.data());
            if (HasFatalFailure()) return;
        }
    }
}

TEST_P(KernelTest, FrameSizesOfTheCameraMatchTheReference) {
    std::mt19937 random(777);
    for (auto [width, height] :
         {std::pair{640, 480}, std::pair{1280, 720}, std::pair{176, 144}, std::pair{1920, 1080}}) {
        const int length = 3 * width * height;
        std::vector<uint8_t> source(length);
        for (auto &b : source) b = static_cast<uint8_t>(random());
        std::vector<uint8_t> out(static_cast<size_t>(width) * height * 3 / 2);
        ExpectSameAsReference(source.data(), width, height, length, out.data());
        if (HasFatalFailure()) return;
    }
}

}  // namespace
