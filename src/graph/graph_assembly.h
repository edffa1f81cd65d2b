// Graph assembly: the session's filter graph and capture graph builder, and
// the three filters of the capture chain. Runs on the host's thread, with COM
// initialised there by KOVICCreate.
#pragma once

#include "platform/com_ptr.h"
#include "session/capture_session.h"

namespace kovic {

// 1, or KOVIC_E_CREATE_GRAPH_BUILDER / _CREATE_FILTER_GRAPH / _SET_FILTER_GRAPH.
int CreateGraphObjects(CaptureSession *session);
// 1, or the code of the filter step that failed. Objects made before a failing
// step stay in the session for BuildGraph to release.
int AddCaptureFilters(CaptureSession *session);
// Binds the index-th moniker of `category` (counting every moniker the
// enumerator yields) into `out`; 1 when that moniker was reached, else 0. The
// bind's own result is not tested: a failed bind leaves `out` empty.
int BindDeviceFilter(ComPtr<IBaseFilter> *out, REFCLSID category, int index);

}  // namespace kovic
