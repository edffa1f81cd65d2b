// The contracts of the graph objects the library drives (filter graph, capture
// graph builder, sample grabber, null renderer, a capture device's source
// filter with its pins, pin enumerators and stream configuration), written
// once and run on both platforms: natively against the emulated platform, and
// in the Windows build against real COM and DirectShow with the virtual
// camera. Exact results, sentinels in out-parameters, each object's last
// Release returning 0; where a platform is known to answer otherwise, the
// test says so in place (KnownDivergence). Test thread, except where a
// streaming thread calls the grabber's callback.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "contract_platform.h"
#include "platform/com_ptr.h"
#include "platform/media_type.h"

using kovic::ComPtr;
using kovic::MediaTypePtr;

namespace kovic_contract {
namespace {

using WideString = std::basic_string<WCHAR>;

// The virtual camera's devices (tools/vcam/tests/devices.reg).
const WCHAR *const kMainCamera = KOVIC_WIDE("Kovic Test Camera");
const WCHAR *const kPreviewFirstCamera = KOVIC_WIDE("Kovic Preview-First Camera");
constexpr int kMainCameraCapabilities = 7;

// A value no call of the contract writes, for out-parameters that must be
// cleared or left alone.
template <class T>
T *Sentinel() {
    return reinterpret_cast<T *>(static_cast<uintptr_t>(0x5E5E5E5E));
}

template <class T>
ComPtr<T> Create(const CLSID &clsid, const IID &iid) {
    ComPtr<T> object;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object.ReleaseAndGetVoidAddressOf()), S_OK);
    return object;
}

// The reference count an object reports, without changing it.
ULONG References(IUnknown *object) {
    object->AddRef();
    return object->Release();
}

// Hands the last reference over and returns what its Release answers.
template <class T>
ULONG ReleaseLast(ComPtr<T> &holder) {
    return holder.Detach()->Release();
}

// The n-th pin of a filter, counted.
ComPtr<IPin> PinAt(IBaseFilter *filter, int n) {
    ComPtr<IEnumPins> pins;
    EXPECT_EQ(filter->EnumPins(pins.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IPin> pin;
    if (!pins) return pin;
    for (int i = 0; i <= n; ++i) EXPECT_EQ(pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr), S_OK);
    return pin;
}

PIN_DIRECTION DirectionOf(IPin *pin) {
    PIN_DIRECTION direction = static_cast<PIN_DIRECTION>(7);
    EXPECT_EQ(pin->QueryDirection(&direction), S_OK);
    return direction;
}

// The device of that friendly name, bound to its source filter.
ComPtr<IBaseFilter> BindCamera(const WCHAR *name) {
    auto devices = Create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    ComPtr<IEnumMoniker> monikers;
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.ReleaseAndGetAddressOf(), 0),
              S_OK);
    ComPtr<IBaseFilter> source;
    if (!monikers) return source;
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr) == S_OK) {
        ComPtr<IPropertyBag> bag;
        if (FAILED(moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, bag.ReleaseAndGetVoidAddressOf()))) {
            continue;
        }
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_BSTR;
        const bool named = bag->Read(KOVIC_WIDE("FriendlyName"), &value, nullptr) == S_OK &&
                           WideString(value.bstrVal) == WideString(name);
        VariantClear(&value);
        if (!named) continue;
        EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, source.ReleaseAndGetVoidAddressOf()),
                  S_OK);
        return source;
    }
    ADD_FAILURE() << "no device of that name is registered";
    return source;
}

const VIDEOINFOHEADER &VideoInfo(const AM_MEDIA_TYPE &type) {
    return *reinterpret_cast<const VIDEOINFOHEADER *>(type.pbFormat);
}

// A grabber callback that counts its references, as a COM object does, and
// records what the streaming thread hands it.
class CountingCallback final : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        if (IsEqualGUID(iid, IID_IUnknown) || IsEqualGUID(iid, IID_ISampleGrabberCB)) {
            AddRef();
            *out = static_cast<ISampleGrabberCB *>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample *) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BufferCB(double time, BYTE *buffer, LONG length) override {
        if (calls.load() == 0) {
            first_time.store(time);
            first_length.store(length);
            first_had_bytes.store(buffer != nullptr);
        }
        ++calls;
        return S_OK;
    }
    std::atomic<ULONG> refs{1};
    std::atomic<int> calls{0};
    std::atomic<double> first_time{-1.0};
    std::atomic<LONG> first_length{0};
    std::atomic<bool> first_had_bytes{false};
};

class GraphObjectsContract : public ::testing::Test {
protected:
    void SetUp() override {
        PrepareDevices();
        baseline_ = CountedObjects();
    }
    void TearDown() override {
        EXPECT_EQ(CountedObjects(), baseline_) << "objects left alive";
        ReleaseDevices();
    }
    long baseline_ = 0;
};

TEST_F(GraphObjectsContract, ObjectsCountReferencesAndClearOutPointersOnRefusal) {
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    ASSERT_TRUE(graph && grabber);
    EXPECT_EQ(graph->AddFilter(nullptr, nullptr), E_POINTER);
    void *out = Sentinel<void>();
    EXPECT_EQ(graph->QueryInterface(IID_ISampleGrabber, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    void *refused = Sentinel<void>();
    EXPECT_EQ(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, &refused),
              E_NOINTERFACE);
    EXPECT_EQ(refused, nullptr);

    EXPECT_EQ(References(grabber.Get()), 1u);
    EXPECT_EQ(graph->AddFilter(grabber.Get(), nullptr), S_OK);
    EXPECT_EQ(References(grabber.Get()), 2u) << "the graph holds a reference";
    // A pin counts on its filter; pin information hands out a filter reference.
    ComPtr<IPin> in = PinAt(grabber.Get(), 0);
    ASSERT_TRUE(in);
    EXPECT_EQ(References(grabber.Get()), 3u);
    PIN_INFO info;
    std::memset(&info, 0x5E, sizeof(info));
    ASSERT_EQ(in->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.pFilter, grabber.Get());
    EXPECT_EQ(info.dir, PINDIR_INPUT);
    EXPECT_EQ(info.pFilter->Release(), 3u);
    IPin *peer = Sentinel<IPin>();
    EXPECT_EQ(in->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(peer, nullptr);
    in.Reset();
    // A filter already in the graph, added again under another name: Wine's
    // graph takes it a second time (and holds a second reference); the
    // emulated graph refuses it, since its model keeps a filter in one graph
    // entry only. The library adds each filter once.
    EXPECT_EQ(graph->AddFilter(grabber.Get(), KOVIC_WIDE("again")),
              KnownDivergence(Platform::kWindows, S_OK, E_INVALIDARG));
    EXPECT_EQ(References(grabber.Get()), KnownDivergence(Platform::kWindows, 3u, 2u));
    EXPECT_EQ(ReleaseLast(graph), 0u);
    EXPECT_EQ(References(grabber.Get()), 1u) << "the released graph let go of its filters";
    EXPECT_EQ(ReleaseLast(grabber), 0u);
}

TEST_F(GraphObjectsContract, PinEnumerationFetchesCountsAndResets) {
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(grabber->EnumPins(pins.ReleaseAndGetAddressOf()), S_OK);
    IPin *fetched[3] = {Sentinel<IPin>(), Sentinel<IPin>(), Sentinel<IPin>()};
    ULONG count = 9;
    EXPECT_EQ(pins->Next(3, fetched, &count), S_FALSE) << "two pins of three asked for";
    ASSERT_EQ(count, 2u);
    EXPECT_EQ(DirectionOf(fetched[0]), PINDIR_INPUT);
    EXPECT_EQ(DirectionOf(fetched[1]), PINDIR_OUTPUT);
    fetched[0]->Release();
    fetched[1]->Release();
    count = 9;
    EXPECT_EQ(pins->Next(1, fetched, &count), S_FALSE);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(pins->Next(2, fetched, nullptr), E_INVALIDARG) << "more than one pin needs a count";
    ASSERT_EQ(pins->Reset(), S_OK);
    ASSERT_EQ(pins->Next(1, fetched, nullptr), S_OK);
    EXPECT_EQ(DirectionOf(fetched[0]), PINDIR_INPUT);
    fetched[0]->Release();
    EXPECT_EQ(ReleaseLast(pins), 0u);

    // The renderer: one input pin.
    auto renderer = Create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    ASSERT_EQ(renderer->EnumPins(pins.ReleaseAndGetAddressOf()), S_OK);
    count = 9;
    EXPECT_EQ(pins->Next(2, fetched, &count), S_FALSE);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(DirectionOf(fetched[0]), PINDIR_INPUT);
    fetched[0]->Release();
    EXPECT_EQ(ReleaseLast(pins), 0u);
    EXPECT_EQ(ReleaseLast(renderer), 0u);
    EXPECT_EQ(ReleaseLast(grabber), 0u);
}

TEST_F(GraphObjectsContract, TheCapturePinsStreamConfiguration) {
    ComPtr<IBaseFilter> source = BindCamera(kPreviewFirstCamera);
    ASSERT_TRUE(source);
    auto builder = Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    ComPtr<IAMStreamConfig> config;
    // The capture pin is found by its category, whatever its position.
    void *found = Sentinel<void>();
    EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, nullptr, IID_IAMStreamConfig, &found),
              E_POINTER);
    found = Sentinel<void>();
    EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, source.Get(), IID_IAMStreamConfig,
                                     &found),
              E_NOINTERFACE)
        << "a video-only device has no interleaved capture pin";
    EXPECT_EQ(found, nullptr);
    ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(), IID_IAMStreamConfig,
                                     config.ReleaseAndGetVoidAddressOf()),
              S_OK);
    ASSERT_TRUE(config);
    ComPtr<IPin> capture_pin;
    ASSERT_EQ(config->QueryInterface(IID_IPin, capture_pin.ReleaseAndGetVoidAddressOf()), S_OK);
    EXPECT_EQ(capture_pin.Get(), PinAt(source.Get(), 1).Get()) << "the second pin; the first is the preview pin";
    capture_pin.Reset();
    // The preview pin answers for the same configuration.
    ComPtr<IAMStreamConfig> preview_config;
    ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, source.Get(), IID_IAMStreamConfig,
                                     preview_config.ReleaseAndGetVoidAddressOf()),
              S_OK);
    ComPtr<IPin> preview_pin;
    ASSERT_EQ(preview_config->QueryInterface(IID_IPin, preview_pin.ReleaseAndGetVoidAddressOf()), S_OK);
    EXPECT_EQ(preview_pin.Get(), PinAt(source.Get(), 0).Get());
    preview_pin.Reset();
    preview_config.Reset();
    ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, source.Get(), IID_IAMStreamConfig,
                                     config.ReleaseAndGetVoidAddressOf()),
              S_OK)
        << "any major type";
    config.Reset();
    EXPECT_EQ(ReleaseLast(builder), 0u);
    EXPECT_EQ(ReleaseLast(source), 0u);
}

TEST_F(GraphObjectsContract, StreamCapabilitiesAndTheCurrentFormat) {
    ComPtr<IBaseFilter> source = BindCamera(kMainCamera);
    ASSERT_TRUE(source);
    ComPtr<IPin> pin = PinAt(source.Get(), 0);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(pin->QueryInterface(IID_IAMStreamConfig, config.ReleaseAndGetVoidAddressOf()), S_OK);

    int count = -1, size = -1;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, kMainCameraCapabilities);
    EXPECT_EQ(size, 128);

    // Past the end: S_FALSE and no type, the index judged before the pointers.
    BYTE caps[128];
    AM_MEDIA_TYPE *none = Sentinel<AM_MEDIA_TYPE>();
    EXPECT_EQ(config->GetStreamCaps(count, &none, caps), S_FALSE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(config->GetStreamCaps(count, nullptr, nullptr), S_FALSE);
    EXPECT_EQ(config->GetStreamCaps(-1, &none, caps), E_INVALIDARG);

    // Capability 3: RGB24 178 by 100, rows padded to whole 32-bit words.
    MediaTypePtr type;
    std::memset(caps, 0x5E, sizeof(caps));
    ASSERT_EQ(config->GetStreamCaps(3, type.ReleaseAndGetAddressOf(), caps), S_OK);
    ASSERT_NE(type.Get(), nullptr);
    EXPECT_TRUE(IsEqualGUID(*reinterpret_cast<const GUID *>(caps), FORMAT_VideoInfo)) << "the caps block is filled";
    EXPECT_TRUE(IsEqualGUID(type->majortype, MEDIATYPE_Video));
    EXPECT_TRUE(IsEqualGUID(type->subtype, MEDIASUBTYPE_RGB24));
    EXPECT_TRUE(IsEqualGUID(type->formattype, FORMAT_VideoInfo));
    EXPECT_EQ(type->pUnk, nullptr);
    ASSERT_EQ(type->cbFormat, sizeof(VIDEOINFOHEADER));
    EXPECT_EQ(VideoInfo(*type.Get()).bmiHeader.biWidth, 178);
    EXPECT_EQ(VideoInfo(*type.Get()).bmiHeader.biHeight, 100);
    EXPECT_EQ(VideoInfo(*type.Get()).bmiHeader.biBitCount, 24);
    EXPECT_EQ(VideoInfo(*type.Get()).bmiHeader.biSizeImage, 536u * 100);
    // A top-down capability keeps the sign of its height.
    ASSERT_EQ(config->GetStreamCaps(2, type.ReleaseAndGetAddressOf(), caps), S_OK);
    EXPECT_EQ(VideoInfo(*type.Get()).bmiHeader.biHeight, -144);

    // Before any choice the first capability is current, at 30 frames a second.
    MediaTypePtr current;
    ASSERT_EQ(config->GetFormat(current.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_TRUE(IsEqualGUID(current->subtype, MEDIASUBTYPE_RGB24));
    EXPECT_EQ(VideoInfo(*current.Get()).bmiHeader.biWidth, 320);
    EXPECT_EQ(VideoInfo(*current.Get()).bmiHeader.biHeight, 240);
    EXPECT_EQ(VideoInfo(*current.Get()).AvgTimePerFrame, 333333);

    // GetFormat gives what SetFormat stored.
    ASSERT_EQ(config->GetStreamCaps(3, type.ReleaseAndGetAddressOf(), caps), S_OK);
    EXPECT_EQ(config->SetFormat(type.Get()), S_OK);
    ASSERT_EQ(config->GetFormat(current.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(VideoInfo(*current.Get()).bmiHeader.biWidth, 178);
    EXPECT_EQ(VideoInfo(*current.Get()).bmiHeader.biHeight, 100);

    // A size the device does not offer is refused with E_FAIL and changes nothing.
    reinterpret_cast<VIDEOINFOHEADER *>(type->pbFormat)->bmiHeader.biWidth = 800;
    EXPECT_EQ(config->SetFormat(type.Get()), E_FAIL);
    reinterpret_cast<VIDEOINFOHEADER *>(type->pbFormat)->bmiHeader.biWidth = 178;
    type->subtype = MEDIASUBTYPE_YUY2;
    EXPECT_EQ(config->SetFormat(type.Get()), E_FAIL) << "a size offered in another subtype";
    EXPECT_EQ(config->SetFormat(nullptr), E_POINTER);
    ASSERT_EQ(config->GetFormat(current.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(VideoInfo(*current.Get()).bmiHeader.biWidth, 178);
    EXPECT_TRUE(IsEqualGUID(current->subtype, MEDIASUBTYPE_RGB24));

    config.Reset();
    pin.Reset();
    EXPECT_EQ(ReleaseLast(source), 0u);
}

TEST_F(GraphObjectsContract, ConnectionRules) {
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ComPtr<IBaseFilter> source = BindCamera(kMainCamera);
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    auto renderer = Create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    ASSERT_TRUE(graph && source && grabber && renderer);
    ComPtr<IPin> source_out = PinAt(source.Get(), 0);
    ComPtr<IPin> grabber_in = PinAt(grabber.Get(), 0);
    ComPtr<IPin> grabber_out = PinAt(grabber.Get(), 1);
    ComPtr<IPin> renderer_in = PinAt(renderer.Get(), 0);
    EXPECT_EQ(DirectionOf(source_out.Get()), PINDIR_OUTPUT);

    // Pins of filters the graph does not hold: Windows documents
    // VFW_E_NOT_IN_GRAPH, which the emulated graph gives; Wine's graph
    // connects them anyway, so here that connection is undone again.
    const HRESULT outside = graph->Connect(source_out.Get(), grabber_in.Get());
    EXPECT_EQ(outside, KnownDivergence(Platform::kWindows, S_OK, VFW_E_NOT_IN_GRAPH));
    if (SUCCEEDED(outside)) {
        EXPECT_EQ(graph->Disconnect(grabber_in.Get()), S_OK);
        EXPECT_EQ(graph->Disconnect(source_out.Get()), S_OK);
    }
    for (IBaseFilter *f : {source.Get(), grabber.Get(), renderer.Get()}) ASSERT_EQ(graph->AddFilter(f, nullptr), S_OK);
    EXPECT_EQ(graph->Connect(grabber_out.Get(), renderer_in.Get()), VFW_E_NOT_CONNECTED)
        << "the grabber's output passes on its input's type, and its input is not connected";
    // Pins given input first are taken the right way round.
    ASSERT_EQ(graph->Connect(grabber_in.Get(), source_out.Get()), S_OK);
    // A connected pin takes no second connection, direct or through a converter.
    EXPECT_EQ(graph->Connect(source_out.Get(), renderer_in.Get()), VFW_E_CANNOT_CONNECT);
    EXPECT_EQ(graph->Connect(source_out.Get(), grabber_in.Get()), VFW_E_CANNOT_CONNECT);
    ASSERT_EQ(graph->Connect(grabber_out.Get(), renderer_in.Get()), S_OK);
    ComPtr<IPin> peer;
    ASSERT_EQ(grabber_in->ConnectedTo(peer.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(peer.Get(), source_out.Get());

    // Disconnect breaks one side only.
    EXPECT_EQ(graph->Disconnect(grabber_in.Get()), S_OK);
    EXPECT_EQ(graph->Disconnect(grabber_in.Get()), S_FALSE);
    EXPECT_EQ(source_out->ConnectedTo(peer.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(peer.Get(), grabber_in.Get());
    EXPECT_EQ(graph->Disconnect(source_out.Get()), S_OK);
    // Removing a filter breaks both sides of its connections.
    ASSERT_EQ(graph->RemoveFilter(renderer.Get()), S_OK);
    IPin *none = Sentinel<IPin>();
    EXPECT_EQ(grabber_out->ConnectedTo(&none), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(References(renderer.Get()), 2u) << "the test's reference and its pin's";
    EXPECT_EQ(graph->RemoveFilter(renderer.Get()), E_FAIL) << "no longer in the graph";

    peer.Reset();
    source_out.Reset();
    grabber_in.Reset();
    grabber_out.Reset();
    renderer_in.Reset();
    EXPECT_EQ(ReleaseLast(graph), 0u);
    EXPECT_EQ(ReleaseLast(renderer), 0u);
    EXPECT_EQ(ReleaseLast(grabber), 0u);
    EXPECT_EQ(ReleaseLast(source), 0u);
}

// A grabber whose input is connected and whose type is then changed: the
// graph's Connect of its output offers the source's types that the grabber's
// type admits and reconnects the input in the first of them, so the frames
// change format and size after the input's type was read. ConnectDirect in
// exactly the input's type leaves the input as it was.
TEST_F(GraphObjectsContract, TheGrabberReconnectsItsInputUnlessConnectedDirectly) {
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ComPtr<IBaseFilter> source = BindCamera(kMainCamera);
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    auto renderer = Create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    ASSERT_TRUE(graph && source && grabber && renderer);
    ComPtr<ISampleGrabber> control;
    ASSERT_EQ(grabber->QueryInterface(IID_ISampleGrabber, control.ReleaseAndGetVoidAddressOf()), S_OK);
    for (IBaseFilter *f : {source.Get(), grabber.Get(), renderer.Get()}) ASSERT_EQ(graph->AddFilter(f, nullptr), S_OK);
    ComPtr<IPin> source_out = PinAt(source.Get(), 0), grabber_in = PinAt(grabber.Get(), 0);
    ComPtr<IPin> grabber_out = PinAt(grabber.Get(), 1), renderer_in = PinAt(renderer.Get(), 0);
    auto connected = [&](AM_MEDIA_TYPE *type) {
        std::memset(type, 0, sizeof(*type));
        EXPECT_EQ(control->GetConnectedMediaType(type), S_OK);
    };
    AM_MEDIA_TYPE wanted;
    std::memset(&wanted, 0, sizeof(wanted));
    wanted.majortype = MEDIATYPE_Video;
    AM_MEDIA_TYPE type;

    // Connected in the camera's current format (RGB24 320x240), then told to
    // want I420: the output's connection moves the input to the camera's
    // first I420 type.
    ASSERT_EQ(graph->Connect(source_out.Get(), grabber_in.Get()), S_OK);
    wanted.subtype = MEDIASUBTYPE_I420;
    ASSERT_EQ(control->SetMediaType(&wanted), S_OK);
    ASSERT_EQ(graph->Connect(grabber_out.Get(), renderer_in.Get()), S_OK);
    connected(&type);
    EXPECT_TRUE(IsEqualGUID(type.subtype, MEDIASUBTYPE_I420));
    EXPECT_EQ(VideoInfo(type).bmiHeader.biWidth, 320);
    kovic::FreeMediaType(type);
    for (IPin *pin : {grabber_out.Get(), renderer_in.Get(), grabber_in.Get(), source_out.Get()}) {
        ASSERT_EQ(graph->Disconnect(pin), S_OK);
    }

    // Told RGB24 before the input connects, and the output connected directly
    // in the input's type: RGB24 320x240 throughout.
    wanted.subtype = MEDIASUBTYPE_RGB24;
    ASSERT_EQ(control->SetMediaType(&wanted), S_OK);
    ASSERT_EQ(graph->Connect(source_out.Get(), grabber_in.Get()), S_OK);
    AM_MEDIA_TYPE input;
    connected(&input);
    ASSERT_EQ(graph->ConnectDirect(grabber_out.Get(), renderer_in.Get(), &input), S_OK);
    connected(&type);
    EXPECT_TRUE(IsEqualGUID(type.subtype, MEDIASUBTYPE_RGB24));
    EXPECT_EQ(VideoInfo(type).bmiHeader.biWidth, 320);
    EXPECT_EQ(VideoInfo(type).bmiHeader.biHeight, 240);
    kovic::FreeMediaType(type);
    kovic::FreeMediaType(input);

    control.Reset();
    source_out.Reset();
    grabber_in.Reset();
    grabber_out.Reset();
    renderer_in.Reset();
    EXPECT_EQ(ReleaseLast(graph), 0u);
    EXPECT_EQ(ReleaseLast(renderer), 0u);
    EXPECT_EQ(ReleaseLast(grabber), 0u);
    EXPECT_EQ(ReleaseLast(source), 0u);
}

// The grabber holds its callback from SetCallback until it is replaced or the
// grabber goes, and calls it on the streaming thread with each sample's bytes
// and its start time in seconds. A running graph changes no connection.
TEST_F(GraphObjectsContract, TheGrabberHoldsAndCallsItsCallback) {
    CountingCallback callback;
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ComPtr<IBaseFilter> source = BindCamera(kMainCamera);
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    auto renderer = Create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    ASSERT_TRUE(graph && source && grabber && renderer);
    ComPtr<ISampleGrabber> control;
    ASSERT_EQ(grabber->QueryInterface(IID_ISampleGrabber, control.ReleaseAndGetVoidAddressOf()), S_OK);
    // A mode other than 0 (SampleCB) and 1 (BufferCB): Wine's grabber takes
    // it and then calls neither; the emulated grabber refuses it, so that a
    // sink registered in a mode that never calls it fails at registration.
    EXPECT_EQ(control->SetCallback(&callback, 2), KnownDivergence(Platform::kWindows, S_OK, E_INVALIDARG));
    EXPECT_EQ(callback.refs.load(), KnownDivergence(Platform::kWindows, 2u, 1u));
    ASSERT_EQ(control->SetCallback(&callback, 1), S_OK);
    EXPECT_EQ(callback.refs.load(), 2u) << "held once, whatever was registered before";
    ASSERT_EQ(control->SetCallback(nullptr, 1), S_OK);
    EXPECT_EQ(callback.refs.load(), 1u);
    ASSERT_EQ(control->SetCallback(&callback, 1), S_OK);

    AM_MEDIA_TYPE connected;
    std::memset(&connected, 0, sizeof(connected));
    EXPECT_EQ(control->GetConnectedMediaType(&connected), VFW_E_NOT_CONNECTED);
    for (IBaseFilter *f : {source.Get(), grabber.Get(), renderer.Get()}) ASSERT_EQ(graph->AddFilter(f, nullptr), S_OK);
    ASSERT_EQ(graph->Connect(PinAt(source.Get(), 0).Get(), PinAt(grabber.Get(), 0).Get()), S_OK);
    ASSERT_EQ(graph->Connect(PinAt(grabber.Get(), 1).Get(), PinAt(renderer.Get(), 0).Get()), S_OK);
    ASSERT_EQ(control->GetConnectedMediaType(&connected), S_OK);
    EXPECT_TRUE(IsEqualGUID(connected.subtype, MEDIASUBTYPE_RGB24));
    ASSERT_EQ(connected.cbFormat, sizeof(VIDEOINFOHEADER));
    EXPECT_EQ(VideoInfo(connected).bmiHeader.biWidth, 320);
    EXPECT_EQ(VideoInfo(connected).bmiHeader.biHeight, 240);
    kovic::FreeMediaType(connected);

    ComPtr<IMediaControl> run;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, run.ReleaseAndGetVoidAddressOf()), S_OK);
    // Wine's Run answers S_FALSE while its renderer waits for a first sample,
    // which a live source sends only once running; the emulated graph's
    // filters complete every state change inside the call, so it answers S_OK.
    ASSERT_EQ(run->Run(), KnownDivergence(Platform::kWindows, S_FALSE, S_OK));
    // Waiting for the first sample before anything else is also what keeps
    // Wine's graph from releasing its clock while the clock's advise thread
    // (started by the source's first wait) is still starting: that race can
    // hang the graph's last Release.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (callback.calls.load() == 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ComPtr<IPin> grabber_in = PinAt(grabber.Get(), 0);
    EXPECT_EQ(graph->Disconnect(grabber_in.Get()), VFW_E_NOT_STOPPED);
    EXPECT_EQ(graph->RemoveFilter(renderer.Get()), VFW_E_NOT_STOPPED);
    grabber_in.Reset();
    ASSERT_EQ(run->Stop(), S_OK);
    ASSERT_GT(callback.calls.load(), 0) << "no sample reached the callback";
    EXPECT_TRUE(callback.first_had_bytes.load());
    EXPECT_EQ(callback.first_length.load(), 320 * 240 * 3);
    EXPECT_GE(callback.first_time.load(), 0.0);
    EXPECT_LT(callback.first_time.load(), 20.0) << "seconds from the run's start";

    run.Reset();
    control.Reset();
    EXPECT_EQ(ReleaseLast(graph), 0u);
    EXPECT_EQ(ReleaseLast(source), 0u);
    EXPECT_EQ(ReleaseLast(renderer), 0u);
    EXPECT_EQ(callback.refs.load(), 2u) << "still registered";
    EXPECT_EQ(ReleaseLast(grabber), 0u);
    EXPECT_EQ(callback.refs.load(), 1u) << "released with the grabber";
}

}  // namespace
}  // namespace kovic_contract
