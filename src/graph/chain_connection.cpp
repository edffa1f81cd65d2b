#include "graph/chain_connection.h"

#include <cstring>

#include "frames/frame_sink.h"
#include "graph/format_negotiation.h"
#include "kovic.h"
#include "platform/hresult_tests.h"
#include "platform/media_type.h"

namespace kovic {
namespace {

// The grabber is told to want RGB24 video, every other field zero.
AM_MEDIA_TYPE GrabberMediaType() {
    AM_MEDIA_TYPE type;
    std::memset(&type, 0, sizeof(type));
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    return type;
}

// Steps 6 to 14: the grabber's control interface is held only here, and
// released on every exit.
int SetUpGrabber(CaptureSession *session) {
    AM_MEDIA_TYPE wanted = GrabberMediaType();
    ComPtr<ISampleGrabber> grabber;
    if (CallFailed(QueryInto(session->sample_grabber.Get(), IID_ISampleGrabber, &grabber)) || !grabber) {
        return KOVIC_E_GRABBER_INTERFACE;
    }
    if (CallFailed(grabber->SetMediaType(&wanted))) return KOVIC_E_GRABBER_MEDIA_TYPE;
    if (CallFailed(grabber->SetOneShot(FALSE))) return KOVIC_E_GRABBER_ONE_SHOT;
    if (CallFailed(grabber->SetBufferSamples(TRUE))) return KOVIC_E_GRABBER_BUFFERING;
    if (session->frame_sink == nullptr) {
        session->frame_sink = FrameSink::Create(session->host_window);
        // A sink that cannot be allocated is neither registered nor filled.
        if (session->frame_sink == nullptr) return KOVIC_E_REGISTER_SINK;
    }
    // Mode 1: the grabber calls BufferCB.
    if (CallFailed(grabber->SetCallback(session->frame_sink, 1))) return KOVIC_E_REGISTER_SINK;
    AM_MEDIA_TYPE connected;
    std::memset(&connected, 0, sizeof(connected));
    if (CallFailed(grabber->GetConnectedMediaType(&connected))) {
        FreeMediaType(connected);
        return KOVIC_E_CONNECTED_MEDIA_TYPE;
    }
    // A format block too small for the size fields gives 0 by 0.
    int32_t width, height;
    ReadFormatSize(connected, &width, &height);
    session->frame_sink->SetFrameSize(width, height);
    FreeMediaType(connected);
    return KOVIC_OK;
}

// The pin's direction as a number, preset to 3 (neither input nor output) so
// that a pin whose query fails matches nothing. The answer is kept as bytes:
// 3 is no value of the enumeration, and loading it as one is undefined.
uint32_t DirectionOf(IPin *pin) {
    static_assert(sizeof(PIN_DIRECTION) == sizeof(uint32_t), "PIN_DIRECTION is a 32-bit enumeration");
    constexpr uint32_t kNeither = 3;
    alignas(PIN_DIRECTION) unsigned char answer[sizeof(PIN_DIRECTION)];
    std::memcpy(answer, &kNeither, sizeof(answer));
    pin->QueryDirection(reinterpret_cast<PIN_DIRECTION *>(answer));
    uint32_t direction;
    std::memcpy(&direction, answer, sizeof(direction));
    return direction;
}

}  // namespace

IPin *GetPin(IBaseFilter *filter, PIN_DIRECTION direction, int n) {
    ComPtr<IEnumPins> pins;
    if (CallFailed(filter->EnumPins(pins.ReleaseAndGetAddressOf())) || !pins) return nullptr;
    for (;;) {
        ComPtr<IPin> pin;
        ULONG fetched = 0;
        if (!CallSucceededExactly(pins->Next(1, pin.ReleaseAndGetAddressOf(), &fetched)) || !pin) return nullptr;
        if (DirectionOf(pin.Get()) == static_cast<uint32_t>(direction)) {
            if (n == 0) {
                // The caller gets no counted reference: the filter keeps the pin alive.
                IPin *result = pin.Detach();
                result->Release();
                return result;
            }
            --n;
        }
    }
}

int ConnectCaptureChain(CaptureSession *session) {
    FindStreamConfig(session);
    IPin *source_out = GetPin(session->device_source.Get(), PINDIR_OUTPUT, 0);
    if (source_out == nullptr) return KOVIC_E_SOURCE_NO_OUTPUT_PIN;
    IPin *grabber_in = GetPin(session->sample_grabber.Get(), PINDIR_INPUT, 0);
    if (grabber_in == nullptr) return KOVIC_E_GRABBER_NO_INPUT_PIN;
    // The graph may place converting filters between the two.
    if (CallFailed(session->filter_graph->Connect(source_out, grabber_in))) return KOVIC_E_CONNECT_SOURCE_GRABBER;
    int r = SetUpGrabber(session);
    if (r != KOVIC_OK) return r;
    IPin *grabber_out = GetPin(session->sample_grabber.Get(), PINDIR_OUTPUT, 0);
    if (grabber_out == nullptr) return KOVIC_E_GRABBER_NO_OUTPUT_PIN;
    IPin *renderer_in = GetPin(session->null_renderer.Get(), PINDIR_INPUT, 0);
    if (renderer_in == nullptr) return KOVIC_E_RENDERER_NO_INPUT_PIN;
    if (CallFailed(session->filter_graph->Connect(grabber_out, renderer_in))) return KOVIC_E_CONNECT_GRABBER_RENDERER;
    return KOVIC_OK;
}

void RemoveDownstream(IBaseFilter *filter, CaptureSession *session) {
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
            RemoveDownstream(peer_filter.Get(), session);
            session->filter_graph->Disconnect(peer.Get());
            session->filter_graph->Disconnect(pin.Get());
            session->filter_graph->RemoveFilter(peer_filter.Get());
        }
    }
}

void TearDownGraph(CaptureSession *session) {
    if (session->filter_graph) {
        if (session->device_source) RemoveDownstream(session->device_source.Get(), session);
        if (session->sample_grabber) RemoveDownstream(session->sample_grabber.Get(), session);
        if (session->null_renderer) RemoveDownstream(session->null_renderer.Get(), session);
    }
    session->built = 0;
}

int ReleaseGraph(CaptureSession *session) {
    // This order is fixed: the grabber may call the sink (BufferCB, Release)
    // until the graph and the grabber itself are gone, so the sink is deleted
    // only after them.
    session->filter_graph.Reset();
    session->graph_builder.Reset();
    session->device_source.Reset();
    session->sample_grabber.Reset();
    FrameSink::Destroy(session->frame_sink);
    session->frame_sink = nullptr;
    session->null_renderer.Reset();
    session->stream_config.Reset();
    return KOVIC_OK;
}

}  // namespace kovic
