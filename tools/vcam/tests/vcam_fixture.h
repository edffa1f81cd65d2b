// Fixture of the virtual camera's own tests: the DLL loaded by path, its
// class object, filters with a profile of the test's choosing, and the
// live-object check around every test. Test thread only.
#pragma once

#include <gtest/gtest.h>

#include <map>
#include <string>

#include "fakes.h"
#include "vcam_platform.h"
#include "video_format.h"

namespace vcam_test {

// Holds one reference; Take() hands it over for a check of the final count.
template <class T>
class Ref {
public:
    Ref() = default;
    explicit Ref(T *p) : p_(p) {}
    ~Ref() {
        if (p_ != nullptr) p_->Release();
    }
    Ref(const Ref &) = delete;
    Ref &operator=(const Ref &) = delete;
    T *operator->() const { return p_; }
    T *get() const { return p_; }
    // Releases what is held and returns the slot for a call that hands out a reference.
    T **out() {
        if (p_ != nullptr) p_->Release();
        p_ = nullptr;
        return &p_;
    }
    void **void_out() { return reinterpret_cast<void **>(out()); }
    T *Take() {
        T *p = p_;
        p_ = nullptr;
        return p;
    }

private:
    T *p_ = nullptr;
};

using GetClassObjectFn = HRESULT(WINAPI *)(REFCLSID, REFIID, void **);
using CanUnloadFn = HRESULT(WINAPI *)();
using LiveObjectsFn = LONG(WINAPI *)();

template <class Fn>
Fn Export(HMODULE module, const char *name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void *>(GetProcAddress(module, name)));
}

class VirtualCameraTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        module_ = LoadLibraryA("kovic-vcam.dll");
        ASSERT_NE(module_, nullptr);
        get_class_object_ = Export<GetClassObjectFn>(module_, "DllGetClassObject");
        can_unload_ = Export<CanUnloadFn>(module_, "DllCanUnloadNow");
        live_objects_ = Export<LiveObjectsFn>(module_, "VcamLiveObjectCount");
        ASSERT_NE(get_class_object_, nullptr);
        ASSERT_NE(can_unload_, nullptr);
        ASSERT_NE(live_objects_, nullptr);
    }

    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
        ASSERT_EQ(live_objects_(), 0) << "an earlier test left objects alive";
    }
    void TearDown() override {
        EXPECT_EQ(live_objects_(), 0) << "objects left alive";
        EXPECT_EQ(can_unload_(), S_OK);
        CoUninitialize();
    }

    static IClassFactory *Factory() {
        IClassFactory *factory = nullptr;
        EXPECT_EQ(get_class_object_(vcam::kVirtualCameraClsid, IID_IClassFactory, reinterpret_cast<void **>(&factory)),
                  S_OK);
        return factory;
    }

    // A filter with the default profile, or with `values` loaded as its instance key.
    static IBaseFilter *NewFilter(const std::map<std::wstring, std::wstring> *values = nullptr) {
        Ref<IClassFactory> factory(Factory());
        IBaseFilter *filter = nullptr;
        EXPECT_EQ(factory->CreateInstance(nullptr, IID_IBaseFilter, reinterpret_cast<void **>(&filter)), S_OK);
        if (filter != nullptr && values != nullptr) {
            EXPECT_EQ(LoadProfile(filter, *values), S_OK);
        }
        return filter;
    }

    static HRESULT LoadProfile(IBaseFilter *filter, const std::map<std::wstring, std::wstring> &values) {
        Ref<IPersistPropertyBag> persist;
        HRESULT hr = filter->QueryInterface(IID_IPersistPropertyBag, persist.void_out());
        if (FAILED(hr)) return hr;
        FakePropertyBag bag;
        bag.values = values;
        hr = persist->Load(&bag, nullptr);
        EXPECT_EQ(bag.references(), 1) << "the bag was not released";
        return hr;
    }

    static IPin *PinAt(IBaseFilter *filter, int index) {
        Ref<IEnumPins> pins;
        EXPECT_EQ(filter->EnumPins(pins.out()), S_OK);
        if (index > 0) {
            EXPECT_EQ(pins->Skip(static_cast<ULONG>(index)), S_OK);
        }
        IPin *pin = nullptr;
        ULONG fetched = 0;
        EXPECT_EQ(pins->Next(1, &pin, &fetched), S_OK);
        return pin;
    }

    template <class T>
    static T *As(IUnknown *object, REFIID iid) {
        T *result = nullptr;
        EXPECT_EQ(object->QueryInterface(iid, reinterpret_cast<void **>(&result)), S_OK);
        return result;
    }

    static GUID CategoryOf(IPin *pin) {
        Ref<IKsPropertySet> properties(As<IKsPropertySet>(pin, IID_IKsPropertySet));
        GUID category = GUID_NULL;
        DWORD returned = 0;
        EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof(category),
                                  &returned),
                  S_OK);
        EXPECT_EQ(returned, sizeof(GUID));
        return category;
    }

    static vcam::VideoFormat FormatOf(const AM_MEDIA_TYPE &type) {
        vcam::VideoFormat format;
        EXPECT_TRUE(vcam::ReadMediaType(type, &format));
        return format;
    }

    static inline HMODULE module_ = nullptr;
    static inline GetClassObjectFn get_class_object_ = nullptr;
    static inline CanUnloadFn can_unload_ = nullptr;
    static inline LiveObjectsFn live_objects_ = nullptr;
};

}  // namespace vcam_test
