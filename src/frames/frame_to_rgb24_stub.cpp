// A plain scalar stand-in for the frame conversion, until the conversion
// kernels land: the same results, pixel by pixel.
#include "frames/frame_to_rgb24.h"

#include <cstring>

namespace kovic {
namespace {

uint8_t Clamp255(int v) { return static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)); }

void YuvPixel(int y, int u, int v, uint8_t *bgr) {
    u -= 128;
    v -= 128;
    const int l = (y * 9536) >> 8;
    bgr[2] = Clamp255((l + ((v * 13074) >> 8) - 580) >> 5);
    bgr[1] = Clamp255((l - ((u * 3203) >> 8) - ((v * 6660) >> 8) - 580) >> 5);
    bgr[0] = Clamp255((l + ((u * 16531) >> 8) - 580) >> 5);
}

uint64_t Rows(int32_t height) { return height < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(height)) : height; }

}  // namespace

size_t Rgb24RowBytes(int32_t width) {
    if (width <= 0 || width > 0x7FFFFFFF / 3 - 1) return 0;
    return (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
}

size_t SourceFrameBytes(FrameFormat format, int32_t width, int32_t height) {
    if (width <= 0 || height == 0 || height == INT32_MIN) return 0;
    const uint64_t w = static_cast<uint64_t>(width), h = Rows(height);
    const uint64_t cw = (w + 1) / 2, ch = (h + 1) / 2;
    uint64_t bytes = 0;
    switch (format) {
        case FrameFormat::kRgb32: bytes = 4 * w * h; break;
        case FrameFormat::kYuy2:
        case FrameFormat::kUyvy: bytes = cw * 4 * h; break;
        case FrameFormat::kNv12:
        case FrameFormat::kI420:
        case FrameFormat::kYv12: bytes = w * h + 2 * cw * ch; break;
        default: return 0;
    }
    if (bytes > 0x7FFFFFFF || Rgb24RowBytes(width) * h > 0x7FFFFFFF) return 0;
    return static_cast<size_t>(bytes);
}

bool ConvertFrameToRgb24(FrameFormat format, const uint8_t *source, size_t source_bytes, int32_t width,
                         int32_t height, uint8_t *destination, size_t destination_bytes) {
    const size_t need = SourceFrameBytes(format, width, height);
    if (need == 0 || source == nullptr || destination == nullptr || source_bytes < need) return false;
    const size_t w = static_cast<size_t>(width), h = static_cast<size_t>(Rows(height));
    const size_t stride = Rgb24RowBytes(width);
    if (destination_bytes < stride * h) return false;
    const size_t cw = (w + 1) / 2, ch = (h + 1) / 2;
    for (size_t y = 0; y < h; ++y) {
        uint8_t *out = destination + (h - 1 - y) * stride;  // picture row y, bottom-up
        for (size_t x = 0; x < w; ++x) {
            uint8_t *bgr = out + 3 * x;
            switch (format) {
                case FrameFormat::kRgb32: {
                    const size_t row = height > 0 ? h - 1 - y : y;
                    std::memcpy(bgr, source + row * 4 * w + 4 * x, 3);
                    break;
                }
                case FrameFormat::kYuy2:
                case FrameFormat::kUyvy: {
                    const uint8_t *p = source + y * cw * 4 + (x / 2) * 4;
                    if (format == FrameFormat::kYuy2) YuvPixel(p[(x % 2) * 2], p[1], p[3], bgr);
                    else YuvPixel(p[1 + (x % 2) * 2], p[0], p[2], bgr);
                    break;
                }
                case FrameFormat::kNv12: {
                    const uint8_t *uv = source + w * h + (y / 2) * cw * 2 + (x / 2) * 2;
                    YuvPixel(source[y * w + x], uv[0], uv[1], bgr);
                    break;
                }
                default: {
                    const uint8_t *first = source + w * h, *second = first + cw * ch;
                    const size_t c = (y / 2) * cw + x / 2;
                    if (format == FrameFormat::kI420) YuvPixel(source[y * w + x], first[c], second[c], bgr);
                    else YuvPixel(source[y * w + x], second[c], first[c], bgr);
                    break;
                }
            }
        }
        std::memset(out + 3 * w, 0, stride - 3 * w);
    }
    return true;
}

}  // namespace kovic
