#include "platform/win32/system_library.h"

#include <cstring>

namespace kovic {
namespace {

// The search flags of LoadLibraryEx came with AddDllDirectory (Windows 8, and
// Windows 7 with its loader update); older loaders reject them.
bool LoaderTakesSearchFlags() {
    // The kernel's own module is always loaded, so the lookup loads nothing.
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    return kernel != nullptr && GetProcAddress(kernel, "AddDllDirectory") != nullptr;
}

}  // namespace

HMODULE LoadSystemLibraryBySearchFlag(const char *name) {
    return LoadLibraryExA(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
}

HMODULE LoadSystemLibraryByPath(const char *name) {
    char path[MAX_PATH];
    const UINT folder = GetSystemDirectoryA(path, MAX_PATH);
    const size_t name_chars = std::strlen(name);
    if (folder == 0 || folder >= MAX_PATH || folder + 1 + name_chars >= MAX_PATH) return nullptr;
    path[folder] = '\\';
    std::memcpy(path + folder + 1, name, name_chars + 1);
    // With a full path, the altered search order looks for the library's own
    // dependencies in its folder first, not in the program's.
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

HMODULE LoadSystemLibrary(const char *name) {
    static const bool search_flags = LoaderTakesSearchFlags();
    return search_flags ? LoadSystemLibraryBySearchFlag(name) : LoadSystemLibraryByPath(name);
}

}  // namespace kovic
