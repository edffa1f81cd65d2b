// The model's own picture of a converted frame: what a camera frame in one of
// the YUV or 32-bit RGB layouts becomes as bottom-up RGB24 with rows padded
// to 4 bytes. Written pixel by pixel from the layouts and the integer BT.601
// limited-range arithmetic the library documents, sharing no code with it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/emulated/host_api.h"

namespace walk {

enum class SourceLayout { kNone, kRgb24, kRgb32, kYuy2, kUyvy, kNv12, kI420, kYv12 };

inline SourceLayout LayoutOfSubtype(const GUID &subtype) {
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return SourceLayout::kRgb24;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)) return SourceLayout::kRgb32;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_YUY2)) return SourceLayout::kYuy2;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_UYVY)) return SourceLayout::kUyvy;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_NV12)) return SourceLayout::kNv12;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_I420) || IsEqualGUID(subtype, MEDIASUBTYPE_IYUV)) return SourceLayout::kI420;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_YV12)) return SourceLayout::kYv12;
    return SourceLayout::kNone;
}

// Bytes a frame of that layout needs; 0 for RGB24, none, or no picture.
inline uint64_t SourceBytes(SourceLayout layout, int32_t width, int32_t height) {
    if (width <= 0 || height == 0 || height == INT32_MIN) return 0;
    const uint64_t w = static_cast<uint64_t>(width);
    const uint64_t h =
        height < 0 ? static_cast<uint64_t>(-static_cast<int64_t>(height)) : static_cast<uint64_t>(height);
    switch (layout) {
        case SourceLayout::kRgb32: return 4 * w * h;
        case SourceLayout::kYuy2:
        case SourceLayout::kUyvy: return (w + 1) / 2 * 4 * h;
        case SourceLayout::kNv12:
        case SourceLayout::kI420:
        case SourceLayout::kYv12: return w * h + 2 * ((w + 1) / 2) * ((h + 1) / 2);
        default: return 0;
    }
}

inline uint8_t ClampByte(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// One pixel: L = Y * 1.1640625 and the chroma terms in 1/32 units, each
// floored, offset by 16 * 1.164 less a half, then floored by 32.
inline void PixelFromYuv(int y, int u, int v, uint8_t *bgr) {
    u -= 128;
    v -= 128;
    const int l = (y * 9536) >> 8;
    const int rv = (v * 13074) >> 8, gu = (u * 3203) >> 8, gv = (v * 6660) >> 8, bu = (u * 16531) >> 8;
    bgr[0] = ClampByte((l + bu - 580) >> 5);
    bgr[1] = ClampByte((l - gu - gv - 580) >> 5);
    bgr[2] = ClampByte((l + rv - 580) >> 5);
}

// The converted frame: ((width * 3 + 3) & ~3) * |height| bytes.
inline std::vector<uint8_t> ConvertedFrame(SourceLayout layout, int32_t width, int32_t height,
                                           const std::vector<uint8_t> &src) {
    const size_t w = static_cast<size_t>(width);
    const size_t h = static_cast<size_t>(height < 0 ? -static_cast<int64_t>(height) : height);
    const size_t stride = (w * 3 + 3) & ~static_cast<size_t>(3);
    const size_t cw = (w + 1) / 2, ch = (h + 1) / 2;
    std::vector<uint8_t> out(stride * h, 0);
    for (size_t y = 0; y < h; ++y) {
        uint8_t *row = out.data() + (h - 1 - y) * stride;  // the picture's top row goes last
        for (size_t x = 0; x < w; ++x) {
            uint8_t *bgr = row + 3 * x;
            if (layout == SourceLayout::kRgb32) {
                const size_t from = height > 0 ? h - 1 - y : y;
                for (int c = 0; c < 3; ++c) bgr[c] = src[from * 4 * w + 4 * x + static_cast<size_t>(c)];
            } else if (layout == SourceLayout::kYuy2 || layout == SourceLayout::kUyvy) {
                const uint8_t *pair = src.data() + y * cw * 4 + (x / 2) * 4;
                const bool yuy2 = layout == SourceLayout::kYuy2;
                const int luma = yuy2 ? pair[(x % 2) * 2] : pair[1 + (x % 2) * 2];
                PixelFromYuv(luma, yuy2 ? pair[1] : pair[0], yuy2 ? pair[3] : pair[2], bgr);
            } else if (layout == SourceLayout::kNv12) {
                const uint8_t *uv = src.data() + w * h + (y / 2) * cw * 2 + (x / 2) * 2;
                PixelFromYuv(src[y * w + x], uv[0], uv[1], bgr);
            } else {
                const size_t u_at = w * h + (layout == SourceLayout::kYv12 ? cw * ch : 0);
                const size_t v_at = w * h + (layout == SourceLayout::kYv12 ? 0 : cw * ch);
                const size_t c = (y / 2) * cw + x / 2;
                PixelFromYuv(src[y * w + x], src[u_at + c], src[v_at + c], bgr);
            }
        }
    }
    return out;
}

}  // namespace walk
