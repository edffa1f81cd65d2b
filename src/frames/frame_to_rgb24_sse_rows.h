// The 128-bit YUV to RGB24 row loops shared by the SSE2 and SSSE3 kernels,
// 16 pixels per step. Each of those files includes this header and passes its
// own store of 16 B, G, R pixels. Stateless.
//
// Everything here has internal linkage on purpose: the two files compile it
// with different instruction sets, and one shared out-of-line copy would let
// the linker hand the SSE2 kernels code built for SSSE3.
#pragma once

#include <emmintrin.h>

#include <cstdint>

#include "frames/frame_to_rgb24_rows.h"

namespace kovic {
namespace {  // NOLINT(build/namespaces): see above
namespace sse_rows {

// The chroma part of each channel for 8 pixel pairs, 16-bit lanes, bias and
// rounding included.
struct ChromaTerms {
    __m128i red, green, blue;
};

// u_high and v_high hold one sample per 16-bit lane in the high byte
// (sample << 8); flipping the top bit makes (sample - 128) << 8, signed.
inline ChromaTerms ChromaOf(__m128i u_high, __m128i v_high) {
    const __m128i sign = _mm_set1_epi16(static_cast<short>(0x8000));
    const __m128i bias = _mm_set1_epi16(static_cast<short>(kBiasAndRounding));
    const __m128i u = _mm_xor_si128(u_high, sign);
    const __m128i v = _mm_xor_si128(v_high, sign);
    const __m128i red = _mm_mulhi_epi16(v, _mm_set1_epi16(static_cast<short>(kRedVMultiplier)));
    const __m128i green_u = _mm_mulhi_epi16(u, _mm_set1_epi16(static_cast<short>(kGreenUMultiplier)));
    const __m128i green_v = _mm_mulhi_epi16(v, _mm_set1_epi16(static_cast<short>(kGreenVMultiplier)));
    const __m128i blue = _mm_mulhi_epi16(u, _mm_set1_epi16(static_cast<short>(kBlueUMultiplier)));
    return {_mm_add_epi16(red, bias), _mm_sub_epi16(_mm_sub_epi16(bias, green_u), green_v), _mm_add_epi16(blue, bias)};
}

// One channel of 16 pixels as bytes: the luma of pixels 0-7 and 8-15 plus the
// chroma term of each pixel's pair, scaled down and clamped by the pack.
inline __m128i Channel(__m128i luma_low, __m128i luma_high, __m128i term) {
    const __m128i low = _mm_srai_epi16(_mm_add_epi16(luma_low, _mm_unpacklo_epi16(term, term)), kFractionBits);
    const __m128i high = _mm_srai_epi16(_mm_add_epi16(luma_high, _mm_unpackhi_epi16(term, term)), kFractionBits);
    return _mm_packus_epi16(low, high);
}

// 16 pixels: Y of pixels 0-7 and 8-15 and U, V of pairs 0-7, each sample in
// the high byte of a 16-bit lane.
template <void (*StoreBgr)(uint8_t *, __m128i, __m128i, __m128i)>
inline void Convert16(uint8_t *rgb, __m128i y_low_high, __m128i y_high_high, __m128i u_high, __m128i v_high) {
    const __m128i luma_multiplier = _mm_set1_epi16(static_cast<short>(kLumaMultiplier));
    const __m128i luma_low = _mm_mulhi_epu16(y_low_high, luma_multiplier);
    const __m128i luma_high = _mm_mulhi_epu16(y_high_high, luma_multiplier);
    const ChromaTerms c = ChromaOf(u_high, v_high);
    StoreBgr(rgb, Channel(luma_low, luma_high, c.blue), Channel(luma_low, luma_high, c.green),
             Channel(luma_low, luma_high, c.red));
}

inline __m128i Load(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }

// Of each 16-bit lane's two bytes, the low one moved into the high byte, or
// the high one alone.
inline __m128i LowByteUp(__m128i v) { return _mm_slli_epi16(v, 8); }
inline __m128i HighByteOnly(__m128i v) { return _mm_and_si128(v, _mm_set1_epi16(static_cast<short>(0xFF00))); }

template <void (*StoreBgr)(uint8_t *, __m128i, __m128i, __m128i)>
void Yuy2Row(const uint8_t *source, uint8_t *rgb, int width) {
    for (int x = 0; x < width; x += 16, source += 32, rgb += 48) {
        const __m128i first = Load(source);
        const __m128i second = Load(source + 16);
        const __m128i uv = _mm_packus_epi16(_mm_srli_epi16(first, 8), _mm_srli_epi16(second, 8));
        Convert16<StoreBgr>(rgb, LowByteUp(first), LowByteUp(second), LowByteUp(uv), HighByteOnly(uv));
    }
}

template <void (*StoreBgr)(uint8_t *, __m128i, __m128i, __m128i)>
void UyvyRow(const uint8_t *source, uint8_t *rgb, int width) {
    const __m128i low_bytes = _mm_set1_epi16(0x00FF);
    for (int x = 0; x < width; x += 16, source += 32, rgb += 48) {
        const __m128i first = Load(source);
        const __m128i second = Load(source + 16);
        const __m128i uv = _mm_packus_epi16(_mm_and_si128(first, low_bytes), _mm_and_si128(second, low_bytes));
        Convert16<StoreBgr>(rgb, HighByteOnly(first), HighByteOnly(second), LowByteUp(uv), HighByteOnly(uv));
    }
}

template <void (*StoreBgr)(uint8_t *, __m128i, __m128i, __m128i)>
void Nv12Row(const uint8_t *y, const uint8_t *uv, uint8_t *rgb, int width) {
    const __m128i zero = _mm_setzero_si128();
    for (int x = 0; x < width; x += 16, y += 16, uv += 16, rgb += 48) {
        const __m128i luma = Load(y);
        const __m128i chroma = Load(uv);
        Convert16<StoreBgr>(rgb, _mm_unpacklo_epi8(zero, luma), _mm_unpackhi_epi8(zero, luma), LowByteUp(chroma),
                            HighByteOnly(chroma));
    }
}

template <void (*StoreBgr)(uint8_t *, __m128i, __m128i, __m128i)>
void PlanarRow(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *rgb, int width) {
    const __m128i zero = _mm_setzero_si128();
    for (int x = 0; x < width; x += 16, y += 16, u += 8, v += 8, rgb += 48) {
        const __m128i luma = Load(y);
        const __m128i u8 = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(u));
        const __m128i v8 = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(v));
        Convert16<StoreBgr>(rgb, _mm_unpacklo_epi8(zero, luma), _mm_unpackhi_epi8(zero, luma),
                            _mm_unpacklo_epi8(zero, u8), _mm_unpacklo_epi8(zero, v8));
    }
}

}  // namespace sse_rows
}  // namespace
}  // namespace kovic
