// Windows path names: both slashes separate folders, "C:" ends a drive prefix,
// and a colon after that introduces a stream of the file.
#include <cstring>

#include "platform/platform.h"

namespace kovic {
namespace {

bool HasDrivePrefix(const char *path) {
    const char c = path[0];
    return ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) && path[1] == ':';
}

}  // namespace

size_t LeafOffset(const char *path) {
    size_t leaf = HasDrivePrefix(path) ? 2 : 0;
    for (size_t i = leaf; path[i] != '\0'; ++i) {
        if (path[i] == '\\' || path[i] == '/') leaf = i + 1;
    }
    return leaf;
}

bool NamesFileStream(const char *path) { return std::strchr(path + LeafOffset(path), ':') != nullptr; }

}  // namespace kovic
