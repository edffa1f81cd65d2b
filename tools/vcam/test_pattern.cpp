// The frame pattern: painting (streaming thread, no allocation per frame) and
// decoding (pure).
#include "test_pattern.h"

#include <cstdlib>
#include <cstring>

namespace vcam {
namespace {

constexpr Rgb kWhite = {255, 255, 255};
constexpr Rgb kBlack = {0, 0, 0};
constexpr Rgb kGrey = {128, 128, 128};
constexpr Rgb kBars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                          {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};

// Worst luma error of a reader: the conversions in use truncate by up to two
// levels, so a generous margin still tells every bar apart (the closest two
// differ by 29).
constexpr int kLumaTolerance = 10;

struct Yuv {
    uint8_t y, u, v;
};

uint8_t Clamp(int v) { return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

// Full-range BT.601 in 8.8 fixed point, rounded.
Yuv YuvOf(Rgb c) {
    int y = (77 * c.r + 150 * c.g + 29 * c.b + 128) >> 8;
    int u = ((-43 * c.r - 85 * c.g + 128 * c.b + 128) >> 8) + 128;
    int v = ((128 * c.r - 107 * c.g - 21 * c.b + 128) >> 8) + 128;
    return {Clamp(y), Clamp(u), Clamp(v)};
}

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

int LumaOf(Rgb colour) { return YuvOf(colour).y; }

FramePainter::~FramePainter() { Release(); }

void FramePainter::Release() {
    std::free(background_);
    background_ = nullptr;
    image_bytes_ = 0;
}

bool FramePainter::Prepare(const VideoFormat &format) {
    Release();
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
    int width = format_.width;
    int height = AbsoluteHeight(format_);
    switch (format_.pixel) {
    case PixelFormat::kRgb24: {
        // A positive height stores the bottom row first.
        int row = format_.height > 0 ? height - 1 - y : y;
        uint8_t *p = frame + static_cast<size_t>(row) * RowBytes(format_) + 3 * static_cast<size_t>(x);
        p[0] = colour.b;
        p[1] = colour.g;
        p[2] = colour.r;
        break;
    }
    case PixelFormat::kI420: {
        Yuv c = YuvOf(colour);
        frame[static_cast<size_t>(y) * width + x] = c.y;
        // Chroma of each 2x2 block from its top-left pixel.
        if ((x & 1) == 0 && (y & 1) == 0) {
            size_t luma_bytes = static_cast<size_t>(width) * height;
            size_t chroma = static_cast<size_t>(y / 2) * (width / 2) + x / 2;
            frame[luma_bytes + chroma] = c.u;
            frame[luma_bytes + luma_bytes / 4 + chroma] = c.v;
        }
        break;
    }
    case PixelFormat::kYuy2: {
        Yuv c = YuvOf(colour);
        uint8_t *p = frame + static_cast<size_t>(y) * RowBytes(format_) + 2 * static_cast<size_t>(x);
        p[0] = c.y;
        // Chroma of each pixel pair from its left pixel: Y0 U Y1 V.
        if ((x & 1) == 0) {
            p[1] = c.u;
            p[3] = c.v;
        }
        break;
    }
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
    int height = AbsoluteHeight(format);
    int stride = RowBytes(format);
    switch (format.pixel) {
    case PixelFormat::kRgb24:
        return [=](int x, int y) {
            int row = format.height > 0 ? height - 1 - y : y;
            const uint8_t *p = frame + static_cast<size_t>(row) * stride + 3 * static_cast<size_t>(x);
            return LumaOf({p[2], p[1], p[0]});
        };
    case PixelFormat::kI420:
        return [=](int x, int y) { return static_cast<int>(frame[static_cast<size_t>(y) * stride + x]); };
    case PixelFormat::kYuy2:
        return [=](int x, int y) {
            return static_cast<int>(frame[static_cast<size_t>(y) * stride + 2 * static_cast<size_t>(x)]);
        };
    }
    return [](int, int) { return -1; };
}

}  // namespace vcam
