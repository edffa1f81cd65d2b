// Frame to RGB24 row kernels for AVX2, 32 pixels per step. The 256-bit
// unpacks, packs and shuffles work on each 128-bit half alone, so the low half
// carries pixels 0-15 and the high half pixels 16-31 throughout, and the three
// 32-byte stores reassemble the halves at the end. Stateless.
#include <immintrin.h>

#include "frames/frame_to_rgb24_rows.h"
#include "frames/frame_to_rgb24_shuffles.h"

namespace kovic {

namespace {

using bgr48::kMasks;

inline __m128i Load128(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }
inline __m256i Load256(const uint8_t *p) { return _mm256_loadu_si256(reinterpret_cast<const __m256i *>(p)); }

// 16 bytes at `low` in the low half, 16 at `high` in the high half.
inline __m256i LoadHalves(const uint8_t *low, const uint8_t *high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(Load128(low)), Load128(high), 1);
}

inline __m256i LowByteUp(__m256i v) { return _mm256_slli_epi16(v, 8); }
inline __m256i HighByteOnly(__m256i v) {
    return _mm256_and_si256(v, _mm256_set1_epi16(static_cast<short>(0xFF00)));
}

struct ChromaTerms {
    __m256i red, green, blue;
};

// Samples in the high byte of each 16-bit lane; see the SSE2 kernels.
inline ChromaTerms ChromaOf(__m256i u_high, __m256i v_high) {
    const __m256i sign = _mm256_set1_epi16(static_cast<short>(0x8000));
    const __m256i bias = _mm256_set1_epi16(static_cast<short>(kBiasAndRounding));
    const __m256i u = _mm256_xor_si256(u_high, sign);
    const __m256i v = _mm256_xor_si256(v_high, sign);
    const __m256i red = _mm256_mulhi_epi16(v, _mm256_set1_epi16(static_cast<short>(kRedVMultiplier)));
    const __m256i green_u = _mm256_mulhi_epi16(u, _mm256_set1_epi16(static_cast<short>(kGreenUMultiplier)));
    const __m256i green_v = _mm256_mulhi_epi16(v, _mm256_set1_epi16(static_cast<short>(kGreenVMultiplier)));
    const __m256i blue = _mm256_mulhi_epi16(u, _mm256_set1_epi16(static_cast<short>(kBlueUMultiplier)));
    return {_mm256_add_epi16(red, bias), _mm256_sub_epi16(_mm256_sub_epi16(bias, green_u), green_v),
            _mm256_add_epi16(blue, bias)};
}

// luma_low: pixels 0-7 | 16-23, luma_high: 8-15 | 24-31, term: pairs 0-7 |
// 8-15. Gives the channel's bytes, pixels 0-15 | 16-31.
inline __m256i Channel(__m256i luma_low, __m256i luma_high, __m256i term) {
    const __m256i low =
        _mm256_srai_epi16(_mm256_add_epi16(luma_low, _mm256_unpacklo_epi16(term, term)), kFractionBits);
    const __m256i high =
        _mm256_srai_epi16(_mm256_add_epi16(luma_high, _mm256_unpackhi_epi16(term, term)), kFractionBits);
    return _mm256_packus_epi16(low, high);
}

inline __m256i Mask(const int8_t *mask) { return _mm256_load_si256(reinterpret_cast<const __m256i *>(mask)); }

// out0..out2 hold output bytes 0-15 | 48-63, 16-31 | 64-79 and 32-47 | 80-95.
inline void StoreHalves(uint8_t *rgb, __m256i out0, __m256i out1, __m256i out2) {
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(rgb), _mm256_permute2x128_si256(out0, out1, 0x20));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(rgb + 32), _mm256_permute2x128_si256(out2, out0, 0x30));
    _mm256_storeu_si256(reinterpret_cast<__m256i *>(rgb + 64), _mm256_permute2x128_si256(out1, out2, 0x31));
}

inline void StoreBgr(uint8_t *rgb, __m256i blue, __m256i green, __m256i red) {
    using namespace bgr48;
    const __m256i bg_low = _mm256_unpacklo_epi8(blue, green);
    const __m256i bg_high = _mm256_unpackhi_epi8(blue, green);
    const __m256i out0 = _mm256_or_si256(_mm256_shuffle_epi8(bg_low, Mask(kMasks.plane[0][kBlueGreenLow])),
                                         _mm256_shuffle_epi8(red, Mask(kMasks.plane[0][kRed])));
    const __m256i out1 = _mm256_or_si256(
        _mm256_or_si256(_mm256_shuffle_epi8(bg_low, Mask(kMasks.plane[1][kBlueGreenLow])),
                        _mm256_shuffle_epi8(bg_high, Mask(kMasks.plane[1][kBlueGreenHigh]))),
        _mm256_shuffle_epi8(red, Mask(kMasks.plane[1][kRed])));
    const __m256i out2 = _mm256_or_si256(_mm256_shuffle_epi8(bg_high, Mask(kMasks.plane[2][kBlueGreenHigh])),
                                         _mm256_shuffle_epi8(red, Mask(kMasks.plane[2][kRed])));
    StoreHalves(rgb, out0, out1, out2);
}

// 32 pixels: Y of pixels 0-7 | 16-23 and 8-15 | 24-31, U and V of pairs 0-7 |
// 8-15, each sample in the high byte of a 16-bit lane.
inline void Convert32(uint8_t *rgb, __m256i y_low_high, __m256i y_high_high, __m256i u_high, __m256i v_high) {
    const __m256i luma_multiplier = _mm256_set1_epi16(static_cast<short>(kLumaMultiplier));
    const __m256i luma_low = _mm256_mulhi_epu16(y_low_high, luma_multiplier);
    const __m256i luma_high = _mm256_mulhi_epu16(y_high_high, luma_multiplier);
    const ChromaTerms c = ChromaOf(u_high, v_high);
    StoreBgr(rgb, Channel(luma_low, luma_high, c.blue), Channel(luma_low, luma_high, c.green),
             Channel(luma_low, luma_high, c.red));
}

}  // namespace

void Yuy2ToRgb24Row_AVX2(const uint8_t *source, uint8_t *rgb, int width) {
    for (int x = 0; x < width; x += 32, source += 64, rgb += 96) {
        const __m256i low = LoadHalves(source, source + 32);        // pixels 0-7 | 16-23
        const __m256i high = LoadHalves(source + 16, source + 48);  // pixels 8-15 | 24-31
        const __m256i uv = _mm256_packus_epi16(_mm256_srli_epi16(low, 8), _mm256_srli_epi16(high, 8));
        Convert32(rgb, LowByteUp(low), LowByteUp(high), LowByteUp(uv), HighByteOnly(uv));
    }
}

void UyvyToRgb24Row_AVX2(const uint8_t *source, uint8_t *rgb, int width) {
    const __m256i low_bytes = _mm256_set1_epi16(0x00FF);
    for (int x = 0; x < width; x += 32, source += 64, rgb += 96) {
        const __m256i low = LoadHalves(source, source + 32);
        const __m256i high = LoadHalves(source + 16, source + 48);
        const __m256i uv = _mm256_packus_epi16(_mm256_and_si256(low, low_bytes), _mm256_and_si256(high, low_bytes));
        Convert32(rgb, HighByteOnly(low), HighByteOnly(high), LowByteUp(uv), HighByteOnly(uv));
    }
}

void Nv12ToRgb24Row_AVX2(const uint8_t *y, const uint8_t *uv, uint8_t *rgb, int width) {
    const __m256i zero = _mm256_setzero_si256();
    for (int x = 0; x < width; x += 32, y += 32, uv += 32, rgb += 96) {
        const __m256i luma = Load256(y);
        const __m256i chroma = Load256(uv);
        Convert32(rgb, _mm256_unpacklo_epi8(zero, luma), _mm256_unpackhi_epi8(zero, luma), LowByteUp(chroma),
                  HighByteOnly(chroma));
    }
}

void PlanarToRgb24Row_AVX2(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *rgb, int width) {
    const __m256i zero = _mm256_setzero_si256();
    for (int x = 0; x < width; x += 32, y += 32, u += 16, v += 16, rgb += 96) {
        const __m256i luma = Load256(y);
        Convert32(rgb, _mm256_unpacklo_epi8(zero, luma), _mm256_unpackhi_epi8(zero, luma),
                  LowByteUp(_mm256_cvtepu8_epi16(Load128(u))), LowByteUp(_mm256_cvtepu8_epi16(Load128(v))));
    }
}

void Rgb32ToRgb24Row_AVX2(const uint8_t *bgrx, uint8_t *rgb, int width) {
    const __m256i narrow = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128,  //
                                            0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -128, -128, -128, -128);
    for (int x = 0; x < width; x += 32, bgrx += 128, rgb += 96) {
        // Register s: pixels 4s..4s+3 | 16+4s..19+4s, each half narrowed to
        // its 12 bytes at the bottom, then the four runs of each half joined
        // into 48 bytes by byte shifts.
        const __m256i n0 = _mm256_shuffle_epi8(LoadHalves(bgrx, bgrx + 64), narrow);
        const __m256i n1 = _mm256_shuffle_epi8(LoadHalves(bgrx + 16, bgrx + 80), narrow);
        const __m256i n2 = _mm256_shuffle_epi8(LoadHalves(bgrx + 32, bgrx + 96), narrow);
        const __m256i n3 = _mm256_shuffle_epi8(LoadHalves(bgrx + 48, bgrx + 112), narrow);
        StoreHalves(rgb, _mm256_or_si256(n0, _mm256_bslli_epi128(n1, 12)),
                    _mm256_or_si256(_mm256_bsrli_epi128(n1, 4), _mm256_bslli_epi128(n2, 8)),
                    _mm256_or_si256(_mm256_bsrli_epi128(n2, 8), _mm256_bslli_epi128(n3, 4)));
    }
}

}  // namespace kovic
