// The picture the virtual camera sends, and how to read it back.
//
// Picture coordinates run from the top-left corner of the picture as seen.
// Rows 0-7 hold the code row: 8x8 blocks from the left, white for a 1 and black
// for a 0: two sync blocks (white, black), the 16-bit frame counter and the
// 4-bit device tag, most significant bit first; the rest of the row is grey.
// Below it, eight vertical colour bars (white, yellow, cyan, green, magenta,
// red, blue, black from left to right), and the orientation marker: a grey
// 16x16 square at x 0-15, y 8-23, inside the white bar. Black and white blocks
// on 8-pixel boundaries survive chroma subsampling and any RGB/YUV conversion.
//
// YUV frames use BT.601 in studio range, as cameras deliver it: luma 16-235,
// chroma 16-240 around 128. Chroma of a subsampled block is the colour of its
// top-left pixel.
//
// FramePainter is used by one streaming thread at a time; the decoder is pure.
#pragma once

#include <cstdint>
#include <functional>

#include "video_format.h"

namespace vcam {

constexpr int kCodeBlockPixels = 8;
constexpr int kSyncBlocks = 2;
constexpr int kCounterBits = 16;
constexpr int kTagBits = 4;
constexpr int kCodeBlocks = kSyncBlocks + kCounterBits + kTagBits;
constexpr int kMarkerTop = kCodeBlockPixels;
constexpr int kMarkerPixels = 16;
// The smallest picture that carries the whole pattern.
constexpr int kMinPatternWidth = kCodeBlocks * kCodeBlockPixels;  // 176
constexpr int kMinPatternHeight = 32;

struct Rgb {
    uint8_t r, g, b;
};

// Colour of the picture at (x, y) without the code blocks (the code row is grey there).
Rgb BackgroundColour(int x, int y, int width);
// Colour of the whole picture at (x, y), code blocks included.
Rgb PatternColour(int x, int y, int width, uint32_t counter, uint32_t tag);
// Full-range BT.601 luma of a colour, rounded: what the decoder compares with.
int LumaOf(Rgb colour);

struct Yuv {
    uint8_t y, u, v;
};
// BT.601 studio range, rounded to the nearest level:
//   Y' = 0.299 R + 0.587 G + 0.114 B            (0-255)
//   Y  = 16 + 219/255 Y'
//   Cb = 128 + 224/255 (B - Y') / 1.772
//   Cr = 128 + 224/255 (R - Y') / 1.402
Yuv StudioYuvOf(Rgb colour);
// BT.601 in full range, as JPEG pictures store it (JFIF), rounded:
//   Y = Y', Cb = 128 + (B - Y') / 1.772, Cr = 128 + (R - Y') / 1.402
Yuv FullRangeYuvOf(Rgb colour);
// A studio-range luma level on the full 0-255 scale, rounded.
int FullRangeLuma(int studio_luma);

// Paints frames of one uncompressed format: the background once, then per
// frame a copy of it with the code blocks drawn in. Prepare allocates; Paint
// does not. (MJPG frames come from MjpegPainter, mjpeg_painter.h.)
class FramePainter {
public:
    FramePainter() = default;
    FramePainter(const FramePainter &) = delete;
    FramePainter &operator=(const FramePainter &) = delete;
    ~FramePainter();

    // False when out of memory or for a compressed format; the painter then
    // paints nothing.
    bool Prepare(const VideoFormat &format);
    void Release();
    // Writes ImageBytes(format) bytes into `destination`.
    void Paint(uint32_t counter, uint32_t tag, uint8_t *destination) const;
    uint32_t image_bytes() const { return image_bytes_; }

private:
    void SetPixel(uint8_t *frame, int x, int y, Rgb colour) const;

    VideoFormat format_;
    uint8_t *background_ = nullptr;
    uint32_t image_bytes_ = 0;
};

// Luma at picture coordinates; the caller maps them onto whatever buffer and
// orientation it reads.
using LumaAt = std::function<int(int x, int y)>;

struct DecodedPattern {
    bool valid = false;  // sync blocks, every code bit, the bars and the marker where expected
    uint32_t counter = 0;
    uint32_t tag = 0;
};

// Reads the pattern of a width x height picture. Tolerates the small luma
// error of any RGB/YUV conversion; fails on a mirrored or flipped picture.
DecodedPattern DecodePattern(const LumaAt &luma, int width, int height);

// Luma readers for frames as the camera produces them, on the full 0-255 scale
// (the RGB formats honour the sign of the height; the YUV ones are top-down).
// MJPG frames must be decoded first: their reader answers -1 everywhere.
LumaAt LumaOfFrame(const VideoFormat &format, const uint8_t *frame);

}  // namespace vcam
