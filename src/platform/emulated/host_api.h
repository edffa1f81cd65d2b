// The emulated platform's own host API: what a test or the demo uses to set the
// stage before and around the library's exports. Simulated capture devices,
// fault injection by call and occurrence, live-object counts, host windows with
// message queues, and the debug output. Not one of the library's exports.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/emulated/com_interfaces.h"

#if defined(KOVIC_BUILDING_LIBRARY)
#define EMU_API __attribute__((visibility("default")))
#else
#define EMU_API
#endif

namespace emu {

// Every platform call the library makes, as one enumerated fault point each.
enum class Call : int {
    CoInitialize,
    CoCreateInstance,        // target: the class identifier
    CoTaskMemAlloc,
    CreateClassEnumerator,
    EnumMonikerNext,
    BindToStorage,
    PropertyBagRead,         // target: none; FriendlyName and CLSID reads both count
    WideCharToMultiByte,
    CLSIDFromString,
    BindToObject,
    LibraryAlloc,            // the library's own records and buffers
    SetFiltergraph,
    AddFilter,
    RemoveFilter,
    GraphConnect,
    GraphConnectDirect,
    GraphDisconnect,
    FindInterface,           // target: the media type asked for
    EnumPins,
    EnumPinsNext,
    QueryDirection,
    ConnectedTo,
    QueryPinInfo,
    QueryInterface,          // target: the interface identifier
    GetNumberOfCapabilities,
    GetStreamCaps,
    SetFormat,
    GetFormat,
    GrabberSetMediaType,
    GrabberSetOneShot,
    GrabberSetBufferSamples,
    GrabberSetCallback,
    GrabberGetConnectedMediaType,
    MediaControlRun,
    MediaControlStop,
    SendMessage,
    PostMessage,
    CreateFile,
    WriteFile,
    CloseHandle,
    MoveFile,
    GetFileType,
    DeleteFile,
    HoldLibraryModule,       // the library's reference on its own module
    Count
};

EMU_API const char *CallName(Call call);

// Makes the `occurrence`-th call (1-based) of `call` fail with `result`; 0 fails
// every call. With `target`, only calls concerning that identifier count. A
// success code other than S_OK (S_FALSE, say) does not fail the call: it does
// its work and returns that code instead of S_OK.
EMU_API void FailCall(Call call, HRESULT result, int occurrence = 1, const GUID *target = nullptr);
EMU_API void ClearFaults();
// Calls made (attempted, failed ones included) since the last ResetCallCounts.
EMU_API int CallCount(Call call);
EMU_API void ResetCallCounts();
// Faults that fired since ClearFaults.
EMU_API int FaultsFired();

// Live platform objects: COM objects, task-memory blocks and strings not yet freed.
EMU_API int LiveObjects();
EMU_API int LiveComObjects();
EMU_API int LiveTaskMemBlocks();
EMU_API int LiveStrings();

// COM initialisation depth of the calling thread (CoInitialize minus CoUninitialize).
EMU_API int ComInitDepth();

// One capture format of a simulated device: an entry of its capability list,
// or its current format. The media type built from it is video of `subtype`
// with a format block of `format_bytes` bytes holding a VIDEOINFOHEADER (88
// bytes) cut short or zero-padded to that size: below 60 bytes the bitmap
// header's width and height are cut off, and 0 means no block at all. With
// format type FORMAT_VideoInfo2 the block holds a VIDEOINFOHEADER2 (112 bytes,
// width and height at 76 and 80), cut or padded the same way.
struct SimulatedFormat {
    GUID subtype;
    int32_t width;
    int32_t height;  // negative: top-down rows
    GUID format_type = FORMAT_VideoInfo;
    uint32_t format_bytes = sizeof(VIDEOINFOHEADER);
    // The capability's frame rate (its AvgTimePerFrame and the capability
    // block's frame intervals); 0 takes the device's frames_per_second.
    double frames_per_second = 0.0;
};

// A format block of the right size for that format type: 88 bytes for
// FORMAT_VideoInfo, 112 for FORMAT_VideoInfo2.
EMU_API SimulatedFormat VideoInfo2Format(const GUID &subtype, int32_t width, int32_t height);

// Bytes of one frame of that format: rows of RGB24 are rounded up to whole
// 32-bit words, RGB32 takes four bytes a pixel; I420, IYUV, YV12 and NV12 have
// chroma at half size each way and YUY2 and UYVY two bytes a pixel, odd sizes
// rounded up; MJPG (and any other compressed subtype) at most two bytes a
// pixel; 0 for a size that makes no picture.
EMU_API uint32_t FrameBytes(const SimulatedFormat &format);

// The picture a streaming device delivers as frame `frame_number` of a run:
// eight colour bars moving left by four pixels a frame, and the frame number
// (six digits) at the top left, laid out in `format`: RGB24 rows of whole
// 32-bit words in BGR order and RGB32 rows of BGRX, the bottom row first for a
// positive height; the YUV layouts (I420 and IYUV, YV12, NV12, YUY2, UYVY) top
// down, in BT.601 limited range (luma 16-235, chroma 16-240); any other subtype
// is packed like YUY2. Fills `bytes` bytes, which must be FrameBytes(format);
// false and nothing written otherwise.
EMU_API bool DrawTestPattern(const SimulatedFormat &format, uint32_t frame_number, BYTE *out, size_t bytes);

// The MJPG frame a streaming device delivers as frame `frame_number`: the
// picture DrawTestPattern draws in RGB24, encoded as a baseline JPEG (4:2:2,
// quality 85, no JFIF header), with its Huffman tables or without them (the
// standard tables then apply). Writes into out[0, bytes); returns the
// picture's length, or 0 when it does not fit or the size makes no picture.
// FrameBytes(format) always holds it.
EMU_API size_t EncodeTestPatternJpeg(const SimulatedFormat &format, uint32_t frame_number, bool huffman_tables,
                                     BYTE *out, size_t bytes);
// What a device that corrupts every `every`-th JPEG frame does to frame
// `frame_number` (of `length` bytes, in place): frames every - 1, 3 * every - 1,
// ... are cut to two thirds of their length; frames 2 * every - 1, 4 * every -
// 1, ... keep their length but get a restart marker in the middle of their
// coded data. Returns the length to deliver (`length` for a frame left whole).
EMU_API size_t CorruptJpegFrame(uint32_t frame_number, uint32_t every, BYTE *jpeg, size_t length);

// The output pins of a device's source filter, in enumeration order.
enum class SourcePin {
    kCapture,  // category PIN_CATEGORY_CAPTURE; carries IAMStreamConfig
    kPreview,  // category PIN_CATEGORY_PREVIEW; the same frames and the same IAMStreamConfig
};

// How the filter graph's Connect reaches a downstream pin from the device.
enum class ConnectRoute {
    kDirect,            // the output pin connects to any input that takes its format
    kThroughConverter,  // it connects only to a converting filter, which Connect places in between
    kRefused,           // it connects to nothing
};

// A simulated video input device, as the system device enumerator lists it,
// and the source filter its moniker binds to.
struct SimulatedDevice {
    std::wstring friendly_name = L"Simulated Camera";
    std::wstring clsid_text = L"{A5B1C2D3-0000-4000-8000-000000000001}";
    bool property_bag_fails = false;  // BindToStorage fails: the catalogue skips it
    bool name_unreadable = false;     // reading "FriendlyName" fails
    bool clsid_unreadable = false;    // reading "CLSID" fails
    bool bind_fails = false;          // BindToObject fails and gives no filter

    std::vector<SourcePin> output_pins = {SourcePin::kCapture};
    std::vector<SimulatedFormat> capabilities = {
        {MEDIASUBTYPE_RGB24, 640, 480}, {MEDIASUBTYPE_I420, 640, 480}, {MEDIASUBTYPE_RGB24, 320, 240}};
    SimulatedFormat current_format = {MEDIASUBTYPE_RGB24, 640, 480};
    double frames_per_second = 30.0;
    // True: while its graph runs, the source's own streaming thread delivers
    // DrawTestPattern frames in the connected format (MJPG: the
    // EncodeTestPatternJpeg picture, of varying length) at frames_per_second, frame
    // n of each run with the sample time n / frames_per_second, along the path
    // DeliverSample takes; it has stopped when IMediaControl::Stop (or the
    // graph's last Release) returns. False: samples come only through
    // DeliverSample, one at a time.
    bool streams_test_pattern = false;
    // Which major types ICaptureGraphBuilder2::FindInterface finds the capture
    // pin's IAMStreamConfig for (with PIN_CATEGORY_CAPTURE).
    bool stream_config_for_interleaved = false;
    bool stream_config_for_video = true;
    // False: no output pin carries IAMStreamConfig at all.
    bool has_stream_config = true;
    // False: the output pins answer no pin category, so FindInterface with a
    // category finds nothing on them; the pins still carry IAMStreamConfig.
    bool pins_report_category = true;
    // The types the output pin enumerates (what a filter downstream may
    // reconnect it with): the current format first, then the other
    // capabilities until a format was set, as capture devices do; true: the
    // capability list in its own order whatever was set.
    bool enumerates_capabilities_only = false;
    ConnectRoute connect_route = ConnectRoute::kDirect;
    // IAMStreamConfig::SetFormat answers S_OK but changes nothing.
    bool set_format_ignored = false;
    // The capability structure's size that GetNumberOfCapabilities reports,
    // and how many bytes GetStreamCaps then writes into the caller's block:
    // VIDEO_STREAM_CONFIG_CAPS (128) and then 0x41 bytes for a larger size.
    int stream_caps_bytes = 128;
    // MJPG frames of a streaming device (EncodeTestPatternJpeg): false leaves
    // their Huffman tables out, as many webcams do.
    bool jpeg_huffman_tables = true;
    // Every this many streamed MJPG frames one is corrupt (CorruptJpegFrame),
    // as after a USB transfer error; 0: none.
    uint32_t corrupt_jpeg_every = 0;
};

// Registers a device at the end of the enumeration order; returns its position.
EMU_API int RegisterDevice(const SimulatedDevice &device);
EMU_API void ClearDevices();

// The emulated filter graphs. A graph is stopped, paused or running; filters
// follow it through IMediaControl.
enum class GraphState { kStopped, kPaused, kRunning };
// The names of the filters in a graph, in the order they were added (a filter
// added without a name goes by its own: "Sample Grabber", "Null Renderer",
// "Colour Converter", or the device's friendly name for a source). Empty for
// anything but an emulated graph.
EMU_API std::vector<std::wstring> FilterNames(IGraphBuilder *graph);
EMU_API GraphState StateOf(IGraphBuilder *graph);

// Pushes one sample from a simulated device's source filter down every
// connected output pin: through a converting filter when one was placed, into
// the sample grabber (which calls its callback, BufferCB with start / 1e7
// seconds, on the calling thread) and on to the renderer. The caller's bytes
// are handed over as they are. Returns S_OK when the sample reached the end of
// the chain; VFW_E_WRONG_STATE when the source is stopped; VFW_E_NOT_CONNECTED
// when no output pin is connected; E_INVALIDARG for anything but a simulated
// device's source. A stop waits for a delivery in progress to finish. Pushed
// samples and a streaming device's own frames take turns, never overlapping.
EMU_API HRESULT DeliverSample(IBaseFilter *source, REFERENCE_TIME start_100ns, const BYTE *data, LONG length);
// Samples a null renderer has received since it was created; -1 for anything else.
EMU_API int RendererSamples(IBaseFilter *renderer);

// Host windows. The procedure runs synchronously for SendMessageA on the
// caller's thread, and for queued messages on the thread that pumps them.
typedef LRESULT (*WindowProcedure)(HWND window, UINT message, WPARAM wparam, LPARAM lparam, void *context);
EMU_API HWND CreateHostWindow(WindowProcedure procedure, void *context, size_t queue_capacity = 1024);
// Destroys the window; later sends reach nothing and posts fail. Queued
// messages are discarded.
EMU_API void DestroyHostWindow(HWND window);
// Dispatches queued messages until the queue is empty; returns how many.
EMU_API int PumpMessages(HWND window);
// Waits up to timeout_ms for a queued message, then dispatches it; false on timeout.
EMU_API bool WaitAndDispatchMessage(HWND window, int timeout_ms);
EMU_API size_t QueuedMessages(HWND window);

// Everything written with OutputDebugStringA since the last ClearDebugOutput.
EMU_API std::string DebugOutput();
EMU_API void ClearDebugOutput();

// Resets devices, faults, call counts and debug output (not live counts).
EMU_API void ResetPlatform();

}  // namespace emu
