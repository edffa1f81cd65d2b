// The MJPG frames of a streaming simulated device: the test pattern encoded as
// a baseline JPEG picture (4:2:2 chroma, quality 85, as webcams send), with or
// without its Huffman tables. One encoder per format and per user: it keeps the
// picture and the compressor between frames and writes into the caller's
// buffer, so a frame allocates nothing of its own (the JPEG library's per-frame
// working memory aside). Not to be shared between threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "platform/emulated/host_api.h"
#include "platform/emulated/test_pattern.h"

namespace emu {

class TestPatternJpeg {
public:
    TestPatternJpeg(const SimulatedFormat &format, bool huffman_tables);
    ~TestPatternJpeg();
    TestPatternJpeg(const TestPatternJpeg &) = delete;
    TestPatternJpeg &operator=(const TestPatternJpeg &) = delete;

    // The most bytes a frame takes (FrameBytes of the MJPG format); 0 when the
    // format makes no picture.
    size_t capacity() const { return capacity_; }
    // Encodes frame n into out[0, bytes); its length, or 0 when the picture
    // does not fit or cannot be made.
    size_t Encode(uint32_t frame_number, BYTE *out, size_t bytes);

    struct Compressor;

private:
    TestPattern pattern_;
    int32_t width_;
    int32_t rows_;
    size_t capacity_;
    bool huffman_tables_;
    std::vector<BYTE> picture_;  // top-down padded B, G, R rows
    std::unique_ptr<Compressor> compressor_;
};

}  // namespace emu
