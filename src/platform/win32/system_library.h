// Loading the system's own libraries by name from the system folder only.
// A bare name given to LoadLibraryA is looked for in the program's folder, the
// current folder and the PATH folders as well, so anyone who can put a file of
// that name in one of them could run code in the host. Any thread.
#pragma once

#include "platform/platform.h"

namespace kovic {

// The library `name` from the system folder (and its dependencies from there
// too); null when it is not there. Uses the system-folder search flag where
// the system has it, else the library's full path.
HMODULE LoadSystemLibrary(const char *name);

// The two ways, for systems with and without the search flag.
HMODULE LoadSystemLibraryBySearchFlag(const char *name);
HMODULE LoadSystemLibraryByPath(const char *name);

}  // namespace kovic
