#include "session/capture_session.h"

#include <cstdarg>
#include <mutex>
#include <new>
#include <unordered_set>

#include "graph/chain_connection.h"
#include "graph/graph_assembly.h"
#include "kovic.h"

namespace kovic {
namespace {

// Live-session set: the host may open and close sessions on several threads.
// Only the export boundary consults it; the frame path never does.
std::mutex g_sessions_mutex;
std::unordered_set<CaptureSession *> g_sessions;

}  // namespace

int ReportError(CaptureSession *session, const char *format, ...) {
    va_list args;
    va_start(args, format);
    wvsprintfA(session->last_error, format, args);
    va_end(args);
    session->last_error[kLastErrorChars - 1] = '\0';
    return 0;
}

int EnsureGraph(CaptureSession *session) {
    if (session == nullptr) return KOVIC_E_NULL_HANDLE;
    if (session->previewing) return KOVIC_E_PREVIEWING;
    return BuildGraph(session);
}

int BuildGraph(CaptureSession *session) {
    if (session->built) {
        if (session->selected_device == session->built_device && session->requested_width == session->built_width &&
            session->requested_height == session->built_height) {
            return KOVIC_OK;
        }
        TearDownGraph(session);
        ReleaseGraph(session);
    }
    int r = CreateGraphObjects(session);
    if (r != KOVIC_OK) {
        ReleaseGraph(session);
        return r;
    }
    r = AddCaptureFilters(session);
    if (r != KOVIC_OK) {
        ReleaseGraph(session);
        return r;
    }
    r = ConnectCaptureChain(session);
    if (r != KOVIC_OK) {
        TearDownGraph(session);
        ReleaseGraph(session);
        return r;
    }
    session->built_device = session->selected_device;
    session->built_width = session->requested_width;
    session->built_height = session->requested_height;
    session->built = 1;
    return KOVIC_OK;
}

bool QueryGateOpen(CaptureSession *session) {
    if (session->selected_device < 0) return false;
    if (!session->built && EnsureGraph(session) != KOVIC_OK) return false;
    return true;
}

CaptureSession *OpenSession(HWND window) {
    void *memory = AllocateMemory(sizeof(CaptureSession));
    if (memory == nullptr) return nullptr;
    auto *session = new (memory) CaptureSession();
    session->host_window = window;
    std::lock_guard<std::mutex> lock(g_sessions_mutex);
    g_sessions.insert(session);
    return session;
}

CaptureSession *LookUpSession(intptr_t handle) {
    auto *session = reinterpret_cast<CaptureSession *>(handle);
    std::lock_guard<std::mutex> lock(g_sessions_mutex);
    return g_sessions.count(session) ? session : nullptr;
}

void ForgetSession(CaptureSession *session) {
    std::lock_guard<std::mutex> lock(g_sessions_mutex);
    g_sessions.erase(session);
}

}  // namespace kovic
