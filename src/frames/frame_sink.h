// FrameSink: a session's sample-grabber callback. BufferCB runs on the
// framework's streaming thread and takes no lock; Arm and the frame format are
// touched on the host's thread (the format before the graph runs). The busy
// flag in the embedded descriptor is the handshake between the two. Valid until ReleaseGraph deletes it, which happens
// only after the grabber that calls it has been released.
#pragma once

#include <atomic>
#include <memory>

#include "frames/frame_to_rgb24.h"
#include "frames/mjpeg_decoder.h"
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
    // Written once per build, before the graph runs: the connected format and
    // its size as the format block stores it. RGB24 (and a sink never told,
    // or told kUnknown) copies each delivered sample as it is, the height's
    // sign kept. The other formats are converted (MJPG: decoded) into
    // bottom-up RGB24 frames of Rgb24RowBytes(width) * |height| bytes,
    // described with a positive height; a sample too short for its format, or
    // an MJPG sample that does not decode completely to that size, is not
    // delivered and leaves the sink armed. For MJPG the sink makes its one
    // decoder here; false when it cannot (memory), and the sink then delivers
    // nothing. True otherwise.
    bool SetFrameFormat(FrameFormat format, int32_t width, int32_t height);
    FrameDescriptor *descriptor() { return &descriptor_; }
    const FrameDescriptor *descriptor() const { return &descriptor_; }
    // Bytes the frame buffer holds (0 before the first frame).
    int32_t buffer_bytes() const { return capacity_.load(std::memory_order_relaxed); }

private:
    friend struct FrameSinkDeleter;
    FrameSink(HWND host_window, LibraryModule module);
    ~FrameSink();

    // The converted path of BufferCB, for any format but RGB24 and MJPG.
    void DeliverConverted(double sample_time, const BYTE *buffer, LONG length);
    // The decoded path of BufferCB, for MJPG.
    void DeliverDecoded(double sample_time, const BYTE *buffer, LONG length);
    // Makes sure the frame buffer holds frame_bytes_ (armed sink, streaming
    // thread); false when it cannot be allocated.
    bool ReserveFrameBuffer();

    HWND host_window_;
    FrameDescriptor descriptor_;
    // Fixed before the graph runs; read on the streaming thread.
    FrameFormat format_ = FrameFormat::kUnknown;
    bool converting_ = false;
    int32_t source_width_ = 0;
    int32_t source_height_ = 0;  // as the format block stores it
    size_t source_bytes_ = 0;    // a sample shorter than this is not delivered
    int32_t frame_bytes_ = 0;    // the converted frame: padded RGB24 row * rows
    // MJPG only: made by SetFrameFormat, used by the streaming thread alone.
    MjpegDecoderPtr decoder_;
    // Bytes the frame buffer holds: fixed by the first frame, grown by a longer one.
    // Written on the streaming thread, read by the host's snapshot check.
    std::atomic<int32_t> capacity_{0};
    // Keeps the library loaded while the sink can be called.
    LibraryModule module_;
};

}  // namespace kovic
