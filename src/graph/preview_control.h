// Preview control helpers: the status texts sent to the host window. Running
// and stopping are CaptureGraph's steps (preview_control.cpp). Host thread
// only; the status message is sent synchronously, so the host's window
// procedure runs inside these calls.
#pragma once

#include "platform/platform.h"

namespace kovic {

// Sends `text` with KOVIC_MSG_STATUS to the window, from a 1024-byte buffer
// that lives for the call.
void NotifyStatus(HWND host_window, const char *text);

}  // namespace kovic
