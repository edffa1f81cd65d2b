// Byte-gather masks shared by the SSSE3 and AVX2 kernels: constant data only,
// built at compile time, so the kernels compiled with different instruction
// sets share no code.
//
// Both kernels work on chunks of 16 source pixels, 48 bytes held in three
// 16-byte registers (A = bytes 0-15, B = 16-31, C = 32-47); source pixel q
// (0..15) becomes output pixel 15 - q. A gather builds one 16-byte register of
// eight 16-bit lanes, each holding two channel bytes, by shuffling each source
// register and ORing the results; a mask byte with its top bit set gives 0.
#pragma once

#include <cstdint>

namespace kovic {
namespace rgb24_chunk {

enum Gather : int {
    // Output rows with chroma. Lane j covers output pixels 2j (the pair's lead,
    // whose colour gives the chroma) and 2j + 1 (the trail).
    kLeadBlueGreen,   // lane j: blue, green of output pixel 2j
    kTrailBlueGreen,  // lane j: blue, green of output pixel 2j + 1
    kPairRed,         // lane j: red of output pixel 2j, red of output pixel 2j + 1
    // Output rows without chroma. Lane j covers output pixels j and 8 + j.
    kFirstHalfBlueGreen,   // lane j: blue, green of output pixel j
    kSecondHalfBlueGreen,  // lane j: blue, green of output pixel 8 + j
    kHalvesRed,            // lane j: red of output pixel j, red of output pixel 8 + j
    kGatherCount
};

// The source byte (0..47) that lands in byte k (0..15) of a gather.
constexpr int SourceByte(int gather, int k) {
    const int lane = k / 2;
    const bool high = (k & 1) != 0;
    const auto at = [](int output_pixel, int channel) { return 3 * (15 - output_pixel) + channel; };
    switch (gather) {
    case kLeadBlueGreen: return at(2 * lane, high ? 1 : 0);
    case kTrailBlueGreen: return at(2 * lane + 1, high ? 1 : 0);
    case kPairRed: return at(2 * lane + (high ? 1 : 0), 2);
    case kFirstHalfBlueGreen: return at(lane, high ? 1 : 0);
    case kSecondHalfBlueGreen: return at(8 + lane, high ? 1 : 0);
    default: return at(lane + (high ? 8 : 0), 2);
    }
}

// For each gather and source register, the shuffle mask, repeated in both
// 16-byte halves for the AVX2 kernel.
struct GatherMasks {
    alignas(32) int8_t bytes[kGatherCount][3][32];
};

constexpr GatherMasks BuildGatherMasks() {
    GatherMasks masks{};
    for (int gather = 0; gather < kGatherCount; ++gather) {
        for (int reg = 0; reg < 3; ++reg) {
            for (int k = 0; k < 16; ++k) {
                const int source = SourceByte(gather, k);
                const int8_t value = source / 16 == reg ? static_cast<int8_t>(source % 16) : int8_t{-128};
                masks.bytes[gather][reg][k] = value;
                masks.bytes[gather][reg][k + 16] = value;
            }
        }
    }
    return masks;
}

inline constexpr GatherMasks kGatherMasks = BuildGatherMasks();

}  // namespace rgb24_chunk
}  // namespace kovic
