// An output pin of the virtual camera (capture or preview category). Its
// reference count is its filter's. Methods run on any thread under the filter
// lock; frames are produced on the pin's own streaming thread, which exists
// from Pause to Stop while the pin is connected and never takes the filter lock.
#pragma once

#include <cstdint>

#include "mjpeg_painter.h"
#include "test_pattern.h"
#include "vcam_platform.h"
#include "video_format.h"

namespace vcam {

class SourceFilter;

class OutputPin final : public IPin, public IAMStreamConfig, public IKsPropertySet {
public:
    OutputPin(SourceFilter *filter, const GUID &category, const wchar_t *name);
    ~OutputPin();
    bool Initialised() const { return stop_event_ && wake_event_ && advise_event_; }

    // IUnknown (the filter's count)
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IPin
    HRESULT STDMETHODCALLTYPE Connect(IPin *receiver, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE ReceiveConnection(IPin *connector, const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE Disconnect() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **pin) override;
    HRESULT STDMETHODCALLTYPE ConnectionMediaType(AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *direction) override;
    HRESULT STDMETHODCALLTYPE QueryId(LPWSTR *id) override;
    HRESULT STDMETHODCALLTYPE QueryAccept(const AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE EnumMediaTypes(IEnumMediaTypes **types) override;
    HRESULT STDMETHODCALLTYPE QueryInternalConnections(IPin **pins, ULONG *count) override;
    HRESULT STDMETHODCALLTYPE EndOfStream() override;
    HRESULT STDMETHODCALLTYPE BeginFlush() override;
    HRESULT STDMETHODCALLTYPE EndFlush() override;
    HRESULT STDMETHODCALLTYPE NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
    // IAMStreamConfig
    HRESULT STDMETHODCALLTYPE SetFormat(AM_MEDIA_TYPE *type) override;
    HRESULT STDMETHODCALLTYPE GetFormat(AM_MEDIA_TYPE **type) override;
    HRESULT STDMETHODCALLTYPE GetNumberOfCapabilities(int *count, int *size) override;
    HRESULT STDMETHODCALLTYPE GetStreamCaps(int index, AM_MEDIA_TYPE **type, BYTE *caps) override;
    // IKsPropertySet
    HRESULT STDMETHODCALLTYPE Set(REFGUID set, DWORD id, LPVOID instance, DWORD instance_bytes, LPVOID data,
                                  DWORD data_bytes) override;
    HRESULT STDMETHODCALLTYPE Get(REFGUID set, DWORD id, LPVOID instance, DWORD instance_bytes, LPVOID data,
                                  DWORD data_bytes, DWORD *returned) override;
    HRESULT STDMETHODCALLTYPE QuerySupported(REFGUID set, DWORD id, DWORD *support) override;

    // State changes from the filter, with the filter lock held.
    HRESULT ActivateLocked();  // stopped to paused: commit the allocator, start the thread
    void RunLocked(IReferenceClock *clock, REFERENCE_TIME start);
    void PauseLocked();
    void DeactivateLocked();  // to stopped: end the thread, decommit
    bool ConnectedLocked() const { return peer_ != nullptr; }
    const wchar_t *name() const { return name_; }

private:
    // False when the profile's pins report no category.
    bool AnswersCategory() const;
    // Offers one type; `type_refused` tells a refused type from a failed transport.
    HRESULT TryConnection(IPin *receiver, AM_MEDIA_TYPE *type, const VideoFormat &format, bool *type_refused);
    HRESULT DecideAllocator(uint32_t image_bytes);
    void ReleaseConnection();

    static DWORD WINAPI ThreadEntry(void *pin);
    void Stream();
    // Paints frame `counter` into a sample buffer of `capacity` bytes and
    // returns its length (0: nothing to send), with the profile's faults.
    uint32_t PaintFrame(uint32_t counter, uint32_t tag, uint8_t *data, uint32_t capacity);
    // Delivers one frame; false when delivery must stop until the next run.
    bool DeliverFrame(REFERENCE_TIME start, REFERENCE_TIME interval, bool discontinuity, uint32_t tag);

    SourceFilter *filter_;
    GUID category_;
    const wchar_t *name_;

    // Connection, under the filter lock; fixed while the thread runs.
    IPin *peer_ = nullptr;
    IMemInputPin *peer_input_ = nullptr;
    IMemAllocator *allocator_ = nullptr;
    AM_MEDIA_TYPE connection_type_ = {};
    VideoFormat connection_format_;
    uint32_t tag_ = 0;
    bool short_frames_ = false;
    bool corrupt_jpeg_ = false;
    FramePainter painter_;       // uncompressed formats
    MjpegPainter mjpeg_painter_;  // MJPG
    HANDLE thread_ = nullptr;

    // Run parameters handed to the thread, under run_lock_.
    CRITICAL_SECTION run_lock_;
    bool running_ = false;
    IReferenceClock *run_clock_ = nullptr;
    REFERENCE_TIME run_start_ = 0;
    uint32_t run_generation_ = 0;

    HANDLE stop_event_ = nullptr;    // manual reset: the thread ends
    HANDLE wake_event_ = nullptr;    // auto reset: run parameters changed
    HANDLE advise_event_ = nullptr;  // auto reset: the clock reached the next frame's time
    uint32_t frame_counter_ = 0;     // streaming thread only; survives stop and run
};

}  // namespace vcam
