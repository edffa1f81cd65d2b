/* kovic-preview: shows a camera live in a window.
 *
 * A small Windows host in plain C against kovic.h, meant to be read and copied.
 * It opens a window, starts preview on one device and paints every frame the
 * library hands over, following the frame handshake:
 *
 *   KOVICGetFrameCall        arm: "I want the next frame"
 *   KOVIC_MSG_FRAME          the library copied a frame into its buffer and
 *                            posted the address of its FrameDescriptor
 *   paint it                 read width, height, data and length in place
 *   KOVICGetFrameCall        finished with that frame: arm for the next one
 *
 * The title shows the device, the size in use and the frames per second
 * delivered; a strip under the picture shows the library's status texts.
 * Closing the window stops preview, discards frame messages still queued,
 * closes the session and shuts the library down, in that order.
 *
 * usage: kovic-preview [--device N | --device-name NAME] [--size WxH]
 *                      [--seconds T] [--snapshot FILE]
 *
 * Everything runs on the thread that owns the window. */
#include <windows.h>

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "kovic.h"

#define PREVIEW_CLASS_NAME "KovicPreviewWindow"
#define STATUS_STRIP_HEIGHT 20 /* pixels under the picture for the status line */
#define TITLE_TIMER_ID 1
#define TITLE_TIMER_MS 1000 /* how often the title's frames per second is refreshed */
#define QUIT_TIMER_ID 2     /* --seconds */

/* What the command line asked for. */
typedef struct Options {
    int device;              /* catalogue index; -1 until chosen */
    const char *device_name; /* or a device by name */
    int width, height;       /* requested size; 0 for the device's own */
    double seconds;          /* close by itself after this long; 0 for never */
    const char *snapshot;    /* save the last frame here on exit; NULL for none */
} Options;

/* The one window's state. A host with several windows would hang this off the
 * window (SetWindowLongPtr with GWLP_USERDATA) instead of keeping a global. */
typedef struct Preview {
    KOVIC_SESSION session;
    char device_name[KOVIC_DEVICE_NAME_BYTES + 1];
    int width, height;                 /* size in use, as the library reports it */
    const FrameDescriptor *last_frame; /* the descriptor of the latest frame, NULL before the first */
    int painted;                       /* a frame has been painted */
    unsigned long frames_delivered;
    unsigned long frames_at_last_tick; /* for the frames per second in the title */
    DWORD last_tick_ms;
    double frames_per_second;
    DWORD first_frame_ms, stopped_ms;  /* when the first frame came and when preview stopped */
    const char *snapshot;              /* --snapshot, NULL for none */
    int snapshot_saved;
    char status[128];                  /* the latest KOVIC_MSG_STATUS text */
} Preview;

static Preview g_preview;

static void Usage(void) {
    fprintf(stderr,
            "usage: kovic-preview [--device N | --device-name NAME] [--size WxH]\n"
            "                     [--seconds T] [--snapshot FILE]\n"
            "  --device N        show device N of the catalogue (default 0)\n"
            "  --device-name     show the device with this name\n"
            "  --size WxH        request this capture size (default: the device's)\n"
            "  --seconds T       close the window by itself after T seconds\n"
            "  --snapshot FILE   save the last frame as a BMP file on exit\n");
}

static int ParseOptions(int argc, char **argv, Options *options) {
    int i;
    memset(options, 0, sizeof(*options));
    options->device = -1;
    for (i = 1; i < argc; ++i) {
        const char *next = i + 1 < argc ? argv[i + 1] : NULL;
        char *end = NULL;
        if (next == NULL) return 0; /* every option takes a value */
        if (strcmp(argv[i], "--device") == 0) {
            options->device = (int)strtol(next, &end, 10);
            if (end == next || *end != '\0' || options->device < 0) return 0;
        } else if (strcmp(argv[i], "--device-name") == 0) {
            options->device_name = next;
        } else if (strcmp(argv[i], "--size") == 0) {
            if (sscanf(next, "%dx%d", &options->width, &options->height) != 2 || options->width <= 0 ||
                options->height <= 0) {
                return 0;
            }
        } else if (strcmp(argv[i], "--seconds") == 0) {
            options->seconds = strtod(next, &end);
            if (end == next || *end != '\0' || !(options->seconds > 0) || options->seconds > 1e6) return 0;
        } else if (strcmp(argv[i], "--snapshot") == 0) {
            options->snapshot = next;
        } else {
            return 0;
        }
        ++i;
    }
    return 1;
}

/* The catalogue index of the device called `wanted`, or -1. Names are fixed
 * 80-byte buffers; the library zero-terminates them within the 80 bytes. */
static int FindDevice(const char *wanted) {
    int count = KOVICGetVideoDeviceCount();
    int i;
    for (i = 0; i < count; ++i) {
        char name[KOVIC_DEVICE_NAME_BYTES];
        if (KOVICGetVideoDevice(i, name) == KOVIC_OK && strncmp(name, wanted, sizeof(name)) == 0) return i;
    }
    return -1;
}

/* The part of the client area the picture fills: all of it but the status strip. */
static RECT PictureRect(HWND window) {
    RECT rect;
    GetClientRect(window, &rect);
    rect.bottom = rect.bottom > STATUS_STRIP_HEIGHT ? rect.bottom - STATUS_STRIP_HEIGHT : 0;
    return rect;
}

static RECT StatusRect(HWND window) {
    RECT rect;
    GetClientRect(window, &rect);
    rect.top = rect.bottom > STATUS_STRIP_HEIGHT ? rect.bottom - STATUS_STRIP_HEIGHT : 0;
    return rect;
}

static void UpdateTitle(HWND window) {
    char title[256];
    snprintf(title, sizeof(title), "kovic-preview - %s - %dx%d - %.1f frames/s", g_preview.device_name,
             g_preview.width, g_preview.height, g_preview.frames_per_second);
    SetWindowTextA(window, title);
}

/* Paints one delivered frame, stretched over the picture area. The frame is
 * packed 24-bit BGR, each row padded to a multiple of 4 bytes; a positive
 * height stores the bottom row first, a negative one the top row first, which
 * is exactly what a BITMAPINFOHEADER's biHeight says, so it is passed on as is.
 * Returns 0 (and paints nothing) for a frame without data or with fewer bytes
 * than its size needs. */
static int PaintFrame(HWND window, const FrameDescriptor *frame) {
    BITMAPINFO info;
    RECT picture;
    HDC dc;
    long long rows = frame->height < 0 ? -(long long)frame->height : frame->height;
    long long row_bytes = ((long long)frame->width * 3 + 3) & ~3LL;

    if (frame->data == NULL || frame->width <= 0 || rows == 0) return 0;
    if (row_bytes * rows > frame->length) return 0; /* never read past the frame */

    memset(&info, 0, sizeof(info));
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = frame->width;
    info.bmiHeader.biHeight = frame->height; /* sign as delivered: bottom-up or top-down */
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;

    picture = PictureRect(window);
    dc = GetDC(window);
    SetStretchBltMode(dc, COLORONCOLOR);
    StretchDIBits(dc, 0, 0, picture.right, picture.bottom, /* destination: the picture area */
                  0, 0, frame->width, (int)rows,           /* source: the whole frame */
                  frame->data, &info, DIB_RGB_COLORS, SRCCOPY);
    ReleaseDC(window, dc);
    return 1;
}

static void OnFrame(HWND window, const FrameDescriptor *frame) {
    ++g_preview.frames_delivered;
    if (g_preview.frames_delivered == 1) { /* the rates count from the first frame */
        g_preview.first_frame_ms = GetTickCount();
        g_preview.last_tick_ms = g_preview.first_frame_ms;
        g_preview.frames_at_last_tick = 1;
    }
    if (PaintFrame(window, frame)) g_preview.painted = 1;
    g_preview.last_frame = frame;
    /* Finished with this frame: arm the library for the next one. Until this
     * call it delivers nothing, so the buffer painted above stayed put. */
    KOVICGetFrameCall(g_preview.session);
}

static void OnStatus(HWND window, const char *text) {
    /* The text is valid only during this call: copy it. */
    strncpy(g_preview.status, text, sizeof(g_preview.status) - 1);
    g_preview.status[sizeof(g_preview.status) - 1] = '\0';
    printf("status: %s\n", g_preview.status);
    fflush(stdout);
    {
        RECT strip = StatusRect(window);
        InvalidateRect(window, &strip, TRUE);
    }
}

/* Once a second: the delivered frames per second into the title. */
static void OnTitleTimer(HWND window) {
    DWORD now = GetTickCount();
    DWORD elapsed = now - g_preview.last_tick_ms;
    if (elapsed > 0) {
        g_preview.frames_per_second =
            (double)(g_preview.frames_delivered - g_preview.frames_at_last_tick) * 1000.0 / (double)elapsed;
    }
    g_preview.frames_at_last_tick = g_preview.frames_delivered;
    g_preview.last_tick_ms = now;
    UpdateTitle(window);
}

static void OnPaint(HWND window) {
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(window, &paint);
    RECT picture = PictureRect(window);
    RECT strip = StatusRect(window);
    char line[192];

    /* The picture area is repainted by the next frame, a frame interval away;
     * until the first one it is black. (Painting the last frame here would
     * read the library's buffer while it may be filling it for the next.) */
    if (!g_preview.painted) FillRect(dc, &picture, (HBRUSH)GetStockObject(BLACK_BRUSH));

    FillRect(dc, &strip, (HBRUSH)GetStockObject(WHITE_BRUSH));
    snprintf(line, sizeof(line), " %s", g_preview.status[0] != '\0' ? g_preview.status : "(no status yet)");
    SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, line, -1, &strip, DT_SINGLELINE | DT_VCENTER | DT_LEFT);
    EndPaint(window, &paint);
}

/* The documented way out: stop preview (the library sends "Preview Stop"),
 * throw away frame messages still queued (they point at a descriptor that
 * KOVICClose frees), then close the session. The snapshot is taken between
 * the two: once preview has stopped nothing writes the frame buffer, and it
 * lives until the session closes. */
static void CloseSession(HWND window) {
    MSG message;
    if (KOVICIsPreviewing(g_preview.session) == 1) KOVICStopPreview(g_preview.session);
    g_preview.stopped_ms = GetTickCount();
    while (PeekMessageA(&message, window, KOVIC_MSG_FRAME, KOVIC_MSG_FRAME, PM_REMOVE)) {
    }
    if (g_preview.snapshot != NULL) {
        g_preview.snapshot_saved =
            g_preview.last_frame != NULL &&
            KOVICSaveSingleFrameBitmap(g_preview.session, g_preview.snapshot, g_preview.last_frame) == KOVIC_OK;
        printf("snapshot %s: %s\n", g_preview.snapshot, g_preview.snapshot_saved ? "written" : "not written");
    }
    KOVICClose(g_preview.session);
    g_preview.session = 0;
}

static LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
    case KOVIC_MSG_FRAME:
        /* Posted from the streaming thread; wparam is the descriptor's address. */
        OnFrame(window, (const FrameDescriptor *)wparam);
        return 0;
    case KOVIC_MSG_STATUS:
        /* Sent from our own KOVICStartPreview/KOVICStopPreview call. */
        OnStatus(window, (const char *)wparam);
        return 0;
    case WM_TIMER:
        if (wparam == TITLE_TIMER_ID) OnTitleTimer(window);
        if (wparam == QUIT_TIMER_ID) PostMessageA(window, WM_CLOSE, 0, 0); /* as if the user closed it */
        return 0;
    case WM_PAINT:
        OnPaint(window);
        return 0;
    case WM_ERASEBKGND:
        return 1; /* WM_PAINT covers every pixel it needs to; no flicker */
    case WM_CLOSE:
        KillTimer(window, TITLE_TIMER_ID);
        KillTimer(window, QUIT_TIMER_ID);
        if (g_preview.session != 0) CloseSession(window);
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    default:
        return DefWindowProcA(window, message, wparam, lparam);
    }
}

static HWND CreatePreviewWindow(void) {
    WNDCLASSA window_class;
    memset(&window_class, 0, sizeof(window_class));
    window_class.style = CS_HREDRAW | CS_VREDRAW; /* a resize repaints the status strip where it moved */
    window_class.lpfnWndProc = WindowProcedure;
    window_class.hInstance = GetModuleHandleA(NULL);
    window_class.hCursor = LoadCursor(NULL, IDC_ARROW);
    window_class.lpszClassName = PREVIEW_CLASS_NAME;
    if (RegisterClassA(&window_class) == 0) return NULL;
    /* Hidden until the size in use is known; the session needs the handle first. */
    return CreateWindowExA(0, PREVIEW_CLASS_NAME, "kovic-preview", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                           CW_USEDEFAULT, 320, 240, NULL, NULL, window_class.hInstance, NULL);
}

/* Sizes the window so the picture shows at 1:1 with the status strip under it. */
static void FitWindowToFrame(HWND window, int width, int height) {
    RECT rect;
    rect.left = 0;
    rect.top = 0;
    rect.right = width;
    rect.bottom = height + STATUS_STRIP_HEIGHT;
    AdjustWindowRectEx(&rect, WS_OVERLAPPEDWINDOW, FALSE, 0);
    SetWindowPos(window, NULL, 0, 0, rect.right - rect.left, rect.bottom - rect.top,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int main(int argc, char **argv) {
    Options options;
    HWND window;
    MSG message;
    int count, result;

    if (!ParseOptions(argc, argv, &options)) {
        Usage();
        return 2;
    }

    /* 1. Start the library and pick a device. */
    KOVICCreate();
    count = KOVICGetVideoDeviceCount();
    if (options.device_name != NULL) {
        options.device = FindDevice(options.device_name);
        if (options.device < 0) {
            fprintf(stderr, "no device named \"%s\"\n", options.device_name);
            KOVICDestroy();
            return 1;
        }
    } else if (options.device < 0) {
        options.device = 0;
    }
    if (options.device >= count) {
        fprintf(stderr, "no device %d (%d video input device(s))\n", options.device, count);
        KOVICDestroy();
        return 1;
    }
    KOVICGetVideoDevice(options.device, g_preview.device_name);
    g_preview.device_name[KOVIC_DEVICE_NAME_BYTES] = '\0';

    /* 2. A window for the library to report to, then a session bound to it. */
    window = CreatePreviewWindow();
    if (window == NULL) {
        fprintf(stderr, "cannot create the window\n");
        KOVICDestroy();
        return 1;
    }
    g_preview.snapshot = options.snapshot;
    g_preview.snapshot_saved = options.snapshot == NULL;
    g_preview.session = KOVICOpen(window);
    result = KOVICSelectDevice(g_preview.session, options.device);
    if (result == KOVIC_OK && options.width > 0) {
        /* Asked before the size is set, the question is answered from a graph
         * at the device's own format (built for it), which always builds. */
        if (!KOVICEnumVideoFormat(g_preview.session, options.width, options.height)) {
            printf("the device does not offer %dx%d; it keeps its own size\n", options.width, options.height);
        }
        result = KOVICSetVideoFormat(g_preview.session, options.width, options.height);
    }

    /* 3. Start preview: builds the capture graph and runs it. "Preview Start"
     *    arrives at the window during this call. */
    if (result == KOVIC_OK) result = KOVICStartPreview(g_preview.session);
    if (result != KOVIC_OK) {
        fprintf(stderr, "cannot start preview on \"%s\": result 0x%X\n", g_preview.device_name,
                (unsigned)result);
        KOVICClose(g_preview.session);
        g_preview.session = 0;
        DestroyWindow(window);
        KOVICDestroy();
        return 1;
    }
    g_preview.width = KOVICGetWidth(g_preview.session);
    g_preview.height = KOVICGetHeight(g_preview.session);
    printf("previewing \"%s\" at %dx%d\n", g_preview.device_name, g_preview.width, g_preview.height);
    fflush(stdout);

    FitWindowToFrame(window, g_preview.width, g_preview.height);
    UpdateTitle(window);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    g_preview.last_tick_ms = GetTickCount();
    SetTimer(window, TITLE_TIMER_ID, TITLE_TIMER_MS, NULL);
    if (options.seconds > 0) SetTimer(window, QUIT_TIMER_ID, (UINT)(options.seconds * 1000.0), NULL);

    /* 4. Arm for the first frame; from here the window procedure re-arms after
     *    each one it paints. */
    KOVICGetFrameCall(g_preview.session);

    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }

    /* 5. The window closed the session on its way out; now the library. */
    KOVICDestroy();
    if (g_preview.frames_delivered > 1) {
        /* n frames are n - 1 frame intervals after the first one */
        double seconds = (double)(g_preview.stopped_ms - g_preview.first_frame_ms) / 1000.0;
        printf("frames delivered: %lu in %.1f s (%.1f frames/s)\n", g_preview.frames_delivered, seconds,
               seconds > 0 ? (double)(g_preview.frames_delivered - 1) / seconds : 0.0);
    } else {
        printf("frames delivered: %lu\n", g_preview.frames_delivered);
    }
    return g_preview.snapshot_saved ? 0 : 1;
}
