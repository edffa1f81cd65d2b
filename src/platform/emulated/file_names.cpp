// POSIX path names: only '/' separates folders, and files have no streams.
#include <cstring>

#include "platform/platform.h"

namespace kovic {

size_t LeafOffset(const char *path) {
    const char *slash = std::strrchr(path, '/');
    return slash == nullptr ? 0 : static_cast<size_t>(slash - path) + 1;
}

bool NamesFileStream(const char *) { return false; }

}  // namespace kovic
