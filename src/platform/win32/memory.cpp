// Windows: the library's own records come from the C runtime heap.
#include <cstdlib>

#include "platform/platform.h"

namespace kovic {

void *AllocateMemory(size_t bytes) { return std::malloc(bytes); }
void FreeMemory(void *block) { std::free(block); }

}  // namespace kovic
