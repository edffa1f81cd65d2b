// MjpegDecoder: decodes one MJPG frame (a JPEG picture) straight into the
// bottom-up RGB24 picture the host receives: B, G, R bytes per pixel, each row
// padded with zero bytes to Rgb24RowBytes(width), the first row in memory the
// bottom of the picture. One decompressor per instance, made by Create and
// reused for every frame; an instance serves one thread at a time (the
// streaming thread of one chain). Nothing of its own is allocated per frame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace kovic {

class MjpegDecoder;

struct MjpegDecoderDeleter {
    void operator()(MjpegDecoder *decoder) const;
};
using MjpegDecoderPtr = std::unique_ptr<MjpegDecoder, MjpegDecoderDeleter>;

class MjpegDecoder {
public:
    // Empty when the decompressor cannot be made (memory). With a width, the
    // working memory of a frame that wide (in any sampling a camera uses) is
    // allocated here as well, so that not even the first frame allocates.
    static MjpegDecoderPtr Create(int32_t frame_width = 0);

    // Decodes the frame in sample[0, bytes). True only for a complete, valid
    // baseline or extended sequential JPEG picture of exactly width x |height|
    // pixels (the sign of the height is the format block's and does not
    // change the output, which is always bottom-up) that decodes without a
    // single warning: truncated data, damaged entropy-coded data, a missing end
    // marker or a picture of another size all answer false. Reads nothing
    // outside the sample and writes nothing outside destination[0,
    // destination_bytes); after a false the destination holds no meaningful
    // picture. Frames without Huffman tables get the standard ones.
    bool Decode(const uint8_t *sample, size_t bytes, int32_t width, int32_t height, uint8_t *destination,
                size_t destination_bytes);

    MjpegDecoder(const MjpegDecoder &) = delete;
    MjpegDecoder &operator=(const MjpegDecoder &) = delete;

    // The decompressor and its tables (defined with the decoder's code).
    struct State;

private:
    friend struct MjpegDecoderDeleter;
    explicit MjpegDecoder(State *state) : state_(state) {}
    ~MjpegDecoder();

    State *state_;
};

}  // namespace kovic
