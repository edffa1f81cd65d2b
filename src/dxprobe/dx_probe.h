// The DirectX runtime version probe: a ladder of tests from the oldest release
// to the newest. Keeps no state; everything it loads or creates is released
// before it returns. Runs wholly on the calling thread and takes no lock.
#pragma once

namespace kovic {

class DxRuntime;

// A version code: the major release in bits 8 to 15, the minor in bits 0 to 7.
constexpr unsigned int DxVersionCode(unsigned int major, unsigned int minor) { return major << 8 | minor; }

// The codes the probe returns. There is no release 4.
inline constexpr unsigned int kDxVersionNone = 0;
inline constexpr unsigned int kDxVersion1_0 = DxVersionCode(1, 0);
inline constexpr unsigned int kDxVersion2_0 = DxVersionCode(2, 0);
inline constexpr unsigned int kDxVersion3_0 = DxVersionCode(3, 0);
inline constexpr unsigned int kDxVersion5_0 = DxVersionCode(5, 0);
inline constexpr unsigned int kDxVersion6_0 = DxVersionCode(6, 0);
inline constexpr unsigned int kDxVersion6_1 = DxVersionCode(6, 1);
inline constexpr unsigned int kDxVersion7_0 = DxVersionCode(7, 0);
inline constexpr unsigned int kDxVersion8_0 = DxVersionCode(8, 0);
inline constexpr unsigned int kDxVersion8_1 = DxVersionCode(8, 1);

// The newest release the runtime proves. On the first failing test one
// diagnostic line goes to the runtime's debug output, after every release.
unsigned int ProbeDirectXVersion(DxRuntime &runtime);

// The same over the platform's own runtime (DefaultDxRuntime).
unsigned int ProbeDirectXVersion();

}  // namespace kovic
