// The emulated system device enumerator: simulated video input devices, their
// moniker enumeration (a snapshot taken by CreateClassEnumerator, in
// registration order), monikers, and property bags with "FriendlyName" and
// "CLSID". Binding a moniker creates the device's source filter.
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/emulated/emu_object.h"
#include "platform/emulated/simulated_source.h"

namespace emu {
namespace {

std::mutex g_devices_mutex;
std::vector<std::shared_ptr<const SimulatedDevice>> g_devices;

class PropertyBag final : public IPropertyBag, public EmuObject {
public:
    explicit PropertyBag(std::shared_ptr<const SimulatedDevice> device) : device_(std::move(device)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        return QueryImpl(iid, out, {{&IID_IUnknown, this}, {&IID_IPropertyBag, this}});
    }
    EMU_REFCOUNT_METHODS
    HRESULT STDMETHODCALLTYPE Read(LPCOLESTR name, VARIANT *value, IErrorLog *) override {
        HRESULT hr = CheckFault(Call::PropertyBagRead);
        if (FAILED(hr)) return hr;
        if (name == nullptr || value == nullptr) return E_POINTER;
        const std::wstring *text = nullptr;
        const std::u16string_view property(name);
        if (property == u"FriendlyName" && !device_->name_unreadable) text = &device_->friendly_name;
        if (property == u"CLSID" && !device_->clsid_unreadable) text = &device_->clsid_text;
        if (text == nullptr) return E_INVALIDARG;  // what the device enumerator gives for a missing value
        if (value->vt != VT_EMPTY && value->vt != VT_BSTR) return E_INVALIDARG;
        value->vt = VT_BSTR;
        value->bstrVal = AllocString(*text);
        return value->bstrVal ? Completed(hr) : E_OUTOFMEMORY;
    }

private:
    std::shared_ptr<const SimulatedDevice> device_;
};

class Moniker final : public IMoniker, public EmuObject {
public:
    explicit Moniker(std::shared_ptr<const SimulatedDevice> device) : device_(std::move(device)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        return QueryImpl(iid, out, {{&IID_IUnknown, this}, {&IID_IMoniker, this}});
    }
    EMU_REFCOUNT_METHODS
    HRESULT STDMETHODCALLTYPE BindToObject(IBindCtx *, IMoniker *, REFIID iid, void **out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        HRESULT hr = CheckFault(Call::BindToObject);
        if (FAILED(hr)) return hr;
        if (device_->bind_fails) return HRESULT_FROM_WIN32_FILE_NOT_FOUND;
        return Completed(hr, CreateSimulatedSource(device_, iid, out));
    }
    HRESULT STDMETHODCALLTYPE BindToStorage(IBindCtx *, IMoniker *, REFIID iid, void **out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        HRESULT hr = CheckFault(Call::BindToStorage);
        if (FAILED(hr)) return hr;
        if (device_->property_bag_fails) return HRESULT_FROM_WIN32_FILE_NOT_FOUND;
        if (!IsEqualGUID(iid, IID_IPropertyBag)) return E_NOINTERFACE;
        *out = static_cast<IPropertyBag *>(new PropertyBag(device_));
        return Completed(hr);
    }

private:
    std::shared_ptr<const SimulatedDevice> device_;
};

class EnumMoniker final : public IEnumMoniker, public EmuObject {
public:
    explicit EnumMoniker(std::vector<std::shared_ptr<const SimulatedDevice>> devices) : devices_(std::move(devices)) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        return QueryImpl(iid, out, {{&IID_IUnknown, this}, {&IID_IEnumMoniker, this}});
    }
    EMU_REFCOUNT_METHODS
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IMoniker **out, ULONG *fetched) override {
        if (out == nullptr || (count > 1 && fetched == nullptr)) return E_POINTER;
        HRESULT hr = CheckFault(Call::EnumMonikerNext);
        if (fetched) *fetched = 0;
        if (FAILED(hr)) return hr;
        ULONG n = 0;
        while (n < count && position_ < devices_.size()) {
            out[n++] = new Moniker(devices_[position_++]);
        }
        if (fetched) *fetched = n;
        return n == count ? Completed(hr) : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }

private:
    std::vector<std::shared_ptr<const SimulatedDevice>> devices_;
    size_t position_ = 0;
};

class SystemDeviceEnum final : public ICreateDevEnum, public EmuObject {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        return QueryImpl(iid, out, {{&IID_IUnknown, this}, {&IID_ICreateDevEnum, this}});
    }
    EMU_REFCOUNT_METHODS
    // An empty or unknown category gives S_FALSE and no enumerator.
    HRESULT STDMETHODCALLTYPE CreateClassEnumerator(REFCLSID category, IEnumMoniker **out, DWORD) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        HRESULT hr = CheckFault(Call::CreateClassEnumerator);
        if (FAILED(hr)) return hr;
        std::vector<std::shared_ptr<const SimulatedDevice>> snapshot;
        if (IsEqualGUID(category, CLSID_VideoInputDeviceCategory)) {
            std::lock_guard<std::mutex> lock(g_devices_mutex);
            snapshot = g_devices;
        }
        if (snapshot.empty()) return S_FALSE;
        *out = new EnumMoniker(std::move(snapshot));
        return Completed(hr);
    }
};

}  // namespace

HRESULT CreateSystemDeviceEnum(REFIID iid, void **out) {
    *out = nullptr;
    if (!IsEqualGUID(iid, IID_ICreateDevEnum) && !IsEqualGUID(iid, IID_IUnknown)) return E_NOINTERFACE;
    *out = static_cast<ICreateDevEnum *>(new SystemDeviceEnum());
    return S_OK;
}

int RegisterDevice(const SimulatedDevice &device) {
    std::lock_guard<std::mutex> lock(g_devices_mutex);
    g_devices.push_back(std::make_shared<const SimulatedDevice>(device));
    return static_cast<int>(g_devices.size()) - 1;
}

void ClearDevices() {
    std::lock_guard<std::mutex> lock(g_devices_mutex);
    g_devices.clear();
}

}  // namespace emu
