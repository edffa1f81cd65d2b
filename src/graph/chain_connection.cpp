// CaptureGraph's chain connection: source -> sample grabber -> null renderer,
// the grabber set up to hand every frame to the frame sink. Host thread only.
#include "graph/chain_connection.h"

#include <cstring>

#include "graph/capture_graph.h"
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

}  // namespace

ComPtr<IPin> GetPin(IBaseFilter *filter, PIN_DIRECTION direction, int n) {
    ComPtr<IEnumPins> pins;
    if (CallFailed(filter->EnumPins(pins.ReleaseAndGetAddressOf())) || !pins) return {};
    for (;;) {
        ComPtr<IPin> pin;
        ULONG fetched = 0;
        if (!CallSucceededExactly(pins->Next(1, pin.ReleaseAndGetAddressOf(), &fetched)) || !pin) return {};
        PIN_DIRECTION answer = PINDIR_INPUT;
        // A pin whose direction cannot be read is of neither direction.
        if (CallFailed(pin->QueryDirection(&answer)) || answer != direction) continue;
        if (n == 0) return pin;
        --n;
    }
}

int CaptureGraph::ConnectCaptureChain(GraphOwner &owner, int32_t requested_width, int32_t requested_height) {
    FindStreamConfig(owner, requested_width, requested_height);
    {
        ComPtr<IPin> source_out = GetPin(device_source_.Get(), PINDIR_OUTPUT, 0);
        if (!source_out) return KOVIC_E_SOURCE_NO_OUTPUT_PIN;
        ComPtr<IPin> grabber_in = GetPin(sample_grabber_.Get(), PINDIR_INPUT, 0);
        if (!grabber_in) return KOVIC_E_GRABBER_NO_INPUT_PIN;
        // The graph may place converting filters between the two.
        if (CallFailed(filter_graph_->Connect(source_out.Get(), grabber_in.Get()))) {
            return KOVIC_E_CONNECT_SOURCE_GRABBER;
        }
    }
    int r = SetUpGrabber(owner.host_window);
    if (r != KOVIC_OK) return r;
    ComPtr<IPin> grabber_out = GetPin(sample_grabber_.Get(), PINDIR_OUTPUT, 0);
    if (!grabber_out) return KOVIC_E_GRABBER_NO_OUTPUT_PIN;
    ComPtr<IPin> renderer_in = GetPin(null_renderer_.Get(), PINDIR_INPUT, 0);
    if (!renderer_in) return KOVIC_E_RENDERER_NO_INPUT_PIN;
    if (CallFailed(filter_graph_->Connect(grabber_out.Get(), renderer_in.Get()))) {
        return KOVIC_E_CONNECT_GRABBER_RENDERER;
    }
    return KOVIC_OK;
}

// The grabber's control interface is held only here and released on every
// exit. Its input is already connected, so the media type set here does not
// renegotiate that connection: frames come in whatever format it agreed on.
int CaptureGraph::SetUpGrabber(HWND host_window) {
    AM_MEDIA_TYPE wanted = GrabberMediaType();
    ComPtr<ISampleGrabber> grabber;
    if (CallFailed(QueryInto(sample_grabber_.Get(), IID_ISampleGrabber, &grabber)) || !grabber) {
        return KOVIC_E_GRABBER_INTERFACE;
    }
    if (CallFailed(grabber->SetMediaType(&wanted))) return KOVIC_E_GRABBER_MEDIA_TYPE;
    if (CallFailed(grabber->SetOneShot(FALSE))) return KOVIC_E_GRABBER_ONE_SHOT;
    if (CallFailed(grabber->SetBufferSamples(TRUE))) return KOVIC_E_GRABBER_BUFFERING;
    // ReleaseGraph deletes the sink, so every build after one starts with a
    // fresh sink that waits to be armed.
    if (!frame_sink_) {
        FrameSinkPtr made = FrameSink::Create(host_window);
        // A sink that cannot be allocated is neither registered nor filled.
        if (!made) return KOVIC_E_REGISTER_SINK;
        ExchangeFrameSink(std::move(made));
    }
    // Mode 1: the grabber calls BufferCB.
    if (CallFailed(grabber->SetCallback(frame_sink_.get(), 1))) return KOVIC_E_REGISTER_SINK;
    AM_MEDIA_TYPE connected;
    std::memset(&connected, 0, sizeof(connected));
    if (CallFailed(grabber->GetConnectedMediaType(&connected))) {
        FreeMediaType(connected);
        return KOVIC_E_CONNECTED_MEDIA_TYPE;
    }
    // The frame size is written once per build, as the connected type stores
    // it; a format block too small for the size fields gives 0 by 0.
    int32_t width, height;
    ReadFormatSize(connected, &width, &height);
    frame_sink_->SetFrameSize(width, height);
    FreeMediaType(connected);
    return KOVIC_OK;
}

}  // namespace kovic
