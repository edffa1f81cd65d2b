// RGB24 to I420 conversion. The tables are process state: zero at load, filled
// by KOVICCreate, read-only afterwards, so conversions on different buffers may
// run on any threads at once. A conversion allocates nothing and takes no lock.
#pragma once

#include <cstdint>

namespace kovic {

// Three 256-entry tables; each entry packs a channel's Y, Cb and Cr terms in
// 10-bit fields (bits 0-9, 10-19, 20-29), so one addition chain of three
// entries yields all three sums without one field spilling into the next.
struct RgbToYuvTables {
    uint32_t red[256];
    uint32_t green[256];
    uint32_t blue[256];
};

extern RgbToYuvTables g_rgb_to_yuv_tables;

void BuildRgbToYuvTables();

// True once BuildRgbToYuvTables has filled the tables.
bool RgbToYuvTablesBuilt();

// Converts the last 3 * width * height bytes of `source` (packed B, G, R
// pixels) into I420 at `destination` (width * height * 3 / 2 bytes): output
// pixel n takes the source pixel that begins 3 + 3n bytes before the source's
// end. Returns 1 when converted, and also when width or height is 0 or less
// (nothing is touched); 0, touching nothing, when the call would read or write
// outside its buffers: a null pointer, an odd width or height, a source shorter
// than 3 * width * height bytes, or a frame whose byte count exceeds 32 bits.
// Runs the fastest kernel the processor offers; bit for bit the same as the
// reference below.
int ConvertRgb24ToI420(unsigned char *destination, const unsigned char *source, int32_t width, int32_t height,
                       int32_t source_length);

// The table walk pixel by pixel: the definition the fast kernels are held to.
// Same arguments and results as ConvertRgb24ToI420.
int ConvertRgb24ToI420Reference(unsigned char *destination, const unsigned char *source, int32_t width,
                                int32_t height, int32_t source_length);

// The kernel set ConvertRgb24ToI420 would use now ("C", "SSE2", "SSSE3" or
// "AVX2"), after hidden processor features and before-the-tables are counted.
const char *Rgb24ToI420KernelName();

}  // namespace kovic
