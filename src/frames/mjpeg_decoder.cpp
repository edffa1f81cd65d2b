// MjpegDecoder: one libjpeg-turbo decompressor, reused for every frame of one
// chain. Errors and warnings leave the decoder by a long jump back into
// Decode (libjpeg's own way of failing), so the functions that set a jump
// point hold no object with a destructor.
#include "frames/mjpeg_decoder.h"

#include <climits>
#include <csetjmp>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstring>
#include <new>

#include <jpeglib.h>
#include <jerror.h>

#include "frames/frame_to_rgb24.h"
#include "platform/platform.h"

namespace kovic {

namespace {

// libjpeg reports through these; each ends the frame at once.
struct JumpingErrorManager {
    jpeg_error_mgr base;  // first, so the library's pointer is this record's
    std::jmp_buf jump;
};

[[noreturn]] void JumpOnError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JumpingErrorManager *>(info->err)->jump, 1);
}

// Level -1 is a warning (premature end of data, a bad Huffman code, bytes
// before a marker, a lost restart marker): the picture would hold guessed
// blocks, so a warning fails the frame like an error. Levels 0 and up are
// trace messages.
void JumpOnWarning(j_common_ptr info, int level) {
    if (level < 0) std::longjmp(reinterpret_cast<JumpingErrorManager *>(info->err)->jump, 1);
}

void PrintNothing(j_common_ptr) {}

void InstallErrorManager(JumpingErrorManager *errors) {
    jpeg_std_error(&errors->base);
    errors->base.error_exit = JumpOnError;
    errors->base.emit_message = JumpOnWarning;
    errors->base.output_message = PrintNothing;
}

// Rows handed to the decoder per call: at least the most any of its
// upsamplers produces at once, so each call returns a full batch.
constexpr int kRowBatch = 16;

// libjpeg asks for a frame's working memory (sample rows, coefficient blocks,
// the state of its modules) in its image pool and gives it all back at the end
// of each frame or when it fails. The decoder serves that pool from an arena
// of its own, through the library's allocator: the first frame sizes it, and
// every later frame of that size takes its memory without an allocation. The
// permanent pool (the decompressor, its tables) stays libjpeg's; it is filled
// once.
class FrameArena {
public:
    FrameArena() = default;
    FrameArena(const FrameArena &) = delete;
    FrameArena &operator=(const FrameArena &) = delete;
    ~FrameArena() { FreeChunks(); }

    // Bytes aligned to kAlignment, valid until the next Rewind; null when
    // memory runs out or the request cannot be counted.
    void *Take(size_t bytes) {
        if (bytes > kLargestRequest) return nullptr;
        bytes = (bytes + kAlignment - 1) & ~(kAlignment - 1);
        taken_ += bytes;
        if (chunks_ == nullptr || chunks_->size - chunks_->used < bytes) {
            // Each new chunk at least doubles the last, so that a first frame
            // needs few of them.
            size_t size = chunks_ != nullptr ? 2 * chunks_->size : kFirstChunkBytes;
            if (size < bytes) size = bytes;
            if (!AddChunk(size)) return nullptr;
        }
        uint8_t *at = chunks_->base + chunks_->used;
        chunks_->used += bytes;
        return at;
    }

    // Makes the arena hold at least `bytes` in one chunk. False when memory
    // runs out.
    bool Reserve(size_t bytes) {
        if (bytes > kLargestRequest) return false;
        if (most_taken_ < bytes) most_taken_ = bytes;
        if (chunks_ != nullptr && chunks_->next == nullptr && chunks_->size >= bytes) return true;
        FreeChunks();
        return AddChunk(bytes);
    }

    // Every taken byte back. A frame that needed more than one chunk leaves
    // one chunk as large as the most any frame has taken, so that the next
    // frame of that size fits in it; if that allocation fails, the next frame
    // allocates as the first did.
    void Rewind() {
        if (taken_ > most_taken_) most_taken_ = taken_;
        taken_ = 0;
        if (chunks_ != nullptr && chunks_->next != nullptr) {
            FreeChunks();
            AddChunk(most_taken_);
        }
        if (chunks_ != nullptr) chunks_->used = 0;
    }

private:
    // Matches what libjpeg's own pools give its vector code (32 bytes), with
    // room for wider registers.
    static constexpr size_t kAlignment = 64;
    static constexpr size_t kFirstChunkBytes = 64 * 1024;
    // libjpeg refuses any single request near a gigabyte itself.
    static constexpr size_t kLargestRequest = size_t{1} << 30;

    struct Chunk {
        Chunk *next;
        uint8_t *base;  // aligned start of the chunk's bytes
        size_t size;
        size_t used;
    };

    bool AddChunk(size_t size) {
        void *memory = AllocateMemory(sizeof(Chunk) + kAlignment + size);
        if (memory == nullptr) return false;
        Chunk *chunk = static_cast<Chunk *>(memory);
        const uintptr_t start = reinterpret_cast<uintptr_t>(chunk + 1);
        chunk->base = reinterpret_cast<uint8_t *>((start + kAlignment - 1) & ~static_cast<uintptr_t>(kAlignment - 1));
        chunk->size = size;
        chunk->used = 0;
        chunk->next = chunks_;
        chunks_ = chunk;
        return true;
    }

    void FreeChunks() {
        while (chunks_ != nullptr) {
            Chunk *next = chunks_->next;
            FreeMemory(chunks_);
            chunks_ = next;
        }
    }

    Chunk *chunks_ = nullptr;  // the one being filled first
    size_t taken_ = 0;         // since the last Rewind
    size_t most_taken_ = 0;    // by any frame so far
};

// What a frame of that width takes from the image pool, with room to spare:
// measured at 12.6 to 15.1 KiB plus 20 to 34 bytes a pixel of width over 4:2:0,
// 4:2:2 and 4:4:4 pictures (4:2:0, with its two rows of chroma context, takes
// the most).
size_t WorkingMemoryForWidth(int32_t width) {
    const size_t columns = (static_cast<size_t>(width) + 63) & ~size_t{63};
    return 32 * 1024 + 64 * columns;
}

// Huffman and quantisation table slots of a picture.
constexpr int kTableSlots = NUM_HUFF_TBLS;
static_assert(NUM_HUFF_TBLS == NUM_QUANT_TBLS, "one loop resets both kinds of table");

}  // namespace

struct MjpegDecoder::State {
    jpeg_decompress_struct decompressor;
    JumpingErrorManager errors;
    // The image pool's memory, and libjpeg's own memory methods, which keep
    // the permanent pool and the image pool's virtual arrays.
    FrameArena arena;
    jpeg_memory_mgr library_memory;
    // The standard Huffman tables for slots 0 and 1, which apply to a frame
    // that carries none.
    JHUFF_TBL standard_dc[2];
    JHUFF_TBL standard_ac[2];
    // The frame being decoded.
    struct Frame {
        const uint8_t *sample;
        size_t bytes;
        JDIMENSION width;
        JDIMENSION rows;
        uint8_t *destination;
        size_t row_bytes;  // padded
    } frame;
};

namespace {

// The standard tables as the library's own compressor sets them up. False when
// the compressor cannot be made.
bool ReadStandardHuffmanTables(JumpingErrorManager *errors, JHUFF_TBL *dc, JHUFF_TBL *ac) {
    jpeg_compress_struct compressor;
    std::memset(&compressor, 0, sizeof(compressor));
    compressor.err = &errors->base;
    if (setjmp(errors->jump) != 0) {
        jpeg_destroy_compress(&compressor);
        return false;
    }
    jpeg_create_compress(&compressor);
    compressor.in_color_space = JCS_RGB;
    compressor.input_components = 3;
    jpeg_set_defaults(&compressor);
    for (int slot = 0; slot < 2; ++slot) {
        if (compressor.dc_huff_tbl_ptrs[slot] == nullptr || compressor.ac_huff_tbl_ptrs[slot] == nullptr) {
            jpeg_destroy_compress(&compressor);
            return false;
        }
        dc[slot] = *compressor.dc_huff_tbl_ptrs[slot];
        ac[slot] = *compressor.ac_huff_tbl_ptrs[slot];
    }
    jpeg_destroy_compress(&compressor);
    return true;
}

MjpegDecoder::State *StateOf(j_common_ptr info) { return static_cast<MjpegDecoder::State *>(info->client_data); }

// A taken block, or libjpeg's own out-of-memory failure (which jumps out).
void *TakeOrFail(j_common_ptr info, size_t bytes) {
    void *block = StateOf(info)->arena.Take(bytes);
    if (block == nullptr) ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    return block;
}

size_t CountOrFail(j_common_ptr info, size_t a, size_t b) {
    if (b != 0 && a > SIZE_MAX / b) ERREXIT1(info, JERR_OUT_OF_MEMORY, 0);
    return a * b;
}

void *AllocSmall(j_common_ptr info, int pool, size_t bytes) {
    if (pool != JPOOL_IMAGE) return StateOf(info)->library_memory.alloc_small(info, pool, bytes);
    return TakeOrFail(info, bytes);
}

void *AllocLarge(j_common_ptr info, int pool, size_t bytes) {
    if (pool != JPOOL_IMAGE) return StateOf(info)->library_memory.alloc_large(info, pool, bytes);
    return TakeOrFail(info, bytes);
}

// Rows of samples, each rounded up as libjpeg's own pools round them (to 64
// samples), since its vector code may work on whole blocks past a row's end.
JSAMPARRAY AllocSampleRows(j_common_ptr info, int pool, JDIMENSION samples_per_row, JDIMENSION rows) {
    if (pool != JPOOL_IMAGE) return StateOf(info)->library_memory.alloc_sarray(info, pool, samples_per_row, rows);
    constexpr size_t kRowRounding = 64;
    const size_t row_samples = (static_cast<size_t>(samples_per_row) + kRowRounding - 1) & ~(kRowRounding - 1);
    auto *pointers = static_cast<JSAMPARRAY>(TakeOrFail(info, CountOrFail(info, rows, sizeof(JSAMPROW))));
    auto *samples = static_cast<JSAMPROW>(
        TakeOrFail(info, CountOrFail(info, CountOrFail(info, row_samples, sizeof(JSAMPLE)), rows)));
    for (JDIMENSION row = 0; row < rows; ++row) pointers[row] = samples + row * row_samples;
    return pointers;
}

JBLOCKARRAY AllocBlockRows(j_common_ptr info, int pool, JDIMENSION blocks_per_row, JDIMENSION rows) {
    if (pool != JPOOL_IMAGE) return StateOf(info)->library_memory.alloc_barray(info, pool, blocks_per_row, rows);
    auto *pointers = static_cast<JBLOCKARRAY>(TakeOrFail(info, CountOrFail(info, rows, sizeof(JBLOCKROW))));
    auto *blocks = static_cast<JBLOCKROW>(
        TakeOrFail(info, CountOrFail(info, CountOrFail(info, blocks_per_row, sizeof(JBLOCK)), rows)));
    for (JDIMENSION row = 0; row < rows; ++row) pointers[row] = blocks + static_cast<size_t>(row) * blocks_per_row;
    return pointers;
}

// libjpeg frees its own blocks of the pool (virtual arrays), then the arena
// takes back the rest.
void FreePool(j_common_ptr info, int pool) {
    MjpegDecoder::State *state = StateOf(info);
    state->library_memory.free_pool(info, pool);
    if (pool == JPOOL_IMAGE) state->arena.Rewind();
}

bool CreateDecompressor(MjpegDecoder::State *state) {
    jpeg_decompress_struct *decompressor = &state->decompressor;
    std::memset(decompressor, 0, sizeof(*decompressor));
    decompressor->err = &state->errors.base;
    if (setjmp(state->errors.jump) != 0) {
        jpeg_destroy_decompress(decompressor);
        return false;
    }
    jpeg_create_decompress(decompressor);
    decompressor->client_data = state;
    jpeg_memory_mgr *memory = decompressor->mem;
    state->library_memory = *memory;
    memory->alloc_small = AllocSmall;
    memory->alloc_large = AllocLarge;
    memory->alloc_sarray = AllocSampleRows;
    memory->alloc_barray = AllocBlockRows;
    memory->free_pool = FreePool;
    return true;
}

// The decompressor keeps the tables of the previous frame in its slots, and a
// frame that leaves a table out would be decoded with the last one seen.
// Before each frame: Huffman slots 0 and 1 get the standard tables back (what
// an untouched decompressor would apply), slots 2 and 3 become empty (no code
// decodes with them), and every quantisation table is zeroed: a table whose
// DC entry is 0 counts as not defined by this frame (a real one divides by at
// least 1), so that a picture whose first scan uses a table the frame left
// out is refused.
void ResetTables(MjpegDecoder::State *state) {
    jpeg_decompress_struct &d = state->decompressor;
    for (int slot = 0; slot < kTableSlots; ++slot) {
        if (JQUANT_TBL *quant = d.quant_tbl_ptrs[slot]) std::memset(quant->quantval, 0, sizeof(quant->quantval));
        JHUFF_TBL *dc = d.dc_huff_tbl_ptrs[slot];
        JHUFF_TBL *ac = d.ac_huff_tbl_ptrs[slot];
        if (slot < 2) {
            if (dc != nullptr) *dc = state->standard_dc[slot];
            if (ac != nullptr) *ac = state->standard_ac[slot];
        } else {
            if (dc != nullptr) std::memset(dc, 0, sizeof(*dc));
            if (ac != nullptr) std::memset(ac, 0, sizeof(*ac));
        }
    }
}

// True when every component of the first scan uses a quantisation table that
// this frame defined (see ResetTables).
bool FirstScanTablesDefined(const jpeg_decompress_struct &d) {
    for (int i = 0; i < d.comps_in_scan; ++i) {
        const int slot = d.cur_comp_info[i]->quant_tbl_no;
        if (slot < 0 || slot >= NUM_QUANT_TBLS) return false;
        const JQUANT_TBL *quant = d.quant_tbl_ptrs[slot];
        if (quant == nullptr || quant->quantval[0] == 0) return false;
    }
    return true;
}

// The decode proper, after Decode has checked the arguments and set the jump
// point. Rows are handed out bottom row first in memory: picture row y goes
// to memory row rows - 1 - y.
bool DecodeFrame(MjpegDecoder::State *state) {
    jpeg_decompress_struct *d = &state->decompressor;
    const MjpegDecoder::State::Frame &frame = state->frame;
    jpeg_mem_src(d, frame.sample, static_cast<unsigned long>(frame.bytes));
    if (jpeg_read_header(d, TRUE) != JPEG_HEADER_OK) return false;
    // MJPG frames are sequential pictures; a progressive one would keep the
    // whole picture's coefficients in memory and take a pass per scan.
    if (d->progressive_mode || d->image_width != frame.width || d->image_height != frame.rows) return false;
    if (!FirstScanTablesDefined(*d)) return false;
    d->out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(d);
    if (d->output_width != frame.width || d->output_height != frame.rows || d->output_components != 3) return false;

    const JDIMENSION rows = frame.rows;
    const size_t row_bytes = frame.row_bytes;
    const size_t pixel_bytes = static_cast<size_t>(frame.width) * 3;
    if (row_bytes > pixel_bytes) {
        for (JDIMENSION row = 0; row < rows; ++row) {
            std::memset(frame.destination + row * row_bytes + pixel_bytes, 0, row_bytes - pixel_bytes);
        }
    }
    JSAMPROW batch[kRowBatch];
    while (d->output_scanline < rows) {
        const JDIMENSION first = d->output_scanline;
        const JDIMENSION count = rows - first < kRowBatch ? rows - first : kRowBatch;
        for (JDIMENSION k = 0; k < count; ++k) batch[k] = frame.destination + (rows - 1 - (first + k)) * row_bytes;
        // (A memory source never suspends, so no rows means a broken stream.)
        if (jpeg_read_scanlines(d, batch, count) == 0) return false;
    }
    // Reads on to the end marker: a frame cut after its last pixel still fails.
    return jpeg_finish_decompress(d) == TRUE;
}

// The jump point of one frame. Everything the decode needs is in the state
// record, not in locals that a long jump could leave stale.
bool DecodeWithJumpPoint(MjpegDecoder::State *state) {
    if (setjmp(state->errors.jump) != 0) {
        jpeg_abort_decompress(&state->decompressor);
        return false;
    }
    if (DecodeFrame(state)) return true;
    jpeg_abort_decompress(&state->decompressor);
    return false;
}

}  // namespace

MjpegDecoderPtr MjpegDecoder::Create(int32_t frame_width) {
    void *memory = AllocateMemory(sizeof(State));
    if (memory == nullptr) return nullptr;
    State *state = new (memory) State;
    InstallErrorManager(&state->errors);
    if (!ReadStandardHuffmanTables(&state->errors, state->standard_dc, state->standard_ac) ||
        !CreateDecompressor(state)) {
        state->~State();
        FreeMemory(memory);
        return nullptr;
    }
    const bool reserved = frame_width <= 0 || frame_width > 65535 ||
                          state->arena.Reserve(WorkingMemoryForWidth(frame_width));
    void *object = reserved ? AllocateMemory(sizeof(MjpegDecoder)) : nullptr;
    if (object == nullptr) {
        jpeg_destroy_decompress(&state->decompressor);
        state->~State();
        FreeMemory(memory);
        return nullptr;
    }
    return MjpegDecoderPtr(new (object) MjpegDecoder(state));
}

MjpegDecoder::~MjpegDecoder() {
    jpeg_destroy_decompress(&state_->decompressor);
    state_->~State();
    FreeMemory(state_);
}

void MjpegDecoderDeleter::operator()(MjpegDecoder *decoder) const {
    decoder->~MjpegDecoder();
    FreeMemory(decoder);
}

bool MjpegDecoder::Decode(const uint8_t *sample, size_t bytes, int32_t width, int32_t height,
                          uint8_t *destination, size_t destination_bytes) {
    // A JPEG picture is at most 65535 pixels a side; the memory source counts
    // in unsigned long, 32 bits on 64-bit Windows.
    if (sample == nullptr || bytes == 0 || bytes > ULONG_MAX || destination == nullptr) return false;
    const int64_t rows = height < 0 ? -static_cast<int64_t>(height) : height;
    if (width <= 0 || width > 65535 || rows == 0 || rows > 65535) return false;
    const size_t row_bytes = Rgb24RowBytes(width);
    if (static_cast<uint64_t>(row_bytes) * static_cast<uint64_t>(rows) > destination_bytes) return false;

    state_->frame = State::Frame{sample, bytes, static_cast<JDIMENSION>(width), static_cast<JDIMENSION>(rows),
                                 destination, row_bytes};
    ResetTables(state_);
    return DecodeWithJumpPoint(state_);
}

}  // namespace kovic
