#include "graph/graph_assembly.h"

#include "kovic.h"
#include "platform/hresult_tests.h"

namespace kovic {
namespace {
constexpr DWORD kInprocContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER;
}

int CreateGraphObjects(CaptureSession *session) {
    if (!session->graph_builder) {
        HRESULT hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, kInprocContext, IID_ICaptureGraphBuilder2,
                                      session->graph_builder.ReleaseAndGetVoidAddressOf());
        if (!CallSucceededExactly(hr)) {
            session->graph_builder.Reset();
            ReportError(session, "Cannot create CaptureGraphBuilder");
            return KOVIC_E_CREATE_GRAPH_BUILDER;
        }
    }
    if (!session->filter_graph) {
        HRESULT hr = CoCreateInstance(CLSID_FilterGraph, nullptr, kInprocContext, IID_IGraphBuilder,
                                      session->filter_graph.ReleaseAndGetVoidAddressOf());
        if (!CallSucceededExactly(hr)) {
            session->filter_graph.Reset();
            ReportError(session, "Cannot create FilterGraph");
            session->graph_builder.Reset();
            return KOVIC_E_CREATE_FILTER_GRAPH;
        }
    }
    if (CallFailed(session->graph_builder->SetFiltergraph(session->filter_graph.Get()))) {
        ReportError(session, "Cannot give graph to builder");
        session->graph_builder.Reset();
        session->filter_graph.Reset();
        return KOVIC_E_SET_FILTER_GRAPH;
    }
    return KOVIC_OK;
}

int AddCaptureFilters(CaptureSession *session) {
    if (!session->filter_graph) return KOVIC_E_NO_FILTER_GRAPH;
    if (!BindDeviceFilter(&session->device_source, CLSID_VideoInputDeviceCategory, session->selected_device)) {
        return KOVIC_E_DEVICE_NOT_FOUND;
    }
    if (CallFailed(CoCreateInstance(CLSID_SampleGrabber, nullptr, kInprocContext, IID_IBaseFilter,
                                    session->sample_grabber.ReleaseAndGetVoidAddressOf()))) {
        session->sample_grabber.Reset();
        return KOVIC_E_CREATE_SAMPLE_GRABBER;
    }
    if (CallFailed(CoCreateInstance(CLSID_NullRenderer, nullptr, kInprocContext, IID_IBaseFilter,
                                    session->null_renderer.ReleaseAndGetVoidAddressOf()))) {
        session->null_renderer.Reset();
        return KOVIC_E_CREATE_NULL_RENDERER;
    }
    // A source that failed to bind is null here, and the graph refuses it.
    if (CallFailed(session->filter_graph->AddFilter(session->device_source.Get(), nullptr))) {
        return KOVIC_E_ADD_DEVICE_SOURCE;
    }
    if (CallFailed(session->filter_graph->AddFilter(session->sample_grabber.Get(), nullptr))) {
        return KOVIC_E_ADD_SAMPLE_GRABBER;
    }
    if (CallFailed(session->filter_graph->AddFilter(session->null_renderer.Get(), nullptr))) {
        return KOVIC_E_ADD_NULL_RENDERER;
    }
    return KOVIC_OK;
}

int BindDeviceFilter(ComPtr<IBaseFilter> *out, REFCLSID category, int index) {
    ComPtr<ICreateDevEnum> device_enum;
    if (CallFailed(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, kInprocContext, IID_ICreateDevEnum,
                                    device_enum.ReleaseAndGetVoidAddressOf())) ||
        !device_enum) {
        return 0;
    }
    ComPtr<IEnumMoniker> monikers;
    HRESULT hr = device_enum->CreateClassEnumerator(category, monikers.ReleaseAndGetAddressOf(), 0);
    device_enum.Reset();
    // Only S_OK carries an enumerator: an empty category gives S_FALSE and none.
    if (!CallSucceededExactly(hr) || !monikers) return 0;
    monikers->Reset();
    for (int position = 0;; ++position) {
        ComPtr<IMoniker> moniker;
        ULONG fetched = 0;
        // The walk goes on while a fetch returns S_OK; S_FALSE means no moniker remains.
        hr = monikers->Next(1, moniker.ReleaseAndGetAddressOf(), &fetched);
        if (!CallSucceededExactly(hr) || !moniker) return 0;
        if (position == index) {
            moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, out->ReleaseAndGetVoidAddressOf());
            return 1;
        }
    }
}

}  // namespace kovic
