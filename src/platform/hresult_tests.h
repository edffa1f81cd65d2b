// The two ways a platform call's result is tested.
#pragma once

#include "platform/platform.h"

namespace kovic {

// A negative result fails; S_FALSE and other partial successes pass.
inline bool CallFailed(HRESULT hr) { return hr < 0; }
// Only exact success (S_OK) passes; S_FALSE means "nothing" and fails.
inline bool CallSucceededExactly(HRESULT hr) { return hr == S_OK; }

// The test a call's result is put to, for code that serves callers who test
// the same call differently.
enum class ResultTest {
    kNotNegative,   // CallFailed decides
    kExactSuccess,  // CallSucceededExactly decides
};
inline bool Passes(ResultTest test, HRESULT hr) {
    return test == ResultTest::kExactSuccess ? CallSucceededExactly(hr) : !CallFailed(hr);
}

}  // namespace kovic
