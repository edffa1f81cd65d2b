// Preview control: running and stopping a built graph, and the status texts
// sent to the host window. Host thread only; the status message is sent
// synchronously, so the host's window procedure runs inside these calls.
#pragma once

#include "session/capture_session.h"

namespace kovic {

int RunPreview(CaptureSession *session);
int StopPreviewGraph(CaptureSession *session);
void NotifyStatus(CaptureSession *session, const char *text);

}  // namespace kovic
