// The demo's host window on the emulated platform, and the simulated camera set
// it registers so the whole road of a frame runs on any machine: cameras that
// stream a moving test pattern from their own thread while previewing.
#include "demo_host.h"
#include "kovic.h"
#include "platform/emulated/host_api.h"

namespace demo {
namespace {

LRESULT Procedure(HWND, UINT message, WPARAM wparam, LPARAM, void *context) {
    auto *handler = static_cast<MessageHandler *>(context);
    if (message == KOVIC_MSG_STATUS) handler->OnStatus(reinterpret_cast<const char *>(wparam));
    if (message == KOVIC_MSG_FRAME) handler->OnFrame(static_cast<uintptr_t>(wparam));
    return 0;
}

}  // namespace

void PrepareDevices() {
    // RGB24 and I420 at the usual sizes up to 1920x1080, 30 frames a second.
    emu::SimulatedDevice camera;
    camera.friendly_name = L"Simulated Camera";
    camera.capabilities.clear();
    const int32_t sizes[][2] = {{320, 240}, {640, 480}, {1280, 720}, {1920, 1080}};
    for (const auto &size : sizes) {
        camera.capabilities.push_back({MEDIASUBTYPE_RGB24, size[0], size[1]});
        camera.capabilities.push_back({MEDIASUBTYPE_I420, size[0], size[1]});
    }
    camera.current_format = {MEDIASUBTYPE_RGB24, 640, 480};
    camera.frames_per_second = 30.0;
    camera.streams_test_pattern = true;
    emu::RegisterDevice(camera);

    // A smaller one at 15 frames a second, in RGB24 only.
    emu::SimulatedDevice second;
    second.friendly_name = L"Simulated Camera 2";
    second.clsid_text = L"{A5B1C2D3-0000-4000-8000-000000000002}";
    second.capabilities = {{MEDIASUBTYPE_RGB24, 320, 240}, {MEDIASUBTYPE_RGB24, 640, 480}};
    second.current_format = {MEDIASUBTYPE_RGB24, 320, 240};
    second.frames_per_second = 15.0;
    second.streams_test_pattern = true;
    emu::RegisterDevice(second);
}

std::string PlatformName() { return "emulated platform"; }

HostWindow::HostWindow(MessageHandler *handler) : handler_(handler) {
    handle_ = emu::CreateHostWindow(&Procedure, handler_);
}

HostWindow::~HostWindow() { emu::DestroyHostWindow(static_cast<HWND>(handle_)); }

bool HostWindow::DispatchOne(int timeout_ms) {
    return emu::WaitAndDispatchMessage(static_cast<HWND>(handle_), timeout_ms);
}

void HostWindow::Drain() { emu::PumpMessages(static_cast<HWND>(handle_)); }

}  // namespace demo
