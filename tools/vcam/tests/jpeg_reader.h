// Reads the virtual camera's MJPG frames back for its tests: libjpeg-turbo
// decodes a frame to top-down B, G, R rows, counting every warning (libjpeg
// decodes damaged data with warnings, filling in what it lost), and the
// pattern is read from the result. Any thread; each call owns what it makes.
#pragma once

#include <csetjmp>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <vector>

#include <jpeglib.h>

#include "test_pattern.h"

namespace vcam_test {

struct JpegPicture {
    bool complete = false;  // decoded to the end without an error or a single warning
    int width = 0;
    int height = 0;
    int luma_h_sampling = 0;  // 2 and 1 for 4:2:2
    int luma_v_sampling = 0;
    std::vector<uint8_t> bgr;  // top-down, 3 * width bytes a row; empty after an error
};

namespace internal {
struct ReaderErrors {
    jpeg_error_mgr base;
    jmp_buf jump;
};
inline void ReaderErrorExit(j_common_ptr codec) { longjmp(reinterpret_cast<ReaderErrors *>(codec->err)->jump, 1); }
inline void ReaderQuiet(j_common_ptr) {}

// Fills *picture; only memory behind the pointer changes between the jump
// target and the jump.
inline void ReadJpegInto(const uint8_t *frame, size_t length, JpegPicture *picture) {
    jpeg_decompress_struct codec;
    ReaderErrors errors;
    codec.err = jpeg_std_error(&errors.base);
    errors.base.error_exit = ReaderErrorExit;
    errors.base.output_message = ReaderQuiet;
    jpeg_create_decompress(&codec);
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&codec);
        picture->complete = false;
        picture->bgr.clear();
        return;
    }
    jpeg_mem_src(&codec, frame, static_cast<unsigned long>(length));
    jpeg_read_header(&codec, TRUE);
    picture->width = static_cast<int>(codec.image_width);
    picture->height = static_cast<int>(codec.image_height);
    picture->luma_h_sampling = codec.comp_info[0].h_samp_factor;
    picture->luma_v_sampling = codec.comp_info[0].v_samp_factor;
    codec.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&codec);
    picture->bgr.assign(static_cast<size_t>(picture->width) * picture->height * 3, 0);
    while (codec.output_scanline < codec.output_height) {
        JSAMPROW row = &picture->bgr[static_cast<size_t>(codec.output_scanline) * picture->width * 3];
        jpeg_read_scanlines(&codec, &row, 1);
    }
    jpeg_finish_decompress(&codec);
    picture->complete = errors.base.num_warnings == 0;
    jpeg_destroy_decompress(&codec);
}
}  // namespace internal

inline JpegPicture ReadJpeg(const uint8_t *frame, size_t length) {
    JpegPicture picture;
    internal::ReadJpegInto(frame, length, &picture);
    return picture;
}

inline JpegPicture ReadJpeg(const std::vector<uint8_t> &frame) { return ReadJpeg(frame.data(), frame.size()); }

// The pattern of a decoded picture.
inline vcam::DecodedPattern PatternOf(const JpegPicture &picture) {
    if (picture.bgr.empty()) return {};
    const uint8_t *bgr = picture.bgr.data();
    const size_t stride = static_cast<size_t>(picture.width) * 3;
    return vcam::DecodePattern(
        [=](int x, int y) {
            const uint8_t *p = bgr + static_cast<size_t>(y) * stride + 3 * static_cast<size_t>(x);
            return vcam::LumaOf({p[2], p[1], p[0]});
        },
        picture.width, picture.height);
}

// Whether the frame has a segment of that marker (0xC4 Huffman tables, 0xDB
// quantisation tables) ahead of its first scan.
inline bool HasSegmentBeforeScan(const uint8_t *frame, size_t length, uint8_t marker) {
    size_t at = 2;
    while (at + 4 <= length && frame[at] == 0xFF && frame[at + 1] != 0xDA) {
        if (frame[at + 1] == marker) return true;
        at += 2 + (static_cast<size_t>(frame[at + 2]) << 8 | frame[at + 3]);
    }
    return false;
}

}  // namespace vcam_test
