// CaptureGraph's preview control: running and stopping a built graph through
// its run control, and the status texts sent to the host window. Host thread
// only.
#include "graph/preview_control.h"

#include <cstring>

#include "graph/capture_graph.h"
#include "kovic.h"
#include "platform/hresult_tests.h"

namespace kovic {
namespace {
constexpr size_t kStatusTextBytes = 1024;
}

int CaptureGraph::RunPreview(GraphOwner &owner) {
    if (owner.previewing) return KOVIC_E_PREVIEWING;
    if (!owner.built) {
        owner.ReportError("Preview graph not built");
        return KOVIC_E_GRAPH_NOT_BUILT;
    }
    ComPtr<IMediaControl> control;
    if (CallFailed(QueryInto(filter_graph_.Get(), IID_IMediaControl, &control)) || !control) {
        owner.ReportError("MediaControl interface not create");
        return KOVIC_E_MEDIA_CONTROL;
    }
    // A graph that will not run is stopped again; the session still counts as
    // previewing and the host must stop it before a rebuild.
    if (CallFailed(control->Run())) control->Stop();
    control.Reset();
    // Set before the status goes out: the host's window procedure may ask.
    owner.previewing = 1;
    NotifyStatus(owner.host_window, "Preview Start");
    return KOVIC_OK;
}

int CaptureGraph::StopPreviewGraph(GraphOwner &owner) {
    if (!owner.previewing) return KOVIC_E_NOT_PREVIEWING;
    ComPtr<IMediaControl> control;
    if (CallFailed(QueryInto(filter_graph_.Get(), IID_IMediaControl, &control)) || !control) {
        owner.ReportError("MediaControl interface not create");
        return KOVIC_E_MEDIA_CONTROL;
    }
    control->Stop();
    control.Reset();
    owner.previewing = 0;
    NotifyStatus(owner.host_window, "Preview Stop");
    return KOVIC_OK;
}

// The host may read the whole buffer the message announces, so every byte of
// it is defined, not only the text.
void NotifyStatus(HWND host_window, const char *text) {
    char buffer[kStatusTextBytes] = {};
    size_t length = std::strlen(text);
    if (length >= kStatusTextBytes) length = kStatusTextBytes - 1;
    std::memcpy(buffer, text, length);
    buffer[length] = '\0';
    SendMessageA(host_window, KOVIC_MSG_STATUS, reinterpret_cast<WPARAM>(buffer),
                 static_cast<LPARAM>(kStatusTextBytes));
}

}  // namespace kovic
