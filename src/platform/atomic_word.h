// Acquire loads and release stores of a plain aligned 32-bit word that lives in
// a struct shared with the host (the frame descriptor's busy flag). On x86 both
// compile to plain moves; the orderings keep the compiler and TSan honest.
#pragma once

#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace kovic {

inline uint32_t LoadAcquire(const volatile uint32_t *word) {
#if defined(_MSC_VER) && !defined(__clang__)
    uint32_t v = *word;  // volatile reads have acquire semantics under /volatile:ms
    _ReadWriteBarrier();
    return v;
#else
    return __atomic_load_n(word, __ATOMIC_ACQUIRE);
#endif
}

inline void StoreRelease(volatile uint32_t *word, uint32_t value) {
#if defined(_MSC_VER) && !defined(__clang__)
    _ReadWriteBarrier();
    *word = value;  // volatile writes have release semantics under /volatile:ms
#else
    __atomic_store_n(word, value, __ATOMIC_RELEASE);
#endif
}

}  // namespace kovic
