// What the graph-object contract test needs to know of the platform it runs
// on: which one it is, the capture devices it uses, and a count of the
// objects alive, so that every test can check that its last releases freed
// them. One file per platform implements it.
#pragma once

namespace kovic_contract {

enum class Platform {
    kEmulated,  // the library's emulated platform, natively
    kWindows,   // real COM and DirectShow (Wine's, in CI) with the virtual camera
};

extern const Platform kPlatform;

// The result a call gives where one platform is known to differ from the
// others: `there` on `platform`, `elsewhere` on the rest. Every use says
// beside it how the platforms differ and why the difference is kept.
template <class T>
T KnownDivergence(Platform platform, T there, T elsewhere) {
    return kPlatform == platform ? there : elsewhere;
}

// Initialises COM on the calling thread (single-threaded apartment, as
// KOVICCreate does) and makes sure the devices below are present: on the
// emulated platform they are registered as simulated devices, on Windows the
// virtual camera's devices are registered by the test fixture (vcam_devices).
void PrepareDevices();
void ReleaseDevices();

// Objects alive that the platform can count: on the emulated platform every
// COM object, task-memory block and string; on Windows the virtual camera's
// filters and enumerators.
long CountedObjects();

}  // namespace kovic_contract
