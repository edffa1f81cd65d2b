// The COM half of every platform's DirectX runtime: COM is initialised,
// objects are created, queried and released the same way wherever the probe
// runs, and its diagnostics go to the system debugger output. Runs on the
// probe's calling thread.
#include "platform/dx_runtime.h"

namespace kovic {

void DxRuntime::WriteDebugOutput(const char *text) { OutputDebugStringA(text); }

HRESULT DxRuntime::InitializeCom() { return CoInitialize(nullptr); }

void DxRuntime::UninitializeCom() { CoUninitialize(); }

HRESULT DxRuntime::CreateComInstance(REFCLSID clsid, REFIID iid, DxObject *out) {
    void *object = nullptr;
    const HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, &object);
    *out = ToHandle(static_cast<IUnknown *>(object));
    return hr;
}

HRESULT DxRuntime::QueryObject(DxObject object, REFIID iid, DxObject *out) {
    void *obtained = nullptr;
    const HRESULT hr = ToUnknown(object)->QueryInterface(iid, &obtained);
    *out = ToHandle(static_cast<IUnknown *>(obtained));
    return hr;
}

void DxRuntime::ReleaseObject(DxObject object) { ToUnknown(object)->Release(); }

}  // namespace kovic
