// The emulated filter graph (CLSID_FilterGraph: IGraphBuilder and IMediaControl)
// and capture graph builder (CLSID_CaptureGraphBuilder2). The graph holds a
// reference to each of its filters; a filter only knows which graph it is in.
// Host thread only: filters are added, connected and removed while the graph
// is stopped, which is also when Connect, Disconnect and RemoveFilter work.
#include <string>
#include <utility>
#include <vector>

#include "platform/emulated/graph_model.h"

namespace emu {

class FilterGraph final : public IGraphBuilder, public IMediaControl, public EmuObject {
public:
    ~FilterGraph() override {
        // Releasing the graph stops it and takes every filter out, connections first.
        SetAll(GraphState::kStopped);
        for (const Entry &e : entries_) e.filter->DisconnectAll();
        for (const Entry &e : entries_) {
            e.filter->JoinGraph(nullptr);
            e.filter->Release();
        }
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override { return Query(iid, out, true); }
    EMU_REFCOUNT_METHODS
    HRESULT Query(REFIID iid, void **out, bool injectable) {
        IUnknown *graph = static_cast<IGraphBuilder *>(this);
        IUnknown *control = static_cast<IMediaControl *>(this);
        return QueryTable(iid, out, {{&IID_IUnknown, graph}, {&IID_IGraphBuilder, graph}, {&IID_IMediaControl, control}},
                          injectable);
    }

    // A filter added without a name goes by its own, made unique in the graph;
    // a name given that is already taken is refused.
    HRESULT STDMETHODCALLTYPE AddFilter(IBaseFilter *filter, LPCWSTR name) override {
        if (filter == nullptr) return E_POINTER;
        HRESULT injected = CheckFault(Call::AddFilter);
        if (FAILED(injected)) return injected;
        EmuFilter *f = AsEmuFilter(filter);
        if (f == nullptr || f->graph() != nullptr) return E_INVALIDARG;  // not the model's, or already in a graph
        if (name != nullptr && Find(WideOf(name)) != nullptr) return VFW_E_DUPLICATE_NAME;
        Insert(f, name != nullptr ? WideOf(name) : f->name());
        return Completed(injected);
    }

    HRESULT STDMETHODCALLTYPE RemoveFilter(IBaseFilter *filter) override {
        if (filter == nullptr) return E_POINTER;
        HRESULT injected = CheckFault(Call::RemoveFilter);
        if (FAILED(injected)) return injected;
        EmuFilter *f = AsEmuFilter(filter);
        if (f == nullptr || f->graph() != this) return E_FAIL;
        if (state_ != GraphState::kStopped) return VFW_E_NOT_STOPPED;
        Remove(f);
        return Completed(injected);
    }

    // Connects the two pins with no filter between them: in exactly `type`
    // when one is given (the output pin must enumerate it and the input take
    // it), else in the first type the output offers that the input takes.
    // Unlike Connect, the pins must be given output first.
    HRESULT STDMETHODCALLTYPE ConnectDirect(IPin *out_pin, IPin *in_pin, const AM_MEDIA_TYPE *type) override {
        if (out_pin == nullptr || in_pin == nullptr) return E_POINTER;
        HRESULT injected = CheckFault(Call::GraphConnectDirect);
        if (FAILED(injected)) return injected;
        EmuPin *out = AsEmuPin(out_pin);
        EmuPin *in = AsEmuPin(in_pin);
        if (out == nullptr || in == nullptr || out->owner()->graph() != this || in->owner()->graph() != this) {
            return VFW_E_NOT_IN_GRAPH;
        }
        if (state_ != GraphState::kStopped) return VFW_E_NOT_STOPPED;
        if (out->direction() != PINDIR_OUTPUT || in->direction() != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
        if (out->peer() != nullptr || in->peer() != nullptr) return VFW_E_ALREADY_CONNECTED;
        if (!out->ReadyToConnect()) return VFW_E_NOT_CONNECTED;
        if (type == nullptr) {
            HRESULT hr = ConnectPins(out, in, nullptr);
            return FAILED(hr) ? hr : Completed(injected);
        }
        const MediaTypeRecord exact = MediaTypeRecord::From(*type);
        HRESULT hr = ConnectPins(out, in, &exact);
        return FAILED(hr) ? VFW_E_TYPE_NOT_ACCEPTED : Completed(injected);
    }

    // Breaks the connection on this pin's side only; the peer keeps its side
    // until it is disconnected too.
    HRESULT STDMETHODCALLTYPE Disconnect(IPin *pin) override {
        if (pin == nullptr) return E_POINTER;
        HRESULT injected = CheckFault(Call::GraphDisconnect);
        if (FAILED(injected)) return injected;
        EmuPin *p = AsEmuPin(pin);
        if (p == nullptr || p->owner()->graph() != this) return VFW_E_NOT_IN_GRAPH;
        if (p->owner()->state() != GraphState::kStopped) return VFW_E_NOT_STOPPED;
        return p->Detach() ? Completed(injected) : S_FALSE;
    }

    // Connects the two pins directly when the output pin offers a type the
    // input accepts; otherwise places a converting filter between them. As
    // DirectShow's graph does: pins given the wrong way round (input first)
    // are swapped; a pin that is already connected takes no second
    // connection, directly or through a converter (VFW_E_CANNOT_CONNECT); an
    // output pin that passes on what its filter's input receives cannot
    // connect before that input is (VFW_E_NOT_CONNECTED).
    HRESULT STDMETHODCALLTYPE Connect(IPin *out_pin, IPin *in_pin) override {
        if (out_pin == nullptr || in_pin == nullptr) return E_POINTER;
        HRESULT injected = CheckFault(Call::GraphConnect);
        if (FAILED(injected)) return injected;
        EmuPin *out = AsEmuPin(out_pin);
        EmuPin *in = AsEmuPin(in_pin);
        if (out == nullptr || in == nullptr || out->owner()->graph() != this || in->owner()->graph() != this) {
            return VFW_E_NOT_IN_GRAPH;
        }
        if (state_ != GraphState::kStopped) return VFW_E_NOT_STOPPED;
        if (out->direction() == PINDIR_INPUT) std::swap(out, in);
        if (out->direction() != PINDIR_OUTPUT || in->direction() != PINDIR_INPUT) return VFW_E_INVALID_DIRECTION;
        if (out->peer() != nullptr || in->peer() != nullptr) return VFW_E_CANNOT_CONNECT;
        if (!out->ReadyToConnect()) return VFW_E_NOT_CONNECTED;
        if (SUCCEEDED(ConnectPins(out, in, nullptr))) return Completed(injected);
        if (SUCCEEDED(ConnectThroughConverter(out, in))) return Completed(injected);
        return VFW_E_CANNOT_CONNECT;
    }

    HRESULT STDMETHODCALLTYPE Run() override {
        HRESULT injected = CheckFault(Call::MediaControlRun);
        if (FAILED(injected)) return injected;
        SetAll(GraphState::kRunning);
        return Completed(injected);
    }
    HRESULT STDMETHODCALLTYPE Pause() override {
        SetAll(GraphState::kPaused);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Stop() override {
        HRESULT injected = CheckFault(Call::MediaControlStop);
        if (FAILED(injected)) return injected;
        SetAll(GraphState::kStopped);
        return Completed(injected);
    }

    std::vector<std::wstring> Names() const {
        std::vector<std::wstring> names;
        for (const Entry &e : entries_) names.push_back(e.name);
        return names;
    }
    GraphState state() const { return state_; }

private:
    struct Entry {
        EmuFilter *filter;  // counted
        std::wstring name;
    };

    const Entry *Find(const std::wstring &name) const {
        for (const Entry &e : entries_)
            if (e.name == name) return &e;
        return nullptr;
    }

    void Insert(EmuFilter *filter, std::wstring name) {
        if (Find(name) != nullptr) {
            const std::wstring base = name;
            for (int n = 1; Find(name) != nullptr; ++n) name = base + L" " + std::to_wstring(n);
        }
        filter->AddRef();
        filter->JoinGraph(this);
        entries_.push_back({filter, std::move(name)});
    }

    void Remove(EmuFilter *filter) {
        for (auto it = entries_.begin(); it != entries_.end(); ++it) {
            if (it->filter != filter) continue;
            entries_.erase(it);
            filter->DisconnectAll();
            filter->JoinGraph(nullptr);
            filter->Release();
            return;
        }
    }

    // Attaches both sides in the first offered type the input takes, or in
    // exactly `exact` when given.
    static HRESULT ConnectPins(EmuPin *out, EmuPin *in, const MediaTypeRecord *exact) {
        if (!out->WillConnectTo(*in)) return VFW_E_NO_ACCEPTABLE_TYPES;
        auto attach = [&](const MediaTypeRecord &type) {
            out->Attach(in, type);
            in->Attach(out, type);
            out->owner()->PinConnected(out);
            in->owner()->PinConnected(in);
            return S_OK;
        };
        if (exact != nullptr) {
            if (exact->empty() || !out->OffersExactly(*exact) || !in->Accepts(*exact)) return VFW_E_TYPE_NOT_ACCEPTED;
            return attach(*exact);
        }
        for (const MediaTypeRecord &type : out->OfferedTypes()) {
            if (type.empty() || !in->Accepts(type)) continue;
            return attach(type);
        }
        return VFW_E_NO_ACCEPTABLE_TYPES;
    }

    HRESULT ConnectThroughConverter(EmuPin *out, EmuPin *in) {
        EmuFilter *converter = NewColourConverter();
        Insert(converter, converter->name());
        converter->Release();  // the graph's reference keeps it
        EmuPin *converter_in = converter->pin(0);
        EmuPin *converter_out = converter->pin(1);
        if (SUCCEEDED(ConnectPins(out, converter_in, nullptr)) && SUCCEEDED(ConnectPins(converter_out, in, nullptr))) {
            return S_OK;
        }
        Remove(converter);
        return VFW_E_CANNOT_CONNECT;
    }

    // A run starts the filters downstream of the sources first, so that a
    // source's first frame finds its chain running; a pause or stop goes the
    // other way, sources first, so that nothing is delivered into a filter
    // that has already stopped.
    void SetAll(GraphState state) {
        state_ = state;
        const bool sources_last = state == GraphState::kRunning;
        for (int pass = 0; pass < 2; ++pass) {
            const bool sources = (pass == 0) != sources_last;
            for (const Entry &e : entries_) {
                if (IsSource(*e.filter) == sources) e.filter->SetState(state);
            }
        }
    }

    // A filter with output pins only.
    static bool IsSource(const EmuFilter &filter) {
        for (size_t i = 0; i < filter.pin_count(); ++i) {
            if (filter.pin(i)->direction() == PINDIR_INPUT) return false;
        }
        return filter.pin_count() > 0;
    }

    std::vector<Entry> entries_;
    GraphState state_ = GraphState::kStopped;
};

namespace {

class CaptureGraphBuilder final : public ICaptureGraphBuilder2, public EmuObject {
public:
    ~CaptureGraphBuilder() override {
        if (graph_ != nullptr) graph_->Release();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override { return Query(iid, out, true); }
    EMU_REFCOUNT_METHODS
    HRESULT Query(REFIID iid, void **out, bool injectable) {
        return QueryTable(iid, out, {{&IID_IUnknown, this}, {&IID_ICaptureGraphBuilder2, this}}, injectable);
    }

    // The builder keeps a reference to its graph; it takes one graph only.
    HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder *graph) override {
        if (graph == nullptr) return E_POINTER;
        HRESULT injected = CheckFault(Call::SetFiltergraph);
        if (FAILED(injected)) return injected;
        if (graph_ != nullptr) return E_UNEXPECTED;
        graph->AddRef();
        graph_ = graph;
        return Completed(injected);
    }

    // The filter itself first; then, with a pin category, the output pin of that
    // category whose major type is `type` (any, when null); without one, any pin.
    HRESULT STDMETHODCALLTYPE FindInterface(const GUID *category, const GUID *type, IBaseFilter *filter, REFIID iid,
                                            void **out) override {
        if (out == nullptr) return E_POINTER;
        *out = nullptr;
        HRESULT injected = CheckFault(Call::FindInterface, type);
        if (FAILED(injected)) return injected;
        if (filter == nullptr) return E_POINTER;
        EmuFilter *f = AsEmuFilter(filter);
        if (f == nullptr) return E_NOINTERFACE;
        HRESULT hr = f->Query(iid, out, false);
        if (FAILED(hr)) {
            if (category != nullptr) {
                hr = f->FindPinInterface(category, type, iid, out);
            } else {
                for (size_t i = 0; i < f->pin_count() && FAILED(hr); ++i) hr = f->pin(i)->Query(iid, out, false);
            }
        }
        return FAILED(hr) ? E_NOINTERFACE : Completed(injected);
    }

private:
    IGraphBuilder *graph_ = nullptr;
};

}  // namespace

HRESULT CreateFilterGraph(REFIID iid, void **out) { return HandOut(new FilterGraph(), iid, out); }
HRESULT CreateCaptureGraphBuilder(REFIID iid, void **out) { return HandOut(new CaptureGraphBuilder(), iid, out); }

std::vector<std::wstring> FilterNames(IGraphBuilder *graph) {
    auto *g = dynamic_cast<FilterGraph *>(graph);
    return g != nullptr ? g->Names() : std::vector<std::wstring>();
}

GraphState StateOf(IGraphBuilder *graph) {
    auto *g = dynamic_cast<FilterGraph *>(graph);
    return g != nullptr ? g->state() : GraphState::kStopped;
}

}  // namespace emu
