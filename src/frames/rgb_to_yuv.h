// RGB24 to I420 conversion, table-driven. The tables are process state: zero at
// load, filled once by KOVICCreate, read-only afterwards, so conversions on
// different buffers may run on any threads at once.
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

// 1 when converted (or nothing to convert: width or height 0 or less), 0 when
// the arguments would read or write outside their buffers.
int ConvertRgb24ToI420(unsigned char *destination, const unsigned char *source, int32_t width, int32_t height,
                       int32_t source_length);

}  // namespace kovic
