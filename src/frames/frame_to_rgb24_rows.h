// Row kernels of the frame to RGB24 conversion, and the per-processor kernel
// sets. Stateless; any thread.
//
// Every row kernel converts `width` pixels of one source row into one RGB24
// row of 3 * width bytes (B, G, R), left to right, and writes nothing else.
// The scalar kernels take any width, odd included (the last pixel then uses
// its pair's chroma); a vector kernel takes a multiple of its set's step only
// and leaves the rest of the row to the scalar kernel.
#pragma once

#include <cstdint>

namespace kovic {

// YUY2 or UYVY: 2 * width bytes (rounded up to whole pairs).
using PackedToRgb24RowFn = void (*)(const uint8_t *source, uint8_t *rgb, int width);
// NV12: a Y row and the U,V row of its row pair.
using Nv12ToRgb24RowFn = void (*)(const uint8_t *y, const uint8_t *uv, uint8_t *rgb, int width);
// I420 or YV12: a Y row and the U and V rows of its row pair.
using PlanarToRgb24RowFn = void (*)(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *rgb, int width);
// RGB32: 4 * width bytes, B, G, R, X.
using Rgb32ToRgb24RowFn = void (*)(const uint8_t *bgrx, uint8_t *rgb, int width);

struct FrameToRgb24Kernels {
    PackedToRgb24RowFn yuy2_row;
    PackedToRgb24RowFn uyvy_row;
    Nv12ToRgb24RowFn nv12_row;
    PlanarToRgb24RowFn planar_row;
    Rgb32ToRgb24RowFn rgb32_row;
    int step;  // pixels per vector iteration; 1 for the scalar kernels
    const char *name;
};

void Yuy2ToRgb24Row_C(const uint8_t *source, uint8_t *rgb, int width);
void UyvyToRgb24Row_C(const uint8_t *source, uint8_t *rgb, int width);
void Nv12ToRgb24Row_C(const uint8_t *y, const uint8_t *uv, uint8_t *rgb, int width);
void PlanarToRgb24Row_C(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *rgb, int width);
void Rgb32ToRgb24Row_C(const uint8_t *bgrx, uint8_t *rgb, int width);

// Width a multiple of 16.
void Yuy2ToRgb24Row_SSE2(const uint8_t *source, uint8_t *rgb, int width);
void UyvyToRgb24Row_SSE2(const uint8_t *source, uint8_t *rgb, int width);
void Nv12ToRgb24Row_SSE2(const uint8_t *y, const uint8_t *uv, uint8_t *rgb, int width);
void PlanarToRgb24Row_SSE2(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *rgb, int width);
void Rgb32ToRgb24Row_SSE2(const uint8_t *bgrx, uint8_t *rgb, int width);

// Width a multiple of 16.
void Yuy2ToRgb24Row_SSSE3(const uint8_t *source, uint8_t *rgb, int width);
void UyvyToRgb24Row_SSSE3(const uint8_t *source, uint8_t *rgb, int width);
void Nv12ToRgb24Row_SSSE3(const uint8_t *y, const uint8_t *uv, uint8_t *rgb, int width);
void PlanarToRgb24Row_SSSE3(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *rgb, int width);
void Rgb32ToRgb24Row_SSSE3(const uint8_t *bgrx, uint8_t *rgb, int width);

// Width a multiple of 32.
void Yuy2ToRgb24Row_AVX2(const uint8_t *source, uint8_t *rgb, int width);
void UyvyToRgb24Row_AVX2(const uint8_t *source, uint8_t *rgb, int width);
void Nv12ToRgb24Row_AVX2(const uint8_t *y, const uint8_t *uv, uint8_t *rgb, int width);
void PlanarToRgb24Row_AVX2(const uint8_t *y, const uint8_t *u, const uint8_t *v, uint8_t *rgb, int width);
void Rgb32ToRgb24Row_AVX2(const uint8_t *bgrx, uint8_t *rgb, int width);

// The scalar kernels, and the best vector kernels the given processor features
// allow (the scalar ones where none is built for this processor family).
FrameToRgb24Kernels ScalarFrameToRgb24Kernels();
FrameToRgb24Kernels SelectFrameToRgb24Kernels(uint32_t cpu_features);

// The integer arithmetic (frame_to_rgb24.h derives it). Each multiplier
// applies to a sample shifted left by 8 through a 16-bit multiply-high, so
// (s << 8) * m >> 16 == (s * m) >> 8.
constexpr int kLumaMultiplier = 9536;       // unsigned, on Y
constexpr int kRedVMultiplier = 13074;      // signed, on V - 128
constexpr int kGreenUMultiplier = 3203;     // signed, on U - 128, subtracted
constexpr int kGreenVMultiplier = 6660;     // signed, on V - 128, subtracted
constexpr int kBlueUMultiplier = 16531;     // signed, on U - 128
constexpr int kBiasAndRounding = -580;      // -(16 * 9536 >> 8) + (1 << 4)
constexpr int kFractionBits = 5;

}  // namespace kovic
