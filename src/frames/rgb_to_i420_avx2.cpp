// RGB24 to I420 row kernels for AVX2, 32 pixels per step: each 128-bit half
// runs the SSSE3 kernel's gathers on its own 16-pixel chunk. Stateless.
#include <immintrin.h>

#include "frames/rgb_to_i420_rows.h"
#include "frames/rgb_to_i420_shuffles.h"

namespace kovic {

namespace {

using namespace rgb24_chunk;

// Three registers for two chunks: the low halves hold the chunk at `first`
// (output pixels 0..15 of the step), the high halves the chunk at `second`.
struct Chunks {
    __m256i a, b, c;
};

inline __m256i LoadHalves(const uint8_t *low, const uint8_t *high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i *>(low))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i *>(high)), 1);
}

inline Chunks LoadChunks(const uint8_t *first, const uint8_t *second) {
    return {LoadHalves(first, second), LoadHalves(first + 16, second + 16), LoadHalves(first + 32, second + 32)};
}

inline __m256i Shuffle(__m256i v, int gather, int reg) {
    return _mm256_shuffle_epi8(v,
                               _mm256_load_si256(reinterpret_cast<const __m256i *>(kGatherMasks.bytes[gather][reg])));
}

inline __m256i GatherAll(const Chunks &k, int gather) {
    return _mm256_or_si256(_mm256_or_si256(Shuffle(k.a, gather, 0), Shuffle(k.b, gather, 1)),
                           Shuffle(k.c, gather, 2));
}

inline __m256i Term(__m256i channel, uint16_t multiplier) {
    return _mm256_mulhi_epu16(channel, _mm256_set1_epi16(static_cast<short>(multiplier)));
}

inline __m256i Luma(__m256i blue, __m256i green, __m256i red) {
    return _mm256_add_epi16(_mm256_add_epi16(Term(blue, kLumaBlueMultiplier), Term(green, kLumaGreenMultiplier)),
                            Term(red, kLumaRedMultiplier));
}

// Cb - 128 = b / 2 - trunc(0.1687 r) - trunc(0.3313 g) and Cr - 128 = r / 2 -
// trunc(0.4187 g) - trunc(0.0813 b) lie in -127..127: packed as signed bytes,
// flipping the top bit adds the 128. Each half packs [U | V] of its own chunk;
// the permutation gathers the U and V quarters. Writes sixteen of each.
inline void StoreChroma(uint8_t *u, uint8_t *v, __m256i blue, __m256i green, __m256i red) {
    __m256i cb = _mm256_srli_epi16(blue, 1);
    cb = _mm256_sub_epi16(cb, Term(red, kChromaBlueRedMultiplier));
    cb = _mm256_sub_epi16(cb, Term(green, kChromaBlueGreenMultiplier));
    __m256i cr = _mm256_srli_epi16(red, 1);
    cr = _mm256_sub_epi16(cr, Term(green, kChromaRedGreenMultiplier));
    cr = _mm256_sub_epi16(cr, Term(blue, kChromaRedBlueMultiplier));
    const __m256i packed = _mm256_xor_si256(_mm256_packs_epi16(cb, cr), _mm256_set1_epi8(static_cast<char>(0x80)));
    const __m256i uv = _mm256_permute4x64_epi64(packed, _MM_SHUFFLE(3, 1, 2, 0));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(u), _mm256_castsi256_si128(uv));
    _mm_storeu_si128(reinterpret_cast<__m128i *>(v), _mm256_extracti128_si256(uv, 1));
}

}  // namespace

void Rgb24ToYuvRow_AVX2(const uint8_t *source, uint8_t *y, uint8_t *u, uint8_t *v, int width) {
    const __m256i low_bytes = _mm256_set1_epi16(0x00FF);
    const uint8_t *step = source + 3 * width;
    for (int x = 0; x < width; x += 32) {
        step -= 96;
        const Chunks k = LoadChunks(step + 48, step);
        const __m256i lead = GatherAll(k, kLeadBlueGreen);
        const __m256i trail = GatherAll(k, kTrailBlueGreen);
        const __m256i red = GatherAll(k, kPairRed);
        const __m256i lead_blue = _mm256_and_si256(lead, low_bytes);
        const __m256i lead_green = _mm256_srli_epi16(lead, 8);
        const __m256i lead_red = _mm256_and_si256(red, low_bytes);
        const __m256i lead_luma = Luma(lead_blue, lead_green, lead_red);
        const __m256i trail_luma =
            Luma(_mm256_and_si256(trail, low_bytes), _mm256_srli_epi16(trail, 8), _mm256_srli_epi16(red, 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(y + x),
                            _mm256_or_si256(lead_luma, _mm256_slli_epi16(trail_luma, 8)));

        StoreChroma(u + x / 2, v + x / 2, lead_blue, lead_green, lead_red);
    }
}

void Rgb24ToYRow_AVX2(const uint8_t *source, uint8_t *y, int width) {
    const __m256i low_bytes = _mm256_set1_epi16(0x00FF);
    const uint8_t *step = source + 3 * width;
    for (int x = 0; x < width; x += 32) {
        step -= 96;
        const Chunks k = LoadChunks(step + 48, step);
        const __m256i first =
            _mm256_or_si256(Shuffle(k.b, kFirstHalfBlueGreen, 1), Shuffle(k.c, kFirstHalfBlueGreen, 2));
        const __m256i second =
            _mm256_or_si256(Shuffle(k.a, kSecondHalfBlueGreen, 0), Shuffle(k.b, kSecondHalfBlueGreen, 1));
        const __m256i red = GatherAll(k, kHalvesRed);
        const __m256i first_luma =
            Luma(_mm256_and_si256(first, low_bytes), _mm256_srli_epi16(first, 8), _mm256_and_si256(red, low_bytes));
        const __m256i second_luma =
            Luma(_mm256_and_si256(second, low_bytes), _mm256_srli_epi16(second, 8), _mm256_srli_epi16(red, 8));
        _mm256_storeu_si256(reinterpret_cast<__m256i *>(y + x), _mm256_packus_epi16(first_luma, second_luma));
    }
}

}  // namespace kovic
