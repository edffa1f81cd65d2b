// Chain connection and teardown: source -> sample grabber -> null renderer,
// the grabber set up to hand every frame to the session's FrameSink, and the
// undoing of all of it. Host thread only.
#pragma once

#include "session/capture_session.h"

namespace kovic {

// The n-th pin of that direction, or null. The pin carries no reference of its
// own: it is valid while its filter lives and is not released by the caller.
IPin *GetPin(IBaseFilter *filter, PIN_DIRECTION direction, int n);
int ConnectCaptureChain(CaptureSession *session);
// Removes every filter downstream of `filter` from the session's graph.
void RemoveDownstream(IBaseFilter *filter, CaptureSession *session);
void TearDownGraph(CaptureSession *session);
// Drops every platform object of the session and deletes its sink. Returns 1.
int ReleaseGraph(CaptureSession *session);

}  // namespace kovic
