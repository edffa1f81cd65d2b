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

// A counted reference to the module that holds the library's code, so that
// it stays loaded while the framework can still call into it (a registered
// frame sink), even if the host frees the library meanwhile. Null when none
// could be taken. Released from inside the module: that is safe while the
// caller of the export doing it holds a reference of its own.
struct LibraryModuleHandle;
using LibraryModule = LibraryModuleHandle *;
LibraryModule HoldLibraryModule();
void ReleaseLibraryModule(LibraryModule module);

// Where the last component of a file path begins: just after the last folder
// separator (or a drive's colon on Windows); 0 for a bare name.
size_t LeafOffset(const char *path);
// True when the last component names a stream inside a file ("file:stream" on
// Windows) rather than a file; never on platforms without streams.
bool NamesFileStream(const char *path);

}  // namespace kovic
