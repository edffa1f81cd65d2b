// The one header the library includes for COM, DirectShow and Win32: the
// SDK's declarations on Windows, the emulated platform's everywhere else.
#pragma once

#if defined(_WIN32)
#include "platform/win32/win32_platform.h"
#else
#include "platform/emulated/com_interfaces.h"
#endif

#include <cstddef>

namespace kovic {

// The library's own records and buffers are allocated here, so that an
// allocation failure can be injected on the emulated platform. Null on failure.
void *AllocateMemory(size_t bytes);
void FreeMemory(void *block);

}  // namespace kovic
