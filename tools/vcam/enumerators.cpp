// Pin and media-type enumerators. Each object lives until its last Release.
#include "enumerators.h"

#include <new>

#include "module.h"

namespace vcam {
namespace {

constexpr int kMaxPins = 2;

// Reference counting and the live-object count shared by both enumerators.
template <class Interface>
class Enumerator : public Interface {
public:
    Enumerator() { ObjectCreated(); }
    virtual ~Enumerator() { ObjectDestroyed(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (out == nullptr) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, __uuidof(Interface))) {
            *out = static_cast<Interface *>(this);
            this->AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(InterlockedIncrement(&references_)); }
    ULONG STDMETHODCALLTYPE Release() override {
        LONG left = InterlockedDecrement(&references_);
        if (left == 0) delete this;
        return static_cast<ULONG>(left);
    }

protected:
    // The common rules of Next: a count above one needs a fetched counter.
    static HRESULT CheckNext(ULONG count, void *items, ULONG *fetched) {
        if (items == nullptr) return E_POINTER;
        if (count > 1 && fetched == nullptr) return E_POINTER;
        return S_OK;
    }

private:
    volatile LONG references_ = 1;
};

class PinEnumerator final : public Enumerator<IEnumPins> {
public:
    PinEnumerator(IBaseFilter *filter, IPin *const *pins, int count) : filter_(filter), count_(count) {
        filter_->AddRef();
        for (int i = 0; i < count && i < kMaxPins; ++i) pins_[i] = pins[i];
    }
    ~PinEnumerator() override { filter_->Release(); }

    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin **pins, ULONG *fetched) override {
        HRESULT hr = CheckNext(count, pins, fetched);
        if (FAILED(hr)) return hr;
        ULONG given = 0;
        while (given < count && position_ < count_) {
            pins[given] = pins_[position_++];
            pins[given]->AddRef();
            ++given;
        }
        if (fetched != nullptr) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        ULONG left = static_cast<ULONG>(count_ - position_);
        if (count > left) {
            position_ = count_;
            return S_FALSE;
        }
        position_ += static_cast<int>(count);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPins **copy) override {
        if (copy == nullptr) return E_POINTER;
        auto *clone = new (std::nothrow) PinEnumerator(filter_, pins_, count_);
        if (clone == nullptr) {
            *copy = nullptr;
            return E_OUTOFMEMORY;
        }
        clone->position_ = position_;
        *copy = clone;
        return S_OK;
    }

private:
    IBaseFilter *filter_;  // counted: the pins live as long as their filter
    IPin *pins_[kMaxPins] = {};
    int count_;
    int position_ = 0;
};

class MediaTypeEnumerator final : public Enumerator<IEnumMediaTypes> {
public:
    explicit MediaTypeEnumerator(const std::vector<VideoFormat> &formats) : formats_(formats) {}

    HRESULT STDMETHODCALLTYPE Next(ULONG count, AM_MEDIA_TYPE **types, ULONG *fetched) override {
        HRESULT hr = CheckNext(count, types, fetched);
        if (FAILED(hr)) return hr;
        ULONG given = 0;
        while (given < count && position_ < formats_.size()) {
            AM_MEDIA_TYPE *type = CreateMediaType(formats_[position_]);
            if (type == nullptr) {
                for (ULONG i = 0; i < given; ++i) DeleteMediaType(types[i]);
                if (fetched != nullptr) *fetched = 0;
                return E_OUTOFMEMORY;
            }
            types[given++] = type;
            ++position_;
        }
        if (fetched != nullptr) *fetched = given;
        return given == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override {
        size_t left = formats_.size() - position_;
        if (count > left) {
            position_ = formats_.size();
            return S_FALSE;
        }
        position_ += count;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumMediaTypes **copy) override {
        if (copy == nullptr) return E_POINTER;
        auto *clone = new (std::nothrow) MediaTypeEnumerator(formats_);
        if (clone == nullptr) {
            *copy = nullptr;
            return E_OUTOFMEMORY;
        }
        clone->position_ = position_;
        *copy = clone;
        return S_OK;
    }

private:
    std::vector<VideoFormat> formats_;
    size_t position_ = 0;
};

}  // namespace

IEnumPins *CreatePinEnumerator(IBaseFilter *filter, IPin *const *pins, int count) {
    return new (std::nothrow) PinEnumerator(filter, pins, count);
}

IEnumMediaTypes *CreateMediaTypeEnumerator(const std::vector<VideoFormat> &formats) {
    return new (std::nothrow) MediaTypeEnumerator(formats);
}

}  // namespace vcam
