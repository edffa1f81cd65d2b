// The test host window: records messages on the test's own thread.
#include "host_window.h"

namespace kovic_wine {
namespace {

const char kClassName[] = "KovicWineTestHost";

void RegisterHostClass() {
    static bool registered = false;
    if (registered) return;
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = DefWindowProcA;  // replaced per window below
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.lpszClassName = kClassName;
    registered = RegisterClassA(&window_class) != 0;
}

}  // namespace

HostWindow::HostWindow() {
    RegisterHostClass();
    // A message-only window: Wine without a display creates no top-level
    // window, and the library only sends and posts to the handle.
    window_ = CreateWindowExA(0, kClassName, "kovic test host", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
    if (window_ != nullptr) {
        SetWindowLongPtrA(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        SetWindowLongPtrA(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&HostWindow::Procedure));
    }
}

HostWindow::~HostWindow() {
    if (window_ != nullptr) DestroyWindow(window_);
    // Whatever is still queued for the window goes with it.
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    }
}

LRESULT CALLBACK HostWindow::Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto *host = reinterpret_cast<HostWindow *>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (host != nullptr && message == KOVIC_MSG_STATUS) {
        host->statuses.emplace_back(reinterpret_cast<const char *>(wparam));
        host->status_lparams.push_back(lparam);
        host->status_threads.push_back(GetCurrentThreadId());
        return 0;
    }
    if (host != nullptr && message == KOVIC_MSG_FRAME) {
        FrameMessage frame;
        frame.descriptor = reinterpret_cast<const FrameDescriptor *>(wparam);
        frame.lparam = lparam;
        frame.width = frame.descriptor->width;
        frame.height = frame.descriptor->height;
        frame.data = frame.descriptor->data;
        frame.length = frame.descriptor->length;
        frame.sample_time = frame.descriptor->sample_time;
        frame.busy = frame.descriptor->busy;
        frame.thread = GetCurrentThreadId();
        host->frames.push_back(frame);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

bool HostWindow::PumpUntil(const std::function<bool()> &done, DWORD timeout_ms) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
            if (done()) return true;
        }
        if (done()) return true;
        DWORD elapsed = GetTickCount() - start;
        if (elapsed >= timeout_ms) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, timeout_ms - elapsed, QS_ALLINPUT);
    }
}

void HostWindow::PumpFor(DWORD ms) {
    PumpUntil([] { return false; }, ms);
}

int HostWindow::DiscardQueuedFrames() {
    int discarded = 0;
    MSG message;
    while (PeekMessageA(&message, window_, KOVIC_MSG_FRAME, KOVIC_MSG_FRAME, PM_REMOVE)) ++discarded;
    return discarded;
}

}  // namespace kovic_wine
