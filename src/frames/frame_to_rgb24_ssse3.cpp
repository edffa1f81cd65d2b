// Frame to RGB24 row kernels for SSSE3, 16 pixels per step: byte shuffles lay
// the channels out as B, G, R. Stateless.
#include <tmmintrin.h>

#include "frames/frame_to_rgb24_rows.h"
#include "frames/frame_to_rgb24_shuffles.h"
#include "frames/frame_to_rgb24_sse_rows.h"

namespace kovic {

namespace {

using bgr48::kMasks;

inline __m128i PlaneShuffle(__m128i v, int out, int source) {
    return _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i *>(kMasks.plane[out][source])));
}

inline __m128i QuadShuffle(__m128i v, int out, int source) {
    return _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i *>(kMasks.quad[out][source])));
}

void StoreBgr(uint8_t *rgb, __m128i blue, __m128i green, __m128i red) {
    using namespace bgr48;
    const __m128i bg_low = _mm_unpacklo_epi8(blue, green);
    const __m128i bg_high = _mm_unpackhi_epi8(blue, green);
    const __m128i out0 = _mm_or_si128(PlaneShuffle(bg_low, 0, kBlueGreenLow), PlaneShuffle(red, 0, kRed));
    const __m128i out1 =
        _mm_or_si128(_mm_or_si128(PlaneShuffle(bg_low, 1, kBlueGreenLow), PlaneShuffle(bg_high, 1, kBlueGreenHigh)),
                     PlaneShuffle(red, 1, kRed));
    const __m128i out2 = _mm_or_si128(PlaneShuffle(bg_high, 2, kBlueGreenHigh), PlaneShuffle(red, 2, kRed));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(rgb), out0);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(rgb + 16), out1);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(rgb + 32), out2);
}

}  // namespace

void Yuy2ToRgb24Row_SSSE3(const uint8_t *source, uint8_t *rgb, int width) {
    sse_rows::Yuy2Row<StoreBgr>(source, rgb, width);
}

void UyvyToRgb24Row_SSSE3(const uint8_t *source, uint8_t *rgb, int width) {
    sse_rows::UyvyRow<StoreBgr>(source, rgb, width);
}

void Nv12ToRgb24Row_SSSE3(const uint8_t *y, const uint8_t *uv, uint8_t *rgb, int width) {
    sse_rows::Nv12Row<StoreBgr>(y, uv, rgb, width);
}

void PlanarToRgb24Row_SSSE3(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *rgb, int width) {
    sse_rows::PlanarRow<StoreBgr>(y, u, v, rgb, width);
}

void Rgb32ToRgb24Row_SSSE3(const uint8_t *bgrx, uint8_t *rgb, int width) {
    for (int x = 0; x < width; x += 16, bgrx += 64, rgb += 48) {
        const __m128i p0 = sse_rows::Load(bgrx), p1 = sse_rows::Load(bgrx + 16);
        const __m128i p2 = sse_rows::Load(bgrx + 32), p3 = sse_rows::Load(bgrx + 48);
        _mm_storeu_si128(reinterpret_cast<__m128i *>(rgb), _mm_or_si128(QuadShuffle(p0, 0, 0), QuadShuffle(p1, 0, 1)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(rgb + 16),
                         _mm_or_si128(QuadShuffle(p1, 1, 1), QuadShuffle(p2, 1, 2)));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(rgb + 32),
                         _mm_or_si128(QuadShuffle(p2, 2, 2), QuadShuffle(p3, 2, 3)));
    }
}

}  // namespace kovic
