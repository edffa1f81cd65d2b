// RGB24 to I420: the tables, the reference walk, the table-driven row kernels
// and the plane function that runs the vector kernels. The tables are written
// at start-up only; conversions read them from any thread.
#include "frames/rgb_to_yuv.h"

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "frames/rgb_to_i420_rows.h"
#include "platform/cpu_features.h"

namespace kovic {

RgbToYuvTables g_rgb_to_yuv_tables;

namespace {

// Set after the tables are written. The vector kernels compute the terms
// instead of reading the tables, so they may serve only once the tables hold
// what they compute; before that the table-driven kernels give the zero tables'
// Y 0, U 128, V 128.
std::atomic<bool> g_tables_built{false};

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

// The packed sum of one pixel's three entries; `pixel` points at its blue byte.
inline uint32_t PixelSum(const RgbToYuvTables &t, const unsigned char *pixel) {
    return t.red[pixel[2]] + t.green[pixel[1]] + t.blue[pixel[0]];
}

inline unsigned char LumaOf(uint32_t sum) { return static_cast<unsigned char>(sum); }
// The Cb and Cr fields hold the low byte of a signed sum in -127..127; XOR
// with 0x80 on that byte adds 128.
inline unsigned char CbOf(uint32_t sum) { return static_cast<unsigned char>(((sum >> 10) & 0xFF) ^ 0x80); }
inline unsigned char CrOf(uint32_t sum) { return static_cast<unsigned char>(((sum >> 20) & 0xFF) ^ 0x80); }

enum class ArgumentCheck { kConvert, kNothingToDo, kReject };

ArgumentCheck CheckArguments(const unsigned char *destination, const unsigned char *source, int32_t width,
                             int32_t height, int32_t source_length) {
    if (width <= 0 || height <= 0) return ArgumentCheck::kNothingToDo;
    if (destination == nullptr || source == nullptr || (width & 1) || (height & 1)) return ArgumentCheck::kReject;
    const int64_t pixels = static_cast<int64_t>(width) * height;
    // Compared before multiplying by three: for the largest sizes three bytes a
    // pixel overflow even 64 bits, and a wrapped count would pass the length test.
    if (pixels > INT32_MAX / 3 || source_length < pixels * 3) return ArgumentCheck::kReject;
    // The planes are written while the source is still being read, so
    // overlapping buffers would convert bytes already overwritten.
    const uintptr_t source_begin = reinterpret_cast<uintptr_t>(source);
    const uintptr_t source_end = source_begin + static_cast<uint32_t>(source_length);
    const uintptr_t destination_begin = reinterpret_cast<uintptr_t>(destination);
    const uintptr_t destination_end = destination_begin + static_cast<uintptr_t>(pixels / 2 * 3);
    if (destination_begin < source_end && source_begin < destination_end) return ArgumentCheck::kReject;
    return ArgumentCheck::kConvert;
}

}  // namespace

void BuildRgbToYuvTables() {
    // Full-range BT.601 with the JFIF coefficients.
    for (int i = 0; i < 256; ++i) {
        g_rgb_to_yuv_tables.red[i] = PackTerms(0.299, -0.1687, 0.5, i);
        g_rgb_to_yuv_tables.green[i] = PackTerms(0.587, -0.3313, -0.4187, i);
        g_rgb_to_yuv_tables.blue[i] = PackTerms(0.114, 0.5, -0.0813, i);
    }
    g_tables_built.store(true, std::memory_order_release);
}

bool RgbToYuvTablesBuilt() { return g_tables_built.load(std::memory_order_acquire); }

int ConvertRgb24ToI420Reference(unsigned char *destination, const unsigned char *source, int32_t width,
                                int32_t height, int32_t source_length) {
    switch (CheckArguments(destination, source, width, height, source_length)) {
    case ArgumentCheck::kNothingToDo: return 1;
    case ArgumentCheck::kReject: return 0;
    case ArgumentCheck::kConvert: break;
    }
    const RgbToYuvTables &t = g_rgb_to_yuv_tables;
    const size_t w = static_cast<size_t>(width);
    const size_t pixels = w * static_cast<size_t>(height);
    unsigned char *y_out = destination;
    unsigned char *u_out = destination + pixels;
    unsigned char *v_out = u_out + pixels / 4;
    // Output pixel n takes the source pixel at byte source_length - 3 - 3n: the
    // source is walked backward from its last pixel, one 2 x 2 block at a time.
    const unsigned char *s = source + source_length - 3;
    for (int32_t row = 0; row < height; row += 2) {
        for (size_t x = 0; x < w; x += 2) {
            const unsigned char *top_left = s;
            const unsigned char *bottom_left = s - 3 * w;
            const uint32_t sum = PixelSum(t, top_left);
            y_out[0] = LumaOf(sum);
            *u_out++ = CbOf(sum);
            *v_out++ = CrOf(sum);
            y_out[w] = LumaOf(PixelSum(t, bottom_left));
            y_out[1] = LumaOf(PixelSum(t, top_left - 3));
            y_out[w + 1] = LumaOf(PixelSum(t, bottom_left - 3));
            s -= 6;
            y_out += 2;
        }
        s -= 3 * w;
        y_out += w;
    }
    return 1;
}

void Rgb24ToYuvRow_C(const uint8_t *source, uint8_t *y, uint8_t *u, uint8_t *v, int width) {
    const RgbToYuvTables &t = g_rgb_to_yuv_tables;
    const uint8_t *s = source + 3 * (width - 1);
    for (int x = 0; x < width; x += 2, s -= 6) {
        const uint32_t sum = PixelSum(t, s);
        y[x] = LumaOf(sum);
        *u++ = CbOf(sum);
        *v++ = CrOf(sum);
        y[x + 1] = LumaOf(PixelSum(t, s - 3));
    }
}

void Rgb24ToYRow_C(const uint8_t *source, uint8_t *y, int width) {
    const RgbToYuvTables &t = g_rgb_to_yuv_tables;
    const uint8_t *s = source + 3 * (width - 1);
    for (int x = 0; x < width; ++x, s -= 3) y[x] = LumaOf(PixelSum(t, s));
}

Rgb24ToI420Kernels TableRgb24ToI420Kernels() { return {Rgb24ToYuvRow_C, Rgb24ToYRow_C, 1, "C"}; }

namespace {

Rgb24ToI420Kernels CurrentKernels() {
    if (!RgbToYuvTablesBuilt()) return TableRgb24ToI420Kernels();
    return SelectRgb24ToI420Kernels(CpuFeatures());
}

}  // namespace

const char *Rgb24ToI420KernelName() { return CurrentKernels().name; }

int ConvertRgb24ToI420(unsigned char *destination, const unsigned char *source, int32_t width, int32_t height,
                       int32_t source_length) {
    switch (CheckArguments(destination, source, width, height, source_length)) {
    case ArgumentCheck::kNothingToDo: return 1;
    case ArgumentCheck::kReject: return 0;
    case ArgumentCheck::kConvert: break;
    }
    const Rgb24ToI420Kernels kernels = CurrentKernels();
    const size_t w = static_cast<size_t>(width);
    const size_t rows = static_cast<size_t>(height);
    const size_t pixels = w * rows;
    // Output row r is source row rows - 1 - r of the frame's last
    // 3 * width * height bytes, read from right to left.
    const uint8_t *frame = source + (static_cast<size_t>(source_length) - 3 * pixels);
    const int bulk = width - width % kernels.step;
    const int tail = width - bulk;
    uint8_t *u = destination + pixels;
    uint8_t *v = u + pixels / 4;
    for (size_t r = 0; r < rows; ++r) {
        const uint8_t *row = frame + 3 * w * (rows - 1 - r);
        uint8_t *y = destination + w * r;
        // The bulk takes the row's right-hand source pixels (the output's left);
        // the tail the pixels at the row's start.
        if ((r & 1) == 0) {
            if (bulk > 0) kernels.yuv_row(row + 3 * tail, y, u, v, bulk);
            if (tail > 0) Rgb24ToYuvRow_C(row, y + bulk, u + bulk / 2, v + bulk / 2, tail);
            u += w / 2;
            v += w / 2;
        } else {
            if (bulk > 0) kernels.y_row(row + 3 * tail, y, bulk);
            if (tail > 0) Rgb24ToYRow_C(row, y + bulk, tail);
        }
    }
    return 1;
}

}  // namespace kovic
