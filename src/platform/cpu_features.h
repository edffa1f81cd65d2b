// Which vector instruction sets the processor and the operating system offer,
// detected once and cached for the life of the process; any thread may ask.
// Tests hide features to make the conversion fall back to slower kernels.
#pragma once

#include <cstdint>

namespace kovic {

enum CpuFeature : uint32_t {
    kCpuSse2 = 1u << 0,
    kCpuSsse3 = 1u << 1,
    kCpuAvx2 = 1u << 2,  // only when the operating system saves the 256-bit registers
};

// The detected features less those hidden by HideCpuFeatures.
uint32_t CpuFeatures();

// Hides the given features from CpuFeatures until the next call (0 shows all
// again). Meant for tests and benchmarks.
void HideCpuFeatures(uint32_t features);

}  // namespace kovic
