// The class object of the virtual camera filter. Static; any thread.
#include "class_factory.h"

#include <new>

#include "module.h"
#include "source_filter.h"

namespace vcam {
namespace {

class FilterFactory final : public IClassFactory {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory *>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // The object is static: references only keep the module locked.
    ULONG STDMETHODCALLTYPE AddRef() override {
        LockModule();
        return 2;
    }
    ULONG STDMETHODCALLTYPE Release() override {
        UnlockModule();
        return 1;
    }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        if (outer != nullptr) return CLASS_E_NOAGGREGATION;
        SourceFilter *filter = SourceFilter::Create();
        if (filter == nullptr) return E_OUTOFMEMORY;
        HRESULT hr = filter->QueryInterface(iid, out);
        filter->Release();  // the creation reference; QueryInterface added the caller's
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
        if (lock) {
            LockModule();
        } else {
            UnlockModule();
        }
        return S_OK;
    }
};

FilterFactory g_factory;

}  // namespace

IClassFactory *FilterClassFactory() { return &g_factory; }

}  // namespace vcam
