// Fuzzes MjpegDecoder::Decode with arbitrary bytes as a frame. The sample holds
// exactly its bytes and the frame buffer exactly the padded RGB24 frame, each
// against inaccessible memory. One decoder serves every input, as one serves
// every frame of a chain, and its answer (and picture) must be the one a new
// decoder gives: nothing of an earlier frame may change a later one's decode.
#include <cstdint>
#include <cstring>

#include "frames/frame_to_rgb24.h"
#include "frames/mjpeg_decoder.h"
#include "guarded_buffer.h"

namespace {

constexpr int32_t kLargestSide = 1024;

// The size in the frame's first start-of-frame segment (0xFFC0 to 0xFFC2),
// or 0 x 0 when it has none.
void SizeInFrame(const uint8_t *data, size_t size, int32_t *width, int32_t *height) {
    *width = *height = 0;
    for (size_t at = 0; at + 9 <= size; ++at) {
        if (data[at] == 0xFF && data[at + 1] >= 0xC0 && data[at + 1] <= 0xC2) {
            *height = data[at + 5] << 8 | data[at + 6];
            *width = data[at + 7] << 8 | data[at + 8];
            return;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static kovic::MjpegDecoderPtr decoder = kovic::MjpegDecoder::Create();
    if (decoder == nullptr) fuzz::Fail("MjpegDecoder::Create");
    fuzz::Input in(data, size);
    // The first byte chooses the size asked for: mostly the frame's own, so
    // that whole decodes are common, otherwise a small size of its own.
    const uint8_t mode = in.Byte();
    const uint8_t *frame = in.rest();
    const size_t frame_bytes = in.rest_size();
    int32_t width = 0, height = 0;
    if (mode & 1) {
        width = 1 + (mode >> 1) % 48;
        height = 1 + (mode >> 4) * 3;
    } else {
        SizeInFrame(frame, frame_bytes, &width, &height);
        if (mode & 2) height = -height;
    }
    if (width <= 0 || height == 0 || width > kLargestSide || height > kLargestSide || -height > kLargestSide) return 0;
    const size_t rows = static_cast<size_t>(height < 0 ? -height : height);
    const size_t destination_bytes = kovic::Rgb24RowBytes(width) * rows;

    fuzz::GuardedBuffer sample(frame_bytes);
    sample.Fill(frame, frame_bytes);
    fuzz::GuardedBuffer destination(destination_bytes);
    const bool decoded =
        decoder->Decode(sample.data(), sample.size(), width, height, destination.data(), destination.size());

    kovic::MjpegDecoderPtr fresh = kovic::MjpegDecoder::Create();
    if (fresh == nullptr) fuzz::Fail("MjpegDecoder::Create");
    fuzz::GuardedBuffer again(destination_bytes);
    const bool decoded_fresh = fresh->Decode(sample.data(), sample.size(), width, height, again.data(), again.size());
    if (decoded != decoded_fresh) fuzz::Fail("a decoder that served earlier frames answers otherwise than a new one");
    if (decoded && std::memcmp(destination.data(), again.data(), destination_bytes) != 0) {
        fuzz::Fail("a decoder that served earlier frames decodes another picture than a new one");
    }
    return 0;
}
