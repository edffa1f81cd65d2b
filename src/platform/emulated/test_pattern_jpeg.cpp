// The streaming devices' MJPG frames: the RGB24 test pattern through the JPEG
// library's compressor, written straight into the caller's buffer, and the
// damage a device that corrupts frames does to them. The compressor reports
// errors by a long jump back into Encode, so the functions between the jump
// point and the library hold no object with a destructor.
#include "platform/emulated/test_pattern_jpeg.h"

#include <csetjmp>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstring>

#include <jpeglib.h>

namespace emu {
namespace {

constexpr int kQuality = 85;

struct JumpingErrors {
    jpeg_error_mgr base;  // first, so the library's pointer is this record's
    std::jmp_buf jump;
};

[[noreturn]] void JumpOnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JumpingErrors *>(info->err)->jump, 1);
}
void PrintNothing(j_common_ptr) {}

// A destination of fixed size: a picture that does not fit fails.
struct FixedDestination {
    jpeg_destination_mgr base;  // first, as above
    BYTE *out;
    size_t bytes;
};

void StartDestination(j_compress_ptr c) {
    auto *d = reinterpret_cast<FixedDestination *>(c->dest);
    d->base.next_output_byte = d->out;
    d->base.free_in_buffer = d->bytes;
}
boolean DestinationFull(j_compress_ptr c) {
    c->err->error_exit(reinterpret_cast<j_common_ptr>(c));
    return FALSE;
}
void FinishDestination(j_compress_ptr) {}

}  // namespace

struct TestPatternJpeg::Compressor {
    jpeg_compress_struct compress;
    JumpingErrors errors;
    FixedDestination destination;
    bool made = false;
};

namespace {

// The jump point of one picture; everything it needs is in the compressor
// record or in arguments that do not change after setjmp.
bool Compress(TestPatternJpeg::Compressor *k, const BYTE *picture, size_t stride, int32_t width, int32_t rows,
              bool huffman_tables) {
    jpeg_compress_struct *c = &k->compress;
    if (setjmp(k->errors.jump) != 0) {
        jpeg_abort_compress(c);
        return false;
    }
    c->image_width = static_cast<JDIMENSION>(width);
    c->image_height = static_cast<JDIMENSION>(rows);
    c->input_components = 3;
    c->in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(c);
    jpeg_set_quality(c, kQuality, TRUE);
    c->comp_info[0].h_samp_factor = 2;  // 4:2:2
    c->comp_info[0].v_samp_factor = 1;
    c->write_JFIF_header = FALSE;  // webcams send bare pictures
    // Not all tables: each written unless marked as sent. Without Huffman
    // tables the picture relies on the standard ones, which jpeg_set_defaults
    // installed and the entropy coder uses.
    jpeg_start_compress(c, FALSE);
    for (int i = 0; i < NUM_QUANT_TBLS; ++i) {
        if (c->quant_tbl_ptrs[i] != nullptr) c->quant_tbl_ptrs[i]->sent_table = FALSE;
    }
    for (int i = 0; i < NUM_HUFF_TBLS; ++i) {
        if (c->dc_huff_tbl_ptrs[i] != nullptr) c->dc_huff_tbl_ptrs[i]->sent_table = huffman_tables ? FALSE : TRUE;
        if (c->ac_huff_tbl_ptrs[i] != nullptr) c->ac_huff_tbl_ptrs[i]->sent_table = huffman_tables ? FALSE : TRUE;
    }
    while (c->next_scanline < c->image_height) {
        JSAMPROW row = const_cast<BYTE *>(picture + static_cast<size_t>(c->next_scanline) * stride);
        jpeg_write_scanlines(c, &row, 1);
    }
    jpeg_finish_compress(c);
    return true;
}

bool MakeCompressor(TestPatternJpeg::Compressor *k) {
    std::memset(&k->compress, 0, sizeof(k->compress));
    k->compress.err = jpeg_std_error(&k->errors.base);
    k->errors.base.error_exit = JumpOnError;
    k->errors.base.output_message = PrintNothing;
    if (setjmp(k->errors.jump) != 0) {
        jpeg_destroy_compress(&k->compress);
        return false;
    }
    jpeg_create_compress(&k->compress);
    k->destination.base.init_destination = StartDestination;
    k->destination.base.empty_output_buffer = DestinationFull;
    k->destination.base.term_destination = FinishDestination;
    k->compress.dest = &k->destination.base;
    return true;
}

}  // namespace

TestPatternJpeg::TestPatternJpeg(const SimulatedFormat &format, bool huffman_tables)
    : pattern_(SimulatedFormat{MEDIASUBTYPE_RGB24, format.width,
                               format.height == INT32_MIN ? 0 : -(format.height < 0 ? -format.height : format.height)}),
      width_(format.width),
      rows_(format.height == INT32_MIN ? 0 : (format.height < 0 ? -format.height : format.height)),
      capacity_(FrameBytes(SimulatedFormat{MEDIASUBTYPE_MJPG, format.width, format.height})),
      huffman_tables_(huffman_tables) {
    // A JPEG picture is at most 65535 pixels a side.
    if (pattern_.frame_bytes() == 0 || capacity_ == 0 || width_ > 65535 || rows_ > 65535) {
        capacity_ = 0;
        return;
    }
    picture_.resize(pattern_.frame_bytes());
    compressor_ = std::make_unique<Compressor>();
    compressor_->made = MakeCompressor(compressor_.get());
    if (!compressor_->made) capacity_ = 0;
}

TestPatternJpeg::~TestPatternJpeg() {
    if (compressor_ && compressor_->made) jpeg_destroy_compress(&compressor_->compress);
}

size_t TestPatternJpeg::Encode(uint32_t frame_number, BYTE *out, size_t bytes) {
    if (capacity_ == 0 || out == nullptr || bytes == 0) return 0;
    if (!pattern_.Draw(frame_number, picture_.data(), picture_.size())) return 0;
    compressor_->destination.out = out;
    compressor_->destination.bytes = bytes;
    const size_t stride = picture_.size() / static_cast<size_t>(rows_);
    if (!Compress(compressor_.get(), picture_.data(), stride, width_, rows_, huffman_tables_)) return 0;
    return bytes - compressor_->destination.base.free_in_buffer;
}

size_t EncodeTestPatternJpeg(const SimulatedFormat &format, uint32_t frame_number, bool huffman_tables, BYTE *out,
                             size_t bytes) {
    TestPatternJpeg encoder(format, huffman_tables);
    return encoder.Encode(frame_number, out, bytes);
}

size_t CorruptJpegFrame(uint32_t frame_number, uint32_t every, BYTE *jpeg, size_t length) {
    if (every == 0 || frame_number % every != every - 1 || jpeg == nullptr || length < 4) return length;
    if ((frame_number / every) % 2 == 0) return length * 2 / 3;  // cut short
    // Damaged: a restart marker in the middle of the coded data, which has no
    // restart intervals, so the decoder meets a marker it cannot place.
    size_t at = 2;
    while (at + 4 <= length && jpeg[at] == 0xFF) {
        const size_t segment = 2 + (static_cast<size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3]);
        const bool scan = jpeg[at + 1] == 0xDA;
        at += segment;
        if (scan) break;
    }
    if (at + 4 > length) return length * 2 / 3;
    const size_t middle = at + (length - 2 - at) / 2;
    jpeg[middle] = 0xFF;
    jpeg[middle + 1] = 0xD3;
    return length;
}

}  // namespace emu
