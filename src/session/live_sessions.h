// The live sessions: the records a host holds handles to, owned here from
// KOVICOpen to KOVICClose, and which handles map back to them. A handle is a
// number issued once and never again in the life of the process, so a closed
// session's handle, like anything else a host makes up, is answered like a
// null handle. The registry's lock is held only for the lookup and, for the
// exports another thread may call at any time, for their brief use of the
// record; no message is sent and the frame path takes nothing while it is held.
#pragma once

#include <mutex>

#include "kovic.h"
#include "session/capture_session.h"

namespace kovic {

// Takes a new session into the live set, which owns it from here on, and
// returns its handle; 0 when no handle is left to issue.
KOVIC_SESSION RememberSession(CaptureSessionPtr session);
// The live session behind `handle`, or null. For the exports a host calls
// on the session's own thread, which alone closes it.
CaptureSession *LookUpSession(KOVIC_SESSION handle);
// Removes the session behind `handle` from the live set and hands it to the
// caller, who closes it; the handle maps to nothing from here on. Empty when
// there is no such session (another thread may have taken it first).
CaptureSessionPtr ForgetSession(KOVIC_SESSION handle);

// LookUpSession for a caller that holds LiveSessionsLock().
CaptureSession *LookUpSessionLocked(KOVIC_SESSION handle);

// Runs `use` on the live session behind `handle` with the lock held, so the
// record cannot be closed (or its sink replaced) meanwhile; `absent` when
// there is none. For cheap exports any thread may call at any time.
template <class Use>
int UseLiveSession(KOVIC_SESSION handle, int absent, Use use) {
    std::lock_guard<std::mutex> lock(LiveSessionsLock());
    CaptureSession *session = LookUpSessionLocked(handle);
    return session != nullptr ? use(session) : absent;
}

}  // namespace kovic
