// The 54 header bytes a 24-bit BMP snapshot must begin with, laid out field by
// field: "BM", file size (length + 54), two reserved words, pixel offset 54,
// then the 40-byte information header with the width and signed height, one
// plane, 24 bits a pixel and every other field 0. Any thread.
#pragma once

#include <cstdint>
#include <vector>

namespace walk {

inline std::vector<uint8_t> ExpectedBitmapHeaders(int32_t width, int32_t height, int32_t length) {
    std::vector<uint8_t> h(54, 0);
    auto put = [&h](size_t at, uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) h[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
    };
    h[0] = 'B';
    h[1] = 'M';
    put(2, static_cast<uint32_t>(length) + 54u, 4);
    put(10, 54, 4);
    put(14, 40, 4);
    put(18, static_cast<uint32_t>(width), 4);
    put(22, static_cast<uint32_t>(height), 4);
    put(26, 1, 2);
    put(28, 24, 2);
    return h;
}

}  // namespace walk
