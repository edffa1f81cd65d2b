// The contract's devices on Windows: the virtual camera's, registered in the
// Wine prefix by the vcam_devices test fixture.
#include <windows.h>

#include "contract_platform.h"
#include "support/virtual_camera_win32.h"

namespace kovic_contract {

const Platform kPlatform = Platform::kWindows;

void PrepareDevices() { CoInitialize(nullptr); }

void ReleaseDevices() { CoUninitialize(); }

long CountedObjects() { return kovic_test::VirtualCameraObjects(); }

}  // namespace kovic_contract
