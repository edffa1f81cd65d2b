// Chain connection helpers: finding a filter's pin by direction and position.
// The connection step itself is CaptureGraph's (chain_connection.cpp). Host
// thread only.
#pragma once

#include "platform/com_ptr.h"
#include "platform/platform.h"

namespace kovic {

// The n-th pin of that direction among the filter's pins (counting from 0),
// as a counted reference; empty when there is none. A pin whose direction
// cannot be read matches nothing.
ComPtr<IPin> GetPin(IBaseFilter *filter, PIN_DIRECTION direction, int n);

}  // namespace kovic
