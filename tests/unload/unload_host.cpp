// A host in a shared library of its own that the unload test loads and frees:
// it links libkovic.so, registers a streaming simulated camera and starts a
// session previewing it. Freeing this host drops its reference on libkovic.so
// while the camera's frames still reach the session's frame sink.
#include "kovic.h"
#include "platform/emulated/host_api.h"

extern "C" __attribute__((visibility("default"))) KOVIC_SESSION UnloadHostStartPreview(void) {
    emu::ResetPlatform();
    emu::SimulatedDevice camera;
    camera.friendly_name = L"Unload Camera";
    camera.capabilities = {{MEDIASUBTYPE_RGB24, 64, 48}};
    camera.current_format = {MEDIASUBTYPE_RGB24, 64, 48};
    camera.frames_per_second = 200.0;
    camera.streams_test_pattern = true;
    emu::RegisterDevice(camera);
    KOVICCreate();
    // No host window: the frame sink's posts fail and it waits to be armed
    // again, which the test does through the library itself.
    KOVIC_SESSION session = KOVICOpen(nullptr);
    if (session == 0 || KOVICStartPreview(session) != KOVIC_OK || KOVICGetFrameCall(session) != KOVIC_OK) return 0;
    return session;
}
