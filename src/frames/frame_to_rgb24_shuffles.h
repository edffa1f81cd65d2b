// Byte-shuffle masks that lay 16 pixels out as 48 bytes of B, G, R, shared by
// the SSSE3 and AVX2 kernels: constant data only, built at compile time, so
// kernels compiled with different instruction sets share no code.
//
// An output register o (0..2) holds bytes 16o..16o+15 of the 48; it is the OR
// of one shuffle per source register that feeds it (a mask byte with its top
// bit set gives 0). Each mask is repeated in both 16-byte halves for AVX2,
// whose shuffles work on each half alone.
#pragma once

#include <cstdint>

namespace kovic {
namespace bgr48 {

// The sources of the YUV kernels: B and G of pixels 0-7 interleaved, of pixels
// 8-15 interleaved, and R of pixels 0-15.
enum PlaneSource : int { kBlueGreenLow, kBlueGreenHigh, kRed, kPlaneSourceCount };

// The sources of the RGB32 kernels: pixels 4s..4s+3 as B, G, R, X in register s.
constexpr int kQuadSourceCount = 4;

// Which byte of the given source lands in output byte `at` (0..47), or -1.
constexpr int PlaneSourceByte(int source, int at) {
    const int pixel = at / 3, channel = at % 3;
    if (channel == 2) return source == kRed ? pixel : -1;
    if (source == kBlueGreenLow && pixel < 8) return 2 * pixel + channel;
    if (source == kBlueGreenHigh && pixel >= 8) return 2 * (pixel - 8) + channel;
    return -1;
}

constexpr int QuadSourceByte(int source, int at) {
    const int pixel = at / 3, channel = at % 3;
    return pixel / 4 == source ? 4 * (pixel % 4) + channel : -1;
}

struct Masks {
    alignas(32) int8_t plane[3][kPlaneSourceCount][32];
    alignas(32) int8_t quad[3][kQuadSourceCount][32];
};

constexpr int8_t MaskByte(int source_byte) {
    return source_byte < 0 ? int8_t{-128} : static_cast<int8_t>(source_byte);
}

constexpr Masks BuildMasks() {
    Masks masks{};
    for (int out = 0; out < 3; ++out) {
        for (int k = 0; k < 16; ++k) {
            for (int s = 0; s < kPlaneSourceCount; ++s) {
                masks.plane[out][s][k] = masks.plane[out][s][k + 16] = MaskByte(PlaneSourceByte(s, 16 * out + k));
            }
            for (int s = 0; s < kQuadSourceCount; ++s) {
                masks.quad[out][s][k] = masks.quad[out][s][k + 16] = MaskByte(QuadSourceByte(s, 16 * out + k));
            }
        }
    }
    return masks;
}

inline constexpr Masks kMasks = BuildMasks();

}  // namespace bgr48
}  // namespace kovic
