// The probe against the system's own DirectX runtime under Wine (32-bit and
// 64-bit Wine 8 pass every test): the code, no text, no library left loaded
// and the calling thread's COM apartment as it was. Runs on the test's threads.
#include <gtest/gtest.h>

#include <windows.h>
#include <objbase.h>

#include <string>
#include <thread>
#include <vector>

#include "kovic.h"

namespace {

const char *const kProbedLibraries[] = {"DDRAW.DLL", "DINPUT.DLL", "D3D8.DLL", "dpnhpast.dll"};

// Collects what this process writes with OutputDebugStringA: the call raises
// DBG_PRINTEXCEPTION_C, which a vectored handler sees before anything else.
class DebugOutputCapture {
public:
    DebugOutputCapture() {
        text_.clear();
        handler_ = AddVectoredExceptionHandler(1, &Handler);
    }
    ~DebugOutputCapture() { RemoveVectoredExceptionHandler(handler_); }
    DebugOutputCapture(const DebugOutputCapture &) = delete;
    DebugOutputCapture &operator=(const DebugOutputCapture &) = delete;
    const std::string &text() const { return text_; }

private:
    static LONG CALLBACK Handler(EXCEPTION_POINTERS *info) {
        const EXCEPTION_RECORD *record = info->ExceptionRecord;
        if (record->ExceptionCode != DBG_PRINTEXCEPTION_C || record->NumberParameters < 2)
            return EXCEPTION_CONTINUE_SEARCH;
        text_ += reinterpret_cast<const char *>(record->ExceptionInformation[1]);
        return EXCEPTION_CONTINUE_EXECUTION;
    }
    static std::string text_;
    void *handler_;
};
std::string DebugOutputCapture::text_;

// The calling thread's own apartment; an implicit one borrowed from another
// thread's multithreaded apartment counts as none.
std::string OwnApartment() {
    APTTYPE type;
    APTTYPEQUALIFIER qualifier;
    if (FAILED(CoGetApartmentType(&type, &qualifier)) || qualifier == APTTYPEQUALIFIER_IMPLICIT_MTA) return "none";
    return type == APTTYPE_MTA ? "MTA" : "STA";
}

TEST(DxProbeWine, EveryTestPassesAndNothingIsWritten) {
    std::string self_test, written;
    unsigned int version;
    {
        DebugOutputCapture capture;
        OutputDebugStringA("capture works\r\n");
        self_test = capture.text();
    }
    {
        DebugOutputCapture capture;
        version = MirelGetDXVersion();
        written = capture.text();
    }
    ASSERT_EQ(self_test, "capture works\r\n");
    EXPECT_EQ(version, 0x801u);
    EXPECT_EQ(written, "");
}

// Whether the system unloads `name` once its last reference is freed. Wine's
// DDRAW.DLL pins itself when it loads (it may outlive window procedures it
// replaced), so the references on it cannot be seen from outside.
bool UnloadsWhenFreed(const char *name) {
    if (GetModuleHandleA(name) != nullptr) return false;
    HMODULE module = LoadLibraryA(name);
    if (module == nullptr) return false;
    FreeLibrary(module);
    return GetModuleHandleA(name) == nullptr;
}

TEST(DxProbeWine, NoLibraryStaysLoadedOnTheProbesAccount) {
    std::vector<const char *> watched;
    for (const char *name : kProbedLibraries) {
        if (UnloadsWhenFreed(name)) watched.push_back(name);
    }
    ASSERT_GE(watched.size(), 3u) << "DINPUT.DLL, D3D8.DLL and dpnhpast.dll unload when freed";

    EXPECT_EQ(MirelGetDXVersion(), 0x801u);
    for (const char *name : watched) EXPECT_EQ(GetModuleHandleA(name), nullptr) << name;

    // A host's own reference survives the probe, and the probe adds none.
    for (const char *name : watched) {
        HMODULE host_reference = LoadLibraryA(name);
        ASSERT_NE(host_reference, nullptr) << name;
        EXPECT_EQ(MirelGetDXVersion(), 0x801u);
        EXPECT_EQ(GetModuleHandleA(name), host_reference) << name;
        FreeLibrary(host_reference);
        EXPECT_EQ(GetModuleHandleA(name), nullptr) << name;
    }
}

TEST(DxProbeWine, TheCallingThreadsApartmentIsKept) {
    struct Case {
        const char *name;
        DWORD init;  // ~0u: the thread does not initialise COM
    };
    const Case cases[] = {
        {"uninitialised", ~0u},
        {"single-threaded", COINIT_APARTMENTTHREADED},
        {"multithreaded", COINIT_MULTITHREADED},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        unsigned int version = 0;
        std::string before, after, after_own_uninitialise;
        std::thread thread([&] {
            if (c.init != ~0u) CoInitializeEx(nullptr, c.init);
            before = OwnApartment();
            version = MirelGetDXVersion();
            after = OwnApartment();
            if (c.init != ~0u) CoUninitialize();
            after_own_uninitialise = OwnApartment();
        });
        thread.join();
        EXPECT_EQ(version, 0x801u);
        EXPECT_EQ(after, before);
        EXPECT_EQ(after_own_uninitialise, "none") << "the probe left an initialisation behind";
    }
}

TEST(DxProbeWine, KOVICCreateMakesNoDifference) {
    const unsigned int without = MirelGetDXVersion();
    ASSERT_EQ(KOVICCreate(), 1);
    EXPECT_EQ(MirelGetDXVersion(), without);
    EXPECT_EQ(without, 0x801u);
}

}  // namespace
