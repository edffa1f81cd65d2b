// FakeDxRuntime: a scripted DirectX runtime for the probe's tests. Every
// library, export and call is there and succeeds unless the script says
// otherwise; each call is logged in order, and each breach of the platform's
// rules (a handle used after its release, an object outliving its library or
// its COM initialisation, a wrong argument, text written while something is
// still held) is recorded. One test thread; lives for one test.
#pragma once

#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform/dx_runtime.h"

namespace kovic_test {

// The identifiers the runtime knows, with their published values written out
// here independently of the library.
inline const char *DxIdName(REFGUID id) {
    static const struct {
        GUID id;
        const char *name;
    } kKnown[] = {
        {{0xB3A6F3E0, 0x2B43, 0x11CF, {0xA2, 0xDE, 0x00, 0xAA, 0x00, 0xB9, 0x33, 0x56}}, "IDirectDraw2"},
        {{0x15E65EC0, 0x3B9C, 0x11D2, {0xB9, 0x2F, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}}, "IDirectDraw7"},
        {{0xDA044E00, 0x69B2, 0x11D0, {0xA1, 0xD5, 0x00, 0xAA, 0x00, 0xB8, 0xDF, 0xBB}}, "IDirectDrawSurface3"},
        {{0x0B2B8630, 0xAD35, 0x11D0, {0x8E, 0xA6, 0x00, 0x60, 0x97, 0x97, 0xEA, 0x5B}}, "IDirectDrawSurface4"},
        {{0x636B9F10, 0x0C7D, 0x11D1, {0x95, 0xB2, 0x00, 0x20, 0xAF, 0xDC, 0x74, 0x21}}, "CLSID_DirectMusic"},
        {{0x6536115A, 0x7B2D, 0x11D2, {0xBA, 0x18, 0x00, 0x00, 0xF8, 0x75, 0xAC, 0x12}}, "IDirectMusic"},
    };
    for (const auto &known : kKnown)
        if (IsEqualGUID(known.id, id)) return known.name;
    return "unknown";
}

class FakeDxRuntime final : public kovic::DxRuntime {
public:
    using DxLibrary = kovic::DxLibrary;
    using DxEntryPoint = kovic::DxEntryPoint;
    using DxObject = kovic::DxObject;

    // --- The script ---
    // Absent libraries ("D3D8.DLL") and exports ("DDRAW.DLL!DirectDrawCreateEx").
    std::set<std::string> missing;
    // Results by call: "DirectDrawCreate", "QI IDirectDraw2", "SetCooperativeLevel",
    // "CreateSurface", "QI IDirectDrawSurface3", "QI IDirectDrawSurface4",
    // "CoInitialize", "CoCreateInstance", "DirectDrawCreateEx". Default S_OK.
    std::map<std::string, HRESULT> results;
    // Calls (same names) that succeed but hand out no object.
    std::set<std::string> no_object;
    // The calling thread's COM state.
    enum class Apartment { None, Single, Multi };
    Apartment apartment = Apartment::None;
    int com_depth = 0;

    // --- What happened ---
    std::vector<std::string> log;
    std::vector<std::string> breaches;

    int LiveObjects() const {
        int live = 0;
        for (const FakeObject &o : objects_) live += o.live ? 1 : 0;
        return live;
    }
    int LoadedLibraries() const {
        int loaded = 0;
        for (const auto &l : libraries_) loaded += l.second.refs;
        return loaded;
    }
    std::vector<std::string> DebugTexts() const {
        std::vector<std::string> texts;
        for (const std::string &entry : log)
            if (entry.rfind(kDebugPrefix, 0) == 0) texts.push_back(entry.substr(sizeof kDebugPrefix - 1));
        return texts;
    }
    static constexpr char kDebugPrefix[] = "OutputDebugStringA ";

    // --- DxRuntime ---
    DxLibrary OpenLibrary(const char *name) override {
        log.push_back(std::string("LoadLibrary ") + name);
        if (missing.count(name)) return nullptr;
        FakeLibrary &library = libraries_[name];
        library.name = name;
        ++library.refs;
        return reinterpret_cast<DxLibrary>(&library);
    }
    DxEntryPoint FindEntryPoint(DxLibrary handle, const char *name) override {
        FakeLibrary *library = Loaded(handle);
        if (library == nullptr) return nullptr;
        log.push_back("GetProcAddress " + library->name + " " + name);
        const std::string key = library->name + "!" + name;
        if (missing.count(key)) return nullptr;
        return reinterpret_cast<DxEntryPoint>(&entry_points_[key]);
    }
    void CloseLibrary(DxLibrary handle) override {
        FakeLibrary *library = Loaded(handle);
        if (library == nullptr) return;
        log.push_back("FreeLibrary " + library->name);
        if (--library->refs > 0) return;
        for (const FakeObject &o : objects_)
            if (o.live && o.library == library->name) Breach(o.name + " outlived " + library->name);
    }
    void WriteDebugOutput(const char *text) override {
        log.push_back(kDebugPrefix + std::string(text));
        if (LiveObjects() != 0 || LoadedLibraries() != 0) Breach("text written while something is held");
    }

    HRESULT InitializeCom() override {
        log.push_back("CoInitialize");
        if (results.count("CoInitialize")) return results["CoInitialize"];
        if (apartment == Apartment::Multi) return RPC_E_CHANGED_MODE;
        apartment = Apartment::Single;
        return com_depth++ == 0 ? S_OK : S_FALSE;
    }
    void UninitializeCom() override {
        log.push_back("CoUninitialize");
        if (com_depth == 0) return Breach("CoUninitialize without initialisation");
        if (--com_depth == 0) apartment = Apartment::None;
    }
    HRESULT CreateComInstance(REFCLSID clsid, REFIID iid, DxObject *out) override {
        log.push_back(std::string("CoCreateInstance ") + DxIdName(clsid) + " " + DxIdName(iid));
        if (com_depth == 0) return Refuse(CO_E_NOTINITIALIZED, out);
        if (std::string(DxIdName(clsid)) != "CLSID_DirectMusic" || std::string(DxIdName(iid)) != "IDirectMusic")
            return Refuse(REGDB_E_CLASSNOTREG, out);
        return Hand("CoCreateInstance", "DirectMusic", "", out);
    }

    HRESULT CallDirectDrawCreate(DxEntryPoint entry, DxObject *out) override {
        log.push_back("DirectDrawCreate");
        CheckEntryPoint(entry, "DDRAW.DLL!DirectDrawCreate");
        return Hand("DirectDrawCreate", "DirectDraw", "DDRAW.DLL", out);
    }
    HRESULT CallDirectDrawCreateEx(DxEntryPoint entry, REFIID iid, DxObject *out) override {
        log.push_back(std::string("DirectDrawCreateEx ") + DxIdName(iid));
        CheckEntryPoint(entry, "DDRAW.DLL!DirectDrawCreateEx");
        if (std::string(DxIdName(iid)) != "IDirectDraw7") return Refuse(E_NOINTERFACE, out);
        return Hand("DirectDrawCreateEx", "IDirectDraw7", "DDRAW.DLL", out);
    }

    HRESULT QueryObject(DxObject handle, REFIID iid, DxObject *out) override {
        FakeObject *object = Live(handle);
        if (object == nullptr) return Refuse(E_POINTER, out);
        const std::string name = DxIdName(iid);
        log.push_back("QI " + object->name + " " + name);
        const bool offered =
            (object->name == "DirectDraw" && name == "IDirectDraw2") ||
            (object->name == "Surface" && (name == "IDirectDrawSurface3" || name == "IDirectDrawSurface4"));
        if (!offered) return Refuse(E_NOINTERFACE, out);
        return Hand("QI " + name, name, object->library, out);
    }
    void ReleaseObject(DxObject handle) override {
        FakeObject *object = Live(handle);
        if (object == nullptr) return;
        log.push_back("Release " + object->name);
        object->live = false;
        if (object->library.empty() && com_depth == 0) Breach(object->name + " released after CoUninitialize");
    }
    HRESULT SetCooperativeLevel(DxObject direct_draw, HWND window, DWORD flags) override {
        if (!IsDirectDraw(direct_draw)) return E_POINTER;
        log.push_back("SetCooperativeLevel");
        if (window != nullptr || flags != 0x8) Breach("cooperative level: not a null window with normal flags");
        return Result("SetCooperativeLevel");
    }
    HRESULT CreateSurface(DxObject direct_draw, const kovic::SurfaceRequest &request, DxObject *out) override {
        if (!IsDirectDraw(direct_draw)) return Refuse(E_POINTER, out);
        log.push_back("CreateSurface");
        if (request.flags != 0x1 || request.caps != 0x200) Breach("surface: not the primary surface by its caps");
        return Hand("CreateSurface", "Surface", "DDRAW.DLL", out);
    }

private:
    struct FakeLibrary {
        std::string name;
        int refs = 0;
    };
    struct FakeObject {
        std::string name;
        std::string library;  // the module that made it; empty for COM's
        bool live;
    };

    void Breach(const std::string &what) { breaches.push_back(what); }
    HRESULT Result(const std::string &call) { return results.count(call) ? results[call] : S_OK; }

    // A failing call that, like some runtimes, leaves junk in the out slot.
    HRESULT Refuse(HRESULT hr, DxObject *out) {
        *out = reinterpret_cast<DxObject>(&junk_);
        return hr;
    }
    HRESULT Hand(const std::string &call, const std::string &name, const std::string &library, DxObject *out) {
        const HRESULT hr = Result(call);
        if (hr < 0) return Refuse(hr, out);
        if (no_object.count(call)) {
            *out = nullptr;
            return hr;
        }
        objects_.push_back({name, library, true});
        *out = reinterpret_cast<DxObject>(&objects_.back());
        return hr;
    }

    FakeLibrary *Loaded(DxLibrary handle) {
        for (auto &l : libraries_)
            if (reinterpret_cast<DxLibrary>(&l.second) == handle && l.second.refs > 0) return &l.second;
        Breach("not a loaded library");
        return nullptr;
    }
    FakeObject *Live(DxObject handle) {
        for (FakeObject &o : objects_)
            if (reinterpret_cast<DxObject>(&o) == handle && o.live) return &o;
        Breach("not a live object");
        return nullptr;
    }
    bool IsDirectDraw(DxObject handle) {
        FakeObject *object = Live(handle);
        if (object != nullptr && object->name == "DirectDraw") return true;
        Breach("not the DirectDraw object");
        return false;
    }
    void CheckEntryPoint(DxEntryPoint entry, const std::string &key) {
        auto found = entry_points_.find(key);
        if (found == entry_points_.end() || reinterpret_cast<DxEntryPoint>(&found->second) != entry)
            return Breach("called an entry point other than " + key);
        auto library = libraries_.find("DDRAW.DLL");
        if (library == libraries_.end() || library->second.refs == 0) Breach("called " + key + " after FreeLibrary");
    }

    std::map<std::string, FakeLibrary> libraries_;
    std::map<std::string, int> entry_points_;
    std::deque<FakeObject> objects_;
    int junk_ = 0;
};

}  // namespace kovic_test
