// KOVICGetYuvFrame with sizes whose byte counts do not fit: refused without a
// byte read or written, however large the width and height.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "kovic.h"

namespace {

// Even sizes whose three bytes a pixel overflow 64 bits, or wrap to a count
// that a plain length test would let through.
TEST(YuvFrameArguments, FramesTooLargeForTheirByteCountAreRefusedUntouched) {
    ASSERT_EQ(KOVICCreate(), 1);
    std::vector<unsigned char> source(96, 0x5A);
    std::vector<unsigned char> destination(96, 0xC3);
    const int sizes[][2] = {
        {0x7FFFFFFE, 0x7FFFFFFE},  // 3 * w * h wraps below zero
        {0x60000000, 0x7A2C2E08},  // 3 * w * h overflows
        {0x40000000, 4},           // 3 * w * h just past 32 bits
        {0x2AAAAAAC, 2},           // 3 * w * h just past INT32_MAX
    };
    for (const auto &size : sizes) {
        const int r = KOVICGetYuvFrame(destination.data(), source.data(), size[0], size[1],
                                       static_cast<int>(source.size()));
        EXPECT_EQ(r, 0) << size[0] << " x " << size[1];
        for (unsigned char b : destination) ASSERT_EQ(b, 0xC3) << size[0] << " x " << size[1];
    }
    // The largest length a source can have does not make such a frame valid.
    EXPECT_EQ(KOVICGetYuvFrame(destination.data(), source.data(), 0x7FFFFFFE, 0x7FFFFFFE, 0x7FFFFFFF), 0);
    for (unsigned char b : destination) ASSERT_EQ(b, 0xC3);
}

}  // namespace
