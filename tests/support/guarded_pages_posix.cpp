// Page mapping for guarded test buffers: mmap and mprotect.
#include <sys/mman.h>
#include <unistd.h>

#include "support/guarded_buffer.h"

namespace kovic_test {

size_t PageSize() { return static_cast<size_t>(sysconf(_SC_PAGESIZE)); }
void *MapPages(size_t bytes) {
    void *p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    return p == MAP_FAILED ? nullptr : p;
}
void ProtectPages(void *at, size_t bytes) { mprotect(at, bytes, PROT_NONE); }
void UnmapPages(void *at, size_t bytes) { munmap(at, bytes); }

}  // namespace kovic_test
