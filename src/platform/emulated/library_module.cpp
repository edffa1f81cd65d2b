// POSIX: a dlopen reference on libkovic.so (or on the program the library is
// linked into), found from an address of the library's own code. Counted as
// a live platform object and fault-injectable like the other platform calls.
#include <dlfcn.h>

#include "platform/emulated/emu_object.h"
#include "platform/platform.h"

namespace kovic {

LibraryModule HoldLibraryModule() {
    if (FAILED(emu::CheckFault(emu::Call::HoldLibraryModule))) return nullptr;
    Dl_info info;
    if (dladdr(reinterpret_cast<void *>(&HoldLibraryModule), &info) == 0 || info.dli_fname == nullptr) return nullptr;
    void *module = dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD);
    // Linked into a program, the code is the program's, which dlopen does not
    // know by that name; the program is never unloaded, and its handle serves.
    if (module == nullptr) module = dlopen(nullptr, RTLD_NOW);
    if (module == nullptr) return nullptr;
    emu::CountComObject(+1);
    return reinterpret_cast<LibraryModule>(module);
}

void ReleaseLibraryModule(LibraryModule module) {
    if (module == nullptr) return;
    emu::CountComObject(-1);
    dlclose(module);
}

}  // namespace kovic
