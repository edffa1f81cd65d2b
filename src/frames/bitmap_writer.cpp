// The BMP snapshot writer: headers laid out byte by byte, the file written
// beside its target and moved into place only when complete. Caller's thread.
#include "frames/bitmap_writer.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace kovic {
namespace {

void PutU16(unsigned char *p, uint16_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
}
void PutU32(unsigned char *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}

// A write counts only when it succeeded and wrote every byte asked for.
bool WriteAll(HANDLE file, const void *data, uint32_t bytes) {
    DWORD written = 0;
    return WriteFile(file, data, bytes, &written, nullptr) && written == bytes;
}

std::atomic<unsigned> g_temp_counter{0};

}  // namespace

void LayOutBitmapHeaders(int32_t width, int32_t height, int32_t length, unsigned char (&headers)[kBitmapHeaderBytes]) {
    std::memset(headers, 0, sizeof(headers));
    // BITMAPFILEHEADER: "BM", file size, reserved, offset of the pixels.
    PutU16(headers + 0, 0x4D42);
    PutU32(headers + 2, static_cast<uint32_t>(length) + kBitmapHeaderBytes);
    PutU32(headers + 10, kBitmapHeaderBytes);
    // BITMAPINFOHEADER: size, width, height (sign kept), planes, bit count;
    // compression, image size, resolution and colour counts stay 0.
    PutU32(headers + 14, 40);
    PutU32(headers + 18, static_cast<uint32_t>(width));
    PutU32(headers + 22, static_cast<uint32_t>(height));
    PutU16(headers + 26, 1);
    PutU16(headers + 28, 24);
}

int WriteBitmapFile(const char *file_name, int32_t width, int32_t height, const unsigned char *data, int32_t length) {
    if (file_name == nullptr || length < 0 || (length > 0 && data == nullptr)) return 0;
    // Beside the target, so the final rename stays within one folder.
    char temp_name[4096];
    int n = std::snprintf(temp_name, sizeof(temp_name), "%s.%u.tmp", file_name, g_temp_counter.fetch_add(1));
    if (n < 0 || static_cast<size_t>(n) >= sizeof(temp_name)) return 0;

    HANDLE file = CreateFileA(temp_name, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    unsigned char headers[kBitmapHeaderBytes];
    LayOutBitmapHeaders(width, height, length, headers);
    bool ok = WriteAll(file, headers, 14) && WriteAll(file, headers + 14, 40) &&
              (length == 0 || WriteAll(file, data, static_cast<uint32_t>(length)));
    ok = CloseHandle(file) && ok;
    // The target is replaced only by a complete file; an open of the target by
    // someone else without delete sharing makes the replacement fail.
    if (ok) ok = MoveFileExA(temp_name, file_name, MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok) DeleteFileA(temp_name);
    return ok ? 1 : 0;
}

}  // namespace kovic
