// An output pin of the virtual camera: connection and allocator negotiation,
// stream configuration, the pin category, and the streaming thread that
// paints and delivers frames paced by the graph clock.
#include "output_pin.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

#include "device_profile.h"
#include "enumerators.h"
#include "module.h"
#include "source_filter.h"

static_assert(sizeof(VIDEO_STREAM_CONFIG_CAPS) == vcam::kStreamCapsBytes, "the capability structure's own size");

namespace vcam {
namespace {

// Buffers in flight: one being painted, one the renderer holds until its
// time, one spare.
constexpr long kBuffers = 3;

// Whether `wanted` (possibly partial: GUID_NULL fields match anything, no
// format block matches any size) admits `format`.
bool Admits(const AM_MEDIA_TYPE &wanted, const VideoFormat &format) {
    if (!IsEqualGUID(wanted.majortype, GUID_NULL) && !IsEqualGUID(wanted.majortype, MEDIATYPE_Video)) return false;
    if (!IsEqualGUID(wanted.subtype, GUID_NULL) && !IsEqualGUID(wanted.subtype, SubtypeOf(format.pixel))) return false;
    if (!IsEqualGUID(wanted.formattype, GUID_NULL) && !IsEqualGUID(wanted.formattype, FORMAT_VideoInfo)) return false;
    if (IsEqualGUID(wanted.formattype, GUID_NULL) || wanted.pbFormat == nullptr) return true;
    VideoFormat asked;
    return ReadMediaType(wanted, &asked) && SameFrameShape(asked, format);
}

// The performance counter in 100 ns units, for a graph without a clock.
REFERENCE_TIME PerformanceNow() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<REFERENCE_TIME>((now.QuadPart / frequency.QuadPart) * kUnitsPerSecond +
                                       (now.QuadPart % frequency.QuadPart) * kUnitsPerSecond / frequency.QuadPart);
}

}  // namespace

OutputPin::OutputPin(SourceFilter *filter, const GUID &category, const wchar_t *name)
    : filter_(filter), category_(category), name_(name) {
    InitializeCriticalSection(&run_lock_);
    stop_event_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    wake_event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    advise_event_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

OutputPin::~OutputPin() {
    DeactivateLocked();
    ReleaseConnection();
    if (stop_event_) CloseHandle(stop_event_);
    if (wake_event_) CloseHandle(wake_event_);
    if (advise_event_) CloseHandle(advise_event_);
    DeleteCriticalSection(&run_lock_);
}

HRESULT STDMETHODCALLTYPE OutputPin::QueryInterface(REFIID iid, void **out) {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
        *out = static_cast<IPin *>(this);
    } else if (IsEqualIID(iid, IID_IAMStreamConfig)) {
        *out = static_cast<IAMStreamConfig *>(this);
    } else if (IsEqualIID(iid, IID_IKsPropertySet)) {
        *out = static_cast<IKsPropertySet *>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE OutputPin::AddRef() { return filter_->AddRef(); }
ULONG STDMETHODCALLTYPE OutputPin::Release() { return filter_->Release(); }

// --- Connection ---------------------------------------------------------

HRESULT STDMETHODCALLTYPE OutputPin::Connect(IPin *receiver, const AM_MEDIA_TYPE *wanted) {
    if (receiver == nullptr) return E_POINTER;
    ScopedLock hold(filter_->lock());
    if (peer_ != nullptr) return VFW_E_ALREADY_CONNECTED;
    if (filter_->state_locked() != State_Stopped) return VFW_E_NOT_STOPPED;
    PIN_DIRECTION direction = PINDIR_OUTPUT;
    if (FAILED(receiver->QueryDirection(&direction)) || direction != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
    for (const VideoFormat &format : filter_->OfferedFormatsLocked()) {
        if (wanted != nullptr && !Admits(*wanted, format)) continue;
        AM_MEDIA_TYPE type;
        if (FAILED(FillMediaType(format, &type))) return E_OUTOFMEMORY;
        bool type_refused = false;
        HRESULT hr = TryConnection(receiver, &type, format, &type_refused);
        if (SUCCEEDED(hr)) {
            filter_->set_current_format_locked(format, false);
            return S_OK;
        }
        FreeMediaTypeContents(&type);
        // The receiver took the type but transport or allocator failed: another type will not help.
        if (!type_refused) return hr;
    }
    return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT OutputPin::TryConnection(IPin *receiver, AM_MEDIA_TYPE *type, const VideoFormat &format,
                                 bool *type_refused) {
    HRESULT hr = receiver->ReceiveConnection(static_cast<IPin *>(this), type);
    if (hr != S_OK) {
        *type_refused = true;
        return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
    }
    peer_ = receiver;
    peer_->AddRef();
    hr = receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void **>(&peer_input_));
    if (FAILED(hr) || peer_input_ == nullptr) {
        peer_input_ = nullptr;
        hr = VFW_E_NO_TRANSPORT;
    } else {
        hr = DecideAllocator(ImageBytes(format));
    }
    if (FAILED(hr)) {
        receiver->Disconnect();
        ReleaseConnection();
        return hr;
    }
    connection_type_ = *type;  // the pin owns the format block from here on
    connection_format_ = format;
    NoteConnectedCompression(CompressionOf(format.pixel));
    return S_OK;
}

HRESULT OutputPin::DecideAllocator(uint32_t image_bytes) {
    ALLOCATOR_PROPERTIES needed;
    std::memset(&needed, 0, sizeof(needed));
    peer_input_->GetAllocatorRequirements(&needed);  // optional for the receiver
    ALLOCATOR_PROPERTIES asked;
    asked.cBuffers = needed.cBuffers > kBuffers ? needed.cBuffers : kBuffers;
    asked.cbBuffer = needed.cbBuffer > static_cast<long>(image_bytes) ? needed.cbBuffer : static_cast<long>(image_bytes);
    asked.cbAlign = needed.cbAlign > 1 ? needed.cbAlign : 1;
    asked.cbPrefix = needed.cbPrefix;

    auto configure = [&](IMemAllocator *allocator) {
        ALLOCATOR_PROPERTIES actual;
        std::memset(&actual, 0, sizeof(actual));
        HRESULT hr = allocator->SetProperties(&asked, &actual);
        if (FAILED(hr)) return hr;
        if (actual.cbBuffer < static_cast<long>(image_bytes) || actual.cBuffers < 1) return VFW_E_SIZENOTSET;
        return peer_input_->NotifyAllocator(allocator, FALSE);
    };

    // The receiver's allocator first, when it has one.
    IMemAllocator *allocator = nullptr;
    if (SUCCEEDED(peer_input_->GetAllocator(&allocator)) && allocator != nullptr) {
        if (SUCCEEDED(configure(allocator))) {
            allocator_ = allocator;
            return S_OK;
        }
        allocator->Release();
        allocator = nullptr;
    }
    // Otherwise a memory allocator of our own.
    HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                  reinterpret_cast<void **>(&allocator));
    if (FAILED(hr) || allocator == nullptr) return FAILED(hr) ? hr : E_FAIL;
    hr = configure(allocator);
    if (FAILED(hr)) {
        allocator->Release();
        return hr;
    }
    allocator_ = allocator;
    return S_OK;
}

void OutputPin::ReleaseConnection() {
    if (allocator_ != nullptr) {
        allocator_->Decommit();
        allocator_->Release();
        allocator_ = nullptr;
    }
    if (peer_input_ != nullptr) {
        peer_input_->Release();
        peer_input_ = nullptr;
    }
    if (peer_ != nullptr) {
        peer_->Release();
        peer_ = nullptr;
    }
    FreeMediaTypeContents(&connection_type_);
    std::memset(&connection_type_, 0, sizeof(connection_type_));
}

HRESULT STDMETHODCALLTYPE OutputPin::ReceiveConnection(IPin *, const AM_MEDIA_TYPE *) {
    // An output pin only connects outwards.
    return E_UNEXPECTED;
}

HRESULT STDMETHODCALLTYPE OutputPin::Disconnect() {
    ScopedLock hold(filter_->lock());
    if (filter_->state_locked() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (peer_ == nullptr) return S_FALSE;
    ReleaseConnection();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OutputPin::ConnectedTo(IPin **pin) {
    if (pin == nullptr) return E_POINTER;
    ScopedLock hold(filter_->lock());
    *pin = peer_;
    if (peer_ == nullptr) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OutputPin::ConnectionMediaType(AM_MEDIA_TYPE *type) {
    if (type == nullptr) return E_POINTER;
    ScopedLock hold(filter_->lock());
    if (peer_ == nullptr) {
        std::memset(type, 0, sizeof(*type));
        return VFW_E_NOT_CONNECTED;
    }
    return CopyMediaType(connection_type_, type);
}

HRESULT STDMETHODCALLTYPE OutputPin::QueryPinInfo(PIN_INFO *info) {
    if (info == nullptr) return E_POINTER;
    info->pFilter = static_cast<IBaseFilter *>(filter_);
    filter_->AddRef();
    info->dir = PINDIR_OUTPUT;
    std::wcsncpy(info->achName, name_, MAX_PIN_NAME);
    info->achName[MAX_PIN_NAME - 1] = 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OutputPin::QueryDirection(PIN_DIRECTION *direction) {
    if (direction == nullptr) return E_POINTER;
    *direction = PINDIR_OUTPUT;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OutputPin::QueryId(LPWSTR *id) {
    if (id == nullptr) return E_POINTER;
    size_t bytes = (std::wcslen(name_) + 1) * sizeof(wchar_t);
    *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
    if (*id == nullptr) return E_OUTOFMEMORY;
    std::memcpy(*id, name_, bytes);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OutputPin::QueryAccept(const AM_MEDIA_TYPE *type) {
    if (type == nullptr) return E_POINTER;
    VideoFormat asked;
    if (!ReadMediaType(*type, &asked)) return S_FALSE;
    ScopedLock hold(filter_->lock());
    for (const VideoFormat &format : filter_->OfferedFormatsLocked()) {
        if (SameFrameShape(asked, format)) return S_OK;
    }
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE OutputPin::EnumMediaTypes(IEnumMediaTypes **types) {
    if (types == nullptr) return E_POINTER;
    ScopedLock hold(filter_->lock());
    *types = CreateMediaTypeEnumerator(filter_->OfferedFormatsLocked());
    return *types != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE OutputPin::QueryInternalConnections(IPin **, ULONG *) { return E_NOTIMPL; }
// Stream control belongs to input pins.
HRESULT STDMETHODCALLTYPE OutputPin::EndOfStream() { return E_UNEXPECTED; }
HRESULT STDMETHODCALLTYPE OutputPin::BeginFlush() { return E_UNEXPECTED; }
HRESULT STDMETHODCALLTYPE OutputPin::EndFlush() { return E_UNEXPECTED; }
HRESULT STDMETHODCALLTYPE OutputPin::NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) { return E_UNEXPECTED; }

// --- Stream configuration -----------------------------------------------

HRESULT STDMETHODCALLTYPE OutputPin::SetFormat(AM_MEDIA_TYPE *type) {
    if (type == nullptr) return E_POINTER;
    ScopedLock hold(filter_->lock());
    const DeviceProfile &profile = filter_->profile_locked();
    if (profile.faults & kFaultIgnoreSetFormat) return S_OK;
    if (filter_->state_locked() != State_Stopped) return VFW_E_NOT_STOPPED;
    if (filter_->AnyPinConnectedLocked()) return VFW_E_ALREADY_CONNECTED;
    // A type that is none of the capabilities is refused with E_FAIL, as a
    // capture device's stream configuration refuses it on Windows.
    VideoFormat asked;
    if (!ReadMediaType(*type, &asked)) return E_FAIL;
    for (const VideoFormat &format : profile.formats) {
        // Each capability has one rate; a type without a rate takes it.
        if (SameFrameShape(asked, format) &&
            (asked.frames_per_second == 0 || asked.frames_per_second == format.frames_per_second)) {
            filter_->set_current_format_locked(format, true);
            return S_OK;
        }
    }
    return E_FAIL;
}

HRESULT STDMETHODCALLTYPE OutputPin::GetFormat(AM_MEDIA_TYPE **type) {
    if (type == nullptr) return E_POINTER;
    ScopedLock hold(filter_->lock());
    *type = CreateMediaType(filter_->current_format_locked());
    return *type != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE OutputPin::GetNumberOfCapabilities(int *count, int *size) {
    if (count == nullptr || size == nullptr) return E_POINTER;
    ScopedLock hold(filter_->lock());
    *count = static_cast<int>(filter_->profile_locked().formats.size());
    *size = static_cast<int>(filter_->profile_locked().stream_caps_bytes);
    return S_OK;
}

// As on Windows, the index is judged before the pointers: one past the end
// gives S_FALSE and no type even when both pointers are null.
HRESULT STDMETHODCALLTYPE OutputPin::GetStreamCaps(int index, AM_MEDIA_TYPE **type, BYTE *caps) {
    if (type != nullptr) *type = nullptr;
    if (index < 0) return E_INVALIDARG;
    ScopedLock hold(filter_->lock());
    const std::vector<VideoFormat> &formats = filter_->profile_locked().formats;
    if (static_cast<size_t>(index) >= formats.size()) return S_FALSE;
    if (type == nullptr || caps == nullptr) return E_POINTER;
    *type = CreateMediaType(formats[index]);
    if (*type == nullptr) return E_OUTOFMEMORY;
    // As many bytes as the reported size: a profile that reports more than
    // the structure writes past a caller's 128-byte block.
    VIDEO_STREAM_CONFIG_CAPS filled;
    FillStreamCaps(formats[index], &filled);
    const size_t bytes = filter_->profile_locked().stream_caps_bytes;
    std::memcpy(caps, &filled, std::min(bytes, sizeof(filled)));
    if (bytes > sizeof(filled)) std::memset(caps + sizeof(filled), 0x41, bytes - sizeof(filled));
    return S_OK;
}

// --- Pin category -------------------------------------------------------

// Some cameras' pins keep the property set but know no category property, so
// a capture graph builder finds no capture pin on them.
bool OutputPin::AnswersCategory() const {
    ScopedLock hold(filter_->lock());
    return (filter_->profile_locked().faults & kFaultNoPinCategory) == 0;
}

HRESULT STDMETHODCALLTYPE OutputPin::Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) {
    return E_PROP_ID_UNSUPPORTED;  // the category is read-only
}

HRESULT STDMETHODCALLTYPE OutputPin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD data_bytes,
                                         DWORD *returned) {
    if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY || !AnswersCategory()) return E_PROP_ID_UNSUPPORTED;
    if (data == nullptr && returned == nullptr) return E_POINTER;
    if (returned != nullptr) *returned = sizeof(GUID);
    if (data == nullptr) return S_OK;  // a size query
    if (data_bytes < sizeof(GUID)) return E_UNEXPECTED;
    std::memcpy(data, &category_, sizeof(GUID));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OutputPin::QuerySupported(REFGUID set, DWORD id, DWORD *support) {
    if (!IsEqualGUID(set, AMPROPSETID_Pin)) return E_PROP_SET_UNSUPPORTED;
    if (id != AMPROPERTY_PIN_CATEGORY || !AnswersCategory()) return E_PROP_ID_UNSUPPORTED;
    if (support != nullptr) *support = KSPROPERTY_SUPPORT_GET;
    return S_OK;
}

// --- State changes ------------------------------------------------------

HRESULT OutputPin::ActivateLocked() {
    if (peer_ == nullptr || thread_ != nullptr) return S_OK;  // unconnected pins do not stream
    const DeviceProfile &profile = filter_->profile_locked();
    tag_ = IsEqualGUID(category_, PIN_CATEGORY_PREVIEW) ? profile.tag ^ kPreviewTagBit : profile.tag;
    short_frames_ = (profile.faults & kFaultShortFrames) != 0;
    corrupt_jpeg_ = (profile.faults & kFaultCorruptJpeg) != 0;
    const bool prepared = IsCompressed(connection_format_.pixel) ? mjpeg_painter_.Prepare(connection_format_)
                                                                 : painter_.Prepare(connection_format_);
    if (!prepared) return E_OUTOFMEMORY;
    HRESULT hr = allocator_->Commit();
    if (FAILED(hr)) {
        painter_.Release();
        mjpeg_painter_.Release();
        return hr;
    }
    EnterCriticalSection(&run_lock_);
    running_ = false;
    LeaveCriticalSection(&run_lock_);
    ResetEvent(stop_event_);
    ResetEvent(advise_event_);
    thread_ = CreateThread(nullptr, 0, &OutputPin::ThreadEntry, this, 0, nullptr);
    if (thread_ == nullptr) {
        allocator_->Decommit();
        painter_.Release();
        mjpeg_painter_.Release();
        return HRESULT_FROM_WIN32(GetLastError());
    }
    return S_OK;
}

void OutputPin::RunLocked(IReferenceClock *clock, REFERENCE_TIME start) {
    if (thread_ == nullptr) return;
    EnterCriticalSection(&run_lock_);
    if (clock != nullptr) clock->AddRef();
    if (run_clock_ != nullptr) run_clock_->Release();
    run_clock_ = clock;
    // Without a graph clock the start time means nothing: the run is paced
    // on the performance counter from now.
    run_start_ = clock != nullptr ? start : PerformanceNow();
    running_ = true;
    ++run_generation_;
    LeaveCriticalSection(&run_lock_);
    SetEvent(wake_event_);
}

void OutputPin::PauseLocked() {
    if (thread_ == nullptr) return;
    EnterCriticalSection(&run_lock_);
    running_ = false;
    LeaveCriticalSection(&run_lock_);
    SetEvent(wake_event_);
}

void OutputPin::DeactivateLocked() {
    if (thread_ != nullptr) {
        SetEvent(stop_event_);
        // A thread blocked for a buffer wakes up when the allocator is decommitted.
        allocator_->Decommit();
        WaitForSingleObject(thread_, INFINITE);
        CloseHandle(thread_);
        thread_ = nullptr;
        painter_.Release();
        mjpeg_painter_.Release();
    }
    EnterCriticalSection(&run_lock_);
    running_ = false;
    if (run_clock_ != nullptr) run_clock_->Release();
    run_clock_ = nullptr;
    LeaveCriticalSection(&run_lock_);
}

// --- Streaming thread ---------------------------------------------------

DWORD WINAPI OutputPin::ThreadEntry(void *pin) {
    static_cast<OutputPin *>(pin)->Stream();
    return 0;
}

void OutputPin::Stream() {
    const REFERENCE_TIME interval = FrameInterval100ns(connection_format_.frames_per_second);
    uint32_t seen_generation = 0;
    uint32_t halted_generation = 0;  // delivery refused in this run: wait for the next
    REFERENCE_TIME next = 0;         // stream time of the next frame
    REFERENCE_TIME last = -1;        // stream time of the last frame sent
    bool discontinuity = true;
    for (;;) {
        EnterCriticalSection(&run_lock_);
        bool running = running_;
        IReferenceClock *clock = run_clock_;
        if (clock != nullptr) clock->AddRef();
        REFERENCE_TIME start = run_start_;
        uint32_t generation = run_generation_;
        LeaveCriticalSection(&run_lock_);

        if (generation != seen_generation) {
            // A new run: its first frame is due at its start time.
            seen_generation = generation;
            next = 0;
            last = -1;
            discontinuity = true;
        }
        HANDLE idle[2] = {stop_event_, wake_event_};
        if (!running || halted_generation == generation) {
            if (clock != nullptr) clock->Release();
            if (WaitForMultipleObjects(2, idle, FALSE, INFINITE) == WAIT_OBJECT_0) return;
            continue;
        }

        // Wait for the frame's time, or a stop or a change of state.
        REFERENCE_TIME now = 0;
        DWORD woke;
        if (clock != nullptr) {
            DWORD_PTR cookie = 0;
            HANDLE waits[3] = {stop_event_, wake_event_, advise_event_};
            if (SUCCEEDED(clock->AdviseTime(start, next, reinterpret_cast<HEVENT>(advise_event_), &cookie))) {
                woke = WaitForMultipleObjects(3, waits, FALSE, INFINITE);
                if (woke != WAIT_OBJECT_0 + 2) {
                    clock->Unadvise(cookie);
                    ResetEvent(advise_event_);
                }
            } else {
                woke = WaitForMultipleObjects(2, idle, FALSE, static_cast<DWORD>(interval / 10000));
            }
            REFERENCE_TIME clock_now = 0;
            clock->GetTime(&clock_now);
            now = clock_now - start;
            clock->Release();
        } else {
            // No graph clock: pace on the performance counter.
            REFERENCE_TIME elapsed = PerformanceNow() - start;
            REFERENCE_TIME wait = next > elapsed ? next - elapsed : 0;
            woke = WaitForMultipleObjects(2, idle, FALSE, static_cast<DWORD>(wait / 10000));
            now = PerformanceNow() - start;
        }
        if (woke == WAIT_OBJECT_0) return;
        if (woke == WAIT_OBJECT_0 + 1) {
            // The state changed; look again. A lost advise is set up anew.
            continue;
        }
        // Sample times rise strictly even when the clock is coarse.
        REFERENCE_TIME frame_time = now > last ? now : last + 1;
        if (!DeliverFrame(frame_time, interval, discontinuity, tag_)) {
            halted_generation = generation;
            continue;
        }
        discontinuity = false;
        last = frame_time;
        next += interval;
        // Frames missed while delivery was slow are skipped, not sent in a burst.
        if (next <= now) next = now + interval;
    }
}

uint32_t OutputPin::PaintFrame(uint32_t counter, uint32_t tag, uint8_t *data, uint32_t capacity) {
    uint32_t length = capacity;
    if (IsCompressed(connection_format_.pixel)) {
        // Every other frame without its Huffman tables, as most webcams send
        // all of them; the decoder must supply the standard ones.
        const bool huffman_tables = counter % 2 == 0;
        length = static_cast<uint32_t>(mjpeg_painter_.Paint(counter, tag, huffman_tables, data, capacity));
        if (length == 0) return 0;
        if (corrupt_jpeg_) {
            switch (JpegDamageOfFrame(counter)) {
            case JpegDamage::kTruncated: length = static_cast<uint32_t>(TruncatedLength(length)); break;
            case JpegDamage::kDamaged: DamageEntropyCodedData(data, length); break;
            case JpegDamage::kNone: break;
            }
        }
    } else {
        painter_.Paint(counter, tag, data);
    }
    // The short-frame fault sends every third frame with half its bytes.
    return short_frames_ && counter % 3 == 0 ? length / 2 : length;
}

bool OutputPin::DeliverFrame(REFERENCE_TIME start, REFERENCE_TIME interval, bool discontinuity, uint32_t tag) {
    IMediaSample *sample = nullptr;
    if (FAILED(allocator_->GetBuffer(&sample, nullptr, nullptr, 0)) || sample == nullptr) return false;
    BYTE *data = nullptr;
    // The whole frame, or for MJPG the bound on one.
    uint32_t bytes = ImageBytes(connection_format_);
    if (FAILED(sample->GetPointer(&data)) || data == nullptr || sample->GetSize() < static_cast<long>(bytes)) {
        sample->Release();
        return false;
    }
    uint32_t counter = frame_counter_++;
    uint32_t length = PaintFrame(counter, tag, data, bytes);
    if (length == 0) {
        // A frame that did not fit its buffer is lost, as a camera loses one.
        sample->Release();
        return true;
    }
    REFERENCE_TIME stop = start + interval;
    sample->SetActualDataLength(static_cast<long>(length));
    sample->SetTime(&start, &stop);
    sample->SetSyncPoint(TRUE);
    sample->SetDiscontinuity(discontinuity ? TRUE : FALSE);
    // Anything but S_OK (a stopping or flushing receiver) ends delivery for this run.
    HRESULT hr = peer_input_->Receive(sample);
    sample->Release();
    return hr == S_OK;
}

}  // namespace vcam
