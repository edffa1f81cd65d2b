// Picks the frame to RGB24 row kernels for an x86 processor. Stateless.
#include "frames/frame_to_rgb24_rows.h"
#include "platform/cpu_features.h"

namespace kovic {

FrameToRgb24Kernels SelectFrameToRgb24Kernels(uint32_t cpu_features) {
    if (cpu_features & kCpuAvx2) {
        return {Yuy2ToRgb24Row_AVX2,   UyvyToRgb24Row_AVX2,   Nv12ToRgb24Row_AVX2,
                PlanarToRgb24Row_AVX2, Rgb32ToRgb24Row_AVX2, 32, "AVX2"};
    }
    if (cpu_features & kCpuSsse3) {
        return {Yuy2ToRgb24Row_SSSE3,   UyvyToRgb24Row_SSSE3,   Nv12ToRgb24Row_SSSE3,
                PlanarToRgb24Row_SSSE3, Rgb32ToRgb24Row_SSSE3, 16, "SSSE3"};
    }
    if (cpu_features & kCpuSse2) {
        return {Yuy2ToRgb24Row_SSE2,   UyvyToRgb24Row_SSE2,   Nv12ToRgb24Row_SSE2,
                PlanarToRgb24Row_SSE2, Rgb32ToRgb24Row_SSE2, 16, "SSE2"};
    }
    return ScalarFrameToRgb24Kernels();
}

}  // namespace kovic
