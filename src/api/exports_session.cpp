// Session exports: each looks the handle up among the live sessions (anything
// else is answered like a null handle) and forwards to the session's operation.
#include "kovic.h"
#include "session/capture_session.h"
#include "session/live_sessions.h"

using namespace kovic;

extern "C" {

KOVIC_API KOVIC_SESSION KOVIC_CALL KOVICOpen(void *window) { return OpenSession(static_cast<HWND>(window)); }

KOVIC_API int KOVIC_CALL KOVICClose(KOVIC_SESSION handle) { return CloseSession(handle); }

KOVIC_API int KOVIC_CALL KOVICSelectDevice(KOVIC_SESSION handle, int index) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr) return KOVIC_E_NULL_HANDLE;
    return SelectDevice(session, index);
}

KOVIC_API int KOVIC_CALL KOVICSetVideoFormat(KOVIC_SESSION handle, int width, int height) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr) return KOVIC_E_NULL_HANDLE;
    return SetVideoFormat(session, width, height);
}

KOVIC_API int KOVIC_CALL KOVICEnumVideoFormat(KOVIC_SESSION handle, int width, int height) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr) return 0;
    return EnumVideoFormat(session, width, height);
}

KOVIC_API int KOVIC_CALL KOVICGetWidth(KOVIC_SESSION handle) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr) return 0;
    return GetCurrentFormat(session, FormatDimension::kWidth);
}

KOVIC_API int KOVIC_CALL KOVICGetHeight(KOVIC_SESSION handle) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr) return 0;
    return GetCurrentFormat(session, FormatDimension::kHeight);
}

KOVIC_API int KOVIC_CALL KOVICStartPreview(KOVIC_SESSION handle) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr) return KOVIC_E_NULL_HANDLE;
    return StartPreview(session);
}

KOVIC_API int KOVIC_CALL KOVICStopPreview(KOVIC_SESSION handle) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr) return KOVIC_E_NULL_HANDLE;
    return StopPreview(session);
}

// These two may come from any thread at any time: the session looks the
// handle up and uses the record under its registry's lock.
KOVIC_API int KOVIC_CALL KOVICIsPreviewing(KOVIC_SESSION handle) { return IsPreviewing(handle); }

KOVIC_API int KOVIC_CALL KOVICGetFrameCall(KOVIC_SESSION handle) { return GetFrameCall(handle); }

KOVIC_API int KOVIC_CALL KOVICSaveSingleFrameBitmap(KOVIC_SESSION handle, const char *file_name,
                                                    const FrameDescriptor *frame) {
    CaptureSession *session = LookUpSession(handle);
    if (session == nullptr) return KOVIC_E_NULL_HANDLE;
    return SaveSingleFrameBitmap(session, file_name, frame);
}

}  // extern "C"
