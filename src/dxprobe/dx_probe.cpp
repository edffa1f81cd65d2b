// The probe's ladder: fifteen tests over a DxRuntime, oldest release first,
// stopping at the first that fails. Everything it holds lives in holders local
// to one call, so nothing survives the return; runs on the calling thread.
#include "dxprobe/dx_probe.h"

#include "platform/dx_runtime.h"
#include "platform/hresult_tests.h"

namespace kovic {
namespace {

// One module reference of the ladder; freed at the latest when the holder goes.
class HeldLibrary {
public:
    explicit HeldLibrary(DxRuntime &runtime) : runtime_(runtime) {}
    HeldLibrary(const HeldLibrary &) = delete;
    HeldLibrary &operator=(const HeldLibrary &) = delete;
    ~HeldLibrary() { Free(); }

    bool Load(const char *name) {
        Free();
        library_ = runtime_.OpenLibrary(name);
        return library_ != nullptr;
    }
    DxLibrary Get() const { return library_; }
    void Free() {
        if (library_ == nullptr) return;
        DxLibrary library = library_;
        library_ = nullptr;
        runtime_.CloseLibrary(library);
    }

private:
    DxRuntime &runtime_;
    DxLibrary library_ = nullptr;
};

// One object reference of the ladder; released at the latest when the holder goes.
class HeldObject {
public:
    explicit HeldObject(DxRuntime &runtime) : runtime_(runtime) {}
    HeldObject(const HeldObject &) = delete;
    HeldObject &operator=(const HeldObject &) = delete;
    ~HeldObject() { Release(); }

    // The cleared slot for a call that hands out an object.
    DxObject *Receive() {
        Release();
        return &object_;
    }
    // Takes the result of that call. It passes only when the call succeeded
    // and an object came; on failure the slot may hold anything the runtime
    // left there, so it is dropped, never released.
    bool Accept(HRESULT result) {
        if (CallFailed(result)) object_ = nullptr;
        return object_ != nullptr;
    }
    DxObject Get() const { return object_; }
    void Release() {
        if (object_ == nullptr) return;
        DxObject object = object_;
        object_ = nullptr;
        runtime_.ReleaseObject(object);
    }

private:
    DxRuntime &runtime_;
    DxObject object_ = nullptr;
};

// How the ladder ended: the version code, and the diagnostic text of the
// failing test (null when every test passed).
struct LadderOutcome {
    unsigned int version;
    const char *failure_text;
};

// Whether `object` offers `iid`. Obtaining the interface is the whole test, so
// the reference is released at once.
bool Offers(DxRuntime &runtime, DxObject object, REFIID iid) {
    HeldObject obtained(runtime);
    return obtained.Accept(runtime.QueryObject(object, iid, obtained.Receive()));
}

// Whether COM makes a DirectMusic object. COM is initialised on the calling
// thread for this test only. A thread that already belongs to a multithreaded
// apartment refuses (RPC_E_CHANGED_MODE) and keeps its caller's initialisation,
// which must not be undone: only an initialisation that succeeded (S_FALSE
// included) is matched by an uninitialisation.
bool CreatesDirectMusic(DxRuntime &runtime) {
    const bool initialised = !CallFailed(runtime.InitializeCom());
    bool created;
    {
        HeldObject music(runtime);
        created = music.Accept(runtime.CreateComInstance(CLSID_DirectMusic, IID_IDirectMusic, music.Receive()));
    }  // released while COM is still initialised
    if (initialised) runtime.UninitializeCom();
    return created;
}

LadderOutcome RunLadder(DxRuntime &runtime) {
    // Holders are destroyed in the reverse order of their declaration, which is
    // the release order of every exit: the surface, then the DirectDraw object
    // (each before the library that made it), then DDRAW.DLL, D3D8.DLL and
    // dpnhpast.dll. Steps that finish with something release it themselves.
    HeldLibrary dpnhpast(runtime);
    HeldLibrary d3d8(runtime);
    HeldLibrary ddraw(runtime);
    HeldObject direct_draw(runtime);
    HeldObject primary_surface(runtime);

    if (!ddraw.Load("DDRAW.DLL")) return {kDxVersionNone, "Couldn't LoadLibrary DDraw\r\n"};
    const DxEntryPoint direct_draw_create = runtime.FindEntryPoint(ddraw.Get(), "DirectDrawCreate");
    if (direct_draw_create == nullptr) return {kDxVersionNone, "Couldn't GetProcAddress DirectDrawCreate\r\n"};
    if (!direct_draw.Accept(runtime.CallDirectDrawCreate(direct_draw_create, direct_draw.Receive())))
        return {kDxVersionNone, "Couldn't create DDraw\r\n"};

    if (!Offers(runtime, direct_draw.Get(), IID_IDirectDraw2)) return {kDxVersion1_0, "Couldn't QI DDraw2\r\n"};

    {
        // Only looked up, never called; the library goes whether found or not.
        HeldLibrary dinput(runtime);
        if (!dinput.Load("DINPUT.DLL")) return {kDxVersion2_0, "Couldn't LoadLibrary DInput\r\n"};
        const bool exports_create = runtime.FindEntryPoint(dinput.Get(), "DirectInputCreateA") != nullptr;
        dinput.Free();
        if (!exports_create) return {kDxVersion2_0, "Couldn't GetProcAddress DInputCreate\r\n"};
    }

    // The cooperative level and the primary surface prove no release; a refusal
    // leaves the release undetermined, hence 0. No display mode is set and
    // nothing is drawn.
    const SurfaceRequest primary{kSurfaceDescCapsValid, kSurfaceCapsPrimarySurface};
    if (CallFailed(runtime.SetCooperativeLevel(direct_draw.Get(), nullptr, kCooperativeLevelNormal)))
        return {kDxVersionNone, "Couldn't Set coop level\r\n"};
    if (!primary_surface.Accept(runtime.CreateSurface(direct_draw.Get(), primary, primary_surface.Receive())))
        return {kDxVersionNone, "Couldn't CreateSurface\r\n"};

    if (!Offers(runtime, primary_surface.Get(), IID_IDirectDrawSurface3))
        return {kDxVersion3_0, "Couldn't QI DDS3\r\n"};
    if (!Offers(runtime, primary_surface.Get(), IID_IDirectDrawSurface4))
        return {kDxVersion5_0, "Couldn't QI DDS4\r\n"};
    primary_surface.Release();
    direct_draw.Release();

    if (!CreatesDirectMusic(runtime)) return {kDxVersion6_0, "Couldn't create CLSID_DirectMusic\r\n"};

    const DxEntryPoint direct_draw_create_ex = runtime.FindEntryPoint(ddraw.Get(), "DirectDrawCreateEx");
    if (direct_draw_create_ex == nullptr) return {kDxVersion6_1, "Couldn't GetProcAddress DirectDrawCreateEx\r\n"};
    {
        HeldObject direct_draw7(runtime);
        if (!direct_draw7.Accept(
                runtime.CallDirectDrawCreateEx(direct_draw_create_ex, IID_IDirectDraw7, direct_draw7.Receive())))
            return {kDxVersion6_1, "Couldn't DirectDrawCreateEx\r\n"};
    }

    // Nothing in these two is looked up or called: loading them is the test.
    if (!d3d8.Load("D3D8.DLL")) return {kDxVersion7_0, "Couldn't LoadLibrary D3D8.DLL\r\n"};
    if (!dpnhpast.Load("dpnhpast.dll")) return {kDxVersion8_0, "Couldn't LoadLibrary dpnhpast.dll\r\n"};
    return {kDxVersion8_1, nullptr};
}

}  // namespace

unsigned int ProbeDirectXVersion(DxRuntime &runtime) {
    // RunLadder's holders are all gone by now, so the text follows every release.
    const LadderOutcome outcome = RunLadder(runtime);
    if (outcome.failure_text != nullptr) runtime.WriteDebugOutput(outcome.failure_text);
    return outcome.version;
}

unsigned int ProbeDirectXVersion() { return ProbeDirectXVersion(DefaultDxRuntime()); }

}  // namespace kovic
