// The BMP snapshot writer: headers laid out byte by byte; an existing file is
// replaced only by a complete one written beside it. Caller's thread.
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

// The three writes of a snapshot, each only after the one before succeeded,
// then the close; true when every byte reached the file and it closed.
bool WriteFrameAndClose(HANDLE file, int32_t width, int32_t height, const unsigned char *data, int32_t length) {
    unsigned char headers[kBitmapHeaderBytes];
    LayOutBitmapHeaders(width, height, length, headers);
    bool ok = WriteAll(file, headers, 14) && WriteAll(file, headers + 14, 40) &&
              (length == 0 || WriteAll(file, data, static_cast<uint32_t>(length)));
    return CloseHandle(file) && ok;
}

// The same open the target gets: write access only and no sharing.
HANDLE OpenForWriting(const char *name, DWORD disposition) {
    return CreateFileA(name, GENERIC_WRITE, 0, nullptr, disposition, 0, nullptr);
}

// Temporary names are "~kv<hex>.tmp" in the target's folder: short, so that a
// target near the path limit still has room for one, and process-wide
// numbered. They are created with CREATE_NEW, so a file that is already there,
// someone else's or another saver's, is never opened: the next number is tried.
constexpr int kTemporaryNameAttempts = 64;
std::atomic<uint32_t> g_temporary_number{0};

HANDLE CreateTemporaryBeside(const char *file_name, char (&temp_name)[MAX_PATH]) {
    const size_t folder_chars = LeafOffset(file_name);
    for (int attempt = 0; attempt < kTemporaryNameAttempts; ++attempt) {
        const int n = std::snprintf(temp_name, sizeof(temp_name), "%.*s~kv%x.tmp", static_cast<int>(folder_chars),
                                    file_name, g_temporary_number.fetch_add(1));
        if (n < 0 || static_cast<size_t>(n) >= sizeof(temp_name)) return INVALID_HANDLE_VALUE;
        HANDLE file = OpenForWriting(temp_name, CREATE_NEW);
        if (file != INVALID_HANDLE_VALUE || GetLastError() != ERROR_FILE_EXISTS) return file;
    }
    return INVALID_HANDLE_VALUE;
}

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
    // The target is opened first as the save would open it, but without
    // truncating it: whatever CreateFileA refuses (a read-only file, a folder,
    // a file held open elsewhere, a bad path) fails here with nothing touched.
    HANDLE target = OpenForWriting(file_name, OPEN_ALWAYS);
    if (target == INVALID_HANDLE_VALUE) return 0;
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    // A type that cannot be told is taken for a plain file, the careful case.
    const DWORD type = GetFileType(target);
    const bool plain_file = (type == FILE_TYPE_DISK || type == FILE_TYPE_UNKNOWN) && !NamesFileStream(file_name);

    if (!existed || !plain_file) {
        // Nothing to keep: a file this save has just created, or a device
        // (NUL, a pipe) or stream that cannot be replaced. Written in place;
        // a failed save removes the file it created.
        const bool ok = WriteFrameAndClose(target, width, height, data, length);
        if (!ok && !existed && plain_file) DeleteFileA(file_name);
        return ok ? 1 : 0;
    }

    // An existing file is kept until a complete replacement is ready beside
    // it. The target is let go first, so the final move can take its name.
    CloseHandle(target);
    char temp_name[MAX_PATH];
    HANDLE temp = CreateTemporaryBeside(file_name, temp_name);
    if (temp == INVALID_HANDLE_VALUE) {
        // No temporary can be made in that folder (the path limit, the
        // folder's rights): the target is rewritten in place, as an ordinary
        // save would, rather than refused.
        target = OpenForWriting(file_name, CREATE_ALWAYS);
        if (target == INVALID_HANDLE_VALUE) return 0;
        return WriteFrameAndClose(target, width, height, data, length) ? 1 : 0;
    }
    bool ok = WriteFrameAndClose(temp, width, height, data, length);
    // Someone who opened the target in the meantime without delete sharing
    // makes the replacement fail, and the old content stays.
    if (ok) ok = MoveFileExA(temp_name, file_name, MOVEFILE_REPLACE_EXISTING) != 0;
    if (!ok) DeleteFileA(temp_name);
    return ok ? 1 : 0;
}

}  // namespace kovic
