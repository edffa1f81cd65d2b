/* kovic.h: the public interface of the kovic video-capture library.
 *
 * Eighteen flat exports. Every export returns an integer: 1 (KOVIC_OK) for
 * success, a category-coded result code for a failure, or a plain value (a
 * count, a size, a version code, 0 for "no"). Session exports take the handle
 * returned by KOVICOpen; a handle that is not a live session (one already
 * closed, or a value the library never issued) is answered like a null
 * handle.
 *
 * Threading: a host calls a session's exports from one thread at a time,
 * normally the thread that owns the host window (status messages are sent
 * synchronously from the calling thread). KOVICGetFrameCall and
 * KOVICIsPreviewing are the exceptions: any thread may call them at any time,
 * also while another thread closes the session or rebuilds its graph. Frame
 * messages are posted from the media framework's streaming thread. */
#ifndef KOVIC_H
#define KOVIC_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  define KOVIC_CALL __stdcall
#  if defined(KOVIC_BUILDING_LIBRARY) || defined(KOVIC_STATIC)
     /* the module-definition file names the exports, undecorated */
#    define KOVIC_API
#  else
#    define KOVIC_API __declspec(dllimport)
#  endif
#else
#  define KOVIC_CALL
#  if defined(KOVIC_BUILDING_LIBRARY)
#    define KOVIC_API __attribute__((visibility("default")))
#  else
#    define KOVIC_API
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* A session handle: a positive pointer-sized number issued by KOVICOpen, never
 * the same twice in the life of the process (0 when the open failed). */
typedef intptr_t KOVIC_SESSION;

/* Result codes. The top byte names the stage that failed, the lower bits the step. */
#define KOVIC_OK                          0x00000001
#define KOVIC_E_NULL_HANDLE               0x01000100 /* null (or not a live) session handle */
#define KOVIC_E_DEVICE_INDEX              0x01001000 /* device index not below the count */
#define KOVIC_E_NO_DEVICE_RECORD          0x01010000 /* no catalogue record at the index */
#define KOVIC_E_NO_FILTER_GRAPH           0x02000001 /* no filter graph to add filters to */
#define KOVIC_E_CREATE_GRAPH_BUILDER      0x02000002 /* creating the capture graph builder failed */
#define KOVIC_E_CREATE_FILTER_GRAPH       0x02000004 /* creating the filter graph failed */
#define KOVIC_E_SET_FILTER_GRAPH          0x02000008 /* handing the graph to the builder failed */
#define KOVIC_E_GRAPH_NOT_BUILT           0x02001000 /* preview requested but no graph is built */
#define KOVIC_E_PREVIEWING                0x02002000 /* previewing: the graph may not be (re)built */
#define KOVIC_E_NOT_PREVIEWING            0x02004000 /* stop requested but not previewing */
#define KOVIC_E_DEVICE_NOT_FOUND          0x03000001 /* the selected device was not found */
#define KOVIC_E_CREATE_SAMPLE_GRABBER     0x03000400 /* creating the sample grabber failed */
#define KOVIC_E_CREATE_NULL_RENDERER      0x03000800 /* creating the null renderer failed */
#define KOVIC_E_ADD_DEVICE_SOURCE         0x03100001 /* adding the device source failed */
#define KOVIC_E_ADD_SAMPLE_GRABBER        0x03100400 /* adding the sample grabber failed */
#define KOVIC_E_ADD_NULL_RENDERER         0x03100800 /* adding the null renderer failed */
#define KOVIC_E_SOURCE_NO_OUTPUT_PIN      0x04000001 /* device source has no output pin */
#define KOVIC_E_GRABBER_NO_INPUT_PIN      0x04010000 /* sample grabber has no input pin */
#define KOVIC_E_GRABBER_NO_OUTPUT_PIN     0x04020000 /* sample grabber has no output pin */
#define KOVIC_E_RENDERER_NO_INPUT_PIN     0x04040000 /* null renderer has no input pin */
#define KOVIC_E_CONNECT_SOURCE_GRABBER    0x05000001 /* connecting source to grabber failed */
#define KOVIC_E_CONNECT_GRABBER_RENDERER  0x05000800 /* connecting grabber to renderer failed */
#define KOVIC_E_GRABBER_INTERFACE         0x06001000 /* grabber control interface unavailable */
#define KOVIC_E_GRABBER_MEDIA_TYPE        0x06002000 /* setting the grabber's media type failed */
#define KOVIC_E_GRABBER_BUFFERING         0x06004000 /* switching grabber buffering on failed */
#define KOVIC_E_GRABBER_ONE_SHOT          0x06008000 /* switching one-shot mode off failed */
#define KOVIC_E_REGISTER_SINK             0x06010000 /* making or registering the frame sink failed */
#define KOVIC_E_CONNECTED_MEDIA_TYPE      0x06020000 /* reading the connected media type failed */
#define KOVIC_E_NO_FRAME_SINK             0x06040000 /* the session has no frame sink */
#define KOVIC_E_NO_FILE_NAME              0x06080000 /* no file name given */
#define KOVIC_E_MEDIA_CONTROL             0x08000001 /* run/stop control interface unavailable */

/* Window messages sent to the host window given to KOVICOpen.
 * KOVIC_MSG_STATUS: SendMessageA from the calling thread; wParam = address of a
 *   zero-terminated text ("Preview Start" / "Preview Stop"), valid during the
 *   call only; lParam = 1024.
 * KOVIC_MSG_FRAME: PostMessageA from the streaming thread; wParam = address of
 *   the session's FrameDescriptor; lParam = 0. */
#define KOVIC_MSG_STATUS 0x8C9
#define KOVIC_MSG_FRAME  0x8CC

/* Size of a device name buffer. */
#define KOVIC_DEVICE_NAME_BYTES 80

/* The frame descriptor a KOVIC_MSG_FRAME points at; read in place by the host.
 * Valid until the session closes or rebuilds its graph for another device or
 * size. Its layout is fixed per pointer size (byte offsets, little-endian); a
 * host in another language declares the one of its process:
 *
 *   field         32-bit (kovic.dll for x86)   64-bit (kovic.dll for x64)
 *   width         0   int32                    0   int32
 *   height        4   int32                    4   int32
 *   data          8   pointer, 4 bytes         8   pointer, 8 bytes
 *   length        12  int32                    16  int32 (4 bytes padding after)
 *   sample_time   16  double                   24  double
 *   busy          24  uint32                   32  uint32
 *   reserved      28  uint32                   36  uint32
 *   size          32 bytes                     40 bytes
 *
 * The frame is 24-bit RGB (B, G, R bytes), rows padded to whole 32-bit words
 * (a width of 178 gives 536-byte rows). A camera delivering YUY2, UYVY, NV12,
 * I420, YV12 or 32-bit RGB has each delivered frame converted: the picture is
 * bottom-up, `height` is positive and `length` is exactly the padded row size
 * times the height. A camera delivering RGB24 has its sample copied as it
 * came: `height` keeps its sign (negative: top-down rows) and `length` is the
 * number of bytes the device sent, which a short sample makes smaller. Check
 * `length` before reading, and never read past it; `data` is null for a frame
 * whose buffer could not be allocated. */
typedef struct FrameDescriptor {
    int32_t width;           /* biWidth of the connected format */
    int32_t height;          /* biHeight of the connected format; positive when converted */
    unsigned char *data;     /* the frame buffer; null until the first frame */
    int32_t length;          /* bytes of the latest delivered frame: check before reading */
    double sample_time;      /* start time of the latest frame, in seconds */
    volatile uint32_t busy;  /* 1: no frame wanted; 0: armed */
    uint32_t reserved;       /* always 0 */
} FrameDescriptor;

#ifdef __cplusplus
#  define KOVIC_STATIC_ASSERT(c, m) static_assert(c, m)
#else
#  define KOVIC_STATIC_ASSERT(c, m) _Static_assert(c, m)
#endif
#if (defined(_WIN32) && !defined(_WIN64)) || (defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 4)
KOVIC_STATIC_ASSERT(sizeof(FrameDescriptor) == 32, "FrameDescriptor is 32 bytes");
KOVIC_STATIC_ASSERT(offsetof(FrameDescriptor, data) == 8, "data at 8");
KOVIC_STATIC_ASSERT(offsetof(FrameDescriptor, length) == 12, "length at 12");
KOVIC_STATIC_ASSERT(offsetof(FrameDescriptor, sample_time) == 16, "sample time at 16");
KOVIC_STATIC_ASSERT(offsetof(FrameDescriptor, busy) == 24, "busy flag at 24");
KOVIC_STATIC_ASSERT(offsetof(FrameDescriptor, reserved) == 28, "reserved at 28");
#elif defined(_WIN64) || (defined(__SIZEOF_POINTER__) && __SIZEOF_POINTER__ == 8)
KOVIC_STATIC_ASSERT(sizeof(FrameDescriptor) == 40, "FrameDescriptor is 40 bytes");
KOVIC_STATIC_ASSERT(offsetof(FrameDescriptor, data) == 8, "data at 8");
KOVIC_STATIC_ASSERT(offsetof(FrameDescriptor, length) == 16, "length at 16");
KOVIC_STATIC_ASSERT(offsetof(FrameDescriptor, sample_time) == 24, "sample time at 24");
KOVIC_STATIC_ASSERT(offsetof(FrameDescriptor, busy) == 32, "busy flag at 32");
KOVIC_STATIC_ASSERT(offsetof(FrameDescriptor, reserved) == 36, "reserved at 36");
#endif

/* Start-up: initialises COM on the calling thread, rebuilds the device
 * catalogue and builds the colour-conversion tables. Returns 1. */
KOVIC_API int KOVIC_CALL KOVICCreate(void);
/* Returns 1 and does nothing else: the catalogue and tables stay. */
KOVIC_API int KOVIC_CALL KOVICDestroy(void);
/* Number of catalogued video input devices (0 before KOVICCreate). */
KOVIC_API int KOVIC_CALL KOVICGetVideoDeviceCount(void);
/* Copies exactly 80 bytes of device `index`'s name into `name` (at least 80
 * bytes). 1; KOVIC_E_DEVICE_INDEX when index >= count; KOVIC_E_NO_DEVICE_RECORD
 * for a negative index; 0 for a null buffer. Writes only on success. */
KOVIC_API int KOVIC_CALL KOVICGetVideoDevice(int index, char *name);

/* Opens a session reporting to `window` (not validated; may be null). Its
 * handle, or 0 when the session cannot be made. */
KOVIC_API KOVIC_SESSION KOVIC_CALL KOVICOpen(void *window);
/* Stops preview ("Preview Stop"), tears the graph down, frees the session. 1. */
KOVIC_API int KOVIC_CALL KOVICClose(KOVIC_SESSION session);
/* Selects the device by catalogue index; a negative index selects none.
 * 1, or KOVIC_E_DEVICE_INDEX. Rebuilds nothing. */
KOVIC_API int KOVIC_CALL KOVICSelectDevice(KOVIC_SESSION session, int index);
/* Records the requested capture size (0 or less: the device's default). 1.
 * At the next build the size is applied in RGB24 if offered so, else I420,
 * else in the offered format of that size with the highest frame rate
 * (uncompressed before compressed at equal rates). */
KOVIC_API int KOVIC_CALL KOVICSetVideoFormat(KOVIC_SESSION session, int width, int height);
/* 1 when the device offers exactly width x |height| in a format whose frames
 * can reach the host (RGB24, one the library converts, or MJPG, which the
 * library decodes itself), so that KOVICSetVideoFormat to it applies it; else
 * 0. Builds the graph when none is built. */
KOVIC_API int KOVIC_CALL KOVICEnumVideoFormat(KOVIC_SESSION session, int width, int height);
/* Width of the current capture format, or 0. Builds the graph when none is built. */
KOVIC_API int KOVIC_CALL KOVICGetWidth(KOVIC_SESSION session);
/* Height (absolute value) of the current capture format, or 0. */
KOVIC_API int KOVIC_CALL KOVICGetHeight(KOVIC_SESSION session);
/* Builds or reuses the graph and runs it; sends "Preview Start" during the call. */
KOVIC_API int KOVIC_CALL KOVICStartPreview(KOVIC_SESSION session);
/* Stops the graph; sends "Preview Stop" during the call. */
KOVIC_API int KOVIC_CALL KOVICStopPreview(KOVIC_SESSION session);
/* 1 while previewing, 0 otherwise, KOVIC_E_NULL_HANDLE for a bad handle
 * (non-zero: compare, do not test as a truth value). Any thread, any time. */
KOVIC_API int KOVIC_CALL KOVICIsPreviewing(KOVIC_SESSION session);
/* Arms the frame sink to deliver one more frame. 1, KOVIC_E_NULL_HANDLE or
 * KOVIC_E_NO_FRAME_SINK. Any thread, any time. */
KOVIC_API int KOVIC_CALL KOVICGetFrameCall(KOVIC_SESSION session);
/* Converts a packed 24-bit BGR frame (bottom-up rows as delivered) into I420
 * (Y, then U, then V) in `destination` (width * height * 3 / 2 bytes); the
 * picture comes out upright and mirrored left to right, with U and V taken
 * from one pixel of each 2 x 2 block. Reads the last 3 * width * height bytes
 * of the source (a longer source's leading bytes are ignored). Needs no
 * session. Returns 1 when converted, and 1 without touching anything when
 * width or height is 0 or less; returns 0 without touching anything when the
 * call would stray outside its buffers: a null pointer, an odd width or
 * height, a source_length below 3 * width * height, a frame too large for
 * 32-bit byte counts, or a destination that overlaps the source_length bytes
 * of the source. Before KOVICCreate every pixel converts to Y 0, U 128,
 * V 128. */
KOVIC_API int KOVIC_CALL KOVICGetYuvFrame(unsigned char *destination, const unsigned char *source,
                                          int width, int height, int source_length);
/* Writes the descriptor's frame as a 24-bit BMP file: the headers, then
 * `length` bytes from `data`. KOVIC_E_NULL_HANDLE, KOVIC_E_NO_FRAME_SINK,
 * KOVIC_E_NO_FILE_NAME; else 1 when written, 0 when not. Any name CreateFileA
 * can open for writing will do (a device such as NUL too); a name it refuses
 * (a read-only file, a folder, a file open elsewhere) gives 0 with nothing
 * touched. An existing file is replaced only by a complete new one, so a
 * failed save leaves it as it was (unless its folder cannot take a temporary
 * file beside it, when it is rewritten in place). The session's own
 * descriptor (a KOVIC_MSG_FRAME's wParam) with a length beyond its buffer
 * gives 0 and writes nothing; a descriptor the host fills in itself must
 * describe bytes the host owns. */
KOVIC_API int KOVIC_CALL KOVICSaveSingleFrameBitmap(KOVIC_SESSION session, const char *file_name,
                                                    const FrameDescriptor *frame);

/* Installed DirectX runtime version: major * 256 + minor (0x801 for 8.1), 0 for none. */
KOVIC_API unsigned int KOVIC_CALL MirelGetDXVersion(void);

#ifdef __cplusplus
}
#endif

#endif /* KOVIC_H */
