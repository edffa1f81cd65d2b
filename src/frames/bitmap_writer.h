// Writes one frame as an uncompressed 24-bit BMP file. Runs on the caller's
// thread; the frame must stay unchanged during the call (the handshake keeps a
// delivered frame stable until the host re-arms the sink).
#pragma once

#include <cstdint>

namespace kovic {

constexpr uint32_t kBitmapHeaderBytes = 54;

// Lays out the 14-byte file header and the 40-byte information header.
void LayOutBitmapHeaders(int32_t width, int32_t height, int32_t length, unsigned char (&headers)[kBitmapHeaderBytes]);

// 1 when every byte reached the file, else 0. The bytes go to a temporary file
// beside `file_name` that replaces it only once complete, so a failed save
// leaves an existing file unchanged and no partial file behind.
int WriteBitmapFile(const char *file_name, int32_t width, int32_t height, const unsigned char *data, int32_t length);

}  // namespace kovic
