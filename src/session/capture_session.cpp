// A session's life and its operations: opening and closing, the selection
// rule, the build-or-reuse rule in front of the graph, the query gate, preview
// and the frame exports' session checks. Host thread, one at a time per session.
#include "session/capture_session.h"

#include <new>

#include "devices/device_catalogue.h"
#include "frames/bitmap_writer.h"
#include "session/live_sessions.h"

namespace kovic {

void CaptureSession::FormatLastError(const char *format, va_list args) {
    wvsprintfA(last_error, format, args);
    last_error[kLastErrorChars - 1] = '\0';
}

void CaptureSessionDeleter::operator()(CaptureSession *session) const {
    session->~CaptureSession();
    FreeMemory(session);
}

// The record comes from the library's own allocator, so that a session that
// cannot be allocated can be injected on the emulated platform.
KOVIC_SESSION OpenSession(HWND window) {
    void *memory = AllocateMemory(sizeof(CaptureSession));
    if (memory == nullptr) return 0;
    CaptureSessionPtr session(new (memory) CaptureSession());
    session->host_window = window;
    return RememberSession(std::move(session));
}

CaptureSession::CaptureSession() : graph(&LiveSessionsLock()) {}

int CloseSession(KOVIC_SESSION handle) {
    // Out of the live set first: from here on no other thread reaches it.
    CaptureSessionPtr closing = ForgetSession(handle);
    if (!closing) return KOVIC_E_NULL_HANDLE;
    CaptureSession *session = closing.get();
    if (session->built) {
        if (session->previewing) session->graph.StopPreviewGraph(*session);
        session->graph.TearDownGraph(*session);
    }
    // A session that is not built holds no platform object; releasing covers both.
    session->graph.ReleaseGraph();
    return KOVIC_OK;  // the record goes with `closing`
}

int EnsureGraph(CaptureSession *session) {
    if (session == nullptr) return KOVIC_E_NULL_HANDLE;
    if (session->previewing) return KOVIC_E_PREVIEWING;
    return BuildGraph(session);
}

int BuildGraph(CaptureSession *session) {
    CaptureGraph &graph = session->graph;
    if (session->built) {
        if (session->selected_device == session->built_device && session->requested_width == session->built_width &&
            session->requested_height == session->built_height) {
            return KOVIC_OK;
        }
        graph.TearDownGraph(*session);
        graph.ReleaseGraph();
    }
    int r = graph.CreateGraphObjects(*session);
    if (r != KOVIC_OK) {
        graph.ReleaseGraph();
        return r;
    }
    r = graph.AddCaptureFilters(session->selected_device);
    if (r != KOVIC_OK) {
        graph.ReleaseGraph();
        return r;
    }
    r = graph.ConnectCaptureChain(*session, session->requested_width, session->requested_height);
    if (r != KOVIC_OK) {
        graph.TearDownGraph(*session);
        graph.ReleaseGraph();
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
    // A graph that is built answers, even for a selection or size changed since.
    if (!session->built && EnsureGraph(session) != KOVIC_OK) return false;
    return true;
}

int SelectDevice(CaptureSession *session, int index) {
    const int k = index >= 0 ? index : 0;
    if (CountDevices() <= k) return KOVIC_E_DEVICE_INDEX;
    session->selected_device = index;
    return KOVIC_OK;
}

int SetVideoFormat(CaptureSession *session, int width, int height) {
    session->requested_width = width;
    session->requested_height = height;
    return KOVIC_OK;
}

int EnumVideoFormat(CaptureSession *session, int width, int height) {
    if (!QueryGateOpen(session)) return 0;
    return session->graph.HasCaptureFormat(width, height);
}

int GetCurrentFormat(CaptureSession *session, FormatDimension dimension) {
    if (!QueryGateOpen(session)) return 0;
    return session->graph.ReadCurrentFormat(dimension);
}

int StartPreview(CaptureSession *session) {
    int r = EnsureGraph(session);
    return r == KOVIC_OK ? session->graph.RunPreview(*session) : r;
}

int StopPreview(CaptureSession *session) { return session->graph.StopPreviewGraph(*session); }

int IsPreviewing(CaptureSession *session) { return session->previewing ? 1 : 0; }

int GetFrameCall(CaptureSession *session) {
    FrameSink *sink = session->graph.frame_sink();
    if (sink == nullptr) return KOVIC_E_NO_FRAME_SINK;
    sink->Arm();
    return KOVIC_OK;
}

int IsPreviewing(KOVIC_SESSION handle) {
    return UseLiveSession(handle, KOVIC_E_NULL_HANDLE, [](CaptureSession *session) { return IsPreviewing(session); });
}

int GetFrameCall(KOVIC_SESSION handle) {
    return UseLiveSession(handle, KOVIC_E_NULL_HANDLE, [](CaptureSession *session) { return GetFrameCall(session); });
}

int SaveSingleFrameBitmap(CaptureSession *session, const char *file_name, const FrameDescriptor *frame) {
    const FrameSink *sink = session->graph.frame_sink();
    if (sink == nullptr) return KOVIC_E_NO_FRAME_SINK;
    if (file_name == nullptr) return KOVIC_E_NO_FILE_NAME;
    // No descriptor, or a frame without data (a failed buffer allocation):
    // nothing to write, and no file is touched.
    if (frame == nullptr || (frame->length > 0 && frame->data == nullptr)) return 0;
    // The session's own descriptor with a length its buffer does not hold (a
    // host that wrote into it) would put whatever memory follows the buffer
    // into the file. A descriptor the host made itself is the host's to get right.
    if (frame == sink->descriptor() && frame->length > sink->buffer_bytes()) return 0;
    return WriteBitmapFile(file_name, frame->width, frame->height, frame->data, frame->length) ? 1 : 0;
}

}  // namespace kovic
