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
    Count
};

EMU_API const char *CallName(Call call);

// Makes the `occurrence`-th call (1-based) of `call` fail with `result`; 0 fails
// every call. With `target`, only calls concerning that identifier count.
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

// A simulated video input device, as the system device enumerator lists it.
struct SimulatedDevice {
    std::wstring friendly_name = L"Simulated Camera";
    std::wstring clsid_text = L"{A5B1C2D3-0000-4000-8000-000000000001}";
    bool property_bag_fails = false;  // BindToStorage fails: the catalogue skips it
    bool name_unreadable = false;     // reading "FriendlyName" fails
    bool clsid_unreadable = false;    // reading "CLSID" fails
    bool bind_fails = false;          // BindToObject fails and gives no filter
};

// Registers a device at the end of the enumeration order; returns its position.
EMU_API int RegisterDevice(const SimulatedDevice &device);
EMU_API void ClearDevices();

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
