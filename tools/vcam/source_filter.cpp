// The virtual camera's source filter: state changes, graph membership, the
// clock, and the device profile read from the instance key. Any thread; the
// filter lock guards everything but the reference count.
#include "source_filter.h"

#include <cwchar>
#include <new>

#include "enumerators.h"
#include "module.h"
#include "output_pin.h"

namespace vcam {
namespace {

// Reads one profile value as text. Absent values leave `present` false; a
// value that cannot be turned into text fails.
bool ReadText(IPropertyBag *bag, const wchar_t *name, std::wstring *text, bool *present) {
    VARIANT value;
    VariantInit(&value);
    *present = false;
    if (FAILED(bag->Read(name, &value, nullptr))) return true;
    bool ok = value.vt == VT_BSTR || SUCCEEDED(VariantChangeType(&value, &value, 0, VT_BSTR));
    if (ok) {
        *text = value.bstrVal != nullptr ? value.bstrVal : L"";
        *present = true;
    }
    VariantClear(&value);
    return ok;
}

// Builds the profile a device's instance key describes; false for any value
// that does not parse, so that binding such a device fails visibly.
bool ReadProfile(IPropertyBag *bag, DeviceProfile *profile) {
    std::wstring text;
    bool present = false;
    uint32_t fps = kDefaultFramesPerSecond;
    if (!ReadText(bag, L"FrameRate", &text, &present)) return false;
    if (present && !ParseNumber(text, 1, 1000, &fps)) return false;
    if (!ReadText(bag, L"Formats", &text, &present)) return false;
    if (present) {
        if (!ParseFormatList(text, fps, &profile->formats)) return false;
    } else {
        *profile = DefaultProfile();
        for (VideoFormat &format : profile->formats) format.frames_per_second = fps;
    }
    if (!ReadText(bag, L"Faults", &text, &present)) return false;
    if (present && !ParseFaults(text, &profile->faults)) return false;
    if (!ReadText(bag, L"Tag", &text, &present)) return false;
    if (present && !ParseNumber(text, 0, kMaxTag, &profile->tag)) return false;
    if (!ReadText(bag, L"CapsSize", &text, &present)) return false;
    if (present && !ParseNumber(text, 0, kMaxStreamCapsBytes, &profile->stream_caps_bytes)) return false;
    return true;
}

}  // namespace

SourceFilter *SourceFilter::Create() {
    auto *filter = new (std::nothrow) SourceFilter();
    if (filter == nullptr) return nullptr;
    if (filter->capture_pin_ == nullptr || filter->preview_pin_ == nullptr || !filter->capture_pin_->Initialised() ||
        !filter->preview_pin_->Initialised()) {
        filter->Release();
        return nullptr;
    }
    return filter;
}

SourceFilter::SourceFilter() : profile_(DefaultProfile()) {
    InitializeCriticalSection(&lock_);
    current_format_ = profile_.formats.front();
    capture_pin_ = new (std::nothrow) OutputPin(this, PIN_CATEGORY_CAPTURE, L"Capture");
    preview_pin_ = new (std::nothrow) OutputPin(this, PIN_CATEGORY_PREVIEW, L"Preview");
    ObjectCreated();
}

SourceFilter::~SourceFilter() {
    {
        ScopedLock hold(&lock_);
        DeactivatePinsLocked();
    }
    delete capture_pin_;
    delete preview_pin_;
    if (clock_ != nullptr) clock_->Release();
    DeleteCriticalSection(&lock_);
    ObjectDestroyed();
}

int SourceFilter::VisiblePins(OutputPin **pins) const {
    if (profile_.faults & kFaultPreviewPinFirst) {
        pins[0] = preview_pin_;
        pins[1] = capture_pin_;
        return 2;
    }
    pins[0] = capture_pin_;
    return 1;
}

void SourceFilter::DeactivatePinsLocked() {
    if (capture_pin_ != nullptr) capture_pin_->DeactivateLocked();
    if (preview_pin_ != nullptr) preview_pin_->DeactivateLocked();
}

HRESULT STDMETHODCALLTYPE SourceFilter::QueryInterface(REFIID iid, void **out) {
    if (out == nullptr) return E_POINTER;
    if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) || IsEqualIID(iid, IID_IMediaFilter) ||
        IsEqualIID(iid, IID_IBaseFilter)) {
        *out = static_cast<IBaseFilter *>(this);
    } else if (IsEqualIID(iid, IID_IAMFilterMiscFlags)) {
        *out = static_cast<IAMFilterMiscFlags *>(this);
    } else if (IsEqualIID(iid, IID_IPersistPropertyBag)) {
        *out = static_cast<IPersistPropertyBag *>(this);
    } else {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE SourceFilter::AddRef() { return static_cast<ULONG>(InterlockedIncrement(&references_)); }

ULONG STDMETHODCALLTYPE SourceFilter::Release() {
    LONG left = InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

HRESULT STDMETHODCALLTYPE SourceFilter::GetClassID(CLSID *clsid) {
    if (clsid == nullptr) return E_POINTER;
    *clsid = kVirtualCameraClsid;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceFilter::Stop() {
    ScopedLock hold(&lock_);
    DeactivatePinsLocked();
    state_ = State_Stopped;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceFilter::Pause() {
    ScopedLock hold(&lock_);
    if (state_ == State_Stopped) {
        OutputPin *pins[2];
        int count = VisiblePins(pins);
        for (int i = 0; i < count; ++i) {
            HRESULT hr = pins[i]->ActivateLocked();
            if (FAILED(hr)) {
                DeactivatePinsLocked();
                return hr;
            }
        }
    } else if (state_ == State_Running) {
        // A live source sends nothing while paused.
        capture_pin_->PauseLocked();
        preview_pin_->PauseLocked();
    }
    state_ = State_Paused;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceFilter::Run(REFERENCE_TIME start) {
    ScopedLock hold(&lock_);
    if (state_ == State_Stopped) {
        HRESULT hr = Pause();
        if (FAILED(hr)) return hr;
    }
    capture_pin_->RunLocked(clock_, start);
    preview_pin_->RunLocked(clock_, start);
    state_ = State_Running;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceFilter::GetState(DWORD, FILTER_STATE *state) {
    if (state == nullptr) return E_POINTER;
    ScopedLock hold(&lock_);
    *state = state_;
    // A live source cannot deliver data while paused: without this answer the
    // graph would wait for a renderer that never prerolls.
    return state_ == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

HRESULT STDMETHODCALLTYPE SourceFilter::SetSyncSource(IReferenceClock *clock) {
    ScopedLock hold(&lock_);
    if (clock != nullptr) clock->AddRef();
    if (clock_ != nullptr) clock_->Release();
    clock_ = clock;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceFilter::GetSyncSource(IReferenceClock **clock) {
    if (clock == nullptr) return E_POINTER;
    ScopedLock hold(&lock_);
    *clock = clock_;
    if (clock_ != nullptr) clock_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceFilter::EnumPins(IEnumPins **pins) {
    if (pins == nullptr) return E_POINTER;
    ScopedLock hold(&lock_);
    OutputPin *visible[2];
    int count = VisiblePins(visible);
    IPin *as_pins[2] = {visible[0], count > 1 ? visible[1] : nullptr};
    *pins = CreatePinEnumerator(this, as_pins, count);
    return *pins != nullptr ? S_OK : E_OUTOFMEMORY;
}

HRESULT STDMETHODCALLTYPE SourceFilter::FindPin(LPCWSTR id, IPin **pin) {
    if (id == nullptr || pin == nullptr) return E_POINTER;
    ScopedLock hold(&lock_);
    OutputPin *visible[2];
    int count = VisiblePins(visible);
    for (int i = 0; i < count; ++i) {
        if (std::wcscmp(id, visible[i]->name()) == 0) {
            *pin = visible[i];
            (*pin)->AddRef();
            return S_OK;
        }
    }
    *pin = nullptr;
    return VFW_E_NOT_FOUND;
}

HRESULT STDMETHODCALLTYPE SourceFilter::QueryFilterInfo(FILTER_INFO *info) {
    if (info == nullptr) return E_POINTER;
    ScopedLock hold(&lock_);
    std::wcsncpy(info->achName, name_, MAX_FILTER_NAME);
    info->achName[MAX_FILTER_NAME - 1] = 0;
    info->pGraph = graph_;
    if (graph_ != nullptr) graph_->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceFilter::JoinFilterGraph(IFilterGraph *graph, LPCWSTR name) {
    ScopedLock hold(&lock_);
    graph_ = graph;
    if (name != nullptr) {
        std::wcsncpy(name_, name, MAX_FILTER_NAME);
        name_[MAX_FILTER_NAME - 1] = 0;
    } else {
        name_[0] = 0;
    }
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceFilter::QueryVendorInfo(LPWSTR *info) {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
}

ULONG STDMETHODCALLTYPE SourceFilter::GetMiscFlags() { return AM_FILTER_MISC_FLAGS_IS_SOURCE; }

HRESULT STDMETHODCALLTYPE SourceFilter::InitNew() { return S_OK; }

HRESULT STDMETHODCALLTYPE SourceFilter::Load(IPropertyBag *bag, IErrorLog *) {
    if (bag == nullptr) return E_POINTER;
    ScopedLock hold(&lock_);
    if (state_ != State_Stopped || AnyPinConnectedLocked()) return E_UNEXPECTED;
    DeviceProfile profile;
    if (!ReadProfile(bag, &profile)) return E_FAIL;
    // A device told to fail its bind refuses the profile: the bind then fails.
    if (profile.faults & kFaultFailBind) return E_FAIL;
    profile_ = profile;
    current_format_ = profile_.formats.front();
    format_chosen_ = false;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE SourceFilter::Save(IPropertyBag *, BOOL, BOOL) { return E_NOTIMPL; }

void SourceFilter::set_current_format_locked(const VideoFormat &format, bool chosen) {
    current_format_ = format;
    format_chosen_ = format_chosen_ || chosen;
}

std::vector<VideoFormat> SourceFilter::OfferedFormatsLocked() const {
    std::vector<VideoFormat> offered;
    offered.push_back(current_format_);
    if (format_chosen_) return offered;
    for (const VideoFormat &format : profile_.formats) {
        if (!SameFrameShape(format, current_format_)) offered.push_back(format);
    }
    return offered;
}

bool SourceFilter::AnyPinConnectedLocked() const {
    return capture_pin_->ConnectedLocked() || preview_pin_->ConnectedLocked();
}

}  // namespace vcam
