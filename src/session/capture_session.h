// CaptureSession: the record behind a session handle, from KOVICOpen to
// KOVICClose. Used from one host thread at a time; the streaming thread only
// ever touches the frame sink, never these fields.
#pragma once

#include <cstdint>

#include "platform/com_ptr.h"
#include "platform/platform.h"

namespace kovic {

class FrameSink;

constexpr int kLastErrorChars = 1024;

struct CaptureSession {
    HWND host_window = nullptr;
    ComPtr<ICaptureGraphBuilder2> graph_builder;
    ComPtr<IAMStreamConfig> stream_config;
    ComPtr<IBaseFilter> device_source;
    ComPtr<IBaseFilter> sample_grabber;
    ComPtr<IBaseFilter> null_renderer;
    FrameSink *frame_sink = nullptr;  // owned; deleted by ReleaseGraph
    ComPtr<IGraphBuilder> filter_graph;
    int32_t selected_device = 0;       // negative: no device
    int32_t built_device = -1;
    int32_t requested_width = 0;       // 0 or less: the device's default
    int32_t requested_height = 0;
    int32_t built_width = 0;
    int32_t built_height = 0;
    int32_t built = 0;
    int32_t previewing = 0;
    char last_error[kLastErrorChars] = {};
};

// Formats a diagnostic into the session's last-error text (at most 1024
// characters with the terminator, %x in lower case); returns 0.
int ReportError(CaptureSession *session, const char *format, ...);

// Null: KOVIC_E_NULL_HANDLE; previewing: KOVIC_E_PREVIEWING; else BuildGraph.
int EnsureGraph(CaptureSession *session);
// Builds the graph, or reuses the built one for an unchanged device and size.
int BuildGraph(CaptureSession *session);
// The gate in front of the size and format queries: false when the selection is
// negative or no graph is built and none can be.
bool QueryGateOpen(CaptureSession *session);

// Live sessions. A handle is the record's address; only handles of live
// sessions map back to a record, anything else is answered like a null handle.
CaptureSession *OpenSession(HWND window);
CaptureSession *LookUpSession(intptr_t handle);
// Removes the session from the live set; the caller then frees it.
void ForgetSession(CaptureSession *session);

}  // namespace kovic
