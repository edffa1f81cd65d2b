// Conversion of a camera frame (packed or planar YUV, or 32-bit RGB) into the
// bottom-up RGB24 picture the host receives. Stateless apart from the kernel
// choice, made once on first use; allocates nothing, takes no lock, and may run
// on any thread (the streaming thread's callback calls it).
//
// Output: B, G, R bytes per pixel, each row padded with zero bytes to a
// multiple of 4, the first row in memory the bottom of the picture.
//
// Source layouts (rows top-down, stride derived from the width):
//   YUY2  Y0 U Y1 V per pixel pair, ((width + 1) / 2) * 4 bytes a row.
//   UYVY  U Y0 V Y1 per pixel pair, same row size.
//   NV12  Y plane (width a row, |height| rows), then ((|height| + 1) / 2) rows
//         of ((width + 1) / 2) U,V byte pairs.
//   I420  Y plane, then U plane and V plane of ((width + 1) / 2) x
//         ((|height| + 1) / 2) bytes each.
//   YV12  as I420 with the V plane before the U plane.
//   RGB32 B, G, R, X per pixel, 4 * width bytes a row; bottom-up when the height
//         is positive, top-down when it is negative. X is dropped.
// A chroma sample serves its pixel pair (4:2:2) or 2 x 2 block (4:2:0) as it
// is, without interpolation; an odd last column or row uses the chroma of its
// pair or row pair.
//
// YUV to RGB arithmetic (BT.601, luma 16..235, chroma 16..240), all integer:
//   u = U - 128, v = V - 128, with >> an arithmetic (flooring) shift,
//   L  = (Y * 9536) >> 8             1.1640625 * 32 * Y
//   Rv = (v * 13074) >> 8            1.59595 * 32 * v
//   Gu = (u * 3203) >> 8             0.39099 * 32 * u
//   Gv = (v * 6660) >> 8             0.81299 * 32 * v
//   Bu = (u * 16531) >> 8            2.01794 * 32 * u
//   R = clamp((L + Rv - 580) >> 5), G = clamp((L - Gu - Gv - 580) >> 5),
//   B = clamp((L + Bu - 580) >> 5), clamp to 0..255.
// The sums carry 5 fraction bits; 580 = 16 * 9536 / 256 - 16 removes the luma
// offset (exactly, as 16 * 9536 is a multiple of 256) and adds the half that
// rounds. Each term is what a signed or unsigned 16-bit multiply-high of the
// sample shifted left by 8 gives, and every sum fits 16 signed bits, so the
// vector kernels reproduce it bit for bit. Against the real-valued formula
//   R = 1.164(Y-16) + 1.596 v, G = 1.164(Y-16) - 0.813 v - 0.391 u,
//   B = 1.164(Y-16) + 2.018 u (clamped),
// no channel of any of the 2^24 (Y, U, V) triples is off by more than
// kMaxErrorAgainstFormula (checked exhaustively by the unit tests).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kovic {

// kMjpg frames (one JPEG picture each) are decoded by MjpegDecoder, not
// converted here: to the functions below it is a format they cannot convert.
enum class FrameFormat : uint8_t { kUnknown, kRgb24, kRgb32, kYuy2, kUyvy, kNv12, kI420, kYv12, kMjpg };

// Bound on |converted - formula| for every channel of every YUV triple (the
// largest is 0.578).
constexpr double kMaxErrorAgainstFormula = 0.58;

// Bytes of one padded RGB24 row: (width * 3 + 3) & ~3; 0 for width <= 0 or a
// row beyond 31 bits.
size_t Rgb24RowBytes(int32_t width);

// Bytes a source frame of that format must hold (layouts above); 0 for an
// impossible size (width <= 0, height 0 or INT32_MIN, a source or RGB24 frame
// beyond 31 bits) or for kUnknown, kRgb24 and kMjpg (whose frames vary in
// length).
size_t SourceFrameBytes(FrameFormat format, int32_t width, int32_t height);

// Converts one frame into bottom-up padded RGB24 (pad bytes written as 0).
// Width > 0; height as the format block stores it (its sign matters for RGB32
// only). Returns false and writes nothing when the format is not one of
// kRgb32..kYv12, the size is impossible, a pointer is null, source_bytes <
// SourceFrameBytes(...) or destination_bytes < Rgb24RowBytes(width) * |height|.
// Source and destination must not overlap. Runs the fastest kernels the
// processor offers; bit for bit the same as the reference below.
bool ConvertFrameToRgb24(FrameFormat format, const uint8_t *source, size_t source_bytes, int32_t width,
                         int32_t height, uint8_t *destination, size_t destination_bytes);

// The pixel-by-pixel walk that defines the result. Same arguments and results.
bool ConvertFrameToRgb24Reference(FrameFormat format, const uint8_t *source, size_t source_bytes, int32_t width,
                                  int32_t height, uint8_t *destination, size_t destination_bytes);

// The same conversion with a given kernel set (frame_to_rgb24_rows.h), for
// tests and benchmarks.
struct FrameToRgb24Kernels;
bool ConvertFrameToRgb24With(const FrameToRgb24Kernels &kernels, FrameFormat format, const uint8_t *source,
                             size_t source_bytes, int32_t width, int32_t height, uint8_t *destination,
                             size_t destination_bytes);

// The kernel set ConvertFrameToRgb24 uses ("C", "SSE2", "SSSE3" or "AVX2"),
// chosen once from the processor's features on first use.
const FrameToRgb24Kernels &FrameToRgb24KernelsInUse();

}  // namespace kovic
