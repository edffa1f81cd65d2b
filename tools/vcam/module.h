// Module-wide bookkeeping of the virtual camera DLL: the count of live COM
// objects (filters and enumerators), the server lock count, and the module
// handle. Every function may be called from any thread.
#pragma once

#include "vcam_platform.h"

namespace vcam {

void ObjectCreated();
void ObjectDestroyed();
long LiveObjects();

// biCompression of the format an output pin of this process last connected
// in (0, BI_RGB, before any): what the tests ask the camera it streams.
void NoteConnectedCompression(DWORD compression);
DWORD LastConnectedCompression();

void LockModule();
void UnlockModule();
long ModuleLocks();

HMODULE ModuleHandle();

}  // namespace vcam
