// The source filter a simulated device's moniker binds to.
#pragma once

#include <memory>

#include "platform/emulated/emu_object.h"

namespace emu {

// Creates the device's source filter (one reference) for `iid` through `out`.
HRESULT CreateSimulatedSource(std::shared_ptr<const SimulatedDevice> device, REFIID iid, void **out);

}  // namespace emu
