// ComPtr: holds one counted reference to a COM interface and releases it once.
#pragma once

#include <utility>

#include "platform/platform.h"

namespace kovic {

template <class T>
class ComPtr {
public:
    ComPtr() = default;
    ComPtr(const ComPtr &) = delete;
    ComPtr &operator=(const ComPtr &) = delete;
    ComPtr(ComPtr &&other) noexcept : p_(other.p_) { other.p_ = nullptr; }
    ComPtr &operator=(ComPtr &&other) noexcept {
        if (this != &other) {
            Reset();
            p_ = other.p_;
            other.p_ = nullptr;
        }
        return *this;
    }
    ~ComPtr() { Reset(); }

    T *Get() const { return p_; }
    T *operator->() const { return p_; }
    explicit operator bool() const { return p_ != nullptr; }

    // Releases the held reference (if any) and clears the holder.
    void Reset() {
        if (p_ != nullptr) {
            T *p = p_;
            p_ = nullptr;
            p->Release();
        }
    }
    // Releases what is held and returns the slot for a call that hands out a
    // reference (T**).
    T **ReleaseAndGetAddressOf() {
        Reset();
        return &p_;
    }
    // The same slot as void**, for CoCreateInstance, QueryInterface, BindToObject.
    void **ReleaseAndGetVoidAddressOf() { return reinterpret_cast<void **>(ReleaseAndGetAddressOf()); }
    // Gives up ownership without releasing.
    T *Detach() {
        T *p = p_;
        p_ = nullptr;
        return p;
    }

private:
    T *p_ = nullptr;
};

// QueryInterface into a holder; the holder stays empty on failure.
template <class To, class From>
HRESULT QueryInto(From *from, REFIID iid, ComPtr<To> *to) {
    return from->QueryInterface(iid, to->ReleaseAndGetVoidAddressOf());
}

}  // namespace kovic
