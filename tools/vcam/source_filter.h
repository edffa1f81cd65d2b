// The virtual camera's source filter. One object per bound device; COM
// reference counted, its pins share its count. Every method may be called
// from any thread: the filter lock guards the state, the graph, the clock,
// the profile and the device's current format; the pins take the same lock.
#pragma once

#include <vector>

#include "device_profile.h"
#include "vcam_platform.h"
#include "video_format.h"

namespace vcam {

class OutputPin;

class SourceFilter final : public IBaseFilter, public IAMFilterMiscFlags, public IPersistPropertyBag {
public:
    // A new filter with the default profile and one reference; null when out of memory.
    static SourceFilter *Create();

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    // IPersist, shared by IBaseFilter and IPersistPropertyBag
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID *clsid) override;
    // IMediaFilter
    HRESULT STDMETHODCALLTYPE Stop() override;
    HRESULT STDMETHODCALLTYPE Pause() override;
    HRESULT STDMETHODCALLTYPE Run(REFERENCE_TIME start) override;
    HRESULT STDMETHODCALLTYPE GetState(DWORD timeout_ms, FILTER_STATE *state) override;
    HRESULT STDMETHODCALLTYPE SetSyncSource(IReferenceClock *clock) override;
    HRESULT STDMETHODCALLTYPE GetSyncSource(IReferenceClock **clock) override;
    // IBaseFilter
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **pins) override;
    HRESULT STDMETHODCALLTYPE FindPin(LPCWSTR id, IPin **pin) override;
    HRESULT STDMETHODCALLTYPE QueryFilterInfo(FILTER_INFO *info) override;
    HRESULT STDMETHODCALLTYPE JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) override;
    HRESULT STDMETHODCALLTYPE QueryVendorInfo(LPWSTR *info) override;
    // IAMFilterMiscFlags
    ULONG STDMETHODCALLTYPE GetMiscFlags() override;
    // IPersistPropertyBag
    HRESULT STDMETHODCALLTYPE InitNew() override;
    HRESULT STDMETHODCALLTYPE Load(IPropertyBag *bag, IErrorLog *log) override;
    HRESULT STDMETHODCALLTYPE Save(IPropertyBag *bag, BOOL clear_dirty, BOOL save_all) override;

    // For the pins, with the filter lock held (the lock is recursive).
    CRITICAL_SECTION *lock() { return &lock_; }
    FILTER_STATE state_locked() const { return state_; }
    const DeviceProfile &profile_locked() const { return profile_; }
    // The device's format: the first capability until one is set or connected.
    const VideoFormat &current_format_locked() const { return current_format_; }
    void set_current_format_locked(const VideoFormat &format, bool chosen);
    // What a pin offers: the chosen format alone once one was set, otherwise
    // every capability with the current one first.
    std::vector<VideoFormat> OfferedFormatsLocked() const;
    bool AnyPinConnectedLocked() const;

private:
    SourceFilter();
    ~SourceFilter();
    void DeactivatePinsLocked();
    // The pins the filter shows, in order.
    int VisiblePins(OutputPin **pins) const;

    volatile LONG references_ = 1;
    CRITICAL_SECTION lock_;
    FILTER_STATE state_ = State_Stopped;
    IFilterGraph *graph_ = nullptr;  // not counted: the graph holds the filter, not the reverse
    wchar_t name_[MAX_FILTER_NAME] = {};
    IReferenceClock *clock_ = nullptr;
    DeviceProfile profile_;
    VideoFormat current_format_;
    bool format_chosen_ = false;
    OutputPin *capture_pin_ = nullptr;
    OutputPin *preview_pin_ = nullptr;
};

// Holds a critical section for one scope.
class ScopedLock {
public:
    explicit ScopedLock(CRITICAL_SECTION *section) : section_(section) { EnterCriticalSection(section_); }
    ~ScopedLock() { LeaveCriticalSection(section_); }
    ScopedLock(const ScopedLock &) = delete;
    ScopedLock &operator=(const ScopedLock &) = delete;

private:
    CRITICAL_SECTION *section_;
};

}  // namespace vcam
