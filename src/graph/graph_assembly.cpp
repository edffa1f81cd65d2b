// CaptureGraph's assembly steps: the filter graph and capture graph builder,
// and the three filters of the capture chain; and the binding of the selected
// device. Host thread only.
#include "graph/graph_assembly.h"

#include "devices/device_monikers.h"
#include "graph/capture_graph.h"
#include "kovic.h"
#include "platform/hresult_tests.h"

namespace kovic {
namespace {
// Graph objects are created as in-process servers or handlers.
constexpr DWORD kInprocContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
}  // namespace

int CaptureGraph::CreateGraphObjects(GraphOwner &owner) {
    if (!graph_builder_) {
        HRESULT hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, kInprocContext, IID_ICaptureGraphBuilder2,
                                      graph_builder_.ReleaseAndGetVoidAddressOf());
        if (!CallSucceededExactly(hr)) {
            graph_builder_.Reset();
            owner.ReportError("Cannot create CaptureGraphBuilder");
            return KOVIC_E_CREATE_GRAPH_BUILDER;
        }
    }
    if (!filter_graph_) {
        HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, kInprocContext, IID_IGraphBuilder,
                                      filter_graph_.ReleaseAndGetVoidAddressOf());
        if (!CallSucceededExactly(hr)) {
            filter_graph_.Reset();
            owner.ReportError("Cannot create FilterGraph");
            graph_builder_.Reset();
            return KOVIC_E_CREATE_FILTER_GRAPH;
        }
    }
    if (CallFailed(graph_builder_->SetFiltergraph(filter_graph_.Get()))) {
        owner.ReportError("Cannot give graph to builder");
        graph_builder_.Reset();
        filter_graph_.Reset();
        return KOVIC_E_SET_FILTER_GRAPH;
    }
    return KOVIC_OK;
}

int CaptureGraph::AddCaptureFilters(int32_t device_index) {
    if (!filter_graph_) return KOVIC_E_NO_FILTER_GRAPH;
    if (!BindDeviceFilter(&device_source_, CLSID_VideoInputDeviceCategory, device_index)) {
        return KOVIC_E_DEVICE_NOT_FOUND;
    }
    if (CallFailed(CoCreateInstance(CLSID_SampleGrabber, nullptr, kInprocContext, IID_IBaseFilter,
                                    sample_grabber_.ReleaseAndGetVoidAddressOf()))) {
        sample_grabber_.Reset();
        return KOVIC_E_CREATE_SAMPLE_GRABBER;
    }
    if (CallFailed(CoCreateInstance(CLSID_NullRenderer, nullptr, kInprocContext, IID_IBaseFilter,
                                    null_renderer_.ReleaseAndGetVoidAddressOf()))) {
        null_renderer_.Reset();
        return KOVIC_E_CREATE_NULL_RENDERER;
    }
    // A source that failed to bind is null here, and the graph refuses it.
    if (CallFailed(filter_graph_->AddFilter(device_source_.Get(), nullptr))) return KOVIC_E_ADD_DEVICE_SOURCE;
    if (CallFailed(filter_graph_->AddFilter(sample_grabber_.Get(), nullptr))) return KOVIC_E_ADD_SAMPLE_GRABBER;
    if (CallFailed(filter_graph_->AddFilter(null_renderer_.Get(), nullptr))) return KOVIC_E_ADD_NULL_RENDERER;
    return KOVIC_OK;
}

int BindDeviceFilter(ComPtr<IBaseFilter> *out, REFCLSID category, int index) {
    // Binding creates the enumerator as it creates every graph object (an
    // in-process server or handler) and takes any result that is not a
    // failure. It reads no properties, so every moniker counts toward the
    // index, also one the catalogue left out for its unopenable property bag.
    const MonikerWalk binding_walk = {kInprocContext, ResultTest::kNotNegative, /*open_property_bags=*/false};
    bool reached = false;
    WalkDeviceMonikers(category, binding_walk, [&](int position, IMoniker *moniker, IPropertyBag *) {
        if (position != index) return true;
        moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, out->ReleaseAndGetVoidAddressOf());
        reached = true;
        return false;
    });
    return reached ? 1 : 0;
}

}  // namespace kovic
