// Emulated host windows: SendMessageA calls the window procedure on the
// caller's thread; PostMessageA queues without blocking and fails when the
// window is gone or its queue is full; the host dispatches queued messages on
// its own thread (PumpMessages, WaitAndDispatchMessage).
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "platform/emulated/emu_object.h"

namespace emu {
namespace {

struct QueuedMessage {
    UINT message;
    WPARAM wparam;
    LPARAM lparam;
};

struct HostWindow {
    WindowProcedure procedure;
    void *context;
    size_t capacity;
    std::deque<QueuedMessage> queue;
    std::condition_variable arrived;
};

std::mutex g_windows_mutex;
std::unordered_map<HWND, std::shared_ptr<HostWindow>> g_windows;
uintptr_t g_next_window = 0x10000;

std::shared_ptr<HostWindow> FindWindow(HWND window) {
    std::lock_guard<std::mutex> lock(g_windows_mutex);
    auto it = g_windows.find(window);
    return it == g_windows.end() ? nullptr : it->second;
}

bool DispatchOne(HWND window, const std::shared_ptr<HostWindow> &w, std::unique_lock<std::mutex> &lock) {
    if (w->queue.empty()) return false;
    QueuedMessage m = w->queue.front();
    w->queue.pop_front();
    lock.unlock();
    w->procedure(window, m.message, m.wparam, m.lparam, w->context);
    lock.lock();
    return true;
}

}  // namespace

HWND CreateHostWindow(WindowProcedure procedure, void *context, size_t queue_capacity) {
    auto w = std::make_shared<HostWindow>();
    w->procedure = procedure;
    w->context = context;
    w->capacity = queue_capacity;
    std::lock_guard<std::mutex> lock(g_windows_mutex);
    HWND handle = reinterpret_cast<HWND>(g_next_window);
    g_next_window += 0x10;
    g_windows.emplace(handle, std::move(w));
    return handle;
}

void DestroyHostWindow(HWND window) {
    std::lock_guard<std::mutex> lock(g_windows_mutex);
    g_windows.erase(window);
}

int PumpMessages(HWND window) {
    auto w = FindWindow(window);
    if (!w) return 0;
    int n = 0;
    std::unique_lock<std::mutex> lock(g_windows_mutex);
    while (DispatchOne(window, w, lock)) ++n;
    return n;
}

bool WaitAndDispatchMessage(HWND window, int timeout_ms) {
    auto w = FindWindow(window);
    if (!w) return false;
    std::unique_lock<std::mutex> lock(g_windows_mutex);
    if (!w->arrived.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return !w->queue.empty(); })) {
        return false;
    }
    return DispatchOne(window, w, lock);
}

size_t QueuedMessages(HWND window) {
    auto w = FindWindow(window);
    if (!w) return 0;
    std::lock_guard<std::mutex> lock(g_windows_mutex);
    return w->queue.size();
}

}  // namespace emu

LRESULT SendMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (FAILED(emu::CheckFault(emu::Call::SendMessage))) return 0;
    auto w = emu::FindWindow(window);
    if (!w) return 0;
    return w->procedure(window, message, wparam, lparam, w->context);
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    std::shared_ptr<emu::HostWindow> w;
    {
        // The call is counted and the message queued under one hold of the
        // windows lock: a host that sees the post counted and then reads the
        // queue (which takes that lock) finds the message already there.
        std::lock_guard<std::mutex> lock(emu::g_windows_mutex);
        if (FAILED(emu::CheckFault(emu::Call::PostMessage))) return FALSE;
        auto it = emu::g_windows.find(window);
        if (it == emu::g_windows.end()) return FALSE;
        w = it->second;
        if (w->queue.size() >= w->capacity) return FALSE;
        w->queue.push_back({message, wparam, lparam});
    }
    w->arrived.notify_one();
    return TRUE;
}
