// GraphOwner: the session as the steps of its capture graph see it. The host
// window that hears about the graph, the two flags the steps read and set, and
// where their diagnostics go. CaptureSession is the one owner; graph code
// knows it only through this. Host thread only.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>

#include "platform/platform.h"

namespace kovic {

class GraphOwner {
public:
    // Receives "Preview Start" / "Preview Stop" and, through the frame sink,
    // the frame messages.
    HWND host_window = nullptr;
    // 1 once a build has completed; 0 again after the teardown.
    int32_t built = 0;
    // 1 from a run until the next stop; implies built. Atomic: another thread
    // may ask whether the session previews at any time.
    std::atomic<int32_t> previewing{0};

    // Formats a diagnostic with the platform's wvsprintfA rules into the
    // owner's last-error text, replacing what was there; returns 0.
    int ReportError(const char *format, ...);

protected:
    GraphOwner() = default;
    ~GraphOwner() = default;
    GraphOwner(const GraphOwner &) = delete;
    GraphOwner &operator=(const GraphOwner &) = delete;

private:
    // Where the text goes is the owner's: its last-error text.
    virtual void FormatLastError(const char *format, va_list args) = 0;
};

}  // namespace kovic
