// Fuzzes KOVICGetYuvFrame over arbitrary sizes, lengths and buffers. The source
// holds exactly the bytes its length claims and the destination exactly the
// I420 planes of the size asked for, each against inaccessible memory, so any
// access outside them faults. A valid conversion must give 1 and the bytes of
// the plain pixel-by-pixel conversion; any other call 0 or 1.
#include <cstdint>
#include <vector>

#include "guarded_buffer.h"
#include "kovic.h"
#include "reliability/reference_i420.h"

namespace {

constexpr int64_t kLargestBuffer = 1 << 20;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool tables_built = KOVICCreate() == 1;
    if (!tables_built) fuzz::Fail("KOVICCreate");
    fuzz::Input in(data, size);
    const uint8_t mode = in.Byte();
    // Small sizes most of the time, so that valid conversions are common.
    int32_t width, height;
    int64_t length;
    if (mode & 1) {
        width = in.Int32();
        height = in.Int32();
        length = in.Int32();
    } else {
        width = static_cast<int8_t>(in.Byte());
        height = static_cast<int8_t>(in.Byte());
        // Mostly about the length the frame needs.
        length = (mode & 2) ? in.Int32() : int64_t{3} * width * height + static_cast<int8_t>(in.Byte());
    }
    if (length > kLargestBuffer) return 0;  // no buffer that large to cover it honestly
    const int32_t source_length = static_cast<int32_t>(length);

    fuzz::GuardedBuffer source(source_length > 0 ? static_cast<size_t>(source_length) : 0);
    source.Fill(in.rest(), in.rest_size());
    int64_t planes = 0;
    if (width > 0 && height > 0) {
        const int64_t pixels = int64_t{width} * height;
        planes = pixels + 2 * (pixels / 4);
    }
    // A destination too large to give is needed only by a call that must be
    // refused anyway: its source cannot hold the frame.
    fuzz::GuardedBuffer destination(planes <= kLargestBuffer ? static_cast<size_t>(planes) : 0);

    const uint8_t *src = (mode & 4) ? nullptr : source.data();
    uint8_t *dst = (mode & 8) ? nullptr : destination.data();
    const int r = KOVICGetYuvFrame(dst, src, width, height, source_length);
    if (r != 0 && r != 1) fuzz::Fail("a result other than 0 or 1");
    if (src != nullptr && dst != nullptr && walk::I420ArgumentsValid(width, height, source_length)) {
        if (r != 1) fuzz::Fail("a valid conversion refused");
        std::vector<uint8_t> expected(destination.size());
        walk::ReferenceI420(expected.data(), source.data(), width, height, source_length);
        if (std::memcmp(expected.data(), destination.data(), expected.size()) != 0) {
            fuzz::Fail("I420 bytes differ from the plain conversion");
        }
    }
    return 0;
}
