// The demo's host window on the emulated platform, and the simulated camera set
// it registers so the whole road of a frame runs on any machine.
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
    emu::SimulatedDevice camera;
    camera.friendly_name = L"Simulated Camera";
    emu::RegisterDevice(camera);
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
