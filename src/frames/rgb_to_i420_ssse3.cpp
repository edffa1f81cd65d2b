// RGB24 to I420 row kernels for SSSE3, 16 pixels per step: byte shuffles
// gather the channels, 16-bit multiply-highs make the terms. Stateless.
#include <tmmintrin.h>

#include "frames/rgb_to_i420_rows.h"
#include "frames/rgb_to_i420_shuffles.h"

namespace kovic {

namespace {

using namespace rgb24_chunk;

struct Chunk {
    __m128i a, b, c;
};

inline Chunk LoadChunk(const uint8_t *p) {
    return {_mm_loadu_si128(reinterpret_cast<const __m128i *>(p)),
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16)),
            _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 32))};
}

inline __m128i Shuffle(__m128i v, int gather, int reg) {
    return _mm_shuffle_epi8(v, _mm_load_si128(reinterpret_cast<const __m128i *>(kGatherMasks.bytes[gather][reg])));
}

inline __m128i GatherAll(const Chunk &k, int gather) {
    return _mm_or_si128(_mm_or_si128(Shuffle(k.a, gather, 0), Shuffle(k.b, gather, 1)), Shuffle(k.c, gather, 2));
}

inline __m128i Term(__m128i channel, uint16_t multiplier) {
    return _mm_mulhi_epu16(channel, _mm_set1_epi16(static_cast<short>(multiplier)));
}

inline __m128i Luma(__m128i blue, __m128i green, __m128i red) {
    return _mm_add_epi16(_mm_add_epi16(Term(blue, kLumaBlueMultiplier), Term(green, kLumaGreenMultiplier)),
                         Term(red, kLumaRedMultiplier));
}

// Cb - 128 = b / 2 - trunc(0.1687 r) - trunc(0.3313 g) and Cr - 128 = r / 2 -
// trunc(0.4187 g) - trunc(0.0813 b) lie in -127..127: packed as signed bytes,
// flipping the top bit adds the 128. Writes eight of each.
inline void StoreChroma(uint8_t *u, uint8_t *v, __m128i blue, __m128i green, __m128i red) {
    __m128i cb = _mm_srli_epi16(blue, 1);
    cb = _mm_sub_epi16(cb, Term(red, kChromaBlueRedMultiplier));
    cb = _mm_sub_epi16(cb, Term(green, kChromaBlueGreenMultiplier));
    __m128i cr = _mm_srli_epi16(red, 1);
    cr = _mm_sub_epi16(cr, Term(green, kChromaRedGreenMultiplier));
    cr = _mm_sub_epi16(cr, Term(blue, kChromaRedBlueMultiplier));
    const __m128i uv = _mm_xor_si128(_mm_packs_epi16(cb, cr), _mm_set1_epi8(static_cast<char>(0x80)));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(u), uv);
    _mm_storeh_pi(reinterpret_cast<__m64 *>(v), _mm_castsi128_ps(uv));
}

}  // namespace

void Rgb24ToYuvRow_SSSE3(const uint8_t *source, uint8_t *y, uint8_t *u, uint8_t *v, int width) {
    const __m128i low_bytes = _mm_set1_epi16(0x00FF);
    const uint8_t *chunk = source + 3 * width;
    for (int x = 0; x < width; x += 16) {
        chunk -= 48;
        const Chunk k = LoadChunk(chunk);
        const __m128i lead = GatherAll(k, kLeadBlueGreen);
        const __m128i trail = GatherAll(k, kTrailBlueGreen);
        const __m128i red = GatherAll(k, kPairRed);
        const __m128i lead_blue = _mm_and_si128(lead, low_bytes);
        const __m128i lead_green = _mm_srli_epi16(lead, 8);
        const __m128i lead_red = _mm_and_si128(red, low_bytes);
        const __m128i lead_luma = Luma(lead_blue, lead_green, lead_red);
        const __m128i trail_luma =
            Luma(_mm_and_si128(trail, low_bytes), _mm_srli_epi16(trail, 8), _mm_srli_epi16(red, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(y + x), _mm_or_si128(lead_luma, _mm_slli_epi16(trail_luma, 8)));
        StoreChroma(u + x / 2, v + x / 2, lead_blue, lead_green, lead_red);
    }
}

void Rgb24ToYRow_SSSE3(const uint8_t *source, uint8_t *y, int width) {
    const __m128i low_bytes = _mm_set1_epi16(0x00FF);
    const uint8_t *chunk = source + 3 * width;
    for (int x = 0; x < width; x += 16) {
        chunk -= 48;
        const Chunk k = LoadChunk(chunk);
        const __m128i first =
            _mm_or_si128(Shuffle(k.b, kFirstHalfBlueGreen, 1), Shuffle(k.c, kFirstHalfBlueGreen, 2));
        const __m128i second =
            _mm_or_si128(Shuffle(k.a, kSecondHalfBlueGreen, 0), Shuffle(k.b, kSecondHalfBlueGreen, 1));
        const __m128i red = GatherAll(k, kHalvesRed);
        const __m128i first_luma =
            Luma(_mm_and_si128(first, low_bytes), _mm_srli_epi16(first, 8), _mm_and_si128(red, low_bytes));
        const __m128i second_luma =
            Luma(_mm_and_si128(second, low_bytes), _mm_srli_epi16(second, 8), _mm_srli_epi16(red, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i *>(y + x), _mm_packus_epi16(first_luma, second_luma));
    }
}

}  // namespace kovic
