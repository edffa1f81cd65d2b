// The DirectX runtime of the emulated platform: there is none. No DirectX
// library loads, so the probe stops at its first test; COM and the debug output
// (the shared runtime's calls) are the emulated platform's own. Stateless; runs
// on the probe's calling thread.
#include "platform/dx_runtime.h"
#include "platform/platform.h"

namespace kovic {
namespace {

class EmulatedDxRuntime final : public DxRuntime {
public:
    DxLibrary OpenLibrary(const char *) override { return nullptr; }
    DxEntryPoint FindEntryPoint(DxLibrary, const char *) override { return nullptr; }
    void CloseLibrary(DxLibrary) override {}

    // Without a DirectX library there is no entry point to call and no
    // DirectDraw object to drive.
    HRESULT CallDirectDrawCreate(DxEntryPoint, DxObject *out) override { return NoDirectDraw(out); }
    HRESULT CallDirectDrawCreateEx(DxEntryPoint, REFIID, DxObject *out) override { return NoDirectDraw(out); }
    HRESULT SetCooperativeLevel(DxObject, HWND, DWORD) override { return E_NOTIMPL; }
    HRESULT CreateSurface(DxObject, const SurfaceRequest &, DxObject *out) override { return NoDirectDraw(out); }

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
