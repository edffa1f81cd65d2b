// The simulated device's source filter. The filter-graph model (pins, formats,
// streaming) is not part of the platform yet, so binding reports the filter's
// class as unregistered, which the library sees as a failed bind.
#include "platform/emulated/simulated_source.h"

namespace emu {

HRESULT CreateSimulatedSource(std::shared_ptr<const SimulatedDevice>, REFIID, void **out) {
    *out = nullptr;
    return REGDB_E_CLASSNOTREG;
}

}  // namespace emu
