// Picks the RGB24 to I420 row kernels for an x86 processor. Stateless.
#include "frames/rgb_to_i420_rows.h"
#include "platform/cpu_features.h"

namespace kovic {

Rgb24ToI420Kernels SelectRgb24ToI420Kernels(uint32_t cpu_features) {
    if (cpu_features & kCpuAvx2) return {Rgb24ToYuvRow_AVX2, Rgb24ToYRow_AVX2, 32, "AVX2"};
    if (cpu_features & kCpuSsse3) return {Rgb24ToYuvRow_SSSE3, Rgb24ToYRow_SSSE3, 16, "SSSE3"};
    if (cpu_features & kCpuSse2) return {Rgb24ToYuvRow_SSE2, Rgb24ToYRow_SSE2, 16, "SSE2"};
    return TableRgb24ToI420Kernels();
}

}  // namespace kovic
