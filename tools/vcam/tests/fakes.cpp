// Test doubles of the virtual camera's contract tests.
#include "fakes.h"

#include <cstring>

#include "jpeg_reader.h"
#include "test_pattern.h"

namespace vcam_test {

FakeInputPin::FakeInputPin() { InitializeCriticalSection(&lock_); }

FakeInputPin::~FakeInputPin() {
    ClearConnection();
    if (notified_allocator != nullptr) notified_allocator->Release();
    if (own_allocator != nullptr) own_allocator->Release();
    DeleteCriticalSection(&lock_);
}

HRESULT STDMETHODCALLTYPE FakeInputPin::QueryInterface(REFIID iid, void **out) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPin)) {
        *out = static_cast<IPin *>(this);
    } else if (IsEqualIID(iid, IID_IMemInputPin) && has_transport) {
        *out = static_cast<IMemInputPin *>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

// The pin lives on the test's stack: the count is only recorded.
ULONG STDMETHODCALLTYPE FakeInputPin::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
ULONG STDMETHODCALLTYPE FakeInputPin::Release() { return static_cast<ULONG>(InterlockedDecrement(&references_)); }

void FakeInputPin::ClearConnection() {
    if (connected != nullptr) connected->Release();
    connected = nullptr;
    vcam::FreeMediaTypeContents(&connection_type);
    std::memset(&connection_type, 0, sizeof(connection_type));
}

HRESULT STDMETHODCALLTYPE FakeInputPin::ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type) {
    ++connections_offered;
    if (connected != nullptr) return VFW_E_ALREADY_CONNECTED;
    if (QueryAccept(type) != S_OK) return VFW_E_TYPE_NOT_ACCEPTED;
    vcam::ReadMediaType(*type, &format_);
    connected = connector;
    connected->AddRef();
    return vcam::CopyMediaType(*type, &connection_type);
}

HRESULT STDMETHODCALLTYPE FakeInputPin::Disconnect() {
    ++disconnects;
    if (connected == nullptr) return S_FALSE;
    ClearConnection();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeInputPin::ConnectedTo(IPin **pin) {
    *pin = connected;
    if (connected == nullptr) return VFW_E_NOT_CONNECTED;
    connected->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeInputPin::ConnectionMediaType(AM_MEDIA_TYPE *type) {
    if (connected == nullptr) return VFW_E_NOT_CONNECTED;
    return vcam::CopyMediaType(connection_type, type);
}

HRESULT STDMETHODCALLTYPE FakeInputPin::QueryPinInfo(PIN_INFO *info) {
    info->pFilter = nullptr;
    info->dir = direction;
    std::wcscpy(info->achName, L"Fake In");
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeInputPin::QueryDirection(PIN_DIRECTION *dir) {
    *dir = direction;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeInputPin::QueryAccept(const AM_MEDIA_TYPE *type) {
    vcam::VideoFormat format;
    if (type == nullptr || !vcam::ReadMediaType(*type, &format)) return S_FALSE;
    for (vcam::PixelFormat pixel : accepted) {
        if (pixel == format.pixel) return S_OK;
    }
    return S_FALSE;
}

HRESULT STDMETHODCALLTYPE FakeInputPin::GetAllocator(IMemAllocator **allocator) {
    *allocator = nullptr;
    if (!offers_allocator) return VFW_E_NO_ALLOCATOR;
    if (own_allocator == nullptr) {
        HRESULT hr = CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                                      reinterpret_cast<void **>(&own_allocator));
        if (FAILED(hr)) return hr;
    }
    *allocator = own_allocator;
    own_allocator->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeInputPin::NotifyAllocator(IMemAllocator *allocator, BOOL) {
    if (FAILED(notify_result)) return notify_result;
    if (notified_allocator != nullptr) notified_allocator->Release();
    notified_allocator = allocator;
    notified_allocator->AddRef();
    return notify_result;
}

HRESULT STDMETHODCALLTYPE FakeInputPin::Receive(IMediaSample *sample) {
    InterlockedIncrement(&receiving_);
    ReceivedSample record;
    sample->GetTime(&record.start, &record.stop);
    record.length = sample->GetActualDataLength();
    record.discontinuity = sample->IsDiscontinuity() == S_OK;
    record.thread = GetCurrentThreadId();
    BYTE *data = nullptr;
    if (format_.pixel == vcam::PixelFormat::kMjpg) {
        // A whole JPEG that decodes without a warning, then its pattern.
        if (SUCCEEDED(sample->GetPointer(&data)) && data != nullptr && record.length > 0 &&
            record.length <= static_cast<long>(vcam::ImageBytes(format_))) {
            JpegPicture picture = ReadJpeg(data, static_cast<size_t>(record.length));
            vcam::DecodedPattern decoded = PatternOf(picture);
            record.decoded = picture.complete && decoded.valid && picture.width == format_.width &&
                             picture.height == format_.height;
            record.counter = decoded.counter;
            record.tag = decoded.tag;
            record.huffman_tables = HasSegmentBeforeScan(data, static_cast<size_t>(record.length), 0xC4);
        }
    } else if (SUCCEEDED(sample->GetPointer(&data)) && data != nullptr &&
               record.length == static_cast<long>(vcam::ImageBytes(format_))) {
        vcam::DecodedPattern decoded =
            vcam::DecodePattern(vcam::LumaOfFrame(format_, data), format_.width, vcam::AbsoluteHeight(format_));
        record.decoded = decoded.valid;
        record.counter = decoded.counter;
        record.tag = decoded.tag;
    }
    EnterCriticalSection(&lock_);
    samples_.push_back(record);
    HRESULT result = receive_result;
    DWORD delay = receive_delay_ms;
    LeaveCriticalSection(&lock_);
    if (delay != 0) Sleep(delay);
    InterlockedDecrement(&receiving_);
    return result;
}

HRESULT STDMETHODCALLTYPE FakeInputPin::ReceiveMultiple(IMediaSample **samples, long count, long *processed) {
    *processed = 0;
    for (long i = 0; i < count; ++i) {
        HRESULT hr = Receive(samples[i]);
        if (hr != S_OK) return hr;
        ++*processed;
    }
    return S_OK;
}

std::vector<ReceivedSample> FakeInputPin::Samples() {
    EnterCriticalSection(&lock_);
    std::vector<ReceivedSample> copy = samples_;
    LeaveCriticalSection(&lock_);
    return copy;
}

size_t FakeInputPin::SampleCount() {
    EnterCriticalSection(&lock_);
    size_t count = samples_.size();
    LeaveCriticalSection(&lock_);
    return count;
}

HRESULT STDMETHODCALLTYPE FakePropertyBag::QueryInterface(REFIID iid, void **out) {
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPropertyBag)) {
        *out = static_cast<IPropertyBag *>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

HRESULT STDMETHODCALLTYPE FakePropertyBag::Read(LPCOLESTR name, VARIANT *value, IErrorLog *) {
    auto found = values.find(name);
    if (found == values.end()) return HRESULT_FROM_WIN32(ERROR_FILE_NOT_FOUND);
    value->vt = VT_BSTR;
    value->bstrVal = SysAllocString(found->second.c_str());
    return S_OK;
}

}  // namespace vcam_test
