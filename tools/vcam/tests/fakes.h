// Test doubles for the virtual camera's contract tests: an input pin that
// records what the camera does to it, and a property bag. Reference counts
// are real, so a test can see them return to 1. The input pin's Receive runs
// on the camera's streaming thread; its records are guarded by a lock.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "vcam_platform.h"
#include "video_format.h"

namespace vcam_test {

struct ReceivedSample {
    REFERENCE_TIME start = 0;
    REFERENCE_TIME stop = 0;
    long length = 0;
    bool discontinuity = false;
    uint32_t counter = 0;  // decoded from the pattern; 0 when it did not decode
    uint32_t tag = 0;
    bool decoded = false;
    bool huffman_tables = false;  // MJPG: the frame carries its Huffman tables
    DWORD thread = 0;
};

class FakeInputPin final : public IPin, public IMemInputPin {
public:
    FakeInputPin();
    ~FakeInputPin();

    // Behaviour, set before use.
    std::vector<vcam::PixelFormat> accepted = {vcam::PixelFormat::kRgb24, vcam::PixelFormat::kI420,
                                               vcam::PixelFormat::kYuy2};
    bool offers_allocator = false;  // otherwise GetAllocator gives VFW_E_NO_ALLOCATOR
    HRESULT notify_result = S_OK;
    HRESULT receive_result = S_OK;
    DWORD receive_delay_ms = 0;  // Receive records the sample, then takes this long
    PIN_DIRECTION direction = PINDIR_INPUT;
    bool has_transport = true;  // answers IMemInputPin

    // Records.
    IPin *connected = nullptr;
    AM_MEDIA_TYPE connection_type = {};
    int connections_offered = 0;
    int disconnects = 0;
    IMemAllocator *notified_allocator = nullptr;
    IMemAllocator *own_allocator = nullptr;
    std::vector<ReceivedSample> Samples();
    size_t SampleCount();
    LONG references() const { return references_; }
    // Receive calls still running.
    LONG receiving() const { return InterlockedCompareExchange(const_cast<volatile LONG *>(&receiving_), 0, 0); }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin *, const AM_MEDIA_TYPE *) override { return E_UNEXPECTED; }
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *dir) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin **, ULONG *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE EndOfStream() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BeginFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE EndFlush() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override { return S_OK; }
    // IMemInputPin
    HRESULT STDMETHODCALLTYPE GetAllocator(IMemAllocator **allocator) override;
    HRESULT STDMETHODCALLTYPE NotifyAllocator(IMemAllocator *allocator, BOOL read_only) override;
    HRESULT STDMETHODCALLTYPE GetAllocatorRequirements(ALLOCATOR_PROPERTIES *) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Receive(IMediaSample *sample) override;
    HRESULT STDMETHODCALLTYPE ReceiveMultiple(IMediaSample **samples, long count, long *processed) override;
    HRESULT STDMETHODCALLTYPE ReceiveCanBlock() override { return S_FALSE; }

private:
    void ClearConnection();
    volatile LONG references_ = 1;
    volatile LONG receiving_ = 0;
    CRITICAL_SECTION lock_;
    std::vector<ReceivedSample> samples_;
    vcam::VideoFormat format_;
};

// A property bag over a map of text values; missing names fail like the
// registry's bag does.
class FakePropertyBag final : public IPropertyBag {
public:
    std::map<std::wstring, std::wstring> values;
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(InterlockedDecrement(&references_)); }
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT *value, IErrorLog *log) override;
    HRESULT STDMETHODCALLTYPE Write(LPCOLESTR, VARIANT *) override { return E_NOTIMPL; }
    LONG references() const { return references_; }

private:
    volatile LONG references_ = 1;  // on the test's stack: never deleted through Release
};

}  // namespace vcam_test
