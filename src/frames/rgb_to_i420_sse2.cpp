// RGB24 to I420 row kernels for SSE2, 16 pixels per step. Without a byte
// shuffle, three rounds of interleaving split the channels; 16-bit
// multiply-highs make the terms. Stateless.
#include <emmintrin.h>

#include "frames/rgb_to_i420_rows.h"

namespace kovic {

namespace {

// The channels of 16 source pixels (q = 0..15) as 16-bit lanes: lane j holds
// pixel 2j in the even vectors and pixel 2j + 1 in the odd ones.
struct Channels {
    __m128i even_blue, even_green, even_red, odd_blue, odd_green, odd_red;
};

// One round takes the six 8-byte halves h0..h5 of three registers to
// (h0 ~ h3, h1 ~ h4, h2 ~ h5), ~ interleaving bytes. Starting from 48 bytes in
// memory order (b0 g0 r0 b1 ...), three rounds leave
// [b0 b2 .. b14 | g0 g2 .. g14], [r0 r2 .. r14 | b1 b3 .. b15] and
// [g1 g3 .. g15 | r1 r3 .. r15].
inline void InterleaveRound(__m128i &r0, __m128i &r1, __m128i &r2) {
    const __m128i n0 = _mm_unpacklo_epi8(r0, _mm_unpackhi_epi64(r1, r1));
    const __m128i n1 = _mm_unpacklo_epi8(_mm_unpackhi_epi64(r0, r0), r2);
    const __m128i n2 = _mm_unpacklo_epi8(r1, _mm_unpackhi_epi64(r2, r2));
    r0 = n0;
    r1 = n1;
    r2 = n2;
}

inline Channels LoadChannels(const uint8_t *p) {
    __m128i r0 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p));
    __m128i r1 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 16));
    __m128i r2 = _mm_loadu_si128(reinterpret_cast<const __m128i *>(p + 32));
    InterleaveRound(r0, r1, r2);
    InterleaveRound(r0, r1, r2);
    InterleaveRound(r0, r1, r2);
    const __m128i zero = _mm_setzero_si128();
    return {_mm_unpacklo_epi8(r0, zero), _mm_unpackhi_epi8(r0, zero), _mm_unpacklo_epi8(r1, zero),
            _mm_unpackhi_epi8(r1, zero), _mm_unpacklo_epi8(r2, zero), _mm_unpackhi_epi8(r2, zero)};
}

inline __m128i Term(__m128i channel, uint16_t multiplier) {
    return _mm_mulhi_epu16(channel, _mm_set1_epi16(static_cast<short>(multiplier)));
}

inline __m128i Luma(__m128i blue, __m128i green, __m128i red) {
    return _mm_add_epi16(_mm_add_epi16(Term(blue, kLumaBlueMultiplier), Term(green, kLumaGreenMultiplier)),
                         Term(red, kLumaRedMultiplier));
}

inline __m128i ReverseWords(__m128i v) {
    v = _mm_shufflelo_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
    v = _mm_shufflehi_epi16(v, _MM_SHUFFLE(0, 1, 2, 3));
    return _mm_shuffle_epi32(v, _MM_SHUFFLE(1, 0, 3, 2));
}

// Output pixel o takes source pixel 15 - o: output pair j' is (odd pixel
// 7 - j', even pixel 7 - j'), so the odd luma goes in each lane's low byte and
// the lanes are reversed.
inline void StoreLuma(uint8_t *y, const Channels &c) {
    const __m128i even = Luma(c.even_blue, c.even_green, c.even_red);
    const __m128i odd = Luma(c.odd_blue, c.odd_green, c.odd_red);
    _mm_storeu_si128(reinterpret_cast<__m128i *>(y), ReverseWords(_mm_or_si128(odd, _mm_slli_epi16(even, 8))));
}

// The odd source pixels lead the output pairs, last first. Cb - 128 = b / 2 -
// trunc(0.1687 r) - trunc(0.3313 g) and Cr - 128 = r / 2 - trunc(0.4187 g) -
// trunc(0.0813 b) lie in -127..127: packed as signed bytes, flipping the top
// bit adds the 128. Writes eight of each.
inline void StoreChroma(uint8_t *u, uint8_t *v, const Channels &c) {
    __m128i cb = _mm_srli_epi16(c.odd_blue, 1);
    cb = _mm_sub_epi16(cb, Term(c.odd_red, kChromaBlueRedMultiplier));
    cb = _mm_sub_epi16(cb, Term(c.odd_green, kChromaBlueGreenMultiplier));
    __m128i cr = _mm_srli_epi16(c.odd_red, 1);
    cr = _mm_sub_epi16(cr, Term(c.odd_green, kChromaRedGreenMultiplier));
    cr = _mm_sub_epi16(cr, Term(c.odd_blue, kChromaRedBlueMultiplier));
    const __m128i uv = _mm_xor_si128(_mm_packs_epi16(ReverseWords(cb), ReverseWords(cr)),
                                     _mm_set1_epi8(static_cast<char>(0x80)));
    _mm_storel_epi64(reinterpret_cast<__m128i *>(u), uv);
    _mm_storeh_pi(reinterpret_cast<__m64 *>(v), _mm_castsi128_ps(uv));
}

}  // namespace

void Rgb24ToYuvRow_SSE2(const uint8_t *source, uint8_t *y, uint8_t *u, uint8_t *v, int width) {
    const uint8_t *chunk = source + 3 * width;
    for (int x = 0; x < width; x += 16) {
        chunk -= 48;
        const Channels c = LoadChannels(chunk);
        StoreLuma(y + x, c);
        StoreChroma(u + x / 2, v + x / 2, c);
    }
}

void Rgb24ToYRow_SSE2(const uint8_t *source, uint8_t *y, int width) {
    const uint8_t *chunk = source + 3 * width;
    for (int x = 0; x < width; x += 16) {
        chunk -= 48;
        StoreLuma(y + x, LoadChannels(chunk));
    }
}

}  // namespace kovic
