// The model's own picture of an MJPG frame. JPEG decoding is lossy and its
// rounding belongs to the decoder, so the model does not derive the pixels
// itself: it decodes with the same JPEG library and the same settings the
// library uses (its defaults, B, G, R output), on a decompressor of its own, so
// that the picture agrees byte for byte. Only the rule for which frames are
// taken is written here independently: a baseline or extended sequential
// picture of exactly the connected size that decodes to its end marker
// without a single warning. (The library's own decoder allocates through the
// platform's allocator, whose calls the model counts, so it is not used.)
#pragma once

#include <csetjmp>
#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <vector>

#include <jpeglib.h>

namespace walk {

namespace reference_jpeg {

struct Errors {
    jpeg_error_mgr base;
    std::jmp_buf jump;
};

[[noreturn]] inline void Fail(j_common_ptr info) { std::longjmp(reinterpret_cast<Errors *>(info->err)->jump, 1); }
inline void FailOnWarning(j_common_ptr info, int level) {
    if (level < 0) Fail(info);
}
inline void Quiet(j_common_ptr) {}

// The jump point; `out` is sized by the caller and only written row by row.
inline bool Decode(jpeg_decompress_struct *d, Errors *errors, const std::vector<uint8_t> &sample, uint32_t width,
                   uint32_t rows, std::vector<uint8_t> *out) {
    if (setjmp(errors->jump) != 0) return false;
    jpeg_mem_src(d, sample.data(), static_cast<unsigned long>(sample.size()));
    if (jpeg_read_header(d, TRUE) != JPEG_HEADER_OK) return false;
    if (d->progressive_mode || d->image_width != width || d->image_height != rows) return false;
    d->out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(d);
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
    while (d->output_scanline < d->output_height) {
        JSAMPROW row = out->data() + (rows - 1 - d->output_scanline) * stride;
        if (jpeg_read_scanlines(d, &row, 1) != 1) return false;
    }
    return jpeg_finish_decompress(d) == TRUE;
}

}  // namespace reference_jpeg

// The frame as bottom-up B, G, R rows padded to 4 bytes, or false when the
// sample is not a whole picture of width x |height|.
inline bool DecodeMjpgFrame(const std::vector<uint8_t> &sample, int32_t width, int32_t height,
                            std::vector<uint8_t> *frame) {
    const int64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    if (sample.empty() || width <= 0 || width > 65535 || rows == 0 || rows > 65535) return false;
    const size_t stride = (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3);
    frame->assign(stride * static_cast<size_t>(rows), 0);
    jpeg_decompress_struct d;
    reference_jpeg::Errors errors;
    d.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = reference_jpeg::Fail;
    errors.base.emit_message = reference_jpeg::FailOnWarning;
    errors.base.output_message = reference_jpeg::Quiet;
    jpeg_create_decompress(&d);
    const bool ok = reference_jpeg::Decode(&d, &errors, sample, static_cast<uint32_t>(width),
                                           static_cast<uint32_t>(rows), frame);
    jpeg_destroy_decompress(&d);
    return ok;
}

}  // namespace walk
