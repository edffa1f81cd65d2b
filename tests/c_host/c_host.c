/* A host written in C against the public header: it must compile as C, and
 * the calling order a host follows must give the documented results. */
#include <stdio.h>
#include <string.h>

#include "kovic.h"

#define CHECK(expr)                                                   \
    do {                                                              \
        if (!(expr)) {                                                \
            fprintf(stderr, "%s:%d: failed: %s\n", __FILE__, __LINE__, #expr); \
            return 1;                                                 \
        }                                                             \
    } while (0)

int main(void) {
    char name[KOVIC_DEVICE_NAME_BYTES];
    KOVIC_SESSION session;
    FrameDescriptor frame;
    int count;

    CHECK(KOVICDestroy() == KOVIC_OK); /* before KOVICCreate: no effect */
    CHECK(KOVICGetVideoDeviceCount() == 0);
    CHECK(KOVICGetVideoDevice(0, name) == KOVIC_E_DEVICE_INDEX);
    CHECK(KOVICCreate() == KOVIC_OK);
    count = KOVICGetVideoDeviceCount();
    CHECK(count >= 0);
    CHECK(KOVICGetVideoDevice(count, name) == KOVIC_E_DEVICE_INDEX);
    CHECK(KOVICGetVideoDevice(-1, name) == KOVIC_E_NO_DEVICE_RECORD);

    session = KOVICOpen(NULL);
    CHECK(session != 0);
    CHECK(KOVICIsPreviewing(0) == KOVIC_E_NULL_HANDLE);
    CHECK(KOVICIsPreviewing(session) == 0);
    CHECK(KOVICSetVideoFormat(session, 640, 480) == KOVIC_OK);
    CHECK(KOVICGetFrameCall(session) == KOVIC_E_NO_FRAME_SINK);
    memset(&frame, 0, sizeof(frame));
    CHECK(KOVICSaveSingleFrameBitmap(session, "c_host.bmp", &frame) == KOVIC_E_NO_FRAME_SINK);
    CHECK(KOVICStopPreview(session) == KOVIC_E_NOT_PREVIEWING);
    CHECK(KOVICClose(session) == KOVIC_OK);
    CHECK(KOVICClose(0) == KOVIC_E_NULL_HANDLE);
    CHECK(KOVICDestroy() == KOVIC_OK);
    printf("c_host: %d device(s), DirectX version 0x%x\n", count, MirelGetDXVersion());
    return 0;
}
