// Frame to RGB24 row kernels for SSE2, 16 pixels per step. Without a byte
// shuffle, pixels are widened to B, G, R, 0 and narrowed back to 3 bytes with
// shifts and masks. Stateless.
#include <emmintrin.h>

#include "frames/frame_to_rgb24_rows.h"
#include "frames/frame_to_rgb24_sse_rows.h"

namespace kovic {

namespace {

// Four 4-byte pixels (B, G, R, any) to their 12 bytes B, G, R at the bottom of
// the register, the top 4 bytes zero: first within each 64-bit half (keep the
// low pixel's 3 bytes, move the high pixel's 3 down by one byte), then the
// high half's 6 bytes down next to the low half's.
inline __m128i Narrow(__m128i pixels) {
    const __m128i low_pixel = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
    const __m128i high_pixel = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000), 0x0000FFFF,
                                             static_cast<int>(0xFF000000));
    const __m128i halves = _mm_or_si128(_mm_and_si128(pixels, low_pixel),
                                        _mm_and_si128(_mm_srli_epi64(pixels, 8), high_pixel));
    const __m128i bytes_6_to_11 = _mm_set_epi32(0, -1, static_cast<int>(0xFFFF0000), 0);
    return _mm_or_si128(_mm_move_epi64(halves), _mm_and_si128(_mm_srli_si128(halves, 2), bytes_6_to_11));
}

// Sixteen 4-byte pixels (p0 holds pixels 0-3, p3 pixels 12-15) as 48 bytes.
inline void StoreBgrx(uint8_t *rgb, __m128i p0, __m128i p1, __m128i p2, __m128i p3) {
    const __m128i n0 = Narrow(p0), n1 = Narrow(p1), n2 = Narrow(p2), n3 = Narrow(p3);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(rgb), _mm_or_si128(n0, _mm_slli_si128(n1, 12)));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(rgb + 16),
                     _mm_or_si128(_mm_srli_si128(n1, 4), _mm_slli_si128(n2, 8)));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(rgb + 32),
                     _mm_or_si128(_mm_srli_si128(n2, 8), _mm_slli_si128(n3, 4)));
}

void StoreBgr(uint8_t *rgb, __m128i blue, __m128i green, __m128i red) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i bg_low = _mm_unpacklo_epi8(blue, green);
    const __m128i bg_high = _mm_unpackhi_epi8(blue, green);
    const __m128i r0_low = _mm_unpacklo_epi8(red, zero);
    const __m128i r0_high = _mm_unpackhi_epi8(red, zero);
    StoreBgrx(rgb, _mm_unpacklo_epi16(bg_low, r0_low), _mm_unpackhi_epi16(bg_low, r0_low),
              _mm_unpacklo_epi16(bg_high, r0_high), _mm_unpackhi_epi16(bg_high, r0_high));
}

}  // namespace

void Yuy2ToRgb24Row_SSE2(const uint8_t *source, uint8_t *rgb, int width) {
    sse_rows::Yuy2Row<StoreBgr>(source, rgb, width);
}

void UyvyToRgb24Row_SSE2(const uint8_t *source, uint8_t *rgb, int width) {
    sse_rows::UyvyRow<StoreBgr>(source, rgb, width);
}

void Nv12ToRgb24Row_SSE2(const uint8_t *y, const uint8_t *uv, uint8_t *rgb, int width) {
    sse_rows::Nv12Row<StoreBgr>(y, uv, rgb, width);
}

void PlanarToRgb24Row_SSE2(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *rgb, int width) {
    sse_rows::PlanarRow<StoreBgr>(y, u, v, rgb, width);
}

void Rgb32ToRgb24Row_SSE2(const uint8_t *bgrx, uint8_t *rgb, int width) {
    for (int x = 0; x < width; x += 16, bgrx += 64, rgb += 48) {
        StoreBgrx(rgb, sse_rows::Load(bgrx), sse_rows::Load(bgrx + 16), sse_rows::Load(bgrx + 32),
                  sse_rows::Load(bgrx + 48));
    }
}

}  // namespace kovic
