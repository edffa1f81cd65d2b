// The streaming simulated devices' picture, drawn row by row: one row of
// colour bars per frame, copied to every row, with the frame counter's box
// drawn over the rows it covers. Colours go to Y'CbCr by the BT.601
// studio-range integer formulas for the YUV layouts.
#include "platform/emulated/test_pattern.h"

#include <algorithm>
#include <cstring>
#include <utility>

namespace emu {
namespace {

// A 3x5 font: each digit is five rows of three bits, the leftmost column in bit 2.
const uint8_t kDigitFont[10][5] = {
    {7, 5, 5, 5, 7}, {2, 6, 2, 2, 7}, {7, 1, 7, 4, 7}, {7, 1, 7, 1, 7}, {5, 5, 7, 1, 1},
    {7, 4, 7, 1, 7}, {7, 4, 7, 5, 7}, {7, 1, 1, 1, 1}, {7, 5, 7, 5, 7}, {7, 5, 7, 1, 7},
};
constexpr int kCounterDigits = 6;
// The counter's box in font cells: a digit every four cells after a one-cell
// margin, and one cell of margin above and below the five-cell glyphs.
constexpr int kBoxCellsWide = kCounterDigits * 4 + 1;
constexpr int kBoxCellsHigh = 7;
constexpr uint32_t kBarShiftPerFrame = 4;  // pixels

struct Colour {
    BYTE r, g, b;
};
const Colour kBars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                         {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};

constexpr BYTE kLitLuma = 235;
constexpr BYTE kDarkLuma = 16;
constexpr BYTE kNeutralChroma = 128;

BYTE Clamp(int v) { return static_cast<BYTE>(v < 0 ? 0 : (v > 255 ? 255 : v)); }
BYTE Luma(BYTE r, BYTE g, BYTE b) { return Clamp(((66 * r + 129 * g + 25 * b + 128) >> 8) + 16); }
BYTE Cb(BYTE r, BYTE g, BYTE b) { return Clamp(((-38 * r - 74 * g + 112 * b + 128) >> 8) + 128); }
BYTE Cr(BYTE r, BYTE g, BYTE b) { return Clamp(((112 * r - 94 * g - 18 * b + 128) >> 8) + 128); }

}  // namespace

namespace {
TestPattern::Layout LayoutOf(const GUID &subtype);
}  // namespace

TestPattern::TestPattern(const SimulatedFormat &format)
    : layout_(LayoutOf(format.subtype)),
      width_(format.width),
      rows_(format.height == INT32_MIN ? 0 : (format.height < 0 ? -format.height : format.height)),
      bottom_up_((layout_ == Layout::kRgb24 || layout_ == Layout::kRgb32) && format.height > 0),
      frame_bytes_(FrameBytes(format)),
      scale_(0),
      box_width_(0) {
    if (frame_bytes_ == 0 || width_ <= 0 || rows_ <= 0) {
        frame_bytes_ = 0;
        return;
    }
    // About a tenth of the picture's height for the counter, when it fits at all.
    scale_ = std::max(1, rows_ / 64);
    while (scale_ > 0 && (kBoxCellsWide * scale_ > width_ || kBoxCellsHigh * scale_ > rows_)) --scale_;
    box_width_ = kBoxCellsWide * scale_;
    bar_row_.resize(static_cast<size_t>(width_));
    lit_.resize(static_cast<size_t>(box_width_));
    const size_t chroma_width = (static_cast<size_t>(width_) + 1) / 2;
    switch (layout_) {
        case Layout::kRgb24:
        case Layout::kRgb32:
            packed_row_.assign(frame_bytes_ / static_cast<size_t>(rows_), 0);  // rows of whole 32-bit words
            break;
        case Layout::kI420:
        case Layout::kYv12:
        case Layout::kNv12:
            packed_row_.resize(static_cast<size_t>(width_));
            packed_u_.resize(chroma_width);
            packed_v_.resize(chroma_width);
            break;
        case Layout::kYuy2:
        case Layout::kUyvy:
            packed_row_.resize(chroma_width * 4);
            break;
    }
}

namespace {
TestPattern::Layout LayoutOf(const GUID &subtype) {
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return TestPattern::Layout::kRgb24;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)) return TestPattern::Layout::kRgb32;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_I420) || IsEqualGUID(subtype, MEDIASUBTYPE_IYUV)) {
        return TestPattern::Layout::kI420;
    }
    if (IsEqualGUID(subtype, MEDIASUBTYPE_YV12)) return TestPattern::Layout::kYv12;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_NV12)) return TestPattern::Layout::kNv12;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_UYVY)) return TestPattern::Layout::kUyvy;
    return TestPattern::Layout::kYuy2;
}
}  // namespace

bool TestPattern::Draw(uint32_t frame_number, BYTE *out, size_t bytes) {
    if (frame_bytes_ == 0 || bytes != frame_bytes_ || out == nullptr) return false;
    FillBarRow(frame_number);
    switch (layout_) {
        case Layout::kRgb24:
        case Layout::kRgb32: DrawRgb(frame_number, out); break;
        case Layout::kI420:
        case Layout::kYv12:
        case Layout::kNv12: DrawPlanar(frame_number, out); break;
        case Layout::kYuy2:
        case Layout::kUyvy: DrawPacked(frame_number, out); break;
    }
    return true;
}

void TestPattern::FillBarRow(uint32_t frame_number) {
    const uint64_t width = static_cast<uint64_t>(width_);
    const uint64_t shift = (static_cast<uint64_t>(frame_number) * kBarShiftPerFrame) % width;
    for (uint64_t x = 0; x < width; ++x) {
        const Colour &c = kBars[((x + shift) % width) * 8 / width];
        bar_row_[x] = {c.r, c.g, c.b};
    }
}

bool TestPattern::CounterRow(uint32_t frame_number, int32_t y, std::vector<uint8_t> *lit) const {
    if (scale_ == 0 || y >= kBoxCellsHigh * scale_) return false;
    const int cell_y = y / scale_;
    for (int32_t x = 0; x < box_width_; ++x) {
        const int cell_x = x / scale_;
        uint8_t on = 0;
        if (cell_y >= 1 && cell_y <= 5 && cell_x >= 1) {
            const int digit = (cell_x - 1) / 4, column = (cell_x - 1) % 4;
            if (digit < kCounterDigits && column < 3) {
                uint32_t value = frame_number;
                for (int i = digit + 1; i < kCounterDigits; ++i) value /= 10;
                const uint8_t bits = kDigitFont[value % 10][cell_y - 1];
                on = (bits >> (2 - column)) & 1;
            }
        }
        (*lit)[static_cast<size_t>(x)] = on;
    }
    return true;
}

void TestPattern::DrawRgb(uint32_t frame_number, BYTE *out) {
    const size_t stride = packed_row_.size();
    const size_t pixel = layout_ == Layout::kRgb32 ? 4 : 3;
    for (int32_t x = 0; x < width_; ++x) {
        const Rgb &c = bar_row_[static_cast<size_t>(x)];
        BYTE *p = &packed_row_[static_cast<size_t>(x) * pixel];
        p[0] = c.b;  // BGR(X) in memory
        p[1] = c.g;
        p[2] = c.r;
        if (pixel == 4) p[3] = 0xFF;
    }
    for (int32_t y = 0; y < rows_; ++y) {
        const int32_t memory_row = bottom_up_ ? rows_ - 1 - y : y;
        BYTE *dst = out + static_cast<size_t>(memory_row) * stride;
        std::memcpy(dst, packed_row_.data(), stride);
        if (!CounterRow(frame_number, y, &lit_)) continue;
        for (int32_t x = 0; x < box_width_; ++x) {
            const BYTE v = lit_[static_cast<size_t>(x)] ? 255 : 0;
            std::memset(dst + static_cast<size_t>(x) * pixel, v, 3);
        }
    }
}

// I420 (U plane, then V), YV12 (V, then U) and NV12 (one plane of U,V pairs).
void TestPattern::DrawPlanar(uint32_t frame_number, BYTE *out) {
    const size_t width = static_cast<size_t>(width_);
    const size_t chroma_width = packed_u_.size();
    const int32_t chroma_rows = (rows_ + 1) / 2;
    for (size_t x = 0; x < width; ++x) {
        const Rgb &c = bar_row_[x];
        packed_row_[x] = Luma(c.r, c.g, c.b);
    }
    for (size_t cx = 0; cx < chroma_width; ++cx) {
        const Rgb &c = bar_row_[2 * cx];
        packed_u_[cx] = Cb(c.r, c.g, c.b);
        packed_v_[cx] = Cr(c.r, c.g, c.b);
    }
    BYTE *y_plane = out;
    BYTE *u_plane = y_plane + width * static_cast<size_t>(rows_);
    BYTE *v_plane = u_plane + chroma_width * static_cast<size_t>(chroma_rows);
    if (layout_ == Layout::kYv12) std::swap(u_plane, v_plane);
    for (int32_t y = 0; y < rows_; ++y) {
        BYTE *dst = y_plane + static_cast<size_t>(y) * width;
        std::memcpy(dst, packed_row_.data(), width);
        if (!CounterRow(frame_number, y, &lit_)) continue;
        for (int32_t x = 0; x < box_width_; ++x) dst[x] = lit_[static_cast<size_t>(x)] ? kLitLuma : kDarkLuma;
    }
    const size_t box_chroma = (static_cast<size_t>(box_width_) + 1) / 2;
    const bool box_rows = scale_ > 0;
    if (layout_ == Layout::kNv12) {
        BYTE *uv_plane = u_plane;
        for (int32_t cy = 0; cy < chroma_rows; ++cy) {
            BYTE *uv = uv_plane + static_cast<size_t>(cy) * chroma_width * 2;
            const bool in_box = box_rows && 2 * cy < kBoxCellsHigh * scale_;
            for (size_t cx = 0; cx < chroma_width; ++cx) {
                const bool neutral = in_box && cx < box_chroma;
                uv[2 * cx] = neutral ? kNeutralChroma : packed_u_[cx];
                uv[2 * cx + 1] = neutral ? kNeutralChroma : packed_v_[cx];
            }
        }
        return;
    }
    for (int32_t cy = 0; cy < chroma_rows; ++cy) {
        BYTE *u = u_plane + static_cast<size_t>(cy) * chroma_width;
        BYTE *v = v_plane + static_cast<size_t>(cy) * chroma_width;
        std::memcpy(u, packed_u_.data(), chroma_width);
        std::memcpy(v, packed_v_.data(), chroma_width);
        if (scale_ > 0 && 2 * cy < kBoxCellsHigh * scale_) {
            std::memset(u, kNeutralChroma, box_chroma);
            std::memset(v, kNeutralChroma, box_chroma);
        }
    }
}

// YUY2 (Y0 U Y1 V) and UYVY (U Y0 V Y1).
void TestPattern::DrawPacked(uint32_t frame_number, BYTE *out) {
    const size_t row_bytes = packed_row_.size();
    const size_t pairs = row_bytes / 4;
    const size_t last = static_cast<size_t>(width_) - 1;
    // Byte positions of Y0, U, Y1, V in a pair.
    const size_t y0 = layout_ == Layout::kUyvy ? 1 : 0, u = y0 ^ 1, y1 = y0 + 2, v = u + 2;
    for (size_t p = 0; p < pairs; ++p) {
        const Rgb &c0 = bar_row_[2 * p];
        const Rgb &c1 = bar_row_[std::min(2 * p + 1, last)];
        BYTE *q = &packed_row_[p * 4];
        q[y0] = Luma(c0.r, c0.g, c0.b);
        q[u] = Cb(c0.r, c0.g, c0.b);
        q[y1] = Luma(c1.r, c1.g, c1.b);
        q[v] = Cr(c0.r, c0.g, c0.b);
    }
    for (int32_t y = 0; y < rows_; ++y) {
        BYTE *dst = out + static_cast<size_t>(y) * row_bytes;
        std::memcpy(dst, packed_row_.data(), row_bytes);
        if (!CounterRow(frame_number, y, &lit_)) continue;
        for (int32_t x = 0; x < box_width_; ++x) {
            BYTE *pair = dst + static_cast<size_t>(x / 2) * 4;
            pair[(x % 2) == 0 ? y0 : y1] = lit_[static_cast<size_t>(x)] ? kLitLuma : kDarkLuma;
            pair[u] = kNeutralChroma;
            pair[v] = kNeutralChroma;
        }
    }
}

bool DrawTestPattern(const SimulatedFormat &format, uint32_t frame_number, BYTE *out, size_t bytes) {
    TestPattern pattern(format);
    return pattern.Draw(frame_number, out, bytes);
}

}  // namespace emu
