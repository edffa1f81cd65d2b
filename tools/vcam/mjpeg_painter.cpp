// MJPG frames of the test pattern: planes painted once, the code row per
// frame, encoded through libjpeg-turbo's raw-data interface (no colour
// conversion or downsampling per frame). One streaming thread at a time.
#include "mjpeg_painter.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstdlib>
#include <cstring>
#include <new>

#include <jpeglib.h>

#include "test_pattern.h"

namespace vcam {
namespace {

// libjpeg reports errors through a callback that must not return: it jumps
// back into Paint, which abandons the frame.
struct ErrorManager {
    jpeg_error_mgr base;
    jmp_buf jump;
};

void ErrorExit(j_common_ptr codec) { longjmp(reinterpret_cast<ErrorManager *>(codec->err)->jump, 1); }
void IgnoreMessage(j_common_ptr) {}

// Writes straight into the sample's buffer. When the frame outgrows it, the
// rest goes to a scratch block and the frame is dropped: the compressor must
// be allowed to finish. (The compressor asks for more room as soon as a
// buffer is full, so a frame that fits exactly switches to the scratch block
// once and writes nothing there.)
struct Destination {
    jpeg_destination_mgr base;
    int switches;
    JOCTET scratch[4096];
};

void InitDestination(j_compress_ptr) {}
boolean EmptyOutputBuffer(j_compress_ptr codec) {
    auto *destination = reinterpret_cast<Destination *>(codec->dest);
    ++destination->switches;
    destination->base.next_output_byte = destination->scratch;
    destination->base.free_in_buffer = sizeof(destination->scratch);
    return TRUE;
}
void TermDestination(j_compress_ptr) {}

size_t RoundUp(size_t value, size_t step) { return (value + step - 1) / step * step; }

}  // namespace

struct MjpegPainter::State {
    jpeg_compress_struct codec;
    ErrorManager errors;
    Destination destination;
    int width = 0;
    int height = 0;
    // Planes of the padded picture: the compressor reads whole 8x8 blocks
    // (16 luma columns a 4:2:2 block) and whole 8-row bands, so the picture's
    // last column and row are repeated to those bounds.
    size_t luma_stride = 0;
    size_t chroma_stride = 0;
    size_t rows = 0;
    uint8_t *planes = nullptr;
    uint8_t *y = nullptr;
    uint8_t *cb = nullptr;
    uint8_t *cr = nullptr;

    bool created = false;  // whether codec holds a compressor to destroy

    State() {
        std::memset(&codec, 0, sizeof(codec));
        std::memset(&destination, 0, sizeof(destination));
        codec.err = jpeg_std_error(&errors.base);
        errors.base.error_exit = ErrorExit;
        errors.base.output_message = IgnoreMessage;
        destination.base.init_destination = InitDestination;
        destination.base.empty_output_buffer = EmptyOutputBuffer;
        destination.base.term_destination = TermDestination;
    }
    ~State() {
        if (created) jpeg_destroy_compress(&codec);
        std::free(planes);
    }

    // Paints the picture's pixels in [left, right) x [top, bottom); chroma
    // of each pixel pair from its left pixel.
    void PaintArea(int left, int right, int top, int bottom, uint32_t counter, uint32_t tag) {
        for (int row = top; row < bottom; ++row) {
            for (int x = left; x < right; ++x) {
                Yuv colour = FullRangeYuvOf(PatternColour(x, row, width, counter, tag));
                y[static_cast<size_t>(row) * luma_stride + static_cast<size_t>(x)] = colour.y;
                if ((x & 1) == 0) {
                    cb[static_cast<size_t>(row) * chroma_stride + static_cast<size_t>(x / 2)] = colour.u;
                    cr[static_cast<size_t>(row) * chroma_stride + static_cast<size_t>(x / 2)] = colour.v;
                }
            }
        }
    }

    void RepeatEdges() {
        const size_t chroma_width = static_cast<size_t>(width) / 2;
        for (size_t row = 0; row < static_cast<size_t>(height); ++row) {
            uint8_t *luma_row = y + row * luma_stride;
            std::memset(luma_row + width, luma_row[width - 1], luma_stride - static_cast<size_t>(width));
            for (uint8_t *plane : {cb, cr}) {
                uint8_t *chroma_row = plane + row * chroma_stride;
                std::memset(chroma_row + chroma_width, chroma_row[chroma_width - 1], chroma_stride - chroma_width);
            }
        }
        for (size_t row = static_cast<size_t>(height); row < rows; ++row) {
            std::memcpy(y + row * luma_stride, y + (row - 1) * luma_stride, luma_stride);
            std::memcpy(cb + row * chroma_stride, cb + (row - 1) * chroma_stride, chroma_stride);
            std::memcpy(cr + row * chroma_stride, cr + (row - 1) * chroma_stride, chroma_stride);
        }
    }
};

MjpegPainter::MjpegPainter() = default;
MjpegPainter::~MjpegPainter() = default;

void MjpegPainter::Release() { state_.reset(); }

bool MjpegPainter::Prepare(const VideoFormat &format) {
    Release();
    if (format.width <= 0 || format.height <= 0 || format.width % 2 != 0) return false;
    std::unique_ptr<State> state(new (std::nothrow) State());
    if (!state) return false;
    state->width = format.width;
    state->height = format.height;
    state->luma_stride = RoundUp(static_cast<size_t>(format.width), 2 * DCTSIZE);
    state->chroma_stride = state->luma_stride / 2;
    state->rows = RoundUp(static_cast<size_t>(format.height), DCTSIZE);
    const size_t luma_bytes = state->luma_stride * state->rows;
    const size_t chroma_bytes = state->chroma_stride * state->rows;
    state->planes = static_cast<uint8_t *>(std::malloc(luma_bytes + 2 * chroma_bytes));
    if (state->planes == nullptr) return false;
    state->y = state->planes;
    state->cb = state->y + luma_bytes;
    state->cr = state->cb + chroma_bytes;
    state->PaintArea(0, format.width, 0, format.height, 0, 0);
    state->RepeatEdges();

    jpeg_compress_struct &codec = state->codec;
    if (setjmp(state->errors.jump) != 0) return false;
    jpeg_create_compress(&codec);
    state->created = true;
    codec.dest = &state->destination.base;
    codec.image_width = static_cast<JDIMENSION>(format.width);
    codec.image_height = static_cast<JDIMENSION>(format.height);
    codec.input_components = 3;
    codec.in_color_space = JCS_YCbCr;
    jpeg_set_defaults(&codec);  // also the standard Huffman tables, used as they are
    jpeg_set_colorspace(&codec, JCS_YCbCr);
    jpeg_set_quality(&codec, kMjpegQuality, TRUE);
    codec.raw_data_in = TRUE;
    // 4:2:2: one chroma sample per two luma samples across, every row.
    codec.comp_info[0].h_samp_factor = 2;
    codec.comp_info[0].v_samp_factor = 1;
    for (int component = 1; component < 3; ++component) {
        codec.comp_info[component].h_samp_factor = 1;
        codec.comp_info[component].v_samp_factor = 1;
    }
    state_ = std::move(state);
    return true;
}

size_t MjpegPainter::Paint(uint32_t counter, uint32_t tag, bool huffman_tables, uint8_t *destination,
                           size_t capacity) {
    if (!state_ || destination == nullptr || capacity == 0) return 0;
    State &state = *state_;
    // Only the code row differs from the last frame's picture.
    const int code_right = state.width < kCodeBlocks * kCodeBlockPixels ? state.width : kCodeBlocks * kCodeBlockPixels;
    const int code_bottom = state.height < kCodeBlockPixels ? state.height : kCodeBlockPixels;
    state.PaintArea(0, code_right, 0, code_bottom, counter, tag);
    // In a picture that narrow or that low the code row reaches the padding.
    if (code_right == state.width || code_bottom == state.height) state.RepeatEdges();

    jpeg_compress_struct &codec = state.codec;
    state.destination.base.next_output_byte = destination;
    state.destination.base.free_in_buffer = capacity;
    state.destination.switches = 0;
    if (setjmp(state.errors.jump) != 0) {
        jpeg_abort_compress(&codec);
        return 0;
    }
    // Every table goes out with the frame, except the Huffman tables when
    // they are to be left out: marked as sent, the compressor skips them.
    jpeg_suppress_tables(&codec, FALSE);
    if (!huffman_tables) {
        for (int i = 0; i < NUM_HUFF_TBLS; ++i) {
            if (codec.dc_huff_tbl_ptrs[i] != nullptr) codec.dc_huff_tbl_ptrs[i]->sent_table = TRUE;
            if (codec.ac_huff_tbl_ptrs[i] != nullptr) codec.ac_huff_tbl_ptrs[i]->sent_table = TRUE;
        }
    }
    jpeg_start_compress(&codec, FALSE);
    JSAMPROW luma_rows[DCTSIZE], cb_rows[DCTSIZE], cr_rows[DCTSIZE];
    JSAMPARRAY planes[3] = {luma_rows, cb_rows, cr_rows};
    for (size_t top = 0; top < state.rows; top += DCTSIZE) {
        for (size_t i = 0; i < DCTSIZE; ++i) {
            luma_rows[i] = state.y + (top + i) * state.luma_stride;
            cb_rows[i] = state.cb + (top + i) * state.chroma_stride;
            cr_rows[i] = state.cr + (top + i) * state.chroma_stride;
        }
        jpeg_write_raw_data(&codec, planes, DCTSIZE);
    }
    jpeg_finish_compress(&codec);
    const Destination &written = state.destination;
    if (written.switches == 0) return capacity - written.base.free_in_buffer;
    const bool fitted = written.switches == 1 && written.base.free_in_buffer == sizeof(written.scratch);
    return fitted ? capacity : 0;
}

size_t TruncatedLength(size_t length) { return length / 2; }

bool DamageEntropyCodedData(uint8_t *frame, size_t length) {
    // The entropy-coded data runs from the end of the start-of-scan segment
    // to the end-of-image marker.
    size_t at = 2;
    size_t scan = 0;
    while (at + 4 <= length && frame[at] == 0xFF) {
        const size_t segment = 2 + (static_cast<size_t>(frame[at + 2]) << 8 | frame[at + 3]);
        if (frame[at + 1] == 0xDA) {
            scan = at + segment;
            break;
        }
        at += segment;
    }
    if (scan == 0 || length < 2 || scan + 64 > length - 2) return false;
    constexpr size_t kNoiseBytes = 32;
    uint8_t *noise = frame + scan + (length - 2 - scan - kNoiseBytes) / 2;
    uint32_t seed = 0x2545F491u;
    for (size_t i = 0; i < kNoiseBytes; ++i) {
        seed = seed * 1664525u + 1013904223u;
        // No 0xFF of its own, so that the one marker below is the only one.
        noise[i] = static_cast<uint8_t>((seed >> 24) % 0xFF);
    }
    noise[kNoiseBytes / 2] = 0xFF;
    noise[kNoiseBytes / 2 + 1] = 0xD3;  // RST3
    return true;
}

}  // namespace vcam
