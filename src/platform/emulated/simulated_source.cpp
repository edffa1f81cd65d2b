// The source filter a simulated device's moniker binds to: its output pins
// (capture, and preview where the device has one), the capture pin's
// IAMStreamConfig over the device's capability list and current format, and
// the delivery of samples down the connected pins, and the streaming thread of
// a device that makes its own frames. Each bind makes a new filter that starts
// from the device's current format. Formats change on the host's thread;
// Deliver runs on whichever thread pushes samples, one at a time; the
// streaming thread lives from a run to the next stop, pause or destruction,
// each of which joins it before returning.
#include "platform/emulated/simulated_source.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/emulated/graph_model.h"
#include "platform/emulated/test_pattern.h"
#include "platform/emulated/test_pattern_jpeg.h"

namespace emu {
namespace {

// VIDEO_STREAM_CONFIG_CAPS, the capability block GetStreamCaps fills.
struct SizeRecord {
    LONG cx, cy;
};
struct VideoStreamConfigCaps {
    GUID guid;
    ULONG VideoStandard;
    SizeRecord InputSize, MinCroppingSize, MaxCroppingSize;
    int CropGranularityX, CropGranularityY, CropAlignX, CropAlignY;
    SizeRecord MinOutputSize, MaxOutputSize;
    int OutputGranularityX, OutputGranularityY, StretchTapsX, StretchTapsY, ShrinkTapsX, ShrinkTapsY;
    LONGLONG MinFrameInterval, MaxFrameInterval;
    LONG MinBitsPerSecond, MaxBitsPerSecond;
};
static_assert(sizeof(VideoStreamConfigCaps) == 128, "VIDEO_STREAM_CONFIG_CAPS is 128 bytes");

const GUID &CategoryOf(SourcePin role) {
    return role == SourcePin::kCapture ? PIN_CATEGORY_CAPTURE : PIN_CATEGORY_PREVIEW;
}

class SimulatedSource;

// An output pin of the source. Both pins answer for the device's stream
// configuration, which they share, as a capture device's pins do: they
// deliver the same frames.
class SourceOutputPin final : public EmuPin, public IAMStreamConfig {
public:
    SourceOutputPin(SimulatedSource *source, SourcePin role);

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override { return Query(iid, out, true); }
    ULONG STDMETHODCALLTYPE AddRef() override { return EmuPin::AddRef(); }
    ULONG STDMETHODCALLTYPE Release() override { return EmuPin::Release(); }
    HRESULT Query(REFIID iid, void **out, bool injectable) override;
    HRESULT QueryAny(REFIID iid, void **out, bool injectable) {
        IUnknown *pin = static_cast<IPin *>(this);
        return QueryTable(iid, out,
                          {{&IID_IUnknown, pin}, {&IID_IPin, pin}, {&IID_IAMStreamConfig, static_cast<IAMStreamConfig *>(this)}},
                          injectable);
    }

    std::vector<MediaTypeRecord> OfferedTypes() const override;
    std::vector<MediaTypeRecord> EnumeratedTypes() const override;
    bool WillConnectTo(const EmuPin &input) const override;

    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE **type) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int *count, int *size) override;
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE **type, BYTE *caps) override;

    SourcePin role() const { return role_; }

private:
    SimulatedSource *source_;
    SourcePin role_;
};

class SimulatedSource final : public EmuFilter {
public:
    explicit SimulatedSource(std::shared_ptr<const SimulatedDevice> device)
        : EmuFilter(device->friendly_name), device_(std::move(device)) {
        for (const SimulatedFormat &f : device_->capabilities) {
            capabilities_.push_back(MediaTypeRecord::FromFormat(f, device_->frames_per_second));
            capability_formats_.push_back(f);
        }
        current_ = MediaTypeRecord::FromFormat(device_->current_format, device_->frames_per_second);
        for (SourcePin role : device_->output_pins) AddPin(std::make_unique<SourceOutputPin>(this, role));
    }

    const SimulatedDevice &device() const { return *device_; }
    const std::vector<MediaTypeRecord> &capabilities() const { return capabilities_; }
    const SimulatedFormat &capability_format(size_t i) const { return capability_formats_[i]; }
    const MediaTypeRecord &current_format() const { return current_; }

    // A format is taken when it is one of the capabilities: same subtype,
    // format type and block size, and the same size where the block holds one.
    // Anything else is refused with E_FAIL, the code a capture device's stream
    // configuration gives for it on Windows.
    HRESULT ChangeFormat(const AM_MEDIA_TYPE &type) {
        for (size_t i = 0; i < pin_count(); ++i) {
            if (pin(i)->peer() != nullptr) return VFW_E_ALREADY_CONNECTED;
        }
        MediaTypeRecord wanted = MediaTypeRecord::From(type);
        int32_t w = 0, h = 0;
        bool sized = wanted.ReadSize(&w, &h);
        bool offered = false;
        for (const MediaTypeRecord &cap : capabilities_) {
            int32_t cw = 0, ch = 0;
            if (IsEqualGUID(cap.majortype, wanted.majortype) && IsEqualGUID(cap.subtype, wanted.subtype) &&
                IsEqualGUID(cap.formattype, wanted.formattype) && cap.format.size() == wanted.format.size() &&
                (!sized || (cap.ReadSize(&cw, &ch) && cw == w && ch == h))) {
                offered = true;
                break;
            }
        }
        if (!offered) return E_FAIL;
        if (!device_->set_format_ignored) {
            current_ = wanted;
            format_chosen_ = true;
        }
        return S_OK;
    }

    // What an output pin enumerates: the current format first and, until a
    // format was set, every other capability after it.
    std::vector<MediaTypeRecord> EnumeratedTypes() const {
        if (device_->enumerates_capabilities_only) return capabilities_;
        std::vector<MediaTypeRecord> types{current_};
        if (format_chosen_) return types;
        for (const MediaTypeRecord &cap : capabilities_) {
            if (!cap.SameAs(current_)) types.push_back(cap);
        }
        return types;
    }

    // A pin that reports no category is found by no request with one.
    HRESULT FindPinInterface(const GUID *category, const GUID *type, REFIID iid, void **out) override {
        if (!device_->pins_report_category) return E_NOINTERFACE;
        for (size_t i = 0; i < pin_count(); ++i) {
            auto *p = static_cast<SourceOutputPin *>(pin(i));
            if (!IsEqualGUID(*category, CategoryOf(p->role()))) continue;
            if (type != nullptr && !AnswersFor(*type)) continue;
            HRESULT hr = p->Query(iid, out, false);
            if (SUCCEEDED(hr)) return hr;
        }
        return E_NOINTERFACE;
    }

    ~SimulatedSource() override { StopStreaming(); }

    // Stopping waits for a delivery in progress, so no sample reaches the
    // chain once the stop has returned. (A stop from inside that delivery's
    // own callback would wait for itself, as it deadlocks on Windows.) A live
    // source delivers only while running: a pause ends its stream too.
    void SetState(GraphState state) override {
        if (state != GraphState::kRunning) StopStreaming();
        EmuFilter::SetState(state);
        if (state == GraphState::kStopped) std::lock_guard<std::mutex> wait(streaming_);
        if (state == GraphState::kRunning) StartStreaming();
    }

    // Every sample, pushed or made by the streaming thread, comes through here.
    HRESULT Deliver(REFERENCE_TIME start, const BYTE *data, LONG length) {
        std::lock_guard<std::mutex> lock(streaming_);
        if (state() == GraphState::kStopped) return VFW_E_WRONG_STATE;
        HRESULT result = VFW_E_NOT_CONNECTED;
        for (size_t i = 0; i < pin_count(); ++i) {
            if (pin(i)->peer() == nullptr) continue;
            HRESULT hr = PassDownstream(pin(i), start, data, length);
            if (result == VFW_E_NOT_CONNECTED || FAILED(hr)) result = hr;
        }
        return result;
    }

private:
    // A device that makes its own frames starts a thread for this run, drawing
    // in the format its connected pin agreed on (connections only change while
    // the graph is stopped, so the format holds for the whole run).
    void StartStreaming() {
        if (!device_->streams_test_pattern || !(device_->frames_per_second > 0) || streamer_.joinable()) return;
        const EmuPin *connected = nullptr;
        for (size_t i = 0; i < pin_count() && connected == nullptr; ++i) {
            if (pin(i)->peer() != nullptr) connected = pin(i);
        }
        if (connected == nullptr) return;
        SimulatedFormat format{connected->connected_type().subtype, 0, 0};
        if (!connected->connected_type().ReadSize(&format.width, &format.height)) return;
        std::unique_ptr<TestPattern> pattern;
        std::unique_ptr<TestPatternJpeg> jpeg;
        size_t frame_bytes = 0;
        if (IsEqualGUID(format.subtype, MEDIASUBTYPE_MJPG)) {
            jpeg = std::make_unique<TestPatternJpeg>(format, device_->jpeg_huffman_tables);
            frame_bytes = jpeg->capacity();
        } else {
            pattern = std::make_unique<TestPattern>(format);
            frame_bytes = pattern->frame_bytes();
        }
        if (frame_bytes == 0 || frame_bytes > static_cast<size_t>(INT32_MAX)) return;
        // From 100 ns (the unit of sample times) to ten minutes a frame.
        const double interval = std::min(std::max(10000000.0 / device_->frames_per_second, 1.0), 6e9);
        const auto interval_100ns = static_cast<REFERENCE_TIME>(interval);
        stop_streaming_ = false;
        streamer_ = std::thread(&SimulatedSource::Stream, this, std::move(pattern), std::move(jpeg), frame_bytes,
                                interval_100ns);
    }

    void StopStreaming() {
        if (!streamer_.joinable()) return;
        {
            std::lock_guard<std::mutex> lock(wake_mutex_);
            stop_streaming_ = true;
        }
        wake_.notify_all();
        streamer_.join();
    }

    // The streaming thread: frame n is due n intervals after the run began. A
    // thread that falls behind (a frame that took longer than the interval to
    // pass) goes on from the present rather than catching up in a burst, as a
    // device that misses its slots does.
    // An MJPG device encodes each frame into the same buffer and delivers the
    // picture's own length.
    void Stream(std::unique_ptr<TestPattern> pattern, std::unique_ptr<TestPatternJpeg> jpeg, size_t frame_bytes,
                REFERENCE_TIME interval_100ns) {
        std::vector<BYTE> frame(frame_bytes);
        const auto period = std::chrono::nanoseconds(interval_100ns * 100);
        auto due = std::chrono::steady_clock::now();
        for (uint32_t n = 0;; ++n) {
            {
                std::unique_lock<std::mutex> lock(wake_mutex_);
                if (wake_.wait_until(lock, due, [this] { return stop_streaming_; })) return;
            }
            size_t length = frame.size();
            if (jpeg) {
                length = jpeg->Encode(n, frame.data(), frame.size());
                length = CorruptJpegFrame(n, device_->corrupt_jpeg_every, frame.data(), length);
            } else {
                pattern->Draw(n, frame.data(), frame.size());
            }
            Deliver(static_cast<REFERENCE_TIME>(n) * interval_100ns, frame.data(), static_cast<LONG>(length));
            due += period;
            const auto now = std::chrono::steady_clock::now();
            if (due < now) due = now;
        }
    }

    bool AnswersFor(const GUID &major_type) const {
        if (IsEqualGUID(major_type, MEDIATYPE_Interleaved)) return device_->stream_config_for_interleaved;
        if (IsEqualGUID(major_type, MEDIATYPE_Video)) return device_->stream_config_for_video;
        return false;
    }

    std::shared_ptr<const SimulatedDevice> device_;
    std::vector<MediaTypeRecord> capabilities_;
    std::vector<SimulatedFormat> capability_formats_;
    MediaTypeRecord current_;
    bool format_chosen_ = false;  // SetFormat took a format
    std::mutex streaming_;  // held for each delivery
    std::thread streamer_;  // started and joined on the host's thread
    std::mutex wake_mutex_;
    std::condition_variable wake_;
    bool stop_streaming_ = false;  // under wake_mutex_
};

// A device without a stream configuration answers for the pin alone.
HRESULT SourceOutputPin::Query(REFIID iid, void **out, bool injectable) {
    if (!source_->device().has_stream_config && IsEqualGUID(iid, IID_IAMStreamConfig)) {
        IUnknown *pin = static_cast<IPin *>(this);
        return QueryTable(iid, out, {{&IID_IUnknown, pin}, {&IID_IPin, pin}}, injectable);
    }
    return QueryAny(iid, out, injectable);
}

SourceOutputPin::SourceOutputPin(SimulatedSource *source, SourcePin role)
    : EmuPin(source, PINDIR_OUTPUT, role == SourcePin::kCapture ? L"Capture" : L"Preview"),
      source_(source),
      role_(role) {}

std::vector<MediaTypeRecord> SourceOutputPin::OfferedTypes() const { return {source_->current_format()}; }
std::vector<MediaTypeRecord> SourceOutputPin::EnumeratedTypes() const { return source_->EnumeratedTypes(); }

bool SourceOutputPin::WillConnectTo(const EmuPin &input) const {
    switch (source_->device().connect_route) {
        case ConnectRoute::kDirect:
            return true;
        case ConnectRoute::kThroughConverter:
            return input.owner()->is_converter();
        case ConnectRoute::kRefused:
            break;
    }
    return false;
}

HRESULT STDMETHODCALLTYPE SourceOutputPin::SetFormat(AM_MEDIA_TYPE *type) {
    if (type == nullptr) return E_POINTER;
    HRESULT injected = CheckFault(Call::SetFormat);
    if (FAILED(injected)) return injected;
    return Completed(injected, source_->ChangeFormat(*type));
}

HRESULT STDMETHODCALLTYPE SourceOutputPin::GetFormat(AM_MEDIA_TYPE **type) {
    if (type == nullptr) return E_POINTER;
    *type = nullptr;
    HRESULT injected = CheckFault(Call::GetFormat);
    if (FAILED(injected)) return injected;
    return Completed(injected, source_->current_format().NewTaskMemoryCopy(type));
}

HRESULT STDMETHODCALLTYPE SourceOutputPin::GetNumberOfCapabilities(int *count, int *size) {
    if (count == nullptr || size == nullptr) return E_POINTER;
    HRESULT injected = CheckFault(Call::GetNumberOfCapabilities);
    if (FAILED(injected)) return injected;
    *count = static_cast<int>(source_->capabilities().size());
    *size = source_->device().stream_caps_bytes;
    return Completed(injected);
}

// As on Windows, the index is judged before the pointers: one past the end
// gives S_FALSE and no type even when both pointers are null.
HRESULT STDMETHODCALLTYPE SourceOutputPin::GetStreamCaps(int index, AM_MEDIA_TYPE **type, BYTE *caps) {
    if (type != nullptr) *type = nullptr;
    HRESULT injected = CheckFault(Call::GetStreamCaps);
    if (FAILED(injected)) return injected;
    if (index < 0) return E_INVALIDARG;
    if (static_cast<size_t>(index) >= source_->capabilities().size()) return S_FALSE;
    if (type == nullptr || caps == nullptr) return E_POINTER;
    HRESULT hr = source_->capabilities()[static_cast<size_t>(index)].NewTaskMemoryCopy(type);
    if (FAILED(hr)) return hr;

    const SimulatedFormat &f = source_->capability_format(static_cast<size_t>(index));
    const double fps = f.frames_per_second > 0 ? f.frames_per_second : source_->device().frames_per_second;
    VideoStreamConfigCaps c;
    std::memset(&c, 0, sizeof(c));
    c.guid = f.format_type;
    LONG rows = f.height >= 0 ? f.height : (f.height == INT32_MIN ? INT32_MAX : -f.height);
    c.InputSize = c.MinCroppingSize = c.MaxCroppingSize = c.MinOutputSize = c.MaxOutputSize = {f.width, rows};
    if (fps > 0) c.MinFrameInterval = c.MaxFrameInterval = static_cast<LONGLONG>(10000000.0 / fps);
    // As many bytes as the device says its structure has: a device that says
    // more than 128 writes past a caller's 128-byte block.
    const size_t bytes = static_cast<size_t>(std::max(source_->device().stream_caps_bytes, 0));
    std::memcpy(caps, &c, std::min(bytes, sizeof(c)));
    if (bytes > sizeof(c)) std::memset(caps + sizeof(c), 0x41, bytes - sizeof(c));
    return Completed(injected);
}

}  // namespace

HRESULT CreateSimulatedSource(std::shared_ptr<const SimulatedDevice> device, REFIID iid, void **out) {
    return HandOut(new SimulatedSource(std::move(device)), iid, out);
}

HRESULT DeliverSample(IBaseFilter *source, REFERENCE_TIME start_100ns, const BYTE *data, LONG length) {
    auto *s = dynamic_cast<SimulatedSource *>(source);
    if (s == nullptr) return E_INVALIDARG;
    return s->Deliver(start_100ns, data, length);
}

}  // namespace emu
