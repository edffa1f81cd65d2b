// MJPG frames of the test pattern, as webcams send them: baseline JPEG
// pictures in 4:2:2, encoded with libjpeg-turbo. The picture is kept as
// padded planes of full-range YCbCr from which only the code row changes
// between frames, and one compressor serves every frame. Also the damage the
// `corrupt-jpeg` fault does to a frame. MjpegPainter is used by one streaming
// thread at a time; Prepare allocates, Paint does not. The damage functions
// are pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "video_format.h"

namespace vcam {

// The compression real webcams use for their MJPG modes; the bars' colours
// survive it within a few levels.
constexpr int kMjpegQuality = 85;

class MjpegPainter {
public:
    MjpegPainter();
    MjpegPainter(const MjpegPainter &) = delete;
    MjpegPainter &operator=(const MjpegPainter &) = delete;
    ~MjpegPainter();

    // Paints the picture of a width x height frame (an even width, a positive
    // height) and sets up the compressor. False when out of memory or for a
    // size that cannot be produced; the painter then encodes nothing.
    bool Prepare(const VideoFormat &format);
    void Release();
    // Encodes the picture with this counter and tag into destination[0,
    // capacity) and returns the frame's length, or 0 when it does not fit.
    // Without `huffman_tables` the frame carries no Huffman table segment:
    // its data is coded with the standard tables, which a decoder then
    // supplies, as most webcams send it.
    size_t Paint(uint32_t counter, uint32_t tag, bool huffman_tables, uint8_t *destination, size_t capacity);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// The length of a frame cut short, as after a lost USB transfer: half of it,
// ending inside the entropy-coded data, without the end-of-image marker.
size_t TruncatedLength(size_t length);

// Damages a frame in place, keeping its length, headers and end-of-image
// marker: 32 bytes in the middle of its entropy-coded data become noise with
// a restart marker in it, which the frame does not declare (its headers set
// no restart interval). False, and nothing changed, when the frame has no
// scan of at least 64 bytes.
bool DamageEntropyCodedData(uint8_t *frame, size_t length);

}  // namespace vcam
