// Processor feature detection, checked against the compiler's own detection,
// and the hiding that the conversion tests rely on to reach every kernel.
#include <gtest/gtest.h>

#include "platform/cpu_features.h"

namespace {

TEST(CpuFeatures, AgreeWithTheCompilersDetection) {
    __builtin_cpu_init();
    const uint32_t features = kovic::CpuFeatures();
    EXPECT_EQ((features & kovic::kCpuSse2) != 0, __builtin_cpu_supports("sse2") != 0);
    EXPECT_EQ((features & kovic::kCpuSsse3) != 0, __builtin_cpu_supports("ssse3") != 0);
    EXPECT_EQ((features & kovic::kCpuAvx2) != 0, __builtin_cpu_supports("avx2") != 0);
}

TEST(CpuFeatures, HiddenFeaturesStayHiddenUntilShownAgain) {
    const uint32_t all = kovic::CpuFeatures();
    kovic::HideCpuFeatures(kovic::kCpuAvx2 | kovic::kCpuSsse3);
    EXPECT_EQ(kovic::CpuFeatures(), all & kovic::kCpuSse2);
    kovic::HideCpuFeatures(0);
    EXPECT_EQ(kovic::CpuFeatures(), all);
}

}  // namespace
