// Emulated: the library's own allocations can be made to fail on demand.
#include <cstdlib>

#include "platform/emulated/emu_object.h"
#include "platform/platform.h"

namespace kovic {

void *AllocateMemory(size_t bytes) {
    if (FAILED(emu::CheckFault(emu::Call::LibraryAlloc))) return nullptr;
    return std::malloc(bytes);
}
void FreeMemory(void *block) { std::free(block); }

}  // namespace kovic
