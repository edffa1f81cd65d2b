// CaptureGraph's teardown and release: what undoes a build. Host thread only.
#include "graph/capture_graph.h"

#include <cstring>

#include "kovic.h"
#include "platform/hresult_tests.h"

namespace kovic {

void CaptureGraph::RemoveDownstream(IBaseFilter *filter) {
    ComPtr<IEnumPins> pins;
    if (!CallSucceededExactly(filter->EnumPins(pins.ReleaseAndGetAddressOf())) || !pins) return;
    pins->Reset();
    for (;;) {
        ComPtr<IPin> pin;
        ULONG fetched = 0;
        if (!CallSucceededExactly(pins->Next(1, pin.ReleaseAndGetAddressOf(), &fetched)) || !pin) return;
        ComPtr<IPin> peer;
        pin->ConnectedTo(peer.ReleaseAndGetAddressOf());
        if (!peer) continue;  // not connected
        PIN_INFO info;
        std::memset(&info, 0, sizeof(info));
        HRESULT hr = peer->QueryPinInfo(&info);
        // Adopt whatever filter reference the query handed out before judging
        // its result, so that a partial success does not leak it.
        ComPtr<IBaseFilter> peer_filter;
        *peer_filter.ReleaseAndGetAddressOf() = info.pFilter;
        if (!CallSucceededExactly(hr)) return;
        if (info.dir == PINDIR_INPUT && peer_filter) {
            RemoveDownstream(peer_filter.Get());
            filter_graph_->Disconnect(peer.Get());
            filter_graph_->Disconnect(pin.Get());
            filter_graph_->RemoveFilter(peer_filter.Get());
        }
    }
}

// The source's output leads through the grabber to the renderer, so the first
// walk already removes the grabber, the renderer and any converting filter the
// graph placed; the source stays in the graph until the graph is released.
void CaptureGraph::TearDownGraph(GraphOwner &owner) {
    if (filter_graph_) {
        if (device_source_) RemoveDownstream(device_source_.Get());
        if (sample_grabber_) RemoveDownstream(sample_grabber_.Get());
        if (null_renderer_) RemoveDownstream(null_renderer_.Get());
    }
    owner.built = 0;
}

int CaptureGraph::ReleaseGraph() {
    // The one release order of a graph. The grabber holds the sink as its
    // callback and may call it (BufferCB until the graph has stopped, Release
    // until the grabber itself goes), and the registration is never withdrawn:
    // so the graph, which stops its filters as it goes, the builder, which
    // holds the graph, the source and the grabber are released first, and
    // only then is the sink deleted. The renderer and the stream configuration
    // follow.
    filter_graph_.Reset();
    graph_builder_.Reset();
    device_source_.Reset();
    sample_grabber_.Reset();
    ExchangeFrameSink(nullptr);  // the sink it hands back is destroyed here
    null_renderer_.Reset();
    stream_config_.Reset();
    return KOVIC_OK;
}

FrameSinkPtr CaptureGraph::ExchangeFrameSink(FrameSinkPtr sink) {
    std::unique_lock<std::mutex> hold;
    if (sink_handover_ != nullptr) hold = std::unique_lock<std::mutex>(*sink_handover_);
    frame_sink_.swap(sink);
    return sink;
}

}  // namespace kovic
