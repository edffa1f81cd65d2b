// Module-wide bookkeeping of the virtual camera DLL: the count of live COM
// objects (filters and enumerators), the server lock count, and the module
// handle. Every function may be called from any thread.
#pragma once

#include "vcam_platform.h"

namespace vcam {

void ObjectCreated();
void ObjectDestroyed();
long LiveObjects();

void LockModule();
void UnlockModule();
long ModuleLocks();

HMODULE ModuleHandle();

}  // namespace vcam
