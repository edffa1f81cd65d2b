// The DirectX runtime version probe: a ladder of tests from the oldest release
// to the newest. Keeps no state; everything it loads or creates is released
// before it returns.
#pragma once

namespace kovic {

unsigned int ProbeDirectXVersion();

}  // namespace kovic
