// KOVICGetYuvFrame with sizes whose byte counts do not fit: refused without a
// byte read or written, however large the width and height.
#include <gtest/gtest.h>

#include <algorithm>
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

// A destination that overlaps the source, from either side, is refused and
// nothing is written; one that only touches it converts as separate buffers do.
TEST(YuvFrameArguments, OverlappingBuffersAreRefusedUntouched) {
    ASSERT_EQ(KOVICCreate(), 1);
    const int width = 64, height = 32;
    const int source_bytes = width * height * 3, destination_bytes = width * height * 3 / 2;
    std::vector<unsigned char> source(source_bytes);
    for (int i = 0; i < source_bytes; ++i) source[i] = static_cast<unsigned char>(i * 31 + (i >> 7));
    std::vector<unsigned char> expected(destination_bytes);
    ASSERT_EQ(KOVICGetYuvFrame(expected.data(), source.data(), width, height, source_bytes), 1);

    // One block: room for a destination before the source, the source, and
    // room for a destination after it.
    std::vector<unsigned char> block(destination_bytes + source_bytes + destination_bytes);
    unsigned char *in_block = block.data() + destination_bytes;
    const long overlapping[] = {0, 1, 3072, 4608, source_bytes - 1, -destination_bytes + 1, -100};
    for (long offset : overlapping) {
        SCOPED_TRACE(offset);
        std::copy(source.begin(), source.end(), in_block);
        const std::vector<unsigned char> before = block;
        EXPECT_EQ(KOVICGetYuvFrame(in_block + offset, in_block, width, height, source_bytes), 0);
        EXPECT_TRUE(block == before) << "a refused conversion wrote";
    }
    const long touching[] = {source_bytes, -destination_bytes};
    for (long offset : touching) {
        SCOPED_TRACE(offset);
        std::copy(source.begin(), source.end(), in_block);
        EXPECT_EQ(KOVICGetYuvFrame(in_block + offset, in_block, width, height, source_bytes), 1);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), in_block + offset));
        EXPECT_TRUE(std::equal(source.begin(), source.end(), in_block)) << "the source was written";
    }
}

}  // namespace
