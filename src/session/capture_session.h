// CaptureSession: the record behind a session handle, from KOVICOpen to
// KOVICClose: the host window, the device and size the host wants, the built
// and previewing flags, the last-error text and the session's capture graph.
// Also the session's operations, one per session export. Used from one host
// thread at a time; the streaming thread only ever touches the graph's frame
// sink, never these fields.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>

#include "graph/capture_graph.h"
#include "graph/graph_owner.h"
#include "kovic.h"

namespace kovic {

constexpr int kLastErrorChars = 1024;

struct CaptureSession;

// Sole ownership of a session record: made by OpenSession, held by the live
// sessions, destroyed (its graph released on the way) by this deleter.
struct CaptureSessionDeleter {
    void operator()(CaptureSession *session) const;
};
using CaptureSessionPtr = std::unique_ptr<CaptureSession, CaptureSessionDeleter>;

// The host window and the built and previewing flags are GraphOwner's: the
// graph's steps read and set them, and report their diagnostics into the
// last-error text through GraphOwner::ReportError.
// The live sessions' lock (session/live_sessions.h): also the one the graph
// takes while it puts a frame sink in place or takes it away.
std::mutex &LiveSessionsLock();

struct CaptureSession final : GraphOwner {
    CaptureSession();

    int32_t selected_device = 0;  // negative: no device
    int32_t built_device = -1;    // the device index the current graph was built for
    int32_t requested_width = 0;  // 0 or less: the device's default
    int32_t requested_height = 0;
    int32_t built_width = 0;      // the requested size the current graph was built with
    int32_t built_height = 0;
    char last_error[kLastErrorChars] = {};
    CaptureGraph graph;

private:
    // At most 1024 characters with the terminator, %x in lower case.
    void FormatLastError(const char *format, va_list args) override;
};

// A new session reporting to `window`, registered among the live sessions;
// its handle, or 0 when the record cannot be allocated.
KOVIC_SESSION OpenSession(HWND window);
// Forgets the session behind `handle`, stops its preview ("Preview Stop"),
// tears its graph down, releases it and frees the record. 1, or
// KOVIC_E_NULL_HANDLE when there is no such session.
int CloseSession(KOVIC_SESSION handle);

// Null: KOVIC_E_NULL_HANDLE; previewing: KOVIC_E_PREVIEWING; else BuildGraph.
int EnsureGraph(CaptureSession *session);
// Builds the graph, or reuses the built one for an unchanged device and size.
int BuildGraph(CaptureSession *session);
// The gate in front of the size and format queries: false when the selection is
// negative or no graph is built and none can be.
bool QueryGateOpen(CaptureSession *session);

// The session exports' operations, for a live session.
// Stores the index when the catalogue holds the device it names (a negative
// index counts as 0 for that test and is stored as it is); 1 or
// KOVIC_E_DEVICE_INDEX. Nothing is rebuilt.
int SelectDevice(CaptureSession *session, int index);
// Stores the requested size, unvalidated; 1. Nothing is rebuilt.
int SetVideoFormat(CaptureSession *session, int width, int height);
// Behind the query gate: whether the device offers the size, and the current size.
int EnumVideoFormat(CaptureSession *session, int width, int height);
int GetCurrentFormat(CaptureSession *session, FormatDimension dimension);
// EnsureGraph, then RunPreview. Null: KOVIC_E_NULL_HANDLE.
int StartPreview(CaptureSession *session);
int StopPreview(CaptureSession *session);
// 1 while previewing, else 0.
int IsPreviewing(CaptureSession *session);
// Arms the frame sink: 1, or KOVIC_E_NO_FRAME_SINK.
int GetFrameCall(CaptureSession *session);
// KOVICIsPreviewing and KOVICGetFrameCall for a handle, which any thread may
// call at any time: the record is used under the live sessions' lock, so a
// close or a rebuild on another thread cannot free it (or its sink) meanwhile.
int IsPreviewing(KOVIC_SESSION handle);
int GetFrameCall(KOVIC_SESSION handle);
// Writes a frame the host passes back as a BMP file: KOVIC_E_NO_FRAME_SINK,
// KOVIC_E_NO_FILE_NAME, else 1 when written and 0 when not. The session's own
// descriptor is never written with more bytes than its frame buffer holds.
int SaveSingleFrameBitmap(CaptureSession *session, const char *file_name, const FrameDescriptor *frame);

}  // namespace kovic
