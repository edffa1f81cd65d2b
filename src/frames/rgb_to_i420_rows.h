// Row kernels of the RGB24 to I420 conversion and the arithmetic the vector
// kernels use in place of the tables. Stateless; any thread.
//
// Every row kernel takes a run of `width` source pixels starting at `source`
// (the run's lowest address) and writes them in reverse order: output pixel x
// takes source pixel width - 1 - x. The YUV kernels also write one U and one V
// byte per pair of output pixels, from the first pixel of the pair. Width is
// even; a vector kernel converts only whole multiples of its step and leaves
// the rest to the table-driven kernel.
#pragma once

#include <cstdint>

namespace kovic {

using Rgb24ToYuvRowFn = void (*)(const uint8_t *source, uint8_t *y, uint8_t *u, uint8_t *v, int width);
using Rgb24ToYRowFn = void (*)(const uint8_t *source, uint8_t *y, int width);

struct Rgb24ToI420Kernels {
    Rgb24ToYuvRowFn yuv_row;  // output rows that carry chroma (the first of each pair)
    Rgb24ToYRowFn y_row;      // the other output rows
    int step;                 // pixels per vector iteration; 1 for the table-driven kernels
    const char *name;
};

// Table-driven, any width (even).
void Rgb24ToYuvRow_C(const uint8_t *source, uint8_t *y, uint8_t *u, uint8_t *v, int width);
void Rgb24ToYRow_C(const uint8_t *source, uint8_t *y, int width);

// Vector kernels; width a multiple of 16 (SSE2, SSSE3) or 32 (AVX2).
void Rgb24ToYuvRow_SSE2(const uint8_t *source, uint8_t *y, uint8_t *u, uint8_t *v, int width);
void Rgb24ToYRow_SSE2(const uint8_t *source, uint8_t *y, int width);
void Rgb24ToYuvRow_SSSE3(const uint8_t *source, uint8_t *y, uint8_t *u, uint8_t *v, int width);
void Rgb24ToYRow_SSSE3(const uint8_t *source, uint8_t *y, int width);
void Rgb24ToYuvRow_AVX2(const uint8_t *source, uint8_t *y, uint8_t *u, uint8_t *v, int width);
void Rgb24ToYRow_AVX2(const uint8_t *source, uint8_t *y, int width);

// The table-driven kernels, and the best vector kernels the given processor
// features allow (the table-driven ones where none is built for this
// processor family).
Rgb24ToI420Kernels TableRgb24ToI420Kernels();
Rgb24ToI420Kernels SelectRgb24ToI420Kernels(uint32_t cpu_features);

// Each table term is trunc(c * i) for a channel byte i and a coefficient c of
// magnitude below 1, that is floor(|c| * i) with the coefficient's sign. The
// vector kernels compute floor(|c| * i) as (i * m) >> 16, one unsigned 16-bit
// multiply-high, with m a 16-bit approximation of |c| * 65536 chosen so that
// the two agree for every i in 0..255 (for i above 0 the products |c| * i stay
// at least 0.0001 away from an integer, which leaves each m a range of two to
// six workable values; the unit tests check all 256 bytes against the tables).
// The two terms with coefficient 0.5 are i >> 1.
constexpr uint16_t kLumaRedMultiplier = 19595;        // 0.299
constexpr uint16_t kLumaGreenMultiplier = 38470;      // 0.587
constexpr uint16_t kLumaBlueMultiplier = 7472;        // 0.114
constexpr uint16_t kChromaBlueRedMultiplier = 11056;  // 0.1687, subtracted from Cb
constexpr uint16_t kChromaBlueGreenMultiplier = 21712;  // 0.3313, subtracted from Cb
constexpr uint16_t kChromaRedGreenMultiplier = 27440;   // 0.4187, subtracted from Cr
constexpr uint16_t kChromaRedBlueMultiplier = 5327;     // 0.0813, subtracted from Cr

constexpr uint32_t MultiplyHigh(uint32_t channel, uint16_t multiplier) { return (channel * multiplier) >> 16; }

}  // namespace kovic
