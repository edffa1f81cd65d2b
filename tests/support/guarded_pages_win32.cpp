// Page mapping for guarded test buffers: VirtualAlloc and VirtualProtect.
#include <windows.h>

#include "support/guarded_buffer.h"

namespace kovic_test {

size_t PageSize() {
    SYSTEM_INFO info;
    GetSystemInfo(&info);
    return info.dwPageSize;
}
void *MapPages(size_t bytes) { return VirtualAlloc(nullptr, bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE); }
void ProtectPages(void *at, size_t bytes) {
    DWORD old = 0;
    VirtualProtect(at, bytes, PAGE_NOACCESS, &old);
}
void UnmapPages(void *at, size_t) { VirtualFree(at, 0, MEM_RELEASE); }

}  // namespace kovic_test
