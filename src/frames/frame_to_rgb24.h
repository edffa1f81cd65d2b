// Conversion of a camera frame (packed or planar YUV, or 32-bit RGB) into the
// bottom-up RGB24 picture the host receives: B, G, R bytes per pixel, each row
// padded with zero bytes to a multiple of 4, the first row in memory the
// bottom of the picture. Allocates nothing, takes no lock, any thread.
//
// Source layouts (YUV rows top-down whatever the sign of the height):
//   YUY2  Y0 U Y1 V per pixel pair, ((width + 1) / 2) * 4 bytes a row.
//   UYVY  U Y0 V Y1 per pixel pair, same row size.
//   NV12  Y plane (width a row, |height| rows), then ((|height| + 1) / 2) rows
//         of ((width + 1) / 2) U,V byte pairs.
//   I420  Y plane, then U and V planes of ((width + 1) / 2) x ((|height| + 1) / 2).
//   YV12  as I420 with the V plane before the U plane.
//   RGB32 B, G, R, X per pixel, 4 * width bytes a row; bottom-up for a positive
//         height, top-down for a negative one. X is dropped.
// YUV is BT.601 with luma 16..235 and chroma 16..240.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kovic {

enum class FrameFormat : uint8_t { kUnknown, kRgb24, kRgb32, kYuy2, kUyvy, kNv12, kI420, kYv12 };

// Bytes of one padded RGB24 row: (width * 3 + 3) & ~3.
size_t Rgb24RowBytes(int32_t width);

// Bytes a source frame of that format must hold; 0 when impossible.
size_t SourceFrameBytes(FrameFormat format, int32_t width, int32_t height);

// Converts one frame into bottom-up padded RGB24; false and nothing written
// when the format, size, pointers or buffer sizes do not allow it.
bool ConvertFrameToRgb24(FrameFormat format, const uint8_t *source, size_t source_bytes, int32_t width,
                         int32_t height, uint8_t *destination, size_t destination_bytes);

}  // namespace kovic
