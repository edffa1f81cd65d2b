// CPUID and XGETBV behind one function. The compilers spell these
// differently, so this is the one file that tells GCC/MinGW from MSVC for them.
#include "platform/cpu_features.h"

#include <atomic>

#if defined(__i386__) || defined(__x86_64__) || defined(_M_IX86) || defined(_M_X64)
#define KOVIC_CPU_X86 1
#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#else
#include <cpuid.h>
#endif
#endif

namespace kovic {

namespace {

std::atomic<uint32_t> g_hidden_features{0};

#if defined(KOVIC_CPU_X86)

struct CpuidRegisters {
    uint32_t eax, ebx, ecx, edx;
};

CpuidRegisters Cpuid(uint32_t leaf, uint32_t subleaf) {
    CpuidRegisters r{0, 0, 0, 0};
#if defined(_MSC_VER) && !defined(__clang__)
    int out[4];
    __cpuidex(out, static_cast<int>(leaf), static_cast<int>(subleaf));
    r = {static_cast<uint32_t>(out[0]), static_cast<uint32_t>(out[1]), static_cast<uint32_t>(out[2]),
         static_cast<uint32_t>(out[3])};
#else
    __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
#endif
    return r;
}

// XCR0: which register states the operating system saves on a context switch.
uint64_t ReadXcr0() {
#if defined(_MSC_VER) && !defined(__clang__)
    return _xgetbv(0);
#else
    uint32_t eax = 0, edx = 0;
    __asm__ volatile("xgetbv" : "=a"(eax), "=d"(edx) : "c"(0));
    return (static_cast<uint64_t>(edx) << 32) | eax;
#endif
}

uint32_t DetectFeatures() {
    const uint32_t max_leaf = Cpuid(0, 0).eax;
    if (max_leaf < 1) return 0;
    const CpuidRegisters leaf1 = Cpuid(1, 0);
    uint32_t features = 0;
    if (leaf1.edx & (1u << 26)) features |= kCpuSse2;
    if (leaf1.ecx & (1u << 9)) features |= kCpuSsse3;
    const bool os_saves_avx = (leaf1.ecx & (1u << 27)) != 0 &&  // OSXSAVE: XGETBV is usable
                              (leaf1.ecx & (1u << 28)) != 0 &&  // AVX
                              (ReadXcr0() & 0x6) == 0x6;        // XMM and YMM state
    if (os_saves_avx && max_leaf >= 7 && (Cpuid(7, 0).ebx & (1u << 5))) features |= kCpuAvx2;
    return features;
}

#else

uint32_t DetectFeatures() { return 0; }

#endif

}  // namespace

uint32_t CpuFeatures() {
    static const uint32_t detected = DetectFeatures();
    return detected & ~g_hidden_features.load(std::memory_order_relaxed);
}

void HideCpuFeatures(uint32_t features) { g_hidden_features.store(features, std::memory_order_relaxed); }

}  // namespace kovic
