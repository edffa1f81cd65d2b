// The emulated filter graph's own contracts, the ones the library relies on:
// reference counts (each last Release returns 0), out pointers, pin connection
// rules, stream configuration and the sample grabber's callback reference.
#include <vector>

#include "platform/com_ptr.h"
#include "platform/media_type.h"
#include "support/emulated_fixture.h"

using kovic::ComPtr;
using kovic_test::EmulatedTest;

namespace {

template <class T>
ComPtr<T> Create(const CLSID &clsid, const IID &iid) {
    ComPtr<T> object;
    EXPECT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object.ReleaseAndGetVoidAddressOf()), S_OK);
    return object;
}

// The n-th pin of a filter, counted.
ComPtr<IPin> PinAt(IBaseFilter *filter, int n) {
    ComPtr<IEnumPins> pins;
    EXPECT_EQ(filter->EnumPins(pins.ReleaseAndGetAddressOf()), S_OK);
    ComPtr<IPin> pin;
    for (int i = 0; i <= n; ++i) EXPECT_EQ(pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr), S_OK);
    return pin;
}

ComPtr<IBaseFilter> BindDevice(int index) {
    ComPtr<ICreateDevEnum> devices = Create<ICreateDevEnum>(CLSID_SystemDeviceEnum, IID_ICreateDevEnum);
    ComPtr<IEnumMoniker> monikers;
    EXPECT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.ReleaseAndGetAddressOf(), 0),
              S_OK);
    ComPtr<IMoniker> moniker;
    for (int i = 0; i <= index; ++i) EXPECT_EQ(monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr), S_OK);
    ComPtr<IBaseFilter> source;
    EXPECT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, source.ReleaseAndGetVoidAddressOf()), S_OK);
    return source;
}

// A callback that counts its references, as a real COM object does.
class CountingCallback final : public ISampleGrabberCB {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override { return --refs; }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample *) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BufferCB(double time, BYTE *, LONG length) override {
        times.push_back(time);
        lengths.push_back(length);
        return S_OK;
    }
    ULONG refs = 1;
    std::vector<double> times;
    std::vector<LONG> lengths;
};

class EmulatedGraphTest : public EmulatedTest {
protected:
    void SetUp() override {
        EmulatedTest::SetUp();
        ASSERT_EQ(CoInitialize(nullptr) >= 0, true);
    }
    void TearDown() override {
        CoUninitialize();
        EmulatedTest::TearDown();
    }
};

TEST_F(EmulatedGraphTest, ObjectsCountTheirReferencesAndRefuseUnknownInterfaces) {
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    EXPECT_EQ(graph->AddFilter(nullptr, nullptr), E_POINTER);
    void *out = &out;
    EXPECT_EQ(graph->QueryInterface(IID_ISampleGrabber, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    void *unknown = nullptr;
    EXPECT_EQ(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, &unknown),
              E_NOINTERFACE);
    EXPECT_EQ(unknown, nullptr);

    EXPECT_EQ(graph->AddFilter(grabber.Get(), nullptr), S_OK);
    EXPECT_EQ(grabber->AddRef(), 3u) << "the graph holds a reference";
    grabber->Release();
    // A pin counts on its filter; pin information hands out a filter reference.
    ComPtr<IPin> in = PinAt(grabber.Get(), 0);
    PIN_INFO info;
    ASSERT_EQ(in->QueryPinInfo(&info), S_OK);
    EXPECT_EQ(info.pFilter, grabber.Get());
    EXPECT_EQ(info.dir, PINDIR_INPUT);
    EXPECT_EQ(info.pFilter->Release(), 3u);
    IPin *peer = in.Get();
    EXPECT_EQ(in->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(peer, nullptr);
    in.Reset();
    EXPECT_EQ(graph->AddFilter(grabber.Get(), u"again"), E_INVALIDARG) << "already in a graph";
    EXPECT_EQ(graph.Detach()->Release(), 0u);
    EXPECT_EQ(grabber.Detach()->Release(), 0u) << "the released graph let go of its filters";
}

TEST_F(EmulatedGraphTest, PinEnumerationFetchesAndResets) {
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    ComPtr<IEnumPins> pins;
    ASSERT_EQ(grabber->EnumPins(pins.ReleaseAndGetAddressOf()), S_OK);
    IPin *fetched[3] = {};
    ULONG count = 9;
    EXPECT_EQ(pins->Next(3, fetched, &count), S_FALSE);
    ASSERT_EQ(count, 2u);
    PIN_DIRECTION dirs[2];
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(fetched[i]->QueryDirection(&dirs[i]), S_OK);
        fetched[i]->Release();
    }
    EXPECT_EQ(dirs[0], PINDIR_INPUT);
    EXPECT_EQ(dirs[1], PINDIR_OUTPUT);
    EXPECT_EQ(pins->Next(1, fetched, &count), S_FALSE);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(pins->Next(2, fetched, nullptr), E_POINTER);
    ASSERT_EQ(pins->Reset(), S_OK);
    EXPECT_EQ(pins->Next(1, fetched, nullptr), S_OK);
    fetched[0]->Release();
}

TEST_F(EmulatedGraphTest, StreamConfigurationFollowsItsContract) {
    emu::SimulatedDevice device = Named(L"Cam");
    device.output_pins = {emu::SourcePin::kPreview, emu::SourcePin::kCapture};
    emu::RegisterDevice(device);
    ComPtr<IBaseFilter> source = BindDevice(0);
    auto builder = Create<ICaptureGraphBuilder2>(CLSID_CaptureGraphBuilder2, IID_ICaptureGraphBuilder2);
    ComPtr<IAMStreamConfig> config;
    EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_PREVIEW, &MEDIATYPE_Video, source.Get(), IID_IAMStreamConfig,
                                     config.ReleaseAndGetVoidAddressOf()),
              E_NOINTERFACE);
    EXPECT_FALSE(config);
    EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, source.Get(), IID_IAMStreamConfig,
                                     config.ReleaseAndGetVoidAddressOf()),
              E_NOINTERFACE);
    ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source.Get(), IID_IAMStreamConfig,
                                     config.ReleaseAndGetVoidAddressOf()),
              S_OK);
    EXPECT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, nullptr, IID_IAMStreamConfig,
                                     config.ReleaseAndGetVoidAddressOf()),
              E_POINTER);
    ASSERT_EQ(builder->FindInterface(&PIN_CATEGORY_CAPTURE, nullptr, source.Get(), IID_IAMStreamConfig,
                                     config.ReleaseAndGetVoidAddressOf()),
              S_OK);

    int count = 0, size = 0;
    ASSERT_EQ(config->GetNumberOfCapabilities(&count, &size), S_OK);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(size, 128);
    BYTE caps[128];
    kovic::MediaTypePtr type;
    EXPECT_EQ(config->GetStreamCaps(count, type.ReleaseAndGetAddressOf(), caps), S_FALSE) << "past the end";
    EXPECT_EQ(type.Get(), nullptr);
    EXPECT_EQ(config->GetStreamCaps(-1, type.ReleaseAndGetAddressOf(), caps), E_INVALIDARG);
    ASSERT_EQ(config->GetStreamCaps(2, type.ReleaseAndGetAddressOf(), caps), S_OK);
    EXPECT_TRUE(IsEqualGUID(*reinterpret_cast<const GUID *>(caps), FORMAT_VideoInfo));
    ASSERT_EQ(type->cbFormat, sizeof(VIDEOINFOHEADER));
    const auto *header = reinterpret_cast<const VIDEOINFOHEADER *>(type->pbFormat);
    EXPECT_EQ(header->bmiHeader.biWidth, 320);
    EXPECT_EQ(header->bmiHeader.biSizeImage, 320u * 240 * 3);
    EXPECT_EQ(header->AvgTimePerFrame, 333333);

    // GetFormat gives what SetFormat stored; a size not offered is refused.
    EXPECT_EQ(config->SetFormat(type.Get()), S_OK);
    kovic::MediaTypePtr current;
    ASSERT_EQ(config->GetFormat(current.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(reinterpret_cast<const VIDEOINFOHEADER *>(current->pbFormat)->bmiHeader.biHeight, 240);
    reinterpret_cast<VIDEOINFOHEADER *>(type->pbFormat)->bmiHeader.biWidth = 800;
    EXPECT_EQ(config->SetFormat(type.Get()), VFW_E_INVALIDMEDIATYPE);
    EXPECT_EQ(config->SetFormat(nullptr), E_POINTER);
    config.Reset();
    EXPECT_EQ(source.Detach()->Release(), 0u);
}

TEST_F(EmulatedGraphTest, ConnectionRules) {
    emu::RegisterDevice(Named(L"Cam"));
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ComPtr<IBaseFilter> source = BindDevice(0);
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    auto renderer = Create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    ComPtr<IPin> source_out = PinAt(source.Get(), 0);
    ComPtr<IPin> grabber_in = PinAt(grabber.Get(), 0);
    ComPtr<IPin> grabber_out = PinAt(grabber.Get(), 1);
    ComPtr<IPin> renderer_in = PinAt(renderer.Get(), 0);

    EXPECT_EQ(graph->Connect(source_out.Get(), grabber_in.Get()), VFW_E_NOT_IN_GRAPH);
    for (IBaseFilter *f : {source.Get(), grabber.Get(), renderer.Get()}) ASSERT_EQ(graph->AddFilter(f, nullptr), S_OK);
    EXPECT_EQ(graph->Connect(grabber_out.Get(), renderer_in.Get()), VFW_E_CANNOT_CONNECT) << "the grabber's input first";
    EXPECT_EQ(graph->Connect(grabber_in.Get(), source_out.Get()), VFW_E_INVALID_DIRECTION);
    ASSERT_EQ(graph->Connect(source_out.Get(), grabber_in.Get()), S_OK);
    EXPECT_EQ(graph->Connect(source_out.Get(), renderer_in.Get()), VFW_E_ALREADY_CONNECTED);
    ASSERT_EQ(graph->Connect(grabber_out.Get(), renderer_in.Get()), S_OK);
    EXPECT_EQ(emu::FilterNames(graph.Get()),
              (std::vector<std::wstring>{L"Cam", L"Sample Grabber", L"Null Renderer"}));

    ComPtr<IMediaControl> control;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.ReleaseAndGetVoidAddressOf()), S_OK);
    emu::FailCall(emu::Call::MediaControlRun, E_FAIL);
    EXPECT_EQ(control->Run(), E_FAIL);
    EXPECT_EQ(emu::StateOf(graph.Get()), emu::GraphState::kStopped);
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(graph->Disconnect(grabber_in.Get()), VFW_E_NOT_STOPPED);
    EXPECT_EQ(graph->RemoveFilter(renderer.Get()), VFW_E_NOT_STOPPED);
    ASSERT_EQ(control->Stop(), S_OK);

    // Disconnect breaks one side only.
    EXPECT_EQ(graph->Disconnect(grabber_in.Get()), S_OK);
    EXPECT_EQ(graph->Disconnect(grabber_in.Get()), S_FALSE);
    ComPtr<IPin> peer;
    EXPECT_EQ(source_out->ConnectedTo(peer.ReleaseAndGetAddressOf()), S_OK);
    EXPECT_EQ(peer.Get(), grabber_in.Get());
    // Removing a filter breaks both sides of its connections.
    ASSERT_EQ(graph->RemoveFilter(renderer.Get()), S_OK);
    EXPECT_EQ(grabber_out->ConnectedTo(peer.ReleaseAndGetAddressOf()), VFW_E_NOT_CONNECTED);
    EXPECT_EQ(graph->RemoveFilter(renderer.Get()), E_FAIL) << "no longer in the graph";
    source_out.Reset();
    grabber_in.Reset();
    grabber_out.Reset();
    renderer_in.Reset();
    control.Reset();
    EXPECT_EQ(graph.Detach()->Release(), 0u);
    EXPECT_EQ(renderer.Detach()->Release(), 0u);
    EXPECT_EQ(grabber.Detach()->Release(), 0u);
    EXPECT_EQ(source.Detach()->Release(), 0u);
}

// A grabber told its type before it is connected refuses other types; the
// graph's Connect then places a converter that gives what it wants.
TEST_F(EmulatedGraphTest, ConnectPlacesAConverterWhenTheTypesDoNotMeet) {
    emu::SimulatedDevice device = Named(L"Cam");
    device.current_format = {MEDIASUBTYPE_YUY2, 320, -240};
    emu::RegisterDevice(device);
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ComPtr<IBaseFilter> source = BindDevice(0);
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    ComPtr<ISampleGrabber> control;
    ASSERT_EQ(grabber->QueryInterface(IID_ISampleGrabber, control.ReleaseAndGetVoidAddressOf()), S_OK);
    AM_MEDIA_TYPE wanted = {};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_RGB24;
    ASSERT_EQ(control->SetMediaType(&wanted), S_OK);
    AM_MEDIA_TYPE connected = {};
    EXPECT_EQ(control->GetConnectedMediaType(&connected), VFW_E_NOT_CONNECTED);
    ASSERT_EQ(graph->AddFilter(source.Get(), nullptr), S_OK);
    ASSERT_EQ(graph->AddFilter(grabber.Get(), nullptr), S_OK);
    ASSERT_EQ(graph->Connect(PinAt(source.Get(), 0).Get(), PinAt(grabber.Get(), 0).Get()), S_OK);
    EXPECT_EQ(emu::FilterNames(graph.Get()).back(), L"Colour Converter");
    ASSERT_EQ(control->GetConnectedMediaType(&connected), S_OK);
    EXPECT_TRUE(IsEqualGUID(connected.subtype, MEDIASUBTYPE_RGB24));
    ASSERT_GE(connected.cbFormat, 60u);
    EXPECT_EQ(reinterpret_cast<const VIDEOINFOHEADER *>(connected.pbFormat)->bmiHeader.biHeight, 240);
    kovic::FreeMediaType(connected);
    control.Reset();
    graph.Reset();
    EXPECT_EQ(grabber.Detach()->Release(), 0u);
    EXPECT_EQ(source.Detach()->Release(), 0u);
}

TEST_F(EmulatedGraphTest, GrabberHoldsItsCallbackAndCallsItWithSeconds) {
    emu::RegisterDevice(Named(L"Cam"));
    CountingCallback callback;
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ComPtr<IBaseFilter> source = BindDevice(0);
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    ComPtr<ISampleGrabber> control;
    ASSERT_EQ(grabber->QueryInterface(IID_ISampleGrabber, control.ReleaseAndGetVoidAddressOf()), S_OK);
    EXPECT_EQ(control->SetCallback(&callback, 2), E_INVALIDARG);
    ASSERT_EQ(control->SetCallback(&callback, 1), S_OK);
    EXPECT_EQ(callback.refs, 2u);
    ASSERT_EQ(control->SetCallback(nullptr, 1), S_OK);
    EXPECT_EQ(callback.refs, 1u);
    ASSERT_EQ(control->SetCallback(&callback, 1), S_OK);

    ASSERT_EQ(graph->AddFilter(source.Get(), nullptr), S_OK);
    ASSERT_EQ(graph->AddFilter(grabber.Get(), nullptr), S_OK);
    ASSERT_EQ(graph->Connect(PinAt(source.Get(), 0).Get(), PinAt(grabber.Get(), 0).Get()), S_OK);
    BYTE bytes[8] = {};
    EXPECT_EQ(emu::DeliverSample(source.Get(), 0, bytes, 8), VFW_E_WRONG_STATE) << "stopped";
    ComPtr<IMediaControl> run;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, run.ReleaseAndGetVoidAddressOf()), S_OK);
    ASSERT_EQ(run->Run(), S_OK);
    EXPECT_EQ(emu::DeliverSample(source.Get(), 5000000, bytes, 8), S_OK) << "nothing downstream of the grabber";
    EXPECT_EQ(emu::DeliverSample(source.Get(), 6000000, bytes, 0), S_OK);
    ASSERT_EQ(callback.times.size(), 1u) << "an empty sample is not handed over";
    EXPECT_DOUBLE_EQ(callback.times[0], 0.5);
    EXPECT_EQ(callback.lengths[0], 8);
    ASSERT_EQ(control->SetOneShot(TRUE), S_OK);
    EXPECT_EQ(emu::DeliverSample(source.Get(), 0, bytes, 8), S_FALSE);
    EXPECT_EQ(emu::DeliverSample(source.Get(), 0, bytes, 8), S_FALSE);
    EXPECT_EQ(callback.times.size(), 2u) << "one shot: one sample";

    run.Reset();
    control.Reset();
    graph.Reset();
    source.Reset();
    EXPECT_EQ(callback.refs, 2u) << "still registered";
    EXPECT_EQ(grabber.Detach()->Release(), 0u);
    EXPECT_EQ(callback.refs, 1u) << "released with the grabber";
}

}  // namespace
