// The contract's devices on the emulated platform: simulated devices with the
// names and capability lists of the virtual camera's devices
// (tools/vcam/tests/devices.reg), streaming their own frames as it does.
#include "contract_platform.h"

#include "platform/emulated/host_api.h"

namespace kovic_contract {

const Platform kPlatform = Platform::kEmulated;

void PrepareDevices() {
    emu::ResetPlatform();
    emu::SimulatedDevice main;
    main.friendly_name = L"Kovic Test Camera";
    main.clsid_text = L"{C607D6ED-81CF-40BE-B1BF-3887E8C384E9}";
    main.capabilities = {{MEDIASUBTYPE_RGB24, 320, 240}, {MEDIASUBTYPE_I420, 320, 240},
                         {MEDIASUBTYPE_RGB24, 176, -144}, {MEDIASUBTYPE_RGB24, 178, 100},
                         {MEDIASUBTYPE_I420, 640, 480},   {MEDIASUBTYPE_YUY2, 352, 288},
                         {MEDIASUBTYPE_RGB24, 192, 144}};
    main.current_format = {MEDIASUBTYPE_RGB24, 320, 240};
    main.frames_per_second = 30.0;
    main.streams_test_pattern = true;
    emu::RegisterDevice(main);

    emu::SimulatedDevice preview_first = main;
    preview_first.friendly_name = L"Kovic Preview-First Camera";
    preview_first.output_pins = {emu::SourcePin::kPreview, emu::SourcePin::kCapture};
    preview_first.capabilities = {{MEDIASUBTYPE_RGB24, 224, 168}};
    preview_first.current_format = {MEDIASUBTYPE_RGB24, 224, 168};
    emu::RegisterDevice(preview_first);

    CoInitialize(nullptr);
}

void ReleaseDevices() {
    CoUninitialize();
    emu::ResetPlatform();
}

long CountedObjects() { return emu::LiveObjects(); }

}  // namespace kovic_contract
