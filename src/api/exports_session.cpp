// Session exports: each looks the handle up among the live sessions (anything
// else is answered like a null handle), then forwards to one operation.
#include "frames/bitmap_writer.h"
#include "frames/frame_sink.h"
#include "graph/chain_connection.h"
#include "graph/format_negotiation.h"
#include "graph/preview_control.h"
#include "devices/device_catalogue.h"
#include "kovic.h"
#include "session/capture_session.h"

using namespace kovic;

extern "C" {

KOVIC_API KOVIC_SESSION KOVIC_CALL KOVICOpen(void *window) {
    return reinterpret_cast<KOVIC_SESSION>(OpenSession(static_cast<HWND>(window)));
}

KOVIC_API int KOVIC_CALL KOVICClose(KOVIC_SESSION handle) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr) return KOVIC_E_NULL_HANDLE;
    ForgetSession(session);
    if (session->built) {
        if (session->previewing) StopPreviewGraph(session);
        TearDownGraph(session);
    }
    // A session that is not built holds no platform object; releasing covers both.
    ReleaseGraph(session);
    session->~CaptureSession();
    FreeMemory(session);
    return KOVIC_OK;
}

KOVIC_API int KOVIC_CALL KOVICSelectDevice(KOVIC_SESSION handle, int index) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr) return KOVIC_E_NULL_HANDLE;
    int k = index >= 0 ? index : 0;
    if (CountDevices() <= k) return KOVIC_E_DEVICE_INDEX;
    session->selected_device = index;
    return KOVIC_OK;
}

KOVIC_API int KOVIC_CALL KOVICSetVideoFormat(KOVIC_SESSION handle, int width, int height) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr) return KOVIC_E_NULL_HANDLE;
    session->requested_width = width;
    session->requested_height = height;
    return KOVIC_OK;
}

KOVIC_API int KOVIC_CALL KOVICEnumVideoFormat(KOVIC_SESSION handle, int width, int height) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr || !QueryGateOpen(session)) return 0;
    return HasCaptureFormat(session, width, height);
}

KOVIC_API int KOVIC_CALL KOVICGetWidth(KOVIC_SESSION handle) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr || !QueryGateOpen(session)) return 0;
    return ReadCurrentFormat(session, FormatDimension::kWidth);
}

KOVIC_API int KOVIC_CALL KOVICGetHeight(KOVIC_SESSION handle) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr || !QueryGateOpen(session)) return 0;
    return ReadCurrentFormat(session, FormatDimension::kHeight);
}

KOVIC_API int KOVIC_CALL KOVICStartPreview(KOVIC_SESSION handle) {
    CaptureSession *session = LookUpSession(handle);
    int r = EnsureGraph(session);
    return r == KOVIC_OK ? RunPreview(session) : r;
}

KOVIC_API int KOVIC_CALL KOVICStopPreview(KOVIC_SESSION handle) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr) return KOVIC_E_NULL_HANDLE;
    return StopPreviewGraph(session);
}

KOVIC_API int KOVIC_CALL KOVICIsPreviewing(KOVIC_SESSION handle) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr) return KOVIC_E_NULL_HANDLE;
    return session->previewing ? 1 : 0;
}

KOVIC_API int KOVIC_CALL KOVICGetFrameCall(KOVIC_SESSION handle) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr) return KOVIC_E_NULL_HANDLE;
    if (session->frame_sink == nullptr) return KOVIC_E_NO_FRAME_SINK;
    session->frame_sink->Arm();
    return KOVIC_OK;
}

KOVIC_API int KOVIC_CALL KOVICSaveSingleFrameBitmap(KOVIC_SESSION handle, const char *file_name,
                                                    const FrameDescriptor *frame) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr) return KOVIC_E_NULL_HANDLE;
    if (session->frame_sink == nullptr) return KOVIC_E_NO_FRAME_SINK;
    if (file_name == nullptr) return KOVIC_E_NO_FILE_NAME;
    // No descriptor, or a frame without data (a failed buffer allocation):
    // nothing to write, and no file is touched.
    if (frame == nullptr || (frame->length > 0 && frame->data == nullptr)) return 0;
    return WriteBitmapFile(file_name, frame->width, frame->height, frame->data, frame->length) ? 1 : 0;
}

}  // extern "C"
