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

// The chain is connected in the device's own format: the grabber is told to
// want the device's current subtype before its input connects, so that it
// passes that format on (one the frame sink converts, or decodes for MJPG). A
// format the library does not read is asked for as RGB24, so that the graph
// places the system's converter ahead of the grabber; where there is none,
// the source's connection fails.
AM_MEDIA_TYPE CaptureGraph::GrabberMediaType() const {
    AM_MEDIA_TYPE type;
    std::memset(&type, 0, sizeof(type));
    type.majortype = MEDIATYPE_Video;
    type.subtype = MEDIASUBTYPE_RGB24;
    if (!stream_config_) return type;
    MediaTypePtr current;
    // Only S_OK carries a format; without one the grabber asks for RGB24.
    if (!CallSucceededExactly(stream_config_->GetFormat(current.ReleaseAndGetAddressOf())) || !current.Get()) {
        return type;
    }
    if (FrameFormatOfSubtype(current->subtype) != FrameFormat::kUnknown) type.subtype = current->subtype;
    return type;
}

int CaptureGraph::ConnectCaptureChain(GraphOwner &owner, int32_t requested_width, int32_t requested_height) {
    FindStreamConfig(owner, requested_width, requested_height);
    ComPtr<ISampleGrabber> grabber;
    {
        ComPtr<IPin> source_out = GetPin(device_source_.Get(), PINDIR_OUTPUT, 0);
        if (!source_out) return KOVIC_E_SOURCE_NO_OUTPUT_PIN;
        ComPtr<IPin> grabber_in = GetPin(sample_grabber_.Get(), PINDIR_INPUT, 0);
        if (!grabber_in) return KOVIC_E_GRABBER_NO_INPUT_PIN;
        // The grabber's type must be in place before its input connects: a
        // type set afterwards does not renegotiate the connection.
        if (CallFailed(QueryInto(sample_grabber_.Get(), IID_ISampleGrabber, &grabber)) || !grabber) {
            return KOVIC_E_GRABBER_INTERFACE;
        }
        AM_MEDIA_TYPE wanted = GrabberMediaType();
        if (CallFailed(grabber->SetMediaType(&wanted))) return KOVIC_E_GRABBER_MEDIA_TYPE;
        // The graph may place converting filters between the two.
        if (CallFailed(filter_graph_->Connect(source_out.Get(), grabber_in.Get()))) {
            return KOVIC_E_CONNECT_SOURCE_GRABBER;
        }
    }
    int r = SetUpGrabber(grabber.Get(), owner.host_window);
    if (r != KOVIC_OK) return r;
    r = ConnectGrabberToRenderer(grabber.Get());
    if (r != KOVIC_OK) return r;
    return ReadConnectedFormat(grabber.Get());
}

int CaptureGraph::SetUpGrabber(ISampleGrabber *grabber, HWND host_window) {
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
    return KOVIC_OK;
}

// A grabber whose output is connected by the graph's Connect may offer the
// source's other types and reconnect its input with the first of them (Wine's
// grabber does), so that frames come in another format or size than the one
// applied. Connecting directly in exactly the input's type leaves the input
// as it is.
int CaptureGraph::ConnectGrabberToRenderer(ISampleGrabber *grabber) {
    AM_MEDIA_TYPE input_type;
    std::memset(&input_type, 0, sizeof(input_type));
    if (CallFailed(grabber->GetConnectedMediaType(&input_type))) {
        FreeMediaType(input_type);
        return KOVIC_E_CONNECTED_MEDIA_TYPE;
    }
    int r = KOVIC_OK;
    ComPtr<IPin> grabber_out = GetPin(sample_grabber_.Get(), PINDIR_OUTPUT, 0);
    ComPtr<IPin> renderer_in;
    if (!grabber_out) {
        r = KOVIC_E_GRABBER_NO_OUTPUT_PIN;
    } else if (!(renderer_in = GetPin(null_renderer_.Get(), PINDIR_INPUT, 0))) {
        r = KOVIC_E_RENDERER_NO_INPUT_PIN;
    } else if (CallFailed(filter_graph_->ConnectDirect(grabber_out.Get(), renderer_in.Get(), &input_type))) {
        r = KOVIC_E_CONNECT_GRABBER_RENDERER;
    }
    FreeMediaType(input_type);
    return r;
}

// Read only once source, grabber and renderer are all connected, so that the
// frame size and format are those the frames come in. A format block too small
// for the size fields gives 0 by 0. A sink that cannot get ready for the
// format (an MJPG decoder that cannot be made) fails with
// KOVIC_E_REGISTER_SINK.
int CaptureGraph::ReadConnectedFormat(ISampleGrabber *grabber) {
    AM_MEDIA_TYPE connected;
    std::memset(&connected, 0, sizeof(connected));
    if (CallFailed(grabber->GetConnectedMediaType(&connected))) {
        FreeMediaType(connected);
        return KOVIC_E_CONNECTED_MEDIA_TYPE;
    }
    int32_t width, height;
    ReadFormatSize(connected, &width, &height);
    // An MJPG sink without its decoder could deliver nothing: the build fails.
    const bool ready = frame_sink_->SetFrameFormat(FrameFormatOfSubtype(connected.subtype), width, height);
    FreeMediaType(connected);
    return ready ? KOVIC_OK : KOVIC_E_REGISTER_SINK;
}

}  // namespace kovic
