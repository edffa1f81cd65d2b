// CaptureGraph: every platform object of one session's capture graph (filter
// graph, capture graph builder, device source, sample grabber, null renderer,
// the capture pin's stream configuration) and the session's frame sink, owned
// here and nowhere else, with the steps that build, run, stop, tear down and
// release them. The owning session lends each step what it needs of it
// (GraphOwner). Host thread only; the streaming thread touches nothing here
// but the frame sink.
#pragma once

#include <cstdint>
#include <mutex>

#include "frames/frame_sink.h"
#include "graph/graph_owner.h"
#include "platform/com_ptr.h"

namespace kovic {

// What format negotiation applied to the device: RGB24, I420, another format
// the library can deliver, or nothing.
enum class AppliedFormat { kNothing, kRgb24, kI420, kOther };
// Which size of the current format a query asks for.
enum class FormatDimension { kWidth, kHeight };

class CaptureGraph {
public:
    // `sink_handover`, when given, is held while a frame sink is put in place
    // or taken away, so that a thread that holds it too may use frame_sink().
    explicit CaptureGraph(std::mutex *sink_handover = nullptr) : sink_handover_(sink_handover) {}
    // Releases whatever is still held, in ReleaseGraph's order.
    ~CaptureGraph() { ReleaseGraph(); }
    CaptureGraph(const CaptureGraph &) = delete;
    CaptureGraph &operator=(const CaptureGraph &) = delete;

    // --- Assembly (graph_assembly.cpp) ---
    // Creates the graph builder and the filter graph (each only if absent) and
    // joins them. 1, or KOVIC_E_CREATE_GRAPH_BUILDER / _CREATE_FILTER_GRAPH /
    // _SET_FILTER_GRAPH with the owner's diagnostic.
    int CreateGraphObjects(GraphOwner &owner);
    // Binds catalogue position `device_index`, creates the grabber and the
    // renderer, adds all three. 1, or the code of the step that failed;
    // objects made before a failing step stay for the caller to release.
    int AddCaptureFilters(int32_t device_index);

    // --- Format negotiation (format_negotiation.cpp) ---
    // Finds the capture pin's stream configuration (by capture category for
    // interleaved, then video streams, else on the source's first output pin)
    // and applies the requested size when both are greater than 0: RGB24
    // first, then I420, then the deliverable format of that size with the
    // highest frame rate (RankCapability, PreferCapability).
    AppliedFormat FindStreamConfig(GraphOwner &owner, int32_t requested_width, int32_t requested_height);
    // 1 when a capability of that size and subtype was found and set.
    int ApplyCaptureFormat(REFGUID subtype, int32_t width, int32_t height);
    // 1 when a deliverable capability of that size was found and the best
    // of them set.
    int ApplyDeliverableFormat(int32_t width, int32_t height);
    // 1 when the device offers width by |height| in a format the library can
    // deliver (so that a request of that size applies it), else 0.
    int HasCaptureFormat(int32_t width, int32_t height) const;
    // The current format's width, or its absolute height; 0 when unknown.
    int32_t ReadCurrentFormat(FormatDimension dimension) const;

    // --- Chain connection and teardown (chain_connection.cpp, capture_graph.cpp) ---
    // Source -> grabber -> renderer, the grabber handing every frame to the
    // frame sink (made here, for the owner's window, when there is none). 1,
    // or the code of the step that failed; what was made stays for the caller.
    int ConnectCaptureChain(GraphOwner &owner, int32_t requested_width, int32_t requested_height);
    // Removes everything downstream of the three filters; the owner is no
    // longer built. The sink stays.
    void TearDownGraph(GraphOwner &owner);
    // Releases every platform object and deletes the sink, in the one order
    // that keeps the sink alive while the grabber may call it. Returns 1;
    // absent objects are skipped, so a second call changes nothing.
    int ReleaseGraph();

    // --- Preview control (preview_control.cpp) ---
    // Runs the built graph and sends "Preview Start". 1, KOVIC_E_PREVIEWING,
    // KOVIC_E_GRAPH_NOT_BUILT or KOVIC_E_MEDIA_CONTROL.
    int RunPreview(GraphOwner &owner);
    // Stops the running graph and sends "Preview Stop". 1,
    // KOVIC_E_NOT_PREVIEWING or KOVIC_E_MEDIA_CONTROL.
    int StopPreviewGraph(GraphOwner &owner);

    // What is held, for the session's frame exports and for tests. Null when absent.
    FrameSink *frame_sink() const { return frame_sink_.get(); }
    IGraphBuilder *filter_graph() const { return filter_graph_.Get(); }
    ICaptureGraphBuilder2 *graph_builder() const { return graph_builder_.Get(); }
    IBaseFilter *device_source() const { return device_source_.Get(); }
    IBaseFilter *sample_grabber() const { return sample_grabber_.Get(); }
    IBaseFilter *null_renderer() const { return null_renderer_.Get(); }
    IAMStreamConfig *stream_config() const { return stream_config_.Get(); }

private:
    friend class CaptureGraphTestPeer;  // tests put objects in place by hand

    // The source's first output pin's own IAMStreamConfig, into stream_config_.
    bool StreamConfigFromFirstOutputPin();
    // The media type the grabber is told to want before its input connects:
    // the device's current subtype when the library reads it, else RGB24.
    AM_MEDIA_TYPE GrabberMediaType() const;
    // The grabber's settings after its input connected: one-shot off,
    // buffering on, the sink made (when there is none) and registered.
    int SetUpGrabber(ISampleGrabber *grabber, HWND host_window);
    // The grabber's output to the renderer, in exactly the type its input
    // connected with.
    int ConnectGrabberToRenderer(ISampleGrabber *grabber);
    // The whole chain connected: the frame format and size the sink gets.
    int ReadConnectedFormat(ISampleGrabber *grabber);
    // Disconnects and removes every filter that receives data from `filter`.
    void RemoveDownstream(IBaseFilter *filter);
    // Puts `sink` in the place of the sink held, under the handover lock, and
    // returns the one it replaces, for the caller to destroy without the lock.
    FrameSinkPtr ExchangeFrameSink(FrameSinkPtr sink);

    ComPtr<IGraphBuilder> filter_graph_;
    ComPtr<ICaptureGraphBuilder2> graph_builder_;
    ComPtr<IBaseFilter> device_source_;
    ComPtr<IBaseFilter> sample_grabber_;
    ComPtr<IBaseFilter> null_renderer_;
    ComPtr<IAMStreamConfig> stream_config_;  // may stay absent in a built graph
    FrameSinkPtr frame_sink_;
    std::mutex *sink_handover_;
};

}  // namespace kovic
