// A plain RGB24 to I420 conversion to check the library's against, worked
// pixel by pixel from the colour formula (each product truncated toward zero
// by itself, no rounding): output pixel n takes the source pixel that begins
// at byte length - 3 - 3n, and each 2 x 2 block's U and V come from its
// top-left output pixel. No tables and no state; any thread.
#pragma once

#include <cstddef>
#include <cstdint>

namespace walk {

// Whether the library is asked for a conversion it can do inside the buffers:
// positive even sizes and a source of at least 3 * width * height bytes.
inline bool I420ArgumentsValid(int width, int height, int64_t source_length) {
    if (width <= 0 || height <= 0 || (width & 1) || (height & 1)) return false;
    const int64_t pixels = int64_t{width} * height;
    return pixels <= INT32_MAX / 3 && source_length >= 3 * pixels;
}

inline size_t I420Bytes(int width, int height) {
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    return pixels + 2 * (pixels / 4);
}

inline void ReferenceI420(uint8_t *destination, const uint8_t *source, int width, int height, int source_length) {
    const size_t w = static_cast<size_t>(width);
    const size_t pixels = w * static_cast<size_t>(height);
    uint8_t *u_plane = destination + pixels;
    uint8_t *v_plane = u_plane + pixels / 4;
    auto term = [](double coefficient, int value) { return static_cast<int>(coefficient * value); };
    for (size_t y = 0; y < static_cast<size_t>(height); ++y) {
        for (size_t x = 0; x < w; ++x) {
            const size_t n = y * w + x;
            const uint8_t *p = source + static_cast<size_t>(source_length) - 3 - 3 * n;
            const int b = p[0], g = p[1], r = p[2];
            destination[n] = static_cast<uint8_t>(term(0.299, r) + term(0.587, g) + term(0.114, b));
            if (x % 2 == 0 && y % 2 == 0) {
                const size_t block = (y / 2) * (w / 2) + x / 2;
                u_plane[block] = static_cast<uint8_t>(128 + term(-0.1687, r) + term(-0.3313, g) + term(0.5, b));
                v_plane[block] = static_cast<uint8_t>(128 + term(0.5, r) + term(-0.4187, g) + term(-0.0813, b));
            }
        }
    }
}

}  // namespace walk
