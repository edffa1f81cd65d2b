// Start-up and the device catalogue exports. Host thread; KOVICCreate must not
// run while another thread reads the catalogue.
#include <cstring>

#include "devices/device_catalogue.h"
#include "frames/rgb_to_yuv.h"
#include "kovic.h"

using namespace kovic;

extern "C" {

KOVIC_API int KOVIC_CALL KOVICCreate(void) {
    // The result is not examined: S_FALSE (already initialised) and
    // RPC_E_CHANGED_MODE (a multithreaded apartment) both leave COM usable.
    CoInitialize(nullptr);
    FreeDevices();
    EnumerateDevices(CLSID_VideoInputDeviceCategory);
    BuildRgbToYuvTables();
    return KOVIC_OK;
}

KOVIC_API int KOVIC_CALL KOVICDestroy(void) { return KOVIC_OK; }

KOVIC_API int KOVIC_CALL KOVICGetVideoDeviceCount(void) { return CountDevices(); }

KOVIC_API int KOVIC_CALL KOVICGetVideoDevice(int index, char *name) {
    if (index >= CountDevices()) return KOVIC_E_DEVICE_INDEX;
    DeviceRecord *record = DeviceAt(index);
    if (record == nullptr) return KOVIC_E_NO_DEVICE_RECORD;
    if (name == nullptr) return 0;
    std::memcpy(name, record->friendly_name, kDeviceNameBytes);
    return KOVIC_OK;
}

}  // extern "C"
