// Writes one frame as an uncompressed 24-bit BMP file. Runs on the caller's
// thread; the frame must stay unchanged during the call (the handshake keeps a
// delivered frame stable until the host re-arms the sink).
#pragma once

#include <cstdint>

namespace kovic {

constexpr uint32_t kBitmapHeaderBytes = 54;

// Lays out the 14-byte file header and the 40-byte information header.
void LayOutBitmapHeaders(int32_t width, int32_t height, int32_t length, unsigned char (&headers)[kBitmapHeaderBytes]);

// 1 when every byte reached the file, else 0. Any name CreateFileA opens for
// writing with no sharing can be saved to, and a name it refuses fails with
// nothing touched. An existing file is replaced only by a complete one,
// written first under a temporary name beside it, so a failed save leaves it
// unchanged; a new file that fails is removed. Devices (NUL) and targets whose
// folder has no room for a temporary name are written in place.
int WriteBitmapFile(const char *file_name, int32_t width, int32_t height, const unsigned char *data, int32_t length);

}  // namespace kovic
