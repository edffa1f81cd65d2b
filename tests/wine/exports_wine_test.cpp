// The shipped kovic.dll under Wine, through its import library: real COM and
// DirectShow, no capture device registered. Answers for the cases a machine
// without a camera reaches.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>

#include "kovic.h"

namespace {

TEST(DllExports, CatalogueWithoutDevices) {
    EXPECT_EQ(KOVICGetVideoDeviceCount(), 0);
    ASSERT_EQ(KOVICCreate(), 1);
    ASSERT_EQ(KOVICCreate(), 1) << "a second start-up rebuilds the same catalogue";
    EXPECT_EQ(KOVICGetVideoDeviceCount(), 0);
    char name[80];
    std::memset(name, 0x5A, sizeof(name));
    EXPECT_EQ(KOVICGetVideoDevice(0, name), KOVIC_E_DEVICE_INDEX);
    EXPECT_EQ(KOVICGetVideoDevice(-1, name), KOVIC_E_NO_DEVICE_RECORD);
    EXPECT_EQ(name[0], 0x5A);
    EXPECT_EQ(KOVICDestroy(), 1);
}

TEST(DllExports, PreviewWithoutADeviceStopsAtTheBindingAndLeavesTheSessionEmpty) {
    ASSERT_EQ(KOVICCreate(), 1);
    KOVIC_SESSION s = KOVICOpen(nullptr);
    ASSERT_NE(s, 0);
    EXPECT_EQ(KOVICSelectDevice(s, 0), KOVIC_E_DEVICE_INDEX);
    EXPECT_EQ(KOVICSelectDevice(s, -1), KOVIC_E_DEVICE_INDEX);
    // The real graph builder and filter graph are created; no moniker has index 0.
    EXPECT_EQ(KOVICStartPreview(s), KOVIC_E_DEVICE_NOT_FOUND);
    EXPECT_EQ(KOVICIsPreviewing(s), 0);
    EXPECT_EQ(KOVICGetFrameCall(s), KOVIC_E_NO_FRAME_SINK);
    EXPECT_EQ(KOVICGetWidth(s), 0);
    EXPECT_EQ(KOVICGetHeight(s), 0);
    EXPECT_EQ(KOVICEnumVideoFormat(s, 640, 480), 0);
    EXPECT_EQ(KOVICStopPreview(s), KOVIC_E_NOT_PREVIEWING);
    EXPECT_EQ(KOVICStartPreview(s), KOVIC_E_DEVICE_NOT_FOUND) << "a failed build can be retried";
    EXPECT_EQ(KOVICClose(s), 1);
}

TEST(DllExports, HandlesThatAreNotLiveSessions) {
    KOVIC_SESSION closed = KOVICOpen(nullptr);
    ASSERT_EQ(KOVICClose(closed), 1);
    int stack_value = 0;
    for (KOVIC_SESSION h : {static_cast<KOVIC_SESSION>(0), closed, reinterpret_cast<KOVIC_SESSION>(&stack_value)}) {
        EXPECT_EQ(KOVICClose(h), KOVIC_E_NULL_HANDLE);
        EXPECT_EQ(KOVICIsPreviewing(h), KOVIC_E_NULL_HANDLE);
        EXPECT_EQ(KOVICStartPreview(h), KOVIC_E_NULL_HANDLE);
        EXPECT_EQ(KOVICSetVideoFormat(h, 1, 1), KOVIC_E_NULL_HANDLE);
        EXPECT_EQ(KOVICGetWidth(h), 0);
        EXPECT_EQ(KOVICGetFrameCall(h), KOVIC_E_NULL_HANDLE);
    }
}

TEST(DllExports, ExportsAreStdcallUnderPlainNames) {
    HMODULE dll = GetModuleHandleA("kovic.dll");
    ASSERT_NE(dll, nullptr);
    EXPECT_NE(GetProcAddress(dll, "KOVICCreate"), nullptr);
    EXPECT_NE(GetProcAddress(dll, "MirelGetDXVersion"), nullptr);
    EXPECT_EQ(GetProcAddress(dll, "KOVICCreate@0"), nullptr);
    EXPECT_EQ(GetProcAddress(dll, "_KOVICCreate@0"), nullptr);
    // Called through a plain stdcall pointer type, as a host in another language would.
    typedef int(__stdcall * GetVideoDevice)(int, char *);
    auto get = reinterpret_cast<GetVideoDevice>(reinterpret_cast<void *>(GetProcAddress(dll, "KOVICGetVideoDevice")));
    char name[80];
    EXPECT_EQ(get(-1, name), KOVIC_E_NO_DEVICE_RECORD);
}

}  // namespace
