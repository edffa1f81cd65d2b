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

// The four-character code of the format the virtual camera's output pin last
// connected in (BI_RGB, 0, for RGB formats and before any); ~0 while its DLL
// is not loaded or has no such export.
inline DWORD VirtualCameraConnectedCompression() {
    HMODULE module = GetModuleHandleA("kovic-vcam.dll");
    if (module == nullptr) return ~DWORD{0};
    using Reader = DWORD(WINAPI *)();
    auto read = reinterpret_cast<Reader>(reinterpret_cast<void *>(GetProcAddress(module, "VcamConnectedCompression")));
    return read != nullptr ? read() : ~DWORD{0};
}

}  // namespace kovic_test
