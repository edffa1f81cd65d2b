// RGB24 to I420 before the tables are built: its own program, so that no other
// test has built them yet.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "frames/rgb_to_yuv.h"
#include "kovic.h"
#include "platform/cpu_features.h"

namespace {

TEST(UntabledConversion, GivesBlackWithNeutralChromaUntilTheTablesAreBuilt) {
    const int width = 96, height = 4;
    std::vector<uint8_t> source(3 * width * height);
    for (size_t i = 0; i < source.size(); ++i) source[i] = static_cast<uint8_t>(i * 37 + 11);
    std::vector<uint8_t> out(width * height * 3 / 2, 0x33);
    ASSERT_FALSE(kovic::RgbToYuvTablesBuilt());
    EXPECT_STREQ(kovic::Rgb24ToI420KernelName(), "C");
    ASSERT_EQ(KOVICGetYuvFrame(out.data(), source.data(), width, height, static_cast<int>(source.size())), 1);
    for (int i = 0; i < width * height; ++i) ASSERT_EQ(out[i], 0) << "Y byte " << i;
    for (size_t i = width * height; i < out.size(); ++i) ASSERT_EQ(out[i], 128) << "chroma byte " << i;

    // Once built, the fastest kernels serve and the colours come through.
    kovic::BuildRgbToYuvTables();
    if (kovic::CpuFeatures() != 0) {
        EXPECT_STRNE(kovic::Rgb24ToI420KernelName(), "C");
    }
    ASSERT_EQ(KOVICGetYuvFrame(out.data(), source.data(), width, height, static_cast<int>(source.size())), 1);
    int non_zero = 0;
    for (int i = 0; i < width * height; ++i) non_zero += out[i] != 0;
    EXPECT_GT(non_zero, width * height / 2);
}

}  // namespace
