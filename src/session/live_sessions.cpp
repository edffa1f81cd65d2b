#include "session/live_sessions.h"

#include <cstdint>
#include <unordered_map>

namespace kovic {
namespace {

struct LiveSessions {
    std::unordered_map<KOVIC_SESSION, CaptureSessionPtr> by_handle;
    // The last handle issued. Handles count up from 1 and stay positive, so a
    // host may test a handle against 0 (or for being positive) as a failure.
    KOVIC_SESSION last_handle = 0;

    // A session the host never closed is not torn down when the library
    // unloads (its platform objects may be gone by then, and unloading is no
    // time to stop graphs): its record is let go, the registry itself freed.
    ~LiveSessions() {
        for (auto &entry : by_handle) static_cast<void>(entry.second.release());
    }
};

LiveSessions &Registry() {
    static LiveSessions registry;
    return registry;
}

}  // namespace

std::mutex &LiveSessionsLock() {
    static std::mutex lock;
    return lock;
}

KOVIC_SESSION RememberSession(CaptureSessionPtr session) {
    std::lock_guard<std::mutex> lock(LiveSessionsLock());
    LiveSessions &registry = Registry();
    if (registry.last_handle == INTPTR_MAX) return 0;  // every handle has been issued
    const KOVIC_SESSION handle = ++registry.last_handle;
    registry.by_handle.emplace(handle, std::move(session));
    return handle;
}

CaptureSession *LookUpSessionLocked(KOVIC_SESSION handle) {
    LiveSessions &registry = Registry();
    auto it = registry.by_handle.find(handle);
    return it != registry.by_handle.end() ? it->second.get() : nullptr;
}

CaptureSession *LookUpSession(KOVIC_SESSION handle) {
    std::lock_guard<std::mutex> lock(LiveSessionsLock());
    return LookUpSessionLocked(handle);
}

CaptureSessionPtr ForgetSession(KOVIC_SESSION handle) {
    std::lock_guard<std::mutex> lock(LiveSessionsLock());
    LiveSessions &registry = Registry();
    auto it = registry.by_handle.find(handle);
    if (it == registry.by_handle.end()) return nullptr;
    CaptureSessionPtr owned = std::move(it->second);
    registry.by_handle.erase(it);
    return owned;
}

}  // namespace kovic
