// kovic.dll's entry point. Loading the DLL does nothing of its own; a
// FreeLibrary that unloads it frees the device catalogue, which otherwise
// lives until the process ends, so that a host that loads and frees the DLL
// again and again leaks nothing. At process exit nothing is freed: the
// process's end reclaims it, and other DLLs may already be gone.
#include "devices/device_catalogue.h"
#include "platform/platform.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
    if (reason == DLL_PROCESS_DETACH && reserved == nullptr) kovic::FreeDevices();
    return TRUE;
}
