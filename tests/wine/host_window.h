// A host window for the end-to-end tests: a real (message-only) window whose
// window procedure records the library's status texts and frame messages,
// and a message loop to wait for them. One per test, on the test's thread.
#pragma once

#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "kovic.h"

namespace kovic_wine {

// What one KOVIC_MSG_FRAME carried, read from the descriptor when the
// message was dispatched.
struct FrameMessage {
    const FrameDescriptor *descriptor = nullptr;  // wParam
    LPARAM lparam = -1;
    int32_t width = 0;
    int32_t height = 0;
    const unsigned char *data = nullptr;
    int32_t length = 0;
    double sample_time = 0.0;
    uint32_t busy = 0;
    DWORD thread = 0;  // the thread that dispatched the message
};

class HostWindow {
public:
    HostWindow();
    ~HostWindow();
    HostWindow(const HostWindow &) = delete;
    HostWindow &operator=(const HostWindow &) = delete;

    HWND handle() const { return window_; }
    void *as_handle() const { return window_; }

    // Dispatches messages until `done` holds or `timeout_ms` passes; true when done.
    bool PumpUntil(const std::function<bool()> &done, DWORD timeout_ms);
    // Dispatches messages for `ms` milliseconds.
    void PumpFor(DWORD ms);
    // Removes queued frame messages without dispatching them.
    int DiscardQueuedFrames();

    std::vector<std::string> statuses;  // texts of KOVIC_MSG_STATUS, in order
    std::vector<LPARAM> status_lparams;
    std::vector<DWORD> status_threads;
    std::vector<FrameMessage> frames;  // every KOVIC_MSG_FRAME, in order

private:
    static LRESULT CALLBACK Procedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
    HWND window_ = nullptr;
};

}  // namespace kovic_wine
