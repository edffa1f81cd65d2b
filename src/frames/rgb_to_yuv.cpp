#include "frames/rgb_to_yuv.h"

#include <cstddef>
#include <cstdint>

namespace kovic {

RgbToYuvTables g_rgb_to_yuv_tables;

namespace {

// Each product is truncated toward zero by itself: for i in 0..255 every
// product is a multiple of 0.5 or at least 0.0001 from an integer, so the
// result does not depend on the floating-point precision.
uint32_t PackTerms(double y_coefficient, double cb_coefficient, double cr_coefficient, int i) {
    int y = static_cast<int>(y_coefficient * i);
    int cb = static_cast<int>(cb_coefficient * i);
    int cr = static_cast<int>(cr_coefficient * i);
    return (static_cast<uint32_t>(cr & 0xFF) << 20) | (static_cast<uint32_t>(cb & 0xFF) << 10) |
           static_cast<uint32_t>(y);
}

}  // namespace

void BuildRgbToYuvTables() {
    // Full-range BT.601 with the JFIF coefficients.
    for (int i = 0; i < 256; ++i) {
        g_rgb_to_yuv_tables.red[i] = PackTerms(0.299, -0.1687, 0.5, i);
        g_rgb_to_yuv_tables.green[i] = PackTerms(0.587, -0.3313, -0.4187, i);
        g_rgb_to_yuv_tables.blue[i] = PackTerms(0.114, 0.5, -0.0813, i);
    }
}

int ConvertRgb24ToI420(unsigned char *destination, const unsigned char *source, int32_t width, int32_t height,
                       int32_t source_length) {
    if (width <= 0 || height <= 0) return 1;
    if (destination == nullptr || source == nullptr || (width & 1) || (height & 1)) return 0;
    const int64_t pixels = static_cast<int64_t>(width) * height;
    // Compared before multiplying: three bytes a pixel of the largest sizes
    // overflow even 64 bits, and a wrapped count would pass the length test.
    if (pixels > INT32_MAX / 3 || source_length < pixels * 3) return 0;

    const RgbToYuvTables &t = g_rgb_to_yuv_tables;
    const size_t w = static_cast<size_t>(width);
    unsigned char *y_out = destination;
    unsigned char *u_out = destination + pixels;
    unsigned char *v_out = u_out + pixels / 4;
    // Output pixel n takes the source pixel at byte source_length - 3 - 3n: the
    // source is walked backward from its last pixel.
    const unsigned char *s = source + source_length - 3;
    for (int32_t row = 0; row < height; row += 2) {
        for (size_t x = 0; x < w; x += 2) {
            const unsigned char *top_left = s;
            const unsigned char *bottom_left = s - 3 * w;
            uint32_t sum = t.red[top_left[2]] + t.green[top_left[1]] + t.blue[top_left[0]];
            y_out[0] = static_cast<unsigned char>(sum);
            *u_out++ = static_cast<unsigned char>(((sum >> 10) & 0xFF) ^ 0x80);
            *v_out++ = static_cast<unsigned char>(((sum >> 20) & 0xFF) ^ 0x80);
            y_out[w] = static_cast<unsigned char>(t.red[bottom_left[2]] + t.green[bottom_left[1]] +
                                                  t.blue[bottom_left[0]]);
            y_out[1] = static_cast<unsigned char>(t.red[top_left[-1]] + t.green[top_left[-2]] + t.blue[top_left[-3]]);
            y_out[w + 1] = static_cast<unsigned char>(t.red[bottom_left[-1]] + t.green[bottom_left[-2]] +
                                                      t.blue[bottom_left[-3]]);
            s -= 6;
            y_out += 2;
        }
        s -= 3 * w;
        y_out += w;
    }
    return 1;
}

}  // namespace kovic
