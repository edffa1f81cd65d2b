// The live sessions: the records a host holds handles to, owned here from
// KOVICOpen to KOVICClose, and which handles map back to them. Anything else a
// host passes is answered like a null handle. The host may open and close
// sessions on several threads, so the registry has a lock of its own; only
// the export boundary consults it, the frame path never does.
#pragma once

#include "kovic.h"
#include "session/capture_session.h"

namespace kovic {

// Takes a new session into the live set, which owns it from here on, and
// returns its handle (today the record's address).
KOVIC_SESSION RememberSession(CaptureSessionPtr session);
// The live session behind `handle`, or null.
CaptureSession *LookUpSession(KOVIC_SESSION handle);
// Removes the session from the live set and hands it back to the caller, who
// closes it; its handle maps to nothing from here on.
CaptureSessionPtr ForgetSession(CaptureSession *session);

}  // namespace kovic
