// The virtual camera's filter and pin contract, through the DLL's class
// object (no registration needed), against a fake input pin.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "device_profile.h"
#include "vcam_fixture.h"

namespace vcam_test {
namespace {

using vcam::PixelFormat;

const std::map<std::wstring, std::wstring> kTwoFormats = {
    {L"Formats", L"RGB24 320x240, I420 320x240, RGB24 176x-144@60, YUY2 352x288@15"}, {L"Tag", L"9"}};

// --- Class object and unloading -------------------------------------------

TEST_F(VirtualCameraTest, ClassObjectCreatesFiltersAndTheModuleUnloadsOnlyWhenNothingLives) {
    void *unused = nullptr;
    EXPECT_EQ(get_class_object_(CLSID_FilterGraph, IID_IClassFactory, &unused), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(unused, nullptr);
    Ref<IClassFactory> factory(Factory());
    ASSERT_NE(factory.get(), nullptr);
    EXPECT_EQ(can_unload_(), S_FALSE) << "a held class object locks the module";
    IUnknown *filter_unknown = nullptr;
    EXPECT_EQ(factory->CreateInstance(reinterpret_cast<IUnknown *>(factory.get()), IID_IUnknown,
                                      reinterpret_cast<void **>(&filter_unknown)),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, reinterpret_cast<void **>(&filter_unknown)),
              E_NOINTERFACE);
    EXPECT_EQ(filter_unknown, nullptr);
    EXPECT_EQ(live_objects_(), 0) << "a failed creation left a filter behind";
    factory->Release();
    factory.Take();
    EXPECT_EQ(can_unload_(), S_OK);

    Ref<IClassFactory> locker(Factory());
    EXPECT_EQ(locker->LockServer(TRUE), S_OK);
    locker->Release();
    locker.Take();
    EXPECT_EQ(can_unload_(), S_FALSE) << "LockServer keeps the module";
    Ref<IClassFactory> unlocker(Factory());
    EXPECT_EQ(unlocker->LockServer(FALSE), S_OK);
    unlocker->Release();
    unlocker.Take();
    EXPECT_EQ(can_unload_(), S_OK);

    IBaseFilter *filter = NewFilter();
    EXPECT_EQ(live_objects_(), 1);
    IEnumPins *pins = nullptr;
    ASSERT_EQ(filter->EnumPins(&pins), S_OK);
    EXPECT_EQ(live_objects_(), 2);
    EXPECT_EQ(filter->Release(), 1u) << "the enumerator holds the filter";
    EXPECT_EQ(can_unload_(), S_FALSE);
    EXPECT_EQ(pins->Release(), 0u);
    EXPECT_EQ(live_objects_(), 0);
}

// --- Filter -----------------------------------------------------------------

TEST_F(VirtualCameraTest, FilterAnswersAsOneSourceObjectAndReportsCantCueWhilePaused) {
    IBaseFilter *filter = NewFilter();
    ASSERT_NE(filter, nullptr);
    Ref<IUnknown> identity(As<IUnknown>(filter, IID_IUnknown));
    for (REFIID iid : {IID_IPersist, IID_IMediaFilter, IID_IAMFilterMiscFlags, IID_IPersistPropertyBag}) {
        Ref<IUnknown> other(As<IUnknown>(filter, iid));
        Ref<IUnknown> back(As<IUnknown>(other.get(), IID_IUnknown));
        EXPECT_EQ(back.get(), identity.get()) << "QueryInterface must keep the object's identity";
    }
    void *none = reinterpret_cast<void *>(1);
    EXPECT_EQ(filter->QueryInterface(IID_IAMStreamConfig, &none), E_NOINTERFACE) << "the pin answers, not the filter";
    EXPECT_EQ(none, nullptr);
    Ref<IAMFilterMiscFlags> flags(As<IAMFilterMiscFlags>(filter, IID_IAMFilterMiscFlags));
    EXPECT_EQ(flags->GetMiscFlags(), static_cast<ULONG>(AM_FILTER_MISC_FLAGS_IS_SOURCE));
    CLSID clsid;
    EXPECT_EQ(filter->GetClassID(&clsid), S_OK);
    EXPECT_TRUE(IsEqualCLSID(clsid, vcam::kVirtualCameraClsid));

    EXPECT_EQ(filter->JoinFilterGraph(nullptr, L"camera"), S_OK);
    FILTER_INFO info;
    ASSERT_EQ(filter->QueryFilterInfo(&info), S_OK);
    EXPECT_STREQ(info.achName, L"camera");
    EXPECT_EQ(info.pGraph, nullptr);

    FILTER_STATE state = State_Running;
    EXPECT_EQ(filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);
    EXPECT_EQ(filter->Pause(), S_OK);
    EXPECT_EQ(filter->GetState(0, &state), VFW_S_CANT_CUE);
    EXPECT_EQ(state, State_Paused);
    EXPECT_EQ(filter->Run(0), S_OK);
    EXPECT_EQ(filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Running);
    EXPECT_EQ(filter->Stop(), S_OK);
    EXPECT_EQ(filter->GetState(0, &state), S_OK);
    EXPECT_EQ(state, State_Stopped);

    identity.Take()->Release();
    flags.Take()->Release();
    EXPECT_EQ(filter->Release(), 0u);
}

TEST_F(VirtualCameraTest, PinsCarryTheirCategoryAndAPreviewPinCanComeFirst) {
    IBaseFilter *filter = NewFilter();
    {
        Ref<IPin> pin(PinAt(filter, 0));
        PIN_DIRECTION direction = PINDIR_INPUT;
        EXPECT_EQ(pin->QueryDirection(&direction), S_OK);
        EXPECT_EQ(direction, PINDIR_OUTPUT);
        PIN_INFO info;
        ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
        EXPECT_EQ(info.pFilter, filter);
        info.pFilter->Release();
        Ref<IPin> found;
        EXPECT_EQ(filter->FindPin(info.achName, found.out()), S_OK);
        EXPECT_EQ(found.get(), pin.get());
        Ref<IPin> missing;
        EXPECT_EQ(filter->FindPin(L"Nothing", missing.out()), VFW_E_NOT_FOUND);
        EXPECT_TRUE(IsEqualGUID(CategoryOf(pin.get()), PIN_CATEGORY_CAPTURE));

        Ref<IKsPropertySet> properties(As<IKsPropertySet>(pin.get(), IID_IKsPropertySet));
        DWORD returned = 0, support = 0;
        EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, &returned), S_OK);
        EXPECT_EQ(returned, sizeof(GUID)) << "a size query";
        char small[8];
        EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, small, sizeof(small),
                                  &returned),
                  E_UNEXPECTED);
        GUID category;
        EXPECT_EQ(properties->Get(PIN_CATEGORY_CAPTURE, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                                  sizeof(category), &returned),
                  E_PROP_SET_UNSUPPORTED);
        EXPECT_EQ(properties->Get(AMPROPSETID_Pin, 7, nullptr, 0, &category, sizeof(category), &returned),
                  E_PROP_ID_UNSUPPORTED);
        EXPECT_EQ(properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support), S_OK);
        EXPECT_EQ(support, static_cast<DWORD>(KSPROPERTY_SUPPORT_GET));

        Ref<IEnumPins> pins;
        ASSERT_EQ(filter->EnumPins(pins.out()), S_OK);
        IPin *two[2] = {};
        EXPECT_EQ(pins->Next(2, two, nullptr), E_POINTER) << "more than one pin needs a fetched count";
        ULONG fetched = 9;
        EXPECT_EQ(pins->Next(2, two, &fetched), S_FALSE);
        EXPECT_EQ(fetched, 1u);
        two[0]->Release();
        EXPECT_EQ(pins->Skip(1), S_FALSE);
    }
    EXPECT_EQ(filter->Release(), 0u);

    std::map<std::wstring, std::wstring> preview_first = {{L"Faults", L"preview-pin-first"}};
    filter = NewFilter(&preview_first);
    {
        Ref<IPin> first(PinAt(filter, 0));
        Ref<IPin> second(PinAt(filter, 1));
        EXPECT_TRUE(IsEqualGUID(CategoryOf(first.get()), PIN_CATEGORY_PREVIEW));
        EXPECT_TRUE(IsEqualGUID(CategoryOf(second.get()), PIN_CATEGORY_CAPTURE));
    }
    EXPECT_EQ(filter->Release(), 0u);
}

TEST_F(VirtualCameraTest, APinWithoutCategoryKeepsThePropertySetAndItsStreamConfiguration) {
    std::map<std::wstring, std::wstring> values = {{L"Formats", L"YUY2 640x480, RGB24 320x240"},
                                                   {L"Faults", L"no-pin-category, preview-pin-first"}};
    IBaseFilter *filter = NewFilter(&values);
    for (int index : {0, 1}) {
        SCOPED_TRACE(testing::Message() << (index == 0 ? "preview pin" : "capture pin"));
        Ref<IPin> pin(PinAt(filter, index));
        ASSERT_NE(pin.get(), nullptr);
        Ref<IKsPropertySet> properties(As<IKsPropertySet>(pin.get(), IID_IKsPropertySet));
        GUID category = GUID_NULL;
        DWORD returned = 77, support = 77;
        EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category, sizeof(category),
                                  &returned),
                  E_PROP_ID_UNSUPPORTED);
        EXPECT_TRUE(IsEqualGUID(category, GUID_NULL)) << "nothing written";
        EXPECT_EQ(returned, 77u);
        EXPECT_EQ(properties->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, nullptr, 0, &returned),
                  E_PROP_ID_UNSUPPORTED)
            << "no size either";
        EXPECT_EQ(properties->QuerySupported(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, &support),
                  E_PROP_ID_UNSUPPORTED);
        // The capabilities are still there for whoever asks the pin itself.
        Ref<IAMStreamConfig> config(As<IAMStreamConfig>(pin.get(), IID_IAMStreamConfig));
        int count = 0, size = 0;
        EXPECT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
        EXPECT_EQ(count, 2);
        AM_MEDIA_TYPE *type = nullptr;
        ASSERT_EQ(config->GetFormat(&type), S_OK);
        EXPECT_EQ(FormatOf(*type).pixel, PixelFormat::kYuy2);
        EXPECT_EQ(FormatOf(*type).width, 640);
        vcam::DeleteMediaType(type);
    }
    EXPECT_EQ(filter->Release(), 0u);
}

// --- Profile and stream configuration --------------------------------------

TEST_F(VirtualCameraTest, CapabilitiesComeFromTheProfileAndSetFormatNarrowsTheOffer) {
    IBaseFilter *filter = NewFilter(&kTwoFormats);
    {
        Ref<IPin> pin(PinAt(filter, 0));
        Ref<IAMStreamConfig> config(As<IAMStreamConfig>(pin.get(), IID_IAMStreamConfig));
        int count = 0, size = 0;
        ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
        EXPECT_EQ(count, 4);
        EXPECT_EQ(size, 128);
        const vcam::VideoFormat expected[] = {{PixelFormat::kRgb24, 320, 240, 30},
                                              {PixelFormat::kI420, 320, 240, 30},
                                              {PixelFormat::kRgb24, 176, -144, 60},
                                              {PixelFormat::kYuy2, 352, 288, 15}};
        for (int i = 0; i < count; ++i) {
            AM_MEDIA_TYPE *type = nullptr;
            VIDEO_STREAM_CONFIG_CAPS caps;
            ASSERT_EQ(config->GetStreamCaps(i, &type, reinterpret_cast<BYTE *>(&caps)), S_OK);
            vcam::VideoFormat format = FormatOf(*type);
            EXPECT_TRUE(vcam::SameFrameShape(format, expected[i])) << "capability " << i;
            EXPECT_EQ(format.frames_per_second, expected[i].frames_per_second);
            EXPECT_EQ(caps.MaxOutputSize.cy, vcam::AbsoluteHeight(expected[i]));
            vcam::DeleteMediaType(type);
        }
        AM_MEDIA_TYPE *type = reinterpret_cast<AM_MEDIA_TYPE *>(1);
        VIDEO_STREAM_CONFIG_CAPS caps;
        EXPECT_EQ(config->GetStreamCaps(count, &type, reinterpret_cast<BYTE *>(&caps)), S_FALSE);
        EXPECT_EQ(type, nullptr);
        EXPECT_EQ(config->GetStreamCaps(count, nullptr, nullptr), S_FALSE) << "the index is judged first";
        EXPECT_EQ(config->GetStreamCaps(0, nullptr, reinterpret_cast<BYTE *>(&caps)), E_POINTER);
        EXPECT_EQ(config->GetStreamCaps(-1, &type, reinterpret_cast<BYTE *>(&caps)), E_INVALIDARG);

        // Before any choice: the first capability is current, and every one is offered.
        ASSERT_EQ(config->GetFormat(&type), S_OK);
        EXPECT_TRUE(vcam::SameFrameShape(FormatOf(*type), expected[0]));
        vcam::DeleteMediaType(type);
        Ref<IEnumMediaTypes> offered;
        ASSERT_EQ(pin->EnumMediaTypes(offered.out()), S_OK);
        AM_MEDIA_TYPE *types[8] = {};
        ULONG fetched = 0;
        EXPECT_EQ(offered->Next(8, types, &fetched), S_FALSE);
        EXPECT_EQ(fetched, 4u);
        for (ULONG i = 0; i < fetched; ++i) vcam::DeleteMediaType(types[i]);

        // Choosing the top-down size.
        ASSERT_EQ(config->GetStreamCaps(2, &type, reinterpret_cast<BYTE *>(&caps)), S_OK);
        EXPECT_EQ(config->SetFormat(type), S_OK);
        EXPECT_EQ(pin->QueryAccept(type), S_OK);
        vcam::DeleteMediaType(type);
        ASSERT_EQ(config->GetFormat(&type), S_OK);
        EXPECT_TRUE(vcam::SameFrameShape(FormatOf(*type), expected[2]));
        vcam::DeleteMediaType(type);
        ASSERT_EQ(pin->EnumMediaTypes(offered.out()), S_OK);
        EXPECT_EQ(offered->Next(8, types, &fetched), S_FALSE);
        ASSERT_EQ(fetched, 1u) << "a chosen format is the only one offered";
        EXPECT_TRUE(vcam::SameFrameShape(FormatOf(*types[0]), expected[2]));
        vcam::DeleteMediaType(types[0]);
        offered.Take()->Release();

        // A size the device does not have is refused and changes nothing.
        AM_MEDIA_TYPE *other = vcam::CreateMediaType({PixelFormat::kRgb24, 640, 480, 30});
        EXPECT_EQ(config->SetFormat(other), E_FAIL);
        EXPECT_EQ(pin->QueryAccept(other), S_FALSE);
        vcam::DeleteMediaType(other);
        // The right size at another rate is refused too.
        AM_MEDIA_TYPE *wrong_rate = vcam::CreateMediaType({PixelFormat::kRgb24, 320, 240, 25});
        EXPECT_EQ(config->SetFormat(wrong_rate), E_FAIL);
        vcam::DeleteMediaType(wrong_rate);
        ASSERT_EQ(config->GetFormat(&type), S_OK);
        EXPECT_TRUE(vcam::SameFrameShape(FormatOf(*type), expected[2]));
        vcam::DeleteMediaType(type);
    }
    EXPECT_EQ(filter->Release(), 0u);
}

TEST_F(VirtualCameraTest, AStubbornDeviceAnswersSetFormatWithoutChangingAnything) {
    std::map<std::wstring, std::wstring> values = {{L"Formats", L"RGB24 320x240, RGB24 176x144"},
                                                   {L"Faults", L"ignore-set-format"}};
    IBaseFilter *filter = NewFilter(&values);
    {
        Ref<IPin> pin(PinAt(filter, 0));
        Ref<IAMStreamConfig> config(As<IAMStreamConfig>(pin.get(), IID_IAMStreamConfig));
        AM_MEDIA_TYPE *type = vcam::CreateMediaType({PixelFormat::kRgb24, 176, 144, 30});
        EXPECT_EQ(config->SetFormat(type), S_OK);
        vcam::DeleteMediaType(type);
        ASSERT_EQ(config->GetFormat(&type), S_OK);
        EXPECT_EQ(FormatOf(*type).width, 320);
        vcam::DeleteMediaType(type);
    }
    EXPECT_EQ(filter->Release(), 0u);
}

TEST_F(VirtualCameraTest, AProfileThatDoesNotParseOrAsksToFailRefusesTheLoad) {
    const std::map<std::wstring, std::wstring> refused[] = {
        {{L"Faults", L"fail-bind"}},
        {{L"Formats", L"RGB24 320x240, H264 320x240"}},
        {{L"Formats", L"I420 321x240"}},
        {{L"FrameRate", L"fast"}},
        {{L"Tag", L"16"}},
        {{L"Faults", L"melt"}},
    };
    for (const auto &values : refused) {
        IBaseFilter *filter = NewFilter();
        EXPECT_EQ(LoadProfile(filter, values), E_FAIL) << testing::PrintToString(values.begin()->second);
        {
            // The default profile stays in force.
            Ref<IPin> pin(PinAt(filter, 0));
            Ref<IAMStreamConfig> config(As<IAMStreamConfig>(pin.get(), IID_IAMStreamConfig));
            int count = 0, size = 0;
            EXPECT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
            EXPECT_EQ(static_cast<size_t>(count), vcam::DefaultProfile().formats.size());
        }
        EXPECT_EQ(filter->Release(), 0u);
    }
    // A device rate with no format list applies to the default formats.
    std::map<std::wstring, std::wstring> rate = {{L"FrameRate", L"60"}};
    IBaseFilter *filter = NewFilter(&rate);
    {
        Ref<IPin> pin(PinAt(filter, 0));
        Ref<IAMStreamConfig> config(As<IAMStreamConfig>(pin.get(), IID_IAMStreamConfig));
        AM_MEDIA_TYPE *type = nullptr;
        ASSERT_EQ(config->GetFormat(&type), S_OK);
        EXPECT_EQ(reinterpret_cast<VIDEOINFOHEADER *>(type->pbFormat)->AvgTimePerFrame, 166666);
        vcam::DeleteMediaType(type);
    }
    EXPECT_EQ(filter->Release(), 0u);
}

// --- Connection -----------------------------------------------------------

TEST_F(VirtualCameraTest, AReceiverThatTakesNoOfferedTypeIsNotConnected) {
    IBaseFilter *filter = NewFilter(&kTwoFormats);
    FakeInputPin receiver;
    receiver.accepted = {};
    {
        Ref<IPin> pin(PinAt(filter, 0));
        EXPECT_EQ(pin->Connect(&receiver, nullptr), VFW_E_NO_ACCEPTABLE_TYPES);
        EXPECT_EQ(receiver.connections_offered, 4) << "each offered type once";
        Ref<IPin> peer;
        EXPECT_EQ(pin->ConnectedTo(peer.out()), VFW_E_NOT_CONNECTED);
        EXPECT_EQ(peer.get(), nullptr);
        AM_MEDIA_TYPE type;
        EXPECT_EQ(pin->ConnectionMediaType(&type), VFW_E_NOT_CONNECTED);
        EXPECT_EQ(pin->Disconnect(), S_FALSE);
        // A partial type that names a subtype the device lacks matches nothing.
        AM_MEDIA_TYPE partial = {};
        partial.majortype = MEDIATYPE_Video;
        partial.subtype = MEDIASUBTYPE_RGB32;
        receiver.accepted = {PixelFormat::kRgb24};
        EXPECT_EQ(pin->Connect(&receiver, &partial), VFW_E_NO_ACCEPTABLE_TYPES);
    }
    EXPECT_EQ(receiver.references(), 1);
    EXPECT_EQ(filter->Release(), 0u);
}

TEST_F(VirtualCameraTest, ConnectsWithTheFirstOfferedTypeTheReceiverTakesOnAnAllocatorOfItsOwn) {
    IBaseFilter *filter = NewFilter(&kTwoFormats);
    FakeInputPin receiver;
    receiver.accepted = {PixelFormat::kI420};
    {
        Ref<IPin> pin(PinAt(filter, 0));
        ASSERT_EQ(pin->Connect(&receiver, nullptr), S_OK);
        EXPECT_EQ(receiver.connections_offered, 2) << "RGB24 refused, then I420";
        EXPECT_EQ(receiver.connected, pin.get());
        Ref<IPin> peer;
        ASSERT_EQ(pin->ConnectedTo(peer.out()), S_OK);
        EXPECT_EQ(peer.get(), static_cast<IPin *>(&receiver));
        AM_MEDIA_TYPE type;
        ASSERT_EQ(pin->ConnectionMediaType(&type), S_OK);
        EXPECT_TRUE(vcam::SameFrameShape(FormatOf(type), {PixelFormat::kI420, 320, 240, 30}));
        vcam::FreeMediaTypeContents(&type);
        Ref<IAMStreamConfig> config(As<IAMStreamConfig>(pin.get(), IID_IAMStreamConfig));
        AM_MEDIA_TYPE *current = nullptr;
        ASSERT_EQ(config->GetFormat(&current), S_OK);
        EXPECT_EQ(FormatOf(*current).pixel, PixelFormat::kI420) << "the connected type is the device's format";
        vcam::DeleteMediaType(current);

        // The receiver has no allocator: the pin brought one and sized it.
        ASSERT_NE(receiver.notified_allocator, nullptr);
        ALLOCATOR_PROPERTIES properties;
        ASSERT_EQ(receiver.notified_allocator->GetProperties(&properties), S_OK);
        EXPECT_GE(properties.cbBuffer, 320 * 240 * 3 / 2);
        EXPECT_GE(properties.cBuffers, 1);

        EXPECT_EQ(pin->Connect(&receiver, nullptr), VFW_E_ALREADY_CONNECTED);
        Ref<IAMStreamConfig> same(As<IAMStreamConfig>(pin.get(), IID_IAMStreamConfig));
        AM_MEDIA_TYPE *rgb = vcam::CreateMediaType({PixelFormat::kRgb24, 320, 240, 30});
        EXPECT_EQ(same->SetFormat(rgb), VFW_E_ALREADY_CONNECTED);
        vcam::DeleteMediaType(rgb);
        EXPECT_EQ(pin->Disconnect(), S_OK);
        EXPECT_EQ(receiver.Disconnect(), S_OK);
    }
    receiver.notified_allocator->Release();
    receiver.notified_allocator = nullptr;
    EXPECT_EQ(receiver.references(), 1);
    EXPECT_EQ(filter->Release(), 0u);
}

TEST_F(VirtualCameraTest, UsesTheReceiversAllocatorWhenItOffersOne) {
    IBaseFilter *filter = NewFilter(&kTwoFormats);
    FakeInputPin receiver;
    receiver.offers_allocator = true;
    {
        Ref<IPin> pin(PinAt(filter, 0));
        ASSERT_EQ(pin->Connect(&receiver, nullptr), S_OK);
        EXPECT_EQ(receiver.notified_allocator, receiver.own_allocator);
        ALLOCATOR_PROPERTIES properties;
        ASSERT_EQ(receiver.own_allocator->GetProperties(&properties), S_OK);
        EXPECT_GE(properties.cbBuffer, 230400) << "sized for 320x240 RGB24";
        EXPECT_EQ(pin->Disconnect(), S_OK);
        receiver.Disconnect();
    }
    EXPECT_EQ(filter->Release(), 0u);
}

TEST_F(VirtualCameraTest, AFailedTransportUndoesTheReceiversHalfOfTheConnection) {
    IBaseFilter *filter = NewFilter(&kTwoFormats);
    FakeInputPin refuses_allocator, no_transport, output;
    refuses_allocator.notify_result = E_FAIL;
    no_transport.has_transport = false;
    output.direction = PINDIR_OUTPUT;
    {
        Ref<IPin> pin(PinAt(filter, 0));
        EXPECT_EQ(pin->Connect(&refuses_allocator, nullptr), E_FAIL);
        EXPECT_EQ(refuses_allocator.connected, nullptr);
        EXPECT_EQ(refuses_allocator.disconnects, 1);
        EXPECT_EQ(refuses_allocator.connections_offered, 1) << "the type was taken; other types do not help";
        EXPECT_EQ(pin->Connect(&no_transport, nullptr), VFW_E_NO_TRANSPORT);
        EXPECT_EQ(no_transport.connected, nullptr);
        EXPECT_EQ(pin->Connect(&output, nullptr), VFW_E_INVALID_DIRECTION);
        EXPECT_EQ(output.connections_offered, 0);
        EXPECT_EQ(pin->Connect(nullptr, nullptr), E_POINTER);
        Ref<IPin> peer;
        EXPECT_EQ(pin->ConnectedTo(peer.out()), VFW_E_NOT_CONNECTED);
        EXPECT_EQ(pin->ReceiveConnection(&output, nullptr), E_UNEXPECTED) << "an output pin receives nothing";
    }
    EXPECT_EQ(refuses_allocator.references(), 1);
    EXPECT_EQ(no_transport.references(), 1);
    EXPECT_EQ(filter->Release(), 0u);
}

TEST_F(VirtualCameraTest, ConnectionsAndFormatsStayFixedUnlessStopped) {
    IBaseFilter *filter = NewFilter(&kTwoFormats);
    FakeInputPin receiver, late;
    {
        Ref<IPin> pin(PinAt(filter, 0));
        Ref<IAMStreamConfig> config(As<IAMStreamConfig>(pin.get(), IID_IAMStreamConfig));
        AM_MEDIA_TYPE *type = vcam::CreateMediaType({PixelFormat::kI420, 320, 240, 30});
        ASSERT_EQ(filter->Run(0), S_OK);
        EXPECT_EQ(pin->Connect(&late, nullptr), VFW_E_NOT_STOPPED);
        EXPECT_EQ(late.connections_offered, 0);
        EXPECT_EQ(config->SetFormat(type), VFW_E_NOT_STOPPED);
        ASSERT_EQ(filter->Pause(), S_OK);
        EXPECT_EQ(pin->Connect(&late, nullptr), VFW_E_NOT_STOPPED);
        ASSERT_EQ(filter->Stop(), S_OK);
        ASSERT_EQ(pin->Connect(&receiver, nullptr), S_OK);
        ASSERT_EQ(filter->Pause(), S_OK);
        EXPECT_EQ(pin->Disconnect(), VFW_E_NOT_STOPPED);
        ASSERT_EQ(filter->Stop(), S_OK);
        EXPECT_EQ(pin->Disconnect(), S_OK);
        receiver.Disconnect();
        vcam::DeleteMediaType(type);
    }
    if (receiver.notified_allocator != nullptr) {
        receiver.notified_allocator->Release();
        receiver.notified_allocator = nullptr;
    }
    EXPECT_EQ(receiver.references(), 1);
    EXPECT_EQ(late.references(), 1);
    EXPECT_EQ(filter->Release(), 0u);
}

}  // namespace
}  // namespace vcam_test
