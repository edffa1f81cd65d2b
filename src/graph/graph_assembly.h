// Graph assembly helpers: binding a device of a category by its position in
// the live enumeration. The assembly steps themselves are CaptureGraph's
// (graph_assembly.cpp). Host thread, with COM initialised there by KOVICCreate.
#pragma once

#include "platform/com_ptr.h"
#include "platform/platform.h"

namespace kovic {

// Binds the index-th moniker of `category` (counting every moniker the
// enumerator yields) into `out`; 1 when that moniker was reached, else 0. The
// bind's own result is not tested: a failed bind leaves `out` empty.
int BindDeviceFilter(ComPtr<IBaseFilter> *out, REFCLSID category, int index);

}  // namespace kovic
