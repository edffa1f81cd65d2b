// The frame sink: the grabber's buffer callback on the streaming thread (no
// lock, no allocation after the first frame) and the host's re-arming. An
// RGB24 sample is copied as it is; any other format the library reads is
// converted (or, for MJPG, decoded) into bottom-up RGB24 straight into the
// frame buffer, one pass.
#include "frames/frame_sink.h"

#include <cstring>
#include <new>

#include "platform/atomic_word.h"

namespace kovic {

// The library's own allocator, so that a sink that cannot be allocated can be
// injected on the emulated platform.
FrameSinkPtr FrameSink::Create(HWND host_window) {
    void *memory = AllocateMemory(sizeof(FrameSink));
    if (memory == nullptr) return nullptr;
    // The framework calls the sink's code until the graph and the grabber are
    // gone, so the library's module must outlive it, even if the host frees
    // the library before closing the session.
    LibraryModule module = HoldLibraryModule();
    if (module == nullptr) {
        FreeMemory(memory);
        return nullptr;
    }
    return FrameSinkPtr(new (memory) FrameSink(host_window, module));
}

void FrameSinkDeleter::operator()(FrameSink *sink) const {
    LibraryModule module = sink->module_;
    sink->~FrameSink();
    FreeMemory(sink);
    ReleaseLibraryModule(module);
}

FrameSink::FrameSink(HWND host_window, LibraryModule module) : host_window_(host_window), module_(module) {
    std::memset(&descriptor_, 0, sizeof(descriptor_));
    descriptor_.busy = 1;
}

FrameSink::~FrameSink() { FreeMemory(descriptor_.data); }

HRESULT STDMETHODCALLTYPE FrameSink::QueryInterface(REFIID iid, void **out) {
    if (out == nullptr) return E_POINTER;
    if (IsEqualGUID(iid, IID_ISampleGrabberCB) || IsEqualGUID(iid, IID_IUnknown)) {
        *out = static_cast<ISampleGrabberCB *>(this);
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE FrameSink::SampleCB(double, IMediaSample *) { return S_OK; }

// Streaming thread. A dropped sample costs the one load of the busy flag.
HRESULT STDMETHODCALLTYPE FrameSink::BufferCB(double sample_time, BYTE *buffer, LONG length) {
    if (LoadAcquire(&descriptor_.busy) != 0) return S_OK;
    if (format_ == FrameFormat::kMjpg) {
        DeliverDecoded(sample_time, buffer, length);
        return S_OK;
    }
    if (converting_) {
        DeliverConverted(sample_time, buffer, length);
        return S_OK;
    }
    StoreRelease(&descriptor_.busy, 1);

    // A sample without bytes is a frame of length 0: the host never sees a
    // length that the buffer's content does not back.
    int32_t bytes = (buffer != nullptr && length > 0) ? static_cast<int32_t>(length) : 0;
    // The host finished with the previous frame before it armed the sink, so a
    // longer frame may replace the buffer: no overrun and no torn frame.
    if (descriptor_.data != nullptr && bytes > capacity_.load(std::memory_order_relaxed)) {
        FreeMemory(descriptor_.data);
        descriptor_.data = nullptr;
        capacity_.store(0, std::memory_order_relaxed);
    }
    if (descriptor_.data == nullptr && bytes > 0) {
        descriptor_.data = static_cast<unsigned char *>(AllocateMemory(static_cast<size_t>(bytes)));
        capacity_.store(descriptor_.data != nullptr ? bytes : 0, std::memory_order_relaxed);
    }
    descriptor_.sample_time = sample_time;
    descriptor_.length = bytes;
    if (descriptor_.data != nullptr && bytes > 0) {
        std::memcpy(descriptor_.data, buffer, static_cast<size_t>(bytes));
    }
    // A failed post leaves the sink waiting until the host arms it again.
    PostMessageA(host_window_, KOVIC_MSG_FRAME, reinterpret_cast<WPARAM>(&descriptor_), 0);
    return S_OK;
}

// Streaming thread, armed sink. A sample shorter than its format needs is
// not read at all and leaves the sink armed for the next one; the length the
// host sees is always the whole converted frame's.
void FrameSink::DeliverConverted(double sample_time, const BYTE *buffer, LONG length) {
    if (buffer == nullptr || length <= 0 || source_bytes_ == 0 || static_cast<size_t>(length) < source_bytes_) return;
    StoreRelease(&descriptor_.busy, 1);
    const bool have_buffer = ReserveFrameBuffer();
    descriptor_.sample_time = sample_time;
    descriptor_.length = frame_bytes_;
    if (have_buffer) {
        ConvertFrameToRgb24(format_, buffer, static_cast<size_t>(length), source_width_, source_height_,
                            descriptor_.data, static_cast<size_t>(frame_bytes_));
    }
    PostMessageA(host_window_, KOVIC_MSG_FRAME, reinterpret_cast<WPARAM>(&descriptor_), 0);
}

// Streaming thread, armed sink. Only a frame that decodes completely, to the
// connected size, is delivered; any other sample (truncated or damaged after a
// transfer error, another size, empty) leaves the sink armed for the next one
// and the descriptor as the last delivered frame left it. The decoder reads
// only sample[0, length) and writes only the frame buffer.
void FrameSink::DeliverDecoded(double sample_time, const BYTE *buffer, LONG length) {
    if (buffer == nullptr || length <= 0 || frame_bytes_ == 0 || !decoder_) return;
    // Set before the buffer is touched, as on every delivering path.
    StoreRelease(&descriptor_.busy, 1);
    const unsigned char *held = descriptor_.data;
    if (!ReserveFrameBuffer()) {
        // As for the other formats: a frame without data, tried again at the
        // next delivery.
        descriptor_.sample_time = sample_time;
        descriptor_.length = frame_bytes_;
        PostMessageA(host_window_, KOVIC_MSG_FRAME, reinterpret_cast<WPARAM>(&descriptor_), 0);
        return;
    }
    // A decode that fails leaves part of a picture, so a new buffer starts
    // zeroed: whatever the host reads of it was written by the library.
    if (descriptor_.data != held) std::memset(descriptor_.data, 0, static_cast<size_t>(frame_bytes_));
    if (!decoder_->Decode(buffer, static_cast<size_t>(length), source_width_, source_height_, descriptor_.data,
                          static_cast<size_t>(frame_bytes_))) {
        // The host is not reading the buffer (it armed the sink), and no
        // message is out, so clearing the flag here is the host's own arming
        // handed back; the release orders the decoder's writes before it.
        StoreRelease(&descriptor_.busy, 0);
        return;
    }
    descriptor_.sample_time = sample_time;
    descriptor_.length = frame_bytes_;
    PostMessageA(host_window_, KOVIC_MSG_FRAME, reinterpret_cast<WPARAM>(&descriptor_), 0);
}

bool FrameSink::ReserveFrameBuffer() {
    // Only a sink whose format changed after its first frame can hold a
    // smaller buffer; the host finished with that frame before it armed.
    if (descriptor_.data != nullptr && capacity_.load(std::memory_order_relaxed) < frame_bytes_) {
        FreeMemory(descriptor_.data);
        descriptor_.data = nullptr;
        capacity_.store(0, std::memory_order_relaxed);
    }
    if (descriptor_.data == nullptr) {
        descriptor_.data = static_cast<unsigned char *>(AllocateMemory(static_cast<size_t>(frame_bytes_)));
        capacity_.store(descriptor_.data != nullptr ? frame_bytes_ : 0, std::memory_order_relaxed);
    }
    return descriptor_.data != nullptr;
}

void FrameSink::Arm() { StoreRelease(&descriptor_.busy, 0); }

bool FrameSink::SetFrameFormat(FrameFormat format, int32_t width, int32_t height) {
    format_ = format;
    source_width_ = width;
    source_height_ = height;
    converting_ = format != FrameFormat::kUnknown && format != FrameFormat::kRgb24;
    descriptor_.width = width;
    descriptor_.height = height;
    source_bytes_ = 0;
    frame_bytes_ = 0;
    if (!converting_) return true;
    // Converted frames are bottom-up whatever the source's row order.
    const int32_t rows = height == INT32_MIN ? 0 : (height < 0 ? -height : height);
    descriptor_.height = rows;
    // Made on the host's thread before the graph runs, so that the streaming
    // thread never allocates a decoder; kept for a later MJPG format.
    if (format == FrameFormat::kMjpg && !decoder_) {
        decoder_ = MjpegDecoder::Create();
        if (!decoder_) return false;
    }
    const uint64_t frame_bytes = static_cast<uint64_t>(Rgb24RowBytes(width)) * static_cast<uint64_t>(rows);
    // A size no frame can have delivers nothing.
    if (frame_bytes == 0 || frame_bytes > INT32_MAX) return true;
    if (format == FrameFormat::kMjpg) {
        frame_bytes_ = static_cast<int32_t>(frame_bytes);
        return true;
    }
    const size_t source_bytes = SourceFrameBytes(format, width, rows == 0 ? 0 : height);
    if (source_bytes == 0) return true;
    source_bytes_ = source_bytes;
    frame_bytes_ = static_cast<int32_t>(frame_bytes);
    return true;
}

}  // namespace kovic
