// The probe's ladder over a scripted runtime: every exit with its code, its one
// text and its releases, COM apartments, partial successes, and calls that
// keep nothing between them.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dxprobe/dx_probe.h"
#include "fake_dx_runtime.h"

using kovic_test::FakeDxRuntime;

namespace {

// Every call of a run that passes every test, in order.
const std::vector<std::string> kFullPass = {
    "LoadLibrary DDRAW.DLL",
    "GetProcAddress DDRAW.DLL DirectDrawCreate",
    "DirectDrawCreate",
    "QI DirectDraw IDirectDraw2",
    "Release IDirectDraw2",
    "LoadLibrary DINPUT.DLL",
    "GetProcAddress DINPUT.DLL DirectInputCreateA",
    "FreeLibrary DINPUT.DLL",
    "SetCooperativeLevel",
    "CreateSurface",
    "QI Surface IDirectDrawSurface3",
    "Release IDirectDrawSurface3",
    "QI Surface IDirectDrawSurface4",
    "Release IDirectDrawSurface4",
    "Release Surface",
    "Release DirectDraw",
    "CoInitialize",
    "CoCreateInstance CLSID_DirectMusic IDirectMusic",
    "Release DirectMusic",
    "CoUninitialize",
    "GetProcAddress DDRAW.DLL DirectDrawCreateEx",
    "DirectDrawCreateEx IDirectDraw7",
    "Release IDirectDraw7",
    "LoadLibrary D3D8.DLL",
    "LoadLibrary dpnhpast.dll",
    "FreeLibrary DDRAW.DLL",
    "FreeLibrary D3D8.DLL",
    "FreeLibrary dpnhpast.dll",
};

// The full pass up to and including `call`, then `then`.
std::vector<std::string> FullPassUntil(const std::string &call, const std::vector<std::string> &then) {
    std::vector<std::string> expected;
    for (const std::string &entry : kFullPass) {
        expected.push_back(entry);
        if (entry == call) break;
    }
    EXPECT_EQ(expected.back(), call) << "not a call of the full pass";
    expected.insert(expected.end(), then.begin(), then.end());
    return expected;
}

// Whatever the outcome: nothing left held, no rule broken, COM as it was.
void ExpectCleanRun(const FakeDxRuntime &runtime, FakeDxRuntime::Apartment apartment, int com_depth) {
    EXPECT_EQ(runtime.breaches, std::vector<std::string>{});
    EXPECT_EQ(runtime.LiveObjects(), 0);
    EXPECT_EQ(runtime.LoadedLibraries(), 0);
    EXPECT_EQ(runtime.apartment, apartment);
    EXPECT_EQ(runtime.com_depth, com_depth);
}

TEST(DxProbe, EveryTestPassedProvesEightOneAndWritesNothing) {
    FakeDxRuntime runtime;
    EXPECT_EQ(kovic::ProbeDirectXVersion(runtime), 0x801u);
    EXPECT_EQ(runtime.log, kFullPass);
    EXPECT_TRUE(runtime.DebugTexts().empty());
    ExpectCleanRun(runtime, FakeDxRuntime::Apartment::None, 0);
}

struct FailureExit {
    const char *absent;      // a library or "library!export" that is missing, or
    const char *refused;     // a call that fails
    const char *failing_call;
    unsigned int version;
    std::vector<std::string> releases;  // after the failing call, in order
    const char *text;
};

TEST(DxProbe, EveryFailureExitGivesItsCodeOneTextAfterItsReleases) {
    const std::vector<std::string> ddraw = {"FreeLibrary DDRAW.DLL"};
    const std::vector<std::string> draw = {"Release DirectDraw", "FreeLibrary DDRAW.DLL"};
    const std::vector<std::string> surface = {"Release Surface", "Release DirectDraw", "FreeLibrary DDRAW.DLL"};
    const FailureExit exits[] = {
        {"DDRAW.DLL", nullptr, "LoadLibrary DDRAW.DLL", 0x0, {}, "Couldn't LoadLibrary DDraw\r\n"},
        {"DDRAW.DLL!DirectDrawCreate", nullptr, "GetProcAddress DDRAW.DLL DirectDrawCreate", 0x0, ddraw,
         "Couldn't GetProcAddress DirectDrawCreate\r\n"},
        {nullptr, "DirectDrawCreate", "DirectDrawCreate", 0x0, ddraw, "Couldn't create DDraw\r\n"},
        {nullptr, "QI IDirectDraw2", "QI DirectDraw IDirectDraw2", 0x100, draw, "Couldn't QI DDraw2\r\n"},
        {"DINPUT.DLL", nullptr, "LoadLibrary DINPUT.DLL", 0x200, draw, "Couldn't LoadLibrary DInput\r\n"},
        {"DINPUT.DLL!DirectInputCreateA", nullptr, "GetProcAddress DINPUT.DLL DirectInputCreateA", 0x200,
         {"FreeLibrary DINPUT.DLL", "Release DirectDraw", "FreeLibrary DDRAW.DLL"},
         "Couldn't GetProcAddress DInputCreate\r\n"},
        {nullptr, "SetCooperativeLevel", "SetCooperativeLevel", 0x0, draw, "Couldn't Set coop level\r\n"},
        {nullptr, "CreateSurface", "CreateSurface", 0x0, draw, "Couldn't CreateSurface\r\n"},
        {nullptr, "QI IDirectDrawSurface3", "QI Surface IDirectDrawSurface3", 0x300, surface, "Couldn't QI DDS3\r\n"},
        {nullptr, "QI IDirectDrawSurface4", "QI Surface IDirectDrawSurface4", 0x500, surface, "Couldn't QI DDS4\r\n"},
        {nullptr, "CoCreateInstance", "CoCreateInstance CLSID_DirectMusic IDirectMusic", 0x600,
         {"CoUninitialize", "FreeLibrary DDRAW.DLL"}, "Couldn't create CLSID_DirectMusic\r\n"},
        {"DDRAW.DLL!DirectDrawCreateEx", nullptr, "GetProcAddress DDRAW.DLL DirectDrawCreateEx", 0x601, ddraw,
         "Couldn't GetProcAddress DirectDrawCreateEx\r\n"},
        {nullptr, "DirectDrawCreateEx", "DirectDrawCreateEx IDirectDraw7", 0x601, ddraw,
         "Couldn't DirectDrawCreateEx\r\n"},
        {"D3D8.DLL", nullptr, "LoadLibrary D3D8.DLL", 0x700, ddraw, "Couldn't LoadLibrary D3D8.DLL\r\n"},
        {"dpnhpast.dll", nullptr, "LoadLibrary dpnhpast.dll", 0x800, {"FreeLibrary DDRAW.DLL", "FreeLibrary D3D8.DLL"},
         "Couldn't LoadLibrary dpnhpast.dll\r\n"},
    };
    for (const FailureExit &exit : exits) {
        SCOPED_TRACE(exit.failing_call);
        FakeDxRuntime runtime;
        if (exit.absent) runtime.missing.insert(exit.absent);
        if (exit.refused) runtime.results[exit.refused] = E_FAIL;

        EXPECT_EQ(kovic::ProbeDirectXVersion(runtime), exit.version);

        std::vector<std::string> then = exit.releases;
        then.push_back(FakeDxRuntime::kDebugPrefix + std::string(exit.text));
        EXPECT_EQ(runtime.log, FullPassUntil(exit.failing_call, then));
        ExpectCleanRun(runtime, FakeDxRuntime::Apartment::None, 0);
    }
}

TEST(DxProbe, PartialSuccessPasses) {
    FakeDxRuntime runtime;
    for (const char *call : {"DirectDrawCreate", "QI IDirectDraw2", "SetCooperativeLevel", "CreateSurface",
                             "QI IDirectDrawSurface3", "QI IDirectDrawSurface4", "CoCreateInstance",
                             "DirectDrawCreateEx"})
        runtime.results[call] = S_FALSE;
    EXPECT_EQ(kovic::ProbeDirectXVersion(runtime), 0x801u);
    EXPECT_EQ(runtime.log, kFullPass);
    ExpectCleanRun(runtime, FakeDxRuntime::Apartment::None, 0);
}

TEST(DxProbe, SuccessWithoutAnObjectFailsTheTestAndTouchesNothing) {
    struct Case {
        const char *call;
        unsigned int version;
        const char *text;
    };
    const Case cases[] = {
        {"DirectDrawCreate", 0x0, "Couldn't create DDraw\r\n"},
        {"QI IDirectDraw2", 0x100, "Couldn't QI DDraw2\r\n"},
        {"CreateSurface", 0x0, "Couldn't CreateSurface\r\n"},
        {"CoCreateInstance", 0x600, "Couldn't create CLSID_DirectMusic\r\n"},
        {"DirectDrawCreateEx", 0x601, "Couldn't DirectDrawCreateEx\r\n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.call);
        FakeDxRuntime runtime;
        runtime.no_object.insert(c.call);
        EXPECT_EQ(kovic::ProbeDirectXVersion(runtime), c.version);
        EXPECT_EQ(runtime.DebugTexts(), std::vector<std::string>{c.text});
        ExpectCleanRun(runtime, FakeDxRuntime::Apartment::None, 0);
    }
}

TEST(DxProbe, ComInitialisationOfTheCallerIsKept) {
    using Apartment = FakeDxRuntime::Apartment;
    struct Case {
        const char *name;
        Apartment apartment;
        int depth;
        HRESULT init_result;  // S_OK: the apartment model decides
        bool music_registered;
        unsigned int version;
        int uninitialisations;
    };
    const Case cases[] = {
        {"uninitialised thread", Apartment::None, 0, S_OK, true, 0x801, 1},
        {"single-threaded apartment (S_FALSE)", Apartment::Single, 1, S_OK, true, 0x801, 1},
        {"multithreaded apartment (RPC_E_CHANGED_MODE)", Apartment::Multi, 1, S_OK, true, 0x801, 0},
        {"multithreaded apartment, DirectMusic missing", Apartment::Multi, 1, S_OK, false, 0x600, 0},
        {"CoInitialize fails outright", Apartment::None, 0, E_OUTOFMEMORY, true, 0x600, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakeDxRuntime runtime;
        runtime.apartment = c.apartment;
        runtime.com_depth = c.depth;
        if (c.init_result != S_OK) runtime.results["CoInitialize"] = c.init_result;
        if (!c.music_registered) runtime.results["CoCreateInstance"] = REGDB_E_CLASSNOTREG;

        EXPECT_EQ(kovic::ProbeDirectXVersion(runtime), c.version);
        int uninitialisations = 0;
        for (const std::string &entry : runtime.log) uninitialisations += entry == "CoUninitialize" ? 1 : 0;
        EXPECT_EQ(uninitialisations, c.uninitialisations);
        ExpectCleanRun(runtime, c.apartment, c.depth);
    }
}

TEST(DxProbe, EachCallRunsTheWholeLadderAgain) {
    FakeDxRuntime runtime;
    runtime.missing.insert("dpnhpast.dll");
    EXPECT_EQ(kovic::ProbeDirectXVersion(runtime), 0x800u);
    const std::vector<std::string> first = runtime.log;
    runtime.log.clear();
    EXPECT_EQ(kovic::ProbeDirectXVersion(runtime), 0x800u);
    EXPECT_EQ(runtime.log, first) << "a repeated call makes the same calls";

    runtime.missing.clear();  // installed between two calls
    runtime.log.clear();
    EXPECT_EQ(kovic::ProbeDirectXVersion(runtime), 0x801u);
    EXPECT_EQ(runtime.log, kFullPass);

    runtime.missing.insert("DDRAW.DLL");  // and removed again
    EXPECT_EQ(kovic::ProbeDirectXVersion(runtime), 0u);
    ExpectCleanRun(runtime, FakeDxRuntime::Apartment::None, 0);
}

}  // namespace
