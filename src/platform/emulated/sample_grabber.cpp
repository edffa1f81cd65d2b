// The emulated sample grabber (CLSID_SampleGrabber): an input pin that takes
// any type unless a media type was set before it was connected, an output pin
// that offers what the upstream pin enumerates, filtered by the grabber's
// media type, and the ISampleGrabber calls. As Wine's grabber does, an output
// connected in a type other than the input's reconnects the input in that
// type: a plain Connect of the output takes the first type offered, which
// need not be the one the input was connected with. Each sample is handed to
// the registered callback on the delivering thread, then passed on
// downstream. The grabber holds a reference to its callback from SetCallback
// until it is replaced or the grabber is destroyed. Settings change on the
// host's thread while the graph is stopped.
#include "platform/emulated/graph_model.h"

namespace emu {
namespace {

class SampleGrabber;

class GrabberInputPin final : public EmuPin {
public:
    GrabberInputPin(EmuFilter *owner, const MediaTypeRecord *wanted) : EmuPin(owner, PINDIR_INPUT, L"In"), wanted_(wanted) {}
    // GUID_NULL in the wanted type's major type, subtype or format type takes any.
    bool Accepts(const MediaTypeRecord &type) const override {
        auto fits = [](const GUID &wanted, const GUID &offered) {
            return IsEqualGUID(wanted, GUID_NULL) || IsEqualGUID(wanted, offered);
        };
        return fits(wanted_->majortype, type.majortype) && fits(wanted_->subtype, type.subtype) &&
               fits(wanted_->formattype, type.formattype);
    }

private:
    const MediaTypeRecord *wanted_;
};

// The output passes on what the input receives. It offers the types the
// upstream pin enumerates that the grabber's media type admits, in the
// upstream pin's order, and takes a connection in exactly the input's
// connected type as well.
class GrabberOutputPin final : public EmuPin {
public:
    GrabberOutputPin(EmuFilter *owner, const EmuPin *input) : EmuPin(owner, PINDIR_OUTPUT, L"Out"), input_(input) {}
    std::vector<MediaTypeRecord> OfferedTypes() const override {
        std::vector<MediaTypeRecord> offered;
        if (input_->peer() == nullptr) return offered;
        for (const MediaTypeRecord &type : input_->peer()->EnumeratedTypes()) {
            if (input_->Accepts(type)) offered.push_back(type);
        }
        return offered;
    }
    bool OffersExactly(const MediaTypeRecord &type) const override {
        return (input_->peer() != nullptr && input_->connected_type().SameAs(type)) || EmuPin::OffersExactly(type);
    }
    bool ReadyToConnect() const override { return input_->peer() != nullptr; }

private:
    const EmuPin *input_;
};

class SampleGrabber final : public EmuFilter, public ISampleGrabber {
public:
    SampleGrabber() : EmuFilter(L"Sample Grabber") {
        auto input = std::make_unique<GrabberInputPin>(this, &wanted_);
        input_ = input.get();
        AddPin(std::move(input));
        auto output = std::make_unique<GrabberOutputPin>(this, input_);
        output_ = output.get();
        AddPin(std::move(output));
    }
    ~SampleGrabber() override {
        if (callback_ != nullptr) callback_->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override { return Query(iid, out, true); }
    EMU_REFCOUNT_METHODS
    HRESULT Query(REFIID iid, void **out, bool injectable) override {
        IUnknown *filter = static_cast<IBaseFilter *>(this);
        IUnknown *grabber = static_cast<ISampleGrabber *>(this);
        return QueryTable(iid, out, {{&IID_IUnknown, filter}, {&IID_IBaseFilter, filter}, {&IID_ISampleGrabber, grabber}},
                          injectable);
    }

    HRESULT STDMETHODCALLTYPE SetOneShot(BOOL one_shot) override {
        HRESULT injected = CheckFault(Call::GrabberSetOneShot);
        if (FAILED(injected)) return injected;
        one_shot_ = one_shot != FALSE;
        return Completed(injected);
    }

    // Only the major type, subtype and format type are kept.
    HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE *type) override {
        if (type == nullptr) return E_POINTER;
        HRESULT injected = CheckFault(Call::GrabberSetMediaType);
        if (FAILED(injected)) return injected;
        wanted_ = MediaTypeRecord();
        wanted_.majortype = type->majortype;
        wanted_.subtype = type->subtype;
        wanted_.formattype = type->formattype;
        return Completed(injected);
    }

    // A copy of the input's connected type; the caller frees its format block.
    HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE *type) override {
        if (type == nullptr) return E_POINTER;
        HRESULT injected = CheckFault(Call::GrabberGetConnectedMediaType);
        if (FAILED(injected)) return injected;
        if (input_->peer() == nullptr) return VFW_E_NOT_CONNECTED;
        return Completed(injected, input_->connected_type().CopyTo(type));
    }

    HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL buffer) override {
        HRESULT injected = CheckFault(Call::GrabberSetBufferSamples);
        if (FAILED(injected)) return injected;
        buffer_samples_ = buffer != FALSE;
        return Completed(injected);
    }

    // Mode 0 calls SampleCB, mode 1 BufferCB; a null callback calls nothing.
    HRESULT STDMETHODCALLTYPE SetCallback(ISampleGrabberCB *callback, LONG which_method) override {
        HRESULT injected = CheckFault(Call::GrabberSetCallback);
        if (FAILED(injected)) return injected;
        if (which_method != 0 && which_method != 1) return E_INVALIDARG;
        if (callback != nullptr) callback->AddRef();
        if (callback_ != nullptr) callback_->Release();
        callback_ = callback;
        which_method_ = which_method;
        return Completed(injected);
    }

    // The output connected in another type than the input: the input is
    // reconnected to its upstream pin in the output's type, so that what
    // passes through is what the output promised.
    void PinConnected(EmuPin *pin) override {
        if (pin != output_ || input_->peer() == nullptr) return;
        const MediaTypeRecord type = output_->connected_type();
        if (type.SameAs(input_->connected_type())) return;
        EmuPin *upstream = input_->peer();
        if (!upstream->OffersExactly(type)) return;
        upstream->AddRef();  // kept while both sides are detached
        upstream->Detach();
        input_->Detach();
        upstream->Attach(input_, type);
        input_->Attach(upstream, type);
        upstream->owner()->PinConnected(upstream);
        upstream->Release();
    }

    void SetState(GraphState state) override {
        if (state != GraphState::kStopped && EmuFilter::state() == GraphState::kStopped) one_shot_done_ = false;
        EmuFilter::SetState(state);
    }

    // BufferCB gets the sample's start in seconds and its bytes, when there
    // are any. The model has no media-sample objects: SampleCB gets null.
    HRESULT Receive(EmuPin *, REFERENCE_TIME start, const BYTE *data, LONG length) override {
        if (state() == GraphState::kStopped) return VFW_E_WRONG_STATE;
        if (one_shot_ && one_shot_done_) return S_FALSE;
        if (callback_ != nullptr) {
            const double seconds = static_cast<double>(start) * 1e-7;
            if (which_method_ == 1) {
                if (data != nullptr && length > 0) callback_->BufferCB(seconds, const_cast<BYTE *>(data), length);
            } else {
                callback_->SampleCB(seconds, nullptr);
            }
        }
        HRESULT hr = PassDownstream(output_, start, data, length);
        if (hr == VFW_E_NOT_CONNECTED) hr = S_OK;  // nothing downstream is no failure of the grabber's
        if (one_shot_) {
            one_shot_done_ = true;
            return S_FALSE;  // the stream ends after the one sample
        }
        return hr;
    }

private:
    MediaTypeRecord wanted_;
    EmuPin *input_ = nullptr;
    EmuPin *output_ = nullptr;
    ISampleGrabberCB *callback_ = nullptr;  // counted
    LONG which_method_ = 0;
    bool one_shot_ = false;
    bool one_shot_done_ = false;
    bool buffer_samples_ = false;  // no call of the model reads the buffered sample back
};

}  // namespace

HRESULT CreateSampleGrabber(REFIID iid, void **out) { return HandOut(new SampleGrabber(), iid, out); }

}  // namespace emu
