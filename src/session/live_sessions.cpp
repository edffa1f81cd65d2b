#include "session/live_sessions.h"

#include <mutex>
#include <unordered_map>

namespace kovic {
namespace {

std::mutex g_sessions_mutex;

// Never destroyed: a session the host did not close is not torn down while
// the library unloads, when its platform objects may be gone already.
std::unordered_map<CaptureSession *, CaptureSessionPtr> &Sessions() {
    static auto *sessions = new std::unordered_map<CaptureSession *, CaptureSessionPtr>();
    return *sessions;
}

}  // namespace

KOVIC_SESSION RememberSession(CaptureSessionPtr session) {
    CaptureSession *record = session.get();
    std::lock_guard<std::mutex> lock(g_sessions_mutex);
    Sessions().emplace(record, std::move(session));
    return reinterpret_cast<KOVIC_SESSION>(record);
}

CaptureSession *LookUpSession(KOVIC_SESSION handle) {
    auto *session = reinterpret_cast<CaptureSession *>(handle);
    std::lock_guard<std::mutex> lock(g_sessions_mutex);
    return Sessions().count(session) ? session : nullptr;
}

CaptureSessionPtr ForgetSession(CaptureSession *session) {
    std::lock_guard<std::mutex> lock(g_sessions_mutex);
    auto it = Sessions().find(session);
    if (it == Sessions().end()) return nullptr;
    CaptureSessionPtr owned = std::move(it->second);
    Sessions().erase(it);
    return owned;
}

}  // namespace kovic
