// The DirectX runtime on Windows: the system's own libraries, loaded by name
// from the system folder.
// Every DirectX entry point is looked up at run time, so the library links
// against no DirectX import library; objects are driven through the SDK's
// interface declarations, and COM is the shared runtime's. Stateless; runs on
// the probe's calling thread.
#include <cstring>

#include "platform/dx_runtime.h"
#include "platform/platform.h"
#include "platform/win32/system_library.h"

#include <ddraw.h>

namespace kovic {
namespace {

// The surface description carries its own size: 108 bytes on 32-bit Windows,
// 120 on 64-bit (the surface pointer widens to 8 bytes and moves to an 8-byte
// boundary, and the whole is padded to a multiple of 8).
static_assert(sizeof(DDSURFACEDESC) == (sizeof(void *) == 4 ? 108 : 120), "the surface description of this Windows");
static_assert(kSurfaceDescCapsValid == DDSD_CAPS && kSurfaceCapsPrimarySurface == DDSCAPS_PRIMARYSURFACE &&
                  kCooperativeLevelNormal == DDSCL_NORMAL,
              "the probe's flags are the SDK's");

typedef HRESULT(WINAPI *DirectDrawCreateFunction)(GUID *driver, IDirectDraw **out, IUnknown *outer);
typedef HRESULT(WINAPI *DirectDrawCreateExFunction)(GUID *driver, void **out, REFIID iid, IUnknown *outer);

// Only handles from CallDirectDrawCreate reach the IDirectDraw methods.
IDirectDraw *ToDirectDraw(DxObject object) { return static_cast<IDirectDraw *>(ToUnknown(object)); }

class Win32DxRuntime final : public DxRuntime {
public:
    // The DirectX libraries are the system's: they are loaded from the system
    // folder alone, so a file of the same name planted beside the host, in its
    // current folder or on PATH is never loaded into it.
    DxLibrary OpenLibrary(const char *name) override { return reinterpret_cast<DxLibrary>(LoadSystemLibrary(name)); }

    DxEntryPoint FindEntryPoint(DxLibrary library, const char *name) override {
        return reinterpret_cast<DxEntryPoint>(GetProcAddress(reinterpret_cast<HMODULE>(library), name));
    }

    void CloseLibrary(DxLibrary library) override { FreeLibrary(reinterpret_cast<HMODULE>(library)); }

    HRESULT CallDirectDrawCreate(DxEntryPoint entry, DxObject *out) override {
        auto create = reinterpret_cast<DirectDrawCreateFunction>(entry);
        IDirectDraw *direct_draw = nullptr;
        const HRESULT hr = create(nullptr, &direct_draw, nullptr);
        *out = ToHandle(direct_draw);
        return hr;
    }

    HRESULT CallDirectDrawCreateEx(DxEntryPoint entry, REFIID iid, DxObject *out) override {
        auto create = reinterpret_cast<DirectDrawCreateExFunction>(entry);
        void *object = nullptr;
        const HRESULT hr = create(nullptr, &object, iid, nullptr);
        *out = ToHandle(static_cast<IUnknown *>(object));
        return hr;
    }

    HRESULT SetCooperativeLevel(DxObject direct_draw, HWND window, DWORD flags) override {
        return ToDirectDraw(direct_draw)->SetCooperativeLevel(window, flags);
    }

    HRESULT CreateSurface(DxObject direct_draw, const SurfaceRequest &request, DxObject *out) override {
        DDSURFACEDESC description;
        std::memset(&description, 0, sizeof description);
        description.dwSize = sizeof description;
        description.dwFlags = request.flags;
        description.ddsCaps.dwCaps = request.caps;
        IDirectDrawSurface *surface = nullptr;
        const HRESULT hr = ToDirectDraw(direct_draw)->CreateSurface(&description, &surface, nullptr);
        *out = ToHandle(surface);
        return hr;
    }
};

}  // namespace

DxRuntime &DefaultDxRuntime() {
    static Win32DxRuntime runtime;
    return runtime;
}

}  // namespace kovic
