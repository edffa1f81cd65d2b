// DxRuntime: what the DirectX version probe needs of the operating system,
// behind one narrow interface so that the probe's ladder runs unchanged over the
// real runtime, the emulated platform or a scripted fake. Implementations keep
// no state of the probe's; every call runs on the probe's calling thread. The
// COM half of the interface is the same on every platform and is implemented
// once (dx_runtime.cpp); each platform's runtime adds the DirectX libraries.
#pragma once

#include "platform/platform.h"

namespace kovic {

// Opaque handles: a loaded module, an address found in it, and one counted
// reference to an object made by the runtime.
struct DxLibraryHandle;
struct DxEntryPointHandle;
struct DxObjectHandle;
using DxLibrary = DxLibraryHandle *;
using DxEntryPoint = DxEntryPointHandle *;
using DxObject = DxObjectHandle *;

// The members of the platform's surface description that CreateSurface is given;
// the runtime fills in the record's size, and every other member is zero.
struct SurfaceRequest {
    DWORD flags;  // which members are valid
    DWORD caps;   // the capability flags of the surface wanted
};

// Every call that hands out an object sets *out; the ladder reads it only when
// the call succeeded (a negative HRESULT is a failure, S_FALSE is a success).
class DxRuntime {
public:
    virtual ~DxRuntime() = default;

    // Loads a library of the system's by name, from the system folder only:
    // null when the library cannot be loaded.
    virtual DxLibrary OpenLibrary(const char *name) = 0;
    // GetProcAddress: null when the library does not export the name.
    virtual DxEntryPoint FindEntryPoint(DxLibrary library, const char *name) = 0;
    // FreeLibrary: drops one reference from OpenLibrary.
    virtual void CloseLibrary(DxLibrary library) = 0;

    // OutputDebugStringA.
    virtual void WriteDebugOutput(const char *text);

    // CoInitialize(null) and CoUninitialize on the calling thread.
    virtual HRESULT InitializeCom();
    virtual void UninitializeCom();
    // CoCreateInstance(clsid, no outer object, in-process server, iid, out).
    virtual HRESULT CreateComInstance(REFCLSID clsid, REFIID iid, DxObject *out);

    // DirectDrawCreate found at `entry`: the active display driver, no outer
    // object; *out receives an IDirectDraw.
    virtual HRESULT CallDirectDrawCreate(DxEntryPoint entry, DxObject *out) = 0;
    // DirectDrawCreateEx found at `entry`: the active display driver, no outer
    // object; *out receives the interface `iid`.
    virtual HRESULT CallDirectDrawCreateEx(DxEntryPoint entry, REFIID iid, DxObject *out) = 0;

    // Methods of the objects handed out above. QueryObject and ReleaseObject
    // serve every object (IUnknown); the other two need an IDirectDraw.
    virtual HRESULT QueryObject(DxObject object, REFIID iid, DxObject *out);
    virtual void ReleaseObject(DxObject object);
    virtual HRESULT SetCooperativeLevel(DxObject direct_draw, HWND window, DWORD flags) = 0;
    virtual HRESULT CreateSurface(DxObject direct_draw, const SurfaceRequest &request, DxObject *out) = 0;
};

// The runtime of the platform the library was built for (one per platform
// folder). Stateless; lives for the process.
DxRuntime &DefaultDxRuntime();

// Every object the platforms' runtimes hand out is a COM interface pointer;
// its handle is that pointer seen as IUnknown (the first base of every
// interface). A scripted fake may use handles of its own.
inline DxObject ToHandle(IUnknown *object) { return reinterpret_cast<DxObject>(object); }
inline IUnknown *ToUnknown(DxObject object) { return reinterpret_cast<IUnknown *>(object); }

// The identifiers the probe asks for, with the platform's published values.
inline constexpr IID IID_IDirectDraw2 = {0xB3A6F3E0, 0x2B43, 0x11CF, {0xA2, 0xDE, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}};
inline constexpr IID IID_IDirectDraw7 = {0x15E65EC0, 0x3B9C, 0x11D2, {0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}};
inline constexpr IID IID_IDirectDrawSurface3 = {0xDA044E00, 0x69B2, 0x11D0,
                                                {0xA1, 0xD5, 0x00, 0xAA, 0x00, 0xB8, 0xDF, 0xBB}};
inline constexpr IID IID_IDirectDrawSurface4 = {0x0B2B8630, 0xAD35, 0x11D0,
                                                {0x8E, 0xA6, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}};
inline constexpr CLSID CLSID_DirectMusic = {0x636B9F10, 0x0C7D, 0x11D1,
                                           {0x95, 0xB2, 0x00, 0x20, 0xAF, 0xDC, 0x74, 0x21}};
inline constexpr IID IID_IDirectMusic = {0x6536115A, 0x7B2D, 0x11D2, {0xBA, 0x18, 0x00, 0x00, 0xF8, 0x75, 0xAC, 0x12}};

// Flag values of the platform's DirectDraw interface that the probe passes.
inline constexpr DWORD kSurfaceDescCapsValid = 0x1;         // DDSD_CAPS
inline constexpr DWORD kSurfaceCapsPrimarySurface = 0x200;  // DDSCAPS_PRIMARYSURFACE
inline constexpr DWORD kCooperativeLevelNormal = 0x8;       // DDSCL_NORMAL

}  // namespace kovic
