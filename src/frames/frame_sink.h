// FrameSink: a session's sample-grabber callback. BufferCB runs on the
// framework's streaming thread and takes no lock; Arm and the frame size are
// touched on the host's thread. The busy flag in the embedded descriptor is the
// handshake between the two. Valid until ReleaseGraph deletes it, which happens
// only after the grabber that calls it has been released.
#pragma once

#include <atomic>
#include <memory>

#include "kovic.h"
#include "platform/platform.h"

namespace kovic {

class FrameSink;

// Sole ownership of a sink. Every sink is made by FrameSink::Create and
// destroyed by this deleter: the one place sinks begin and end.
struct FrameSinkDeleter {
    void operator()(FrameSink *sink) const;
};
using FrameSinkPtr = std::unique_ptr<FrameSink, FrameSinkDeleter>;

class FrameSink final : public ISampleGrabberCB {
public:
    // Empty when the sink cannot be allocated, or the library cannot keep its
    // own module loaded for it.
    static FrameSinkPtr Create(HWND host_window);

    // The grabber's references do not govern the sink's life; the session does.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SampleCB(double sample_time, IMediaSample *sample) override;
    HRESULT STDMETHODCALLTYPE BufferCB(double sample_time, BYTE *buffer, LONG length) override;

    // Wants one more frame: clears the busy flag.
    void Arm();
    // Written once per build, before the graph runs.
    void SetFrameSize(int32_t width, int32_t height);
    FrameDescriptor *descriptor() { return &descriptor_; }
    const FrameDescriptor *descriptor() const { return &descriptor_; }
    // Bytes the frame buffer holds (0 before the first frame).
    int32_t buffer_bytes() const { return capacity_.load(std::memory_order_relaxed); }

private:
    friend struct FrameSinkDeleter;
    FrameSink(HWND host_window, LibraryModule module);
    ~FrameSink();

    HWND host_window_;
    FrameDescriptor descriptor_;
    // Bytes the frame buffer holds: fixed by the first frame, grown by a longer one.
    // Written on the streaming thread, read by the host's snapshot check.
    std::atomic<int32_t> capacity_{0};
    // Keeps the library loaded while the sink can be called.
    LibraryModule module_;
};

}  // namespace kovic
