// The two ways a platform call's result is tested.
#pragma once

#include "platform/platform.h"

namespace kovic {

// A negative result fails; S_FALSE and other partial successes pass.
inline bool CallFailed(HRESULT hr) { return hr < 0; }
// Only exact success (S_OK) passes; S_FALSE means "nothing" and fails.
inline bool CallSucceededExactly(HRESULT hr) { return hr == S_OK; }

}  // namespace kovic
