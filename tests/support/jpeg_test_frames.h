// JPEG frames for tests: a smooth test picture, its encoding with
// libjpeg-turbo (chroma subsampling, optimised Huffman tables, progressive
// mode), and surgery on the encoded stream (segments of one marker taken out).
// Any thread; each call owns what it makes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>  // jpeglib.h needs FILE and size_t declared first
#include <cstdlib>
#include <vector>

#include <jpeglib.h>

namespace kovic_test {

enum class Chroma { k420, k422, k444 };

struct JpegOptions {
    Chroma chroma = Chroma::k420;
    int quality = 95;
    bool optimise_huffman = false;  // tables of the picture's own statistics instead of the standard ones
    bool progressive = false;
};

// A top-down B, G, R picture, 3 * width bytes a row, without padding: blue
// rises and falls left to right, green top to bottom, red along the diagonal,
// each by at most 3 a pixel (so that JPEG's loss stays small even where chroma
// is shared by 2 x 2 pixels), and a picture flipped, mirrored or with its
// channels swapped differs from it by tens.
inline uint8_t TestPictureRamp(int at) {
    const int phase = at % 360;  // 30 up to 210 and back
    return static_cast<uint8_t>(30 + (phase < 180 ? phase : 360 - phase));
}

inline std::vector<uint8_t> TestPicture(int width, int height) {
    std::vector<uint8_t> picture(static_cast<size_t>(width) * height * 3);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            uint8_t *p = &picture[(static_cast<size_t>(y) * width + x) * 3];
            p[0] = TestPictureRamp(3 * x);
            p[1] = TestPictureRamp(3 * y + 40);
            p[2] = TestPictureRamp(2 * (x + y) + 100);
        }
    }
    return picture;
}

// Encodes a top-down B, G, R picture (3 * width bytes a row).
inline std::vector<uint8_t> EncodeJpeg(const std::vector<uint8_t> &picture, int width, int height,
                                       const JpegOptions &options = {}) {
    jpeg_compress_struct compressor;
    jpeg_error_mgr errors;
    compressor.err = jpeg_std_error(&errors);
    jpeg_create_compress(&compressor);
    unsigned char *out = nullptr;
    unsigned long out_bytes = 0;
    jpeg_mem_dest(&compressor, &out, &out_bytes);
    compressor.image_width = static_cast<JDIMENSION>(width);
    compressor.image_height = static_cast<JDIMENSION>(height);
    compressor.input_components = 3;
    compressor.in_color_space = JCS_EXT_BGR;
    jpeg_set_defaults(&compressor);
    jpeg_set_quality(&compressor, options.quality, TRUE);
    compressor.comp_info[0].h_samp_factor = options.chroma == Chroma::k444 ? 1 : 2;
    compressor.comp_info[0].v_samp_factor = options.chroma == Chroma::k420 ? 2 : 1;
    compressor.optimize_coding = options.optimise_huffman ? TRUE : FALSE;
    if (options.progressive) jpeg_simple_progression(&compressor);
    jpeg_start_compress(&compressor, TRUE);
    while (compressor.next_scanline < compressor.image_height) {
        JSAMPROW row = const_cast<uint8_t *>(&picture[static_cast<size_t>(compressor.next_scanline) * width * 3]);
        jpeg_write_scanlines(&compressor, &row, 1);
    }
    jpeg_finish_compress(&compressor);
    jpeg_destroy_compress(&compressor);
    std::vector<uint8_t> jpeg(out, out + out_bytes);
    std::free(out);
    return jpeg;
}

// The stream without the segments of one marker (0xC4 Huffman tables, 0xDB
// quantisation tables) ahead of the first scan, as cameras that leave out the
// standard tables send it.
inline std::vector<uint8_t> WithoutSegments(const std::vector<uint8_t> &jpeg, uint8_t marker) {
    std::vector<uint8_t> out(jpeg.begin(), jpeg.begin() + 2);  // start of image
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF) {
        const uint8_t code = jpeg[at + 1];
        const size_t length = 2 + (static_cast<size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3]);
        if (code == 0xDA) break;  // start of scan: the rest goes as it is
        if (code != marker) out.insert(out.end(), jpeg.begin() + at, jpeg.begin() + at + length);
        at += length;
    }
    out.insert(out.end(), jpeg.begin() + at, jpeg.end());
    return out;
}

// Whether the stream has a segment of that marker ahead of the first scan.
inline bool HasSegment(const std::vector<uint8_t> &jpeg, uint8_t marker) {
    size_t at = 2;
    while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
        if (jpeg[at + 1] == marker) return true;
        at += 2 + (static_cast<size_t>(jpeg[at + 2]) << 8 | jpeg[at + 3]);
    }
    return false;
}

}  // namespace kovic_test
