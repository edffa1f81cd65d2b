// The emulated filter graph beyond the contract it shares with Windows
// (tests/contract/): the names it gives filters, the converting filter its
// Connect places, samples pushed through the chain by hand, one-shot mode and
// runs made to fail.
#include <cstring>
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

// The emulated graph names the filters it holds and stays stopped when a run
// is made to fail.
TEST_F(EmulatedGraphTest, FilterNamesAndAFailedRun) {
    emu::RegisterDevice(Named(L"Cam"));
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ComPtr<IBaseFilter> source = BindDevice(0);
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    auto renderer = Create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    for (IBaseFilter *f : {source.Get(), grabber.Get(), renderer.Get()}) ASSERT_EQ(graph->AddFilter(f, nullptr), S_OK);
    ASSERT_EQ(graph->Connect(PinAt(source.Get(), 0).Get(), PinAt(grabber.Get(), 0).Get()), S_OK);
    ASSERT_EQ(graph->Connect(PinAt(grabber.Get(), 1).Get(), PinAt(renderer.Get(), 0).Get()), S_OK);
    EXPECT_EQ(emu::FilterNames(graph.Get()),
              (std::vector<std::wstring>{L"Cam", L"Sample Grabber", L"Null Renderer"}));
    auto other = Create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    EXPECT_EQ(graph->AddFilter(other.Get(), u"Cam"), VFW_E_DUPLICATE_NAME);
    ASSERT_EQ(graph->AddFilter(other.Get(), nullptr), S_OK);
    EXPECT_EQ(emu::FilterNames(graph.Get()).back(), L"Null Renderer 1") << "made unique";

    ComPtr<IMediaControl> control;
    ASSERT_EQ(graph->QueryInterface(IID_IMediaControl, control.ReleaseAndGetVoidAddressOf()), S_OK);
    emu::FailCall(emu::Call::MediaControlRun, E_FAIL);
    EXPECT_EQ(control->Run(), E_FAIL);
    EXPECT_EQ(emu::StateOf(graph.Get()), emu::GraphState::kStopped);
    ASSERT_EQ(control->Run(), S_OK);
    EXPECT_EQ(emu::StateOf(graph.Get()), emu::GraphState::kRunning);
    ASSERT_EQ(control->Stop(), S_OK);
    control.Reset();
    EXPECT_EQ(graph.Detach()->Release(), 0u);
    EXPECT_EQ(other.Detach()->Release(), 0u);
    EXPECT_EQ(renderer.Detach()->Release(), 0u);
    EXPECT_EQ(grabber.Detach()->Release(), 0u);
    EXPECT_EQ(source.Detach()->Release(), 0u);
}

// The grabber's output offers what the source enumerates (the current format
// first, then the other capabilities until a format is set), filtered by the
// grabber's type. Connected by the graph's Connect in a type other than its
// input's, it reconnects the input in that type, as Wine's grabber does: a
// type set after the input connected, or a source that lists another size
// first, changes the frames after the size was read. ConnectDirect in the
// input's own type leaves the input as it is.
TEST_F(EmulatedGraphTest, TheGrabbersOutputReconnectsItsInput) {
    emu::SimulatedDevice mixed = Named(L"Mixed");
    mixed.capabilities = {{MEDIASUBTYPE_YUY2, 640, 480}, {MEDIASUBTYPE_RGB24, 320, 240}};
    mixed.current_format = {MEDIASUBTYPE_YUY2, 640, 480};
    emu::RegisterDevice(mixed);
    auto graph = Create<IGraphBuilder>(CLSID_FilterGraph, IID_IGraphBuilder);
    ComPtr<IBaseFilter> source = BindDevice(0);
    auto grabber = Create<IBaseFilter>(CLSID_SampleGrabber, IID_IBaseFilter);
    auto renderer = Create<IBaseFilter>(CLSID_NullRenderer, IID_IBaseFilter);
    ComPtr<ISampleGrabber> control;
    ASSERT_EQ(grabber->QueryInterface(IID_ISampleGrabber, control.ReleaseAndGetVoidAddressOf()), S_OK);
    for (IBaseFilter *f : {source.Get(), grabber.Get(), renderer.Get()}) ASSERT_EQ(graph->AddFilter(f, nullptr), S_OK);
    ComPtr<IPin> source_out = PinAt(source.Get(), 0), grabber_in = PinAt(grabber.Get(), 0);
    ComPtr<IPin> grabber_out = PinAt(grabber.Get(), 1), renderer_in = PinAt(renderer.Get(), 0);
    auto connected_size = [&](GUID *subtype) {
        AM_MEDIA_TYPE type;
        std::memset(&type, 0, sizeof(type));
        EXPECT_EQ(control->GetConnectedMediaType(&type), S_OK);
        const int32_t width = reinterpret_cast<const VIDEOINFOHEADER *>(type.pbFormat)->bmiHeader.biWidth;
        *subtype = type.subtype;
        kovic::FreeMediaType(type);
        return width;
    };

    // The fault: connected in YUY2 640x480, then told RGB24.
    ASSERT_EQ(graph->Connect(source_out.Get(), grabber_in.Get()), S_OK);
    GUID subtype;
    EXPECT_EQ(connected_size(&subtype), 640);
    AM_MEDIA_TYPE rgb;
    std::memset(&rgb, 0, sizeof(rgb));
    rgb.majortype = MEDIATYPE_Video;
    rgb.subtype = MEDIASUBTYPE_RGB24;
    ASSERT_EQ(control->SetMediaType(&rgb), S_OK);
    ASSERT_EQ(graph->Connect(grabber_out.Get(), renderer_in.Get()), S_OK);
    EXPECT_EQ(connected_size(&subtype), 320) << "the input was reconnected in the output's type";
    EXPECT_TRUE(IsEqualGUID(subtype, MEDIASUBTYPE_RGB24));
    for (IPin *pin : {grabber_out.Get(), renderer_in.Get(), grabber_in.Get(), source_out.Get()}) {
        ASSERT_EQ(graph->Disconnect(pin), S_OK);
    }

    // Connected directly in the input's own type, nothing moves.
    rgb.subtype = MEDIASUBTYPE_YUY2;
    ASSERT_EQ(control->SetMediaType(&rgb), S_OK);
    ASSERT_EQ(graph->Connect(source_out.Get(), grabber_in.Get()), S_OK);
    AM_MEDIA_TYPE input;
    std::memset(&input, 0, sizeof(input));
    ASSERT_EQ(control->GetConnectedMediaType(&input), S_OK);
    // Output first, both in the graph, not yet connected, in a type the output passes on.
    EXPECT_EQ(graph->ConnectDirect(renderer_in.Get(), grabber_out.Get(), &input), VFW_E_INVALID_DIRECTION);
    AM_MEDIA_TYPE wrong = input;
    wrong.subtype = MEDIASUBTYPE_NV12;
    EXPECT_EQ(graph->ConnectDirect(grabber_out.Get(), renderer_in.Get(), &wrong), VFW_E_TYPE_NOT_ACCEPTED);
    emu::FailCall(emu::Call::GraphConnectDirect, E_FAIL);
    EXPECT_EQ(graph->ConnectDirect(grabber_out.Get(), renderer_in.Get(), &input), E_FAIL);
    emu::ClearFaults();
    ASSERT_EQ(graph->ConnectDirect(grabber_out.Get(), renderer_in.Get(), &input), S_OK);
    EXPECT_EQ(graph->ConnectDirect(grabber_out.Get(), renderer_in.Get(), &input), VFW_E_ALREADY_CONNECTED);
    kovic::FreeMediaType(input);
    EXPECT_EQ(connected_size(&subtype), 640);
    EXPECT_TRUE(IsEqualGUID(subtype, MEDIASUBTYPE_YUY2));
    EXPECT_EQ(emu::FilterNames(graph.Get()).size(), 3u) << "no converter on a direct connection";

    control.Reset();
    source_out.Reset();
    grabber_in.Reset();
    grabber_out.Reset();
    renderer_in.Reset();
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
