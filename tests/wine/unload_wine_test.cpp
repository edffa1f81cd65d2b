// A host frees kovic.dll while a session previews the virtual camera: the DLL
// stays loaded while the session's frame sink exists, frames keep arriving
// and can be armed for, and once the session is closed (through a reference
// the host takes again) freeing that reference unloads it. The program does
// not link the DLL; it loads it and finds the exports by name.
#include <gtest/gtest.h>

#include <windows.h>

#include "host_window.h"
#include "kovic.h"

namespace {

const char kCamera[] = "Kovic Test Camera";  // a device of tools/vcam/tests/devices.reg

struct Exports {
    explicit Exports(HMODULE dll) : dll(dll) {}
    template <class F>
    F Find(const char *name) const {
        return reinterpret_cast<F>(reinterpret_cast<void *>(GetProcAddress(dll, name)));
    }
    HMODULE dll;
};

typedef int(WINAPI *NoArguments)();
typedef int(WINAPI *OneSession)(KOVIC_SESSION);
typedef int(WINAPI *SessionAndInt)(KOVIC_SESSION, int);
typedef int(WINAPI *DeviceName)(int, char *);
typedef KOVIC_SESSION(WINAPI *OpenFunction)(void *);

// The catalogue index of `wanted`, through the loaded DLL.
int IndexOf(const Exports &e, const char *wanted) {
    const int count = e.Find<NoArguments>("KOVICGetVideoDeviceCount")();
    for (int i = 0; i < count; ++i) {
        char name[KOVIC_DEVICE_NAME_BYTES];
        if (e.Find<DeviceName>("KOVICGetVideoDevice")(i, name) == KOVIC_OK && lstrcmpA(name, wanted) == 0) return i;
    }
    return -1;
}

TEST(UnloadWine, FreeingTheDllWhilePreviewingKeepsItUntilTheSessionCloses) {
    ASSERT_EQ(GetModuleHandleA("kovic.dll"), nullptr);
    kovic_wine::HostWindow host;
    HMODULE dll = LoadLibraryA("kovic.dll");
    ASSERT_NE(dll, nullptr);
    const Exports first(dll);
    ASSERT_EQ(first.Find<NoArguments>("KOVICCreate")(), KOVIC_OK);
    const int device = IndexOf(first, kCamera);
    ASSERT_GE(device, 0);
    const KOVIC_SESSION session = first.Find<OpenFunction>("KOVICOpen")(host.as_handle());
    ASSERT_NE(session, 0);
    ASSERT_EQ(first.Find<SessionAndInt>("KOVICSelectDevice")(session, device), KOVIC_OK);
    ASSERT_EQ(first.Find<OneSession>("KOVICStartPreview")(session), KOVIC_OK);
    auto arm = first.Find<OneSession>("KOVICGetFrameCall");
    ASSERT_EQ(arm(session), KOVIC_OK);
    ASSERT_TRUE(host.PumpUntil([&] { return !host.frames.empty(); }, 5000)) << "no first frame";

    // The host lets go of the DLL; frames go on arriving and being armed for.
    ASSERT_TRUE(FreeLibrary(dll));
    EXPECT_EQ(GetModuleHandleA("kovic.dll"), dll) << "the DLL was unloaded under a previewing session";
    for (size_t wanted = host.frames.size() + 5; host.frames.size() < wanted;) {
        ASSERT_EQ(arm(session), KOVIC_OK);
        const size_t before = host.frames.size();
        ASSERT_TRUE(host.PumpUntil([&] { return host.frames.size() > before; }, 5000)) << "frames stopped";
    }

    // The host takes the DLL again to close the session, then frees it: the
    // last reference goes and the DLL with it.
    HMODULE again = LoadLibraryA("kovic.dll");
    ASSERT_EQ(again, dll);
    const Exports second(again);
    EXPECT_EQ(second.Find<OneSession>("KOVICStopPreview")(session), KOVIC_OK);
    host.DiscardQueuedFrames();
    EXPECT_EQ(second.Find<OneSession>("KOVICClose")(session), KOVIC_OK);
    ASSERT_TRUE(FreeLibrary(again));
    EXPECT_EQ(GetModuleHandleA("kovic.dll"), nullptr) << "the DLL stayed loaded after its last session closed";
}

}  // namespace
