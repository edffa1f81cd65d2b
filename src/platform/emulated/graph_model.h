// The emulated filter-graph model's building blocks: media-type records, the
// filter and pin bases with the pin connection rules, and how samples travel
// from pin to pin. Internal to src/platform/emulated/. Connections change on the
// host's thread while the graph is stopped; samples travel on whichever thread
// delivers them, under no lock but the delivering source's own (which a stop
// takes to wait for a delivery in progress).
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/emulated/emu_object.h"

namespace emu {

class FilterGraph;
class EmuFilter;

// A media type owned by the model: AM_MEDIA_TYPE without the task memory.
// An empty record (major type GUID_NULL) stands for "no type".
struct MediaTypeRecord {
    GUID majortype = GUID_NULL;
    GUID subtype = GUID_NULL;
    GUID formattype = GUID_NULL;
    BOOL fixed_size_samples = FALSE;
    BOOL temporal_compression = FALSE;
    ULONG sample_size = 0;
    std::vector<BYTE> format;

    bool empty() const { return IsEqualGUID(majortype, GUID_NULL); }
    static MediaTypeRecord From(const AM_MEDIA_TYPE &type);
    static MediaTypeRecord FromFormat(const SimulatedFormat &format, double frames_per_second);
    // Uncompressed RGB24 video of that size, bottom-up, with a whole
    // VIDEOINFOHEADER block.
    static MediaTypeRecord Rgb24(int32_t width, int32_t height);
    // The bitmap header's width and height (where the format type puts it),
    // when the block is long enough to hold them.
    bool ReadSize(int32_t *width, int32_t *height) const;
    // The same type: major type, subtype, format type and format block.
    bool SameAs(const MediaTypeRecord &other) const;
    // Fills a caller's record; its format block is task memory the caller frees.
    HRESULT CopyTo(AM_MEDIA_TYPE *out) const;
    // A whole record in task memory, as GetFormat and GetStreamCaps hand it out.
    HRESULT NewTaskMemoryCopy(AM_MEDIA_TYPE **out) const;
};

// A pin belongs to its filter: it has no reference count of its own (AddRef and
// Release count on the filter) and lives as long as the filter. A connected
// pin holds a reference to its peer, so each side of a connection keeps the
// other's filter alive until that side is disconnected.
class EmuPin : public IPin {
public:
    EmuPin(EmuFilter *owner, PIN_DIRECTION direction, const wchar_t *name);
    virtual ~EmuPin();
    EmuPin(const EmuPin &) = delete;
    EmuPin &operator=(const EmuPin &) = delete;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override { return Query(iid, out, true); }
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE ConnectedTo(IPin **peer) override;
    HRESULT STDMETHODCALLTYPE QueryPinInfo(PIN_INFO *info) override;
    HRESULT STDMETHODCALLTYPE QueryDirection(PIN_DIRECTION *direction) override;

    virtual HRESULT Query(REFIID iid, void **out, bool injectable);

    EmuFilter *owner() const { return owner_; }
    PIN_DIRECTION direction() const { return direction_; }
    const std::wstring &name() const { return name_; }
    EmuPin *peer() const { return peer_; }
    const MediaTypeRecord &connected_type() const { return connected_type_; }

    // Output pins: the types offered for a connection, best first, and whether
    // this pin will connect to that input pin at all. A pin that passes on
    // what its filter's input receives is not ready before that input is
    // connected.
    virtual std::vector<MediaTypeRecord> OfferedTypes() const { return {}; }
    virtual bool WillConnectTo(const EmuPin &) const { return true; }
    virtual bool ReadyToConnect() const { return true; }
    // Output pins: every type the pin enumerates, which a filter downstream
    // may ask it to reconnect with; and whether it takes a connection in
    // exactly that type (ConnectDirect with a type).
    virtual std::vector<MediaTypeRecord> EnumeratedTypes() const { return OfferedTypes(); }
    virtual bool OffersExactly(const MediaTypeRecord &type) const {
        for (const MediaTypeRecord &offered : EnumeratedTypes())
            if (offered.SameAs(type)) return true;
        return false;
    }
    // Input pins: whether a type offered by an output pin is acceptable.
    virtual bool Accepts(const MediaTypeRecord &) const { return true; }

    // One side of a connection: takes a reference to the peer.
    void Attach(EmuPin *peer, const MediaTypeRecord &type);
    // Breaks this side only; false when it was not connected.
    bool Detach();

private:
    EmuFilter *owner_;
    PIN_DIRECTION direction_;
    std::wstring name_;
    EmuPin *peer_ = nullptr;
    MediaTypeRecord connected_type_;
};

// Base of every emulated filter: counted, reference-counted, with a fixed set
// of pins made by the derived class's constructor.
class EmuFilter : public IBaseFilter, public EmuObject {
public:
    explicit EmuFilter(const std::wstring &name) : name_(name) {}
    ~EmuFilter() override;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override { return Query(iid, out, true); }
    EMU_REFCOUNT_METHODS
    HRESULT STDMETHODCALLTYPE EnumPins(IEnumPins **out) override;

    virtual HRESULT Query(REFIID iid, void **out, bool injectable);

    const std::wstring &name() const { return name_; }
    size_t pin_count() const { return pins_.size(); }
    EmuPin *pin(size_t i) const { return pins_[i].get(); }
    FilterGraph *graph() const { return graph_; }
    void JoinGraph(FilterGraph *graph) { graph_ = graph; }
    GraphState state() const { return state_.load(std::memory_order_acquire); }
    virtual void SetState(GraphState state) { state_.store(state, std::memory_order_release); }
    virtual bool is_converter() const { return false; }

    // A sample arriving on one of this filter's input pins.
    virtual HRESULT Receive(EmuPin *input, REFERENCE_TIME start, const BYTE *data, LONG length);
    // ICaptureGraphBuilder2::FindInterface with a pin category: the interface
    // on this filter's output pin of that category and major type.
    virtual HRESULT FindPinInterface(const GUID *category, const GUID *type, REFIID iid, void **out);
    // A pin of this filter has just been connected.
    virtual void PinConnected(EmuPin *) {}
    // Breaks both sides of every connection of every pin.
    void DisconnectAll();

protected:
    void AddPin(std::unique_ptr<EmuPin> pin) { pins_.push_back(std::move(pin)); }
    // Hands a sample to the input pin connected to `output`.
    static HRESULT PassDownstream(EmuPin *output, REFERENCE_TIME start, const BYTE *data, LONG length);

private:
    std::wstring name_;
    std::vector<std::unique_ptr<EmuPin>> pins_;
    FilterGraph *graph_ = nullptr;  // not counted: the graph holds the filter, not the reverse
    std::atomic<GraphState> state_{GraphState::kStopped};
};

// The model's own objects behind interface pointers; null for anything else.
EmuFilter *AsEmuFilter(IBaseFilter *filter);
EmuPin *AsEmuPin(IPin *pin);

// Hands a new object (which holds its creation reference) out as `iid`, then
// drops the creation reference: the object lives on only if the query succeeded.
template <class T>
HRESULT HandOut(T *object, REFIID iid, void **out) {
    HRESULT hr = object->Query(iid, out, false);
    object->Release();
    return hr;
}

// The converting filter FilterGraph::Connect places between two pins that do
// not connect directly: takes any video with a readable size, gives RGB24.
EmuFilter *NewColourConverter();

}  // namespace emu
