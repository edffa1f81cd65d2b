// Windows: a module reference on kovic.dll (or on the program the library is
// linked into), found from an address of the library's own code.
#include "platform/platform.h"

namespace kovic {

LibraryModule HoldLibraryModule() {
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                            reinterpret_cast<LPCSTR>(reinterpret_cast<void *>(&HoldLibraryModule)), &module)) {
        return nullptr;
    }
    return reinterpret_cast<LibraryModule>(module);
}

void ReleaseLibraryModule(LibraryModule module) {
    if (module != nullptr) FreeLibrary(reinterpret_cast<HMODULE>(module));
}

}  // namespace kovic
