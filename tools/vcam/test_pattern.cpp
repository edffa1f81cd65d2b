// The frame pattern: painting (streaming thread, no allocation per frame) and
// decoding (pure).
#include "test_pattern.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace vcam {
namespace {

constexpr Rgb kWhite = {255, 255, 255};
constexpr Rgb kBlack = {0, 0, 0};
constexpr Rgb kGrey = {128, 128, 128};
constexpr Rgb kBars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                          {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};

// Worst luma error of a reader: a round trip through studio-range YUV and
// back to RGB errs by a few levels, so a generous margin still tells every
// bar apart (the closest two differ by 29).
constexpr int kLumaTolerance = 10;

uint8_t Clamp(long v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

int BarIndex(int x, int width) { return static_cast<int>((static_cast<int64_t>(x) * 8) / width); }

bool CodeBit(int block, uint32_t counter, uint32_t tag) {
    if (block == 0) return true;
    if (block == 1) return false;
    if (block < kSyncBlocks + kCounterBits) return ((counter >> (kSyncBlocks + kCounterBits - 1 - block)) & 1u) != 0;
    return ((tag >> (kCodeBlocks - 1 - block)) & 1u) != 0;
}

}  // namespace

Rgb BackgroundColour(int x, int y, int width) {
    if (y < kCodeBlockPixels) return kGrey;
    if (x < kMarkerPixels && y >= kMarkerTop && y < kMarkerTop + kMarkerPixels) return kGrey;
    return kBars[BarIndex(x, width)];
}

Rgb PatternColour(int x, int y, int width, uint32_t counter, uint32_t tag) {
    if (y < kCodeBlockPixels && x < kCodeBlocks * kCodeBlockPixels) {
        return CodeBit(x / kCodeBlockPixels, counter, tag) ? kWhite : kBlack;
    }
    return BackgroundColour(x, y, width);
}

// Full-range BT.601 in 8.8 fixed point, rounded.
int LumaOf(Rgb c) { return (77 * c.r + 150 * c.g + 29 * c.b + 128) >> 8; }

Yuv StudioYuvOf(Rgb c) {
    const double luma = 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
    const double y = 16.0 + 219.0 / 255.0 * luma;
    const double u = 128.0 + 224.0 / 255.0 * (c.b - luma) / 1.772;
    const double v = 128.0 + 224.0 / 255.0 * (c.r - luma) / 1.402;
    return {Clamp(std::lround(y)), Clamp(std::lround(u)), Clamp(std::lround(v))};
}

Yuv FullRangeYuvOf(Rgb c) {
    const double luma = 0.299 * c.r + 0.587 * c.g + 0.114 * c.b;
    const double u = 128.0 + (c.b - luma) / 1.772;
    const double v = 128.0 + (c.r - luma) / 1.402;
    return {Clamp(std::lround(luma)), Clamp(std::lround(u)), Clamp(std::lround(v))};
}

int FullRangeLuma(int studio_luma) {
    // (y - 16) * 255 / 219, rounded half away from zero, clamped.
    int scaled = (studio_luma - 16) * 255;
    int full = scaled >= 0 ? (scaled + 109) / 219 : -((-scaled + 109) / 219);
    return full < 0 ? 0 : full > 255 ? 255 : full;
}

FramePainter::~FramePainter() { Release(); }

void FramePainter::Release() {
    std::free(background_);
    background_ = nullptr;
    image_bytes_ = 0;
}

bool FramePainter::Prepare(const VideoFormat &format) {
    Release();
    if (IsCompressed(format.pixel)) return false;
    format_ = format;
    uint32_t bytes = ImageBytes(format);
    background_ = static_cast<uint8_t *>(std::calloc(bytes == 0 ? 1 : bytes, 1));
    if (background_ == nullptr) return false;
    image_bytes_ = bytes;
    int height = AbsoluteHeight(format);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < format.width; ++x) SetPixel(background_, x, y, BackgroundColour(x, y, format.width));
    }
    return true;
}

void FramePainter::SetPixel(uint8_t *frame, int x, int y, Rgb colour) const {
    const size_t width = static_cast<size_t>(format_.width);
    const size_t height = static_cast<size_t>(AbsoluteHeight(format_));
    const size_t stride = static_cast<size_t>(RowBytes(format_));
    const size_t luma_bytes = width * height;
    const size_t chroma_stride = width / 2;
    const size_t chroma_plane = chroma_stride * (height / 2);
    // Each 4:2:0 or 4:2:2 block takes its chroma from its top-left pixel.
    const bool chroma_here = (x & 1) == 0 && (y & 1) == 0;
    const size_t at = static_cast<size_t>(y) * stride;
    switch (format_.pixel) {
    case PixelFormat::kRgb24:
    case PixelFormat::kRgb32: {
        // A positive height stores the bottom row first.
        size_t row = format_.height > 0 ? height - 1 - static_cast<size_t>(y) : static_cast<size_t>(y);
        size_t pixel_bytes = format_.pixel == PixelFormat::kRgb24 ? 3 : 4;
        uint8_t *p = frame + row * stride + pixel_bytes * static_cast<size_t>(x);
        p[0] = colour.b;
        p[1] = colour.g;
        p[2] = colour.r;
        if (pixel_bytes == 4) p[3] = 0xFF;  // opaque
        break;
    }
    case PixelFormat::kI420:
    case PixelFormat::kYv12: {
        Yuv c = StudioYuvOf(colour);
        frame[at + x] = c.y;
        if (chroma_here) {
            // I420 stores the U plane first, YV12 the V plane.
            size_t chroma = static_cast<size_t>(y / 2) * chroma_stride + x / 2;
            bool u_first = format_.pixel == PixelFormat::kI420;
            frame[luma_bytes + (u_first ? 0 : chroma_plane) + chroma] = c.u;
            frame[luma_bytes + (u_first ? chroma_plane : 0) + chroma] = c.v;
        }
        break;
    }
    case PixelFormat::kNv12: {
        Yuv c = StudioYuvOf(colour);
        frame[at + x] = c.y;
        if (chroma_here) {
            // One plane of U,V pairs, rows of `width` bytes.
            size_t chroma = luma_bytes + static_cast<size_t>(y / 2) * width + static_cast<size_t>(x);
            frame[chroma] = c.u;
            frame[chroma + 1] = c.v;
        }
        break;
    }
    case PixelFormat::kYuy2:
    case PixelFormat::kUyvy: {
        Yuv c = StudioYuvOf(colour);
        // Pixel pairs: Y0 U Y1 V (YUY2) or U Y0 V Y1 (UYVY), chroma from the left pixel.
        uint8_t *pair = frame + at + 4 * static_cast<size_t>(x / 2);
        bool yuy2 = format_.pixel == PixelFormat::kYuy2;
        pair[(yuy2 ? 0 : 1) + 2 * (x & 1)] = c.y;
        if ((x & 1) == 0) {
            pair[yuy2 ? 1 : 0] = c.u;
            pair[yuy2 ? 3 : 2] = c.v;
        }
        break;
    }
    case PixelFormat::kMjpg: break;  // never prepared
    }
}

void FramePainter::Paint(uint32_t counter, uint32_t tag, uint8_t *destination) const {
    if (background_ == nullptr) return;
    std::memcpy(destination, background_, image_bytes_);
    int height = AbsoluteHeight(format_);
    int rows = height < kCodeBlockPixels ? height : kCodeBlockPixels;
    for (int block = 0; block < kCodeBlocks; ++block) {
        Rgb colour = CodeBit(block, counter, tag) ? kWhite : kBlack;
        int left = block * kCodeBlockPixels;
        for (int y = 0; y < rows; ++y) {
            for (int x = left; x < left + kCodeBlockPixels && x < format_.width; ++x) {
                SetPixel(destination, x, y, colour);
            }
        }
    }
}

DecodedPattern DecodePattern(const LumaAt &luma, int width, int height) {
    DecodedPattern result;
    if (width < kMinPatternWidth || height < kMinPatternHeight) return result;
    auto close_to = [](int value, int expected) { return std::abs(value - expected) <= kLumaTolerance; };
    uint32_t bits[kCodeBlocks];
    const int white = LumaOf(kWhite), black = LumaOf(kBlack);
    for (int block = 0; block < kCodeBlocks; ++block) {
        int centre = block * kCodeBlockPixels + kCodeBlockPixels / 2;
        int y = luma(centre, kCodeBlockPixels / 2);
        if (close_to(y, white)) {
            bits[block] = 1;
        } else if (close_to(y, black)) {
            bits[block] = 0;
        } else {
            return result;
        }
    }
    if (bits[0] != 1 || bits[1] != 0) return result;
    // The bars, half-way down the part below the marker, and the marker itself.
    int bar_row = (kMarkerTop + kMarkerPixels + height) / 2;
    for (int bar = 0; bar < 8; ++bar) {
        int centre = static_cast<int>((static_cast<int64_t>(2 * bar + 1) * width) / 16);
        if (!close_to(luma(centre, bar_row), LumaOf(kBars[bar]))) return result;
    }
    int marker_row = kMarkerTop + kMarkerPixels / 2;
    if (!close_to(luma(kMarkerPixels / 2, marker_row), LumaOf(kGrey))) return result;
    if (!close_to(luma(kMarkerPixels + 2, marker_row), white)) return result;
    for (int block = kSyncBlocks; block < kSyncBlocks + kCounterBits; ++block) {
        result.counter = (result.counter << 1) | bits[block];
    }
    for (int block = kSyncBlocks + kCounterBits; block < kCodeBlocks; ++block) result.tag = (result.tag << 1) | bits[block];
    result.valid = true;
    return result;
}

LumaAt LumaOfFrame(const VideoFormat &format, const uint8_t *frame) {
    const int height = AbsoluteHeight(format);
    const size_t stride = static_cast<size_t>(RowBytes(format));
    switch (format.pixel) {
    case PixelFormat::kRgb24:
    case PixelFormat::kRgb32: {
        const size_t pixel_bytes = format.pixel == PixelFormat::kRgb24 ? 3 : 4;
        return [=](int x, int y) {
            int row = format.height > 0 ? height - 1 - y : y;
            const uint8_t *p = frame + static_cast<size_t>(row) * stride + pixel_bytes * static_cast<size_t>(x);
            return LumaOf({p[2], p[1], p[0]});
        };
    }
    case PixelFormat::kI420:
    case PixelFormat::kYv12:
    case PixelFormat::kNv12:
        return [=](int x, int y) { return FullRangeLuma(frame[static_cast<size_t>(y) * stride + x]); };
    case PixelFormat::kYuy2:
    case PixelFormat::kUyvy: {
        const size_t first = format.pixel == PixelFormat::kYuy2 ? 0 : 1;
        return [=](int x, int y) {
            return FullRangeLuma(frame[static_cast<size_t>(y) * stride + 2 * static_cast<size_t>(x) + first]);
        };
    }
    case PixelFormat::kMjpg: break;
    }
    return [](int, int) { return -1; };
}

}  // namespace vcam
