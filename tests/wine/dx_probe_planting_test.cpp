// The probe never loads a library planted under a system library's name.
// tests/wine/planting.sh runs this program three times, with copies of a
// stand-in library that records every load of it (planted_library.c) placed
// beside the program, in its current folder, or in a folder on its PATH,
// native libraries preferred to Wine's own for those names.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "dxprobe/dx_probe.h"
#include "platform/win32/system_library.h"

namespace {

const char *const kProbedLibraries[] = {"DDRAW.DLL", "DINPUT.DLL", "D3D8.DLL", "dpnhpast.dll"};

std::string Scenario() {
    const char *s = std::getenv("KOVIC_PLANT_SCENARIO");
    return s != nullptr ? s : "";
}

// The stand-ins loaded so far, one full file name a line.
std::string PlantedLoads() {
    const char *marker = std::getenv("KOVIC_PLANT_MARKER");
    if (marker == nullptr) return "no marker file named";
    std::ifstream in(marker, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void ForgetPlantedLoads() { DeleteFileA(std::getenv("KOVIC_PLANT_MARKER")); }

bool InSystemFolder(HMODULE module) {
    char system[MAX_PATH], file[MAX_PATH];
    const UINT folder = GetSystemDirectoryA(system, MAX_PATH);
    const DWORD length = GetModuleFileNameA(module, file, MAX_PATH);
    return folder > 0 && length > folder && CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, system, folder, file,
                                                           folder) == CSTR_EQUAL && file[folder] == '\\';
}

class Planting : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(Scenario().empty()) << "run by planting.sh";
        ForgetPlantedLoads();
    }
};

// The folder the stand-ins were put in is one the loader searches: a name no
// system library has is found there.
TEST_F(Planting, TheLoaderSearchesThePlantedFolder) {
    HMODULE control = LoadLibraryA("kovicplant.dll");
    ASSERT_NE(control, nullptr);
    FreeLibrary(control);
    EXPECT_NE(PlantedLoads().find("kovicplant.dll"), std::string::npos) << PlantedLoads();
}

TEST_F(Planting, TheProbeLoadsOnlyTheSystemsLibraries) {
    EXPECT_EQ(kovic::ProbeDirectXVersion(), 0x801u);
    EXPECT_EQ(PlantedLoads(), "");
}

TEST_F(Planting, TheShippedLibrarysProbeLoadsOnlyTheSystemsLibraries) {
    HMODULE kovic = LoadLibraryA("kovic.dll");
    ASSERT_NE(kovic, nullptr);
    typedef unsigned int(WINAPI * Probe)(void);
    auto probe = reinterpret_cast<Probe>(reinterpret_cast<void *>(GetProcAddress(kovic, "MirelGetDXVersion")));
    ASSERT_NE(probe, nullptr);
    EXPECT_EQ(probe(), 0x801u);
    FreeLibrary(kovic);
    EXPECT_EQ(PlantedLoads(), "");
}

// Both ways of loading from the system folder, with and without the loader's
// search flags, find each library there.
TEST_F(Planting, BothWaysLoadFromTheSystemFolder) {
    for (const char *name : kProbedLibraries) {
        SCOPED_TRACE(name);
        for (HMODULE (*load)(const char *) : {kovic::LoadSystemLibraryBySearchFlag, kovic::LoadSystemLibraryByPath}) {
            HMODULE module = load(name);
            ASSERT_NE(module, nullptr);
            EXPECT_TRUE(InSystemFolder(module));
            FreeLibrary(module);
        }
    }
    EXPECT_EQ(PlantedLoads(), "");
}

// What a bare name would have done beside the program: the stand-in is loaded.
// This is the fault the probe avoids, shown so that the layout is known to be
// hostile. (From the current folder or PATH, Wine finds its own copy first.)
TEST_F(Planting, ABareNameBesideTheProgramLoadsTheStandIn) {
    if (Scenario() != "program") GTEST_SKIP() << "the system's copy comes first from " << Scenario();
    HMODULE module = LoadLibraryA("DINPUT.DLL");
    ASSERT_NE(module, nullptr);
    EXPECT_FALSE(InSystemFolder(module));
    FreeLibrary(module);
    EXPECT_NE(PlantedLoads().find("DINPUT.DLL"), std::string::npos) << PlantedLoads();
}

}  // namespace
