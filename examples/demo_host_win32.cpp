// The demo's host window on Windows: a message-only window and a real message loop.
#include <windows.h>

#include "demo_host.h"
#include "kovic.h"

namespace demo {
namespace {

LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto *handler = reinterpret_cast<MessageHandler *>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (handler != nullptr && message == KOVIC_MSG_STATUS) {
        handler->OnStatus(reinterpret_cast<const char *>(wparam));
        return 0;
    }
    if (handler != nullptr && message == KOVIC_MSG_FRAME) {
        handler->OnFrame(static_cast<uintptr_t>(wparam));
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

void PrepareDevices() {}
std::string PlatformName() { return "Windows"; }

HostWindow::HostWindow(MessageHandler *handler) : handler_(handler) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = Procedure;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "kovic-capture";
    RegisterClassA(&wc);
    HWND window = CreateWindowExA(0, "kovic-capture", "kovic-capture", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  wc.hInstance, nullptr);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(handler_));
    handle_ = window;
}

HostWindow::~HostWindow() { DestroyWindow(static_cast<HWND>(handle_)); }

bool HostWindow::DispatchOne(int timeout_ms) {
    MSG msg;
    DWORD start = GetTickCount();
    for (;;) {
        if (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
            return true;
        }
        DWORD waited = GetTickCount() - start;
        if (waited >= static_cast<DWORD>(timeout_ms)) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(timeout_ms) - waited, QS_ALLINPUT);
    }
}

void HostWindow::Drain() {
    MSG msg;
    while (PeekMessageA(&msg, static_cast<HWND>(handle_), KOVIC_MSG_FRAME, KOVIC_MSG_FRAME, PM_REMOVE)) {
    }
}

}  // namespace demo
