// The DirectX runtime of the emulated platform: there is none. No DirectX
// library loads, so the probe stops at its first test; COM and the debug output
// are the emulated platform's own. Stateless; runs on the probe's calling thread.
#include "dxprobe/dx_runtime.h"
#include "platform/platform.h"

namespace kovic {
namespace {

class EmulatedDxRuntime final : public DxRuntime {
public:
    DxLibrary OpenLibrary(const char *) override { return nullptr; }
    DxEntryPoint FindEntryPoint(DxLibrary, const char *) override { return nullptr; }
    void CloseLibrary(DxLibrary) override {}
    void WriteDebugOutput(const char *text) override { OutputDebugStringA(text); }

    HRESULT InitializeCom() override { return CoInitialize(nullptr); }
    void UninitializeCom() override { CoUninitialize(); }
    HRESULT CreateComInstance(REFCLSID clsid, REFIID iid, DxObject *out) override {
        void *object = nullptr;
        const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &object);
        *out = reinterpret_cast<DxObject>(static_cast<IUnknown *>(object));
        return hr;
    }

    // Without a DirectX library there is no entry point to call and no
    // DirectDraw object to drive.
    HRESULT CallDirectDrawCreate(DxEntryPoint, DxObject *out) override { return NoDirectDraw(out); }
    HRESULT CallDirectDrawCreateEx(DxEntryPoint, REFIID, DxObject *out) override { return NoDirectDraw(out); }
    HRESULT SetCooperativeLevel(DxObject, HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT CreateSurface(DxObject, const SurfaceRequest &, DxObject *out) override { return NoDirectDraw(out); }

    // The only objects handed out here come from CoCreateInstance.
    HRESULT QueryObject(DxObject object, REFIID iid, DxObject *out) override {
        void *obtained = nullptr;
        const HRESULT hr = reinterpret_cast<IUnknown *>(object)->QueryInterface(iid, &obtained);
        *out = reinterpret_cast<DxObject>(static_cast<IUnknown *>(obtained));
        return hr;
    }
    void ReleaseObject(DxObject object) override { reinterpret_cast<IUnknown *>(object)->Release(); }

private:
    static HRESULT NoDirectDraw(DxObject *out) {
        *out = nullptr;
        return E_NOTIMPL;
    }
};

}  // namespace

DxRuntime &DefaultDxRuntime() {
    static EmulatedDxRuntime runtime;
    return runtime;
}

}  // namespace kovic
