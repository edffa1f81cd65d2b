// What the demo needs of its platform: the capture devices it offers and a host
// window with a message loop. demo_host_win32.cpp uses real windows and the
// machine's cameras; demo_host_emulated.cpp registers a simulated camera set
// and uses the emulated platform's host windows.
#pragma once

#include <cstdint>
#include <string>

namespace demo {

// Called on the thread that pumps the window's messages.
struct MessageHandler {
    virtual void OnStatus(const char *text) = 0;
    virtual void OnFrame(uintptr_t descriptor_address) = 0;

protected:
    ~MessageHandler() = default;
};

// Registers the devices the platform simulates (nothing where real devices exist).
void PrepareDevices();
std::string PlatformName();

class HostWindow {
public:
    explicit HostWindow(MessageHandler *handler);
    ~HostWindow();
    HostWindow(const HostWindow &) = delete;
    HostWindow &operator=(const HostWindow &) = delete;
    void *handle() const { return handle_; }
    // Waits up to timeout_ms for one message and dispatches it; false on timeout.
    bool DispatchOne(int timeout_ms);
    // Dispatches or drops whatever is still queued (after preview has stopped).
    void Drain();

private:
    void *handle_ = nullptr;
    MessageHandler *handler_;
};

}  // namespace demo
