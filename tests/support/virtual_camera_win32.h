// The virtual camera's live filters and enumerators in this process, through
// the count its DLL exports; 0 while COM has not loaded the DLL (nothing of it
// lives then), -1 when the DLL has no such export. Windows only.
#pragma once

#include <windows.h>

namespace kovic_test {

inline long VirtualCameraObjects() {
    HMODULE module = GetModuleHandleA("kovic-vcam.dll");
    if (module == nullptr) return 0;
    using Counter = LONG(WINAPI *)();
    auto counter = reinterpret_cast<Counter>(reinterpret_cast<void *>(GetProcAddress(module, "VcamLiveObjectCount")));
    return counter != nullptr ? counter() : -1;
}

}  // namespace kovic_test
