// Building, reusing, rebuilding and tearing down a session's capture graph on
// simulated devices: every result code of graph assembly and chain connection,
// each platform call failed in turn, and what teardown leaves in the graph.
#include <cstring>
#include <string>
#include <vector>

#include "frames/frame_sink.h"
#include "graph/chain_connection.h"
#include "session/capture_session.h"
#include "session/live_sessions.h"
#include "support/capture_graph_peer.h"
#include "support/emulated_fixture.h"

using kovic_test::EmulatedTest;
using kovic_test::kUnreadSubtype;
using kovic_test::RecordingWindow;

namespace {

kovic::CaptureSession *Record(KOVIC_SESSION h) { return kovic::LookUpSession(h); }

// A session after a failed build: no graph, no platform object, no sink.
void ExpectEmpty(KOVIC_SESSION h) {
    kovic::CaptureSession *s = Record(h);
    EXPECT_EQ(s->built, 0);
    EXPECT_EQ(s->previewing, 0);
    EXPECT_FALSE(s->graph.graph_builder());
    EXPECT_FALSE(s->graph.filter_graph());
    EXPECT_FALSE(s->graph.stream_config());
    EXPECT_FALSE(s->graph.device_source());
    EXPECT_FALSE(s->graph.sample_grabber());
    EXPECT_FALSE(s->graph.null_renderer());
    EXPECT_EQ(s->graph.frame_sink(), nullptr);
    EXPECT_EQ(KOVICGetFrameCall(h), KOVIC_E_NO_FRAME_SINK);
}

// The reference count an object reports, without changing it.
int References(IUnknown *object) {
    object->AddRef();
    return static_cast<int>(object->Release());
}

std::vector<std::wstring> FiltersOf(KOVIC_SESSION h) { return emu::FilterNames(Record(h)->graph.filter_graph()); }

class GraphBuildTest : public EmulatedTest {};

// One row per call occurrence of a good build (320 by 240 requested of the
// default device: RGB24 640x480, I420 640x480, RGB24 320x240; stream
// configuration found for MEDIATYPE_Video only). `injected` is the result
// forced on that occurrence; `width` is KOVICGetWidth after a build that
// succeeded.
struct FaultRow {
    emu::Call call;
    int occurrence;
    const GUID *target;
    HRESULT injected;
    int code;
    int width;
    const char *last_error;
};

const FaultRow kFaultRows[] = {
    {emu::Call::CoCreateInstance, 1, &CLSID_CaptureGraphBuilder2, E_FAIL, KOVIC_E_CREATE_GRAPH_BUILDER, 0,
     "Cannot create CaptureGraphBuilder"},
    {emu::Call::CoCreateInstance, 1, &CLSID_FilterGraph, E_FAIL, KOVIC_E_CREATE_FILTER_GRAPH, 0,
     "Cannot create FilterGraph"},
    {emu::Call::CoCreateInstance, 1, &CLSID_SystemDeviceEnum, E_FAIL, KOVIC_E_DEVICE_NOT_FOUND, 0, ""},
    {emu::Call::CoCreateInstance, 1, &CLSID_SampleGrabber, E_FAIL, KOVIC_E_CREATE_SAMPLE_GRABBER, 0, ""},
    {emu::Call::CoCreateInstance, 1, &CLSID_NullRenderer, E_FAIL, KOVIC_E_CREATE_NULL_RENDERER, 0, ""},
    {emu::Call::SetFiltergraph, 1, nullptr, E_FAIL, KOVIC_E_SET_FILTER_GRAPH, 0, "Cannot give graph to builder"},
    {emu::Call::CreateClassEnumerator, 1, nullptr, E_FAIL, KOVIC_E_DEVICE_NOT_FOUND, 0, ""},
    {emu::Call::EnumMonikerNext, 1, nullptr, E_FAIL, KOVIC_E_DEVICE_NOT_FOUND, 0, ""},
    {emu::Call::BindToObject, 1, nullptr, E_FAIL, KOVIC_E_ADD_DEVICE_SOURCE, 0, ""},
    {emu::Call::AddFilter, 1, nullptr, E_FAIL, KOVIC_E_ADD_DEVICE_SOURCE, 0, ""},
    {emu::Call::AddFilter, 2, nullptr, E_FAIL, KOVIC_E_ADD_SAMPLE_GRABBER, 0, ""},
    {emu::Call::AddFilter, 3, nullptr, E_FAIL, KOVIC_E_ADD_NULL_RENDERER, 0, ""},
    // The first request (MEDIATYPE_Interleaved) fails by itself; failing it
    // again changes nothing; failing the second finds the stream
    // configuration on the source's output pin (StreamConfigurationLookups).
    {emu::Call::FindInterface, 1, nullptr, E_FAIL, KOVIC_OK, 320, ""},
    {emu::Call::FindInterface, 2, nullptr, E_FAIL, KOVIC_OK, 320, ""},
    // Format negotiation failures are not failures of the build. Where the
    // RGB24 walk misses 320 by 240, the walk for any deliverable format of
    // that size still applies it.
    {emu::Call::GetNumberOfCapabilities, 1, nullptr, E_FAIL, KOVIC_OK, 320, ""},
    {emu::Call::GetStreamCaps, 1, nullptr, E_FAIL, KOVIC_OK, 320, ""},
    {emu::Call::GetStreamCaps, 2, nullptr, E_FAIL, KOVIC_OK, 320, ""},
    {emu::Call::GetStreamCaps, 3, nullptr, E_FAIL, KOVIC_OK, 320, ""},
    {emu::Call::SetFormat, 1, nullptr, E_FAIL, KOVIC_OK, 640, ""},
    // Without the current format the grabber asks for RGB24, which this device gives.
    {emu::Call::GetFormat, 1, nullptr, E_FAIL, KOVIC_OK, 320, ""},
    // GetPin: source output, grabber input, grabber output, renderer input.
    {emu::Call::EnumPins, 1, nullptr, E_FAIL, KOVIC_E_SOURCE_NO_OUTPUT_PIN, 0, ""},
    {emu::Call::EnumPins, 2, nullptr, E_FAIL, KOVIC_E_GRABBER_NO_INPUT_PIN, 0, ""},
    {emu::Call::EnumPins, 3, nullptr, E_FAIL, KOVIC_E_GRABBER_NO_OUTPUT_PIN, 0, ""},
    {emu::Call::EnumPins, 4, nullptr, E_FAIL, KOVIC_E_RENDERER_NO_INPUT_PIN, 0, ""},
    {emu::Call::EnumPinsNext, 1, nullptr, E_FAIL, KOVIC_E_SOURCE_NO_OUTPUT_PIN, 0, ""},
    {emu::Call::EnumPinsNext, 2, nullptr, E_FAIL, KOVIC_E_GRABBER_NO_INPUT_PIN, 0, ""},
    {emu::Call::EnumPinsNext, 3, nullptr, E_FAIL, KOVIC_E_GRABBER_NO_OUTPUT_PIN, 0, ""},
    {emu::Call::EnumPinsNext, 4, nullptr, E_FAIL, KOVIC_E_GRABBER_NO_OUTPUT_PIN, 0, ""},
    {emu::Call::EnumPinsNext, 5, nullptr, E_FAIL, KOVIC_E_RENDERER_NO_INPUT_PIN, 0, ""},
    // A pin whose direction cannot be read matches nothing: the grabber's
    // input pin is passed over while its output pin is looked for.
    {emu::Call::QueryDirection, 1, nullptr, E_FAIL, KOVIC_E_SOURCE_NO_OUTPUT_PIN, 0, ""},
    {emu::Call::QueryDirection, 2, nullptr, E_FAIL, KOVIC_E_GRABBER_NO_INPUT_PIN, 0, ""},
    {emu::Call::QueryDirection, 3, nullptr, E_FAIL, KOVIC_OK, 320, ""},
    {emu::Call::QueryDirection, 4, nullptr, E_FAIL, KOVIC_E_GRABBER_NO_OUTPUT_PIN, 0, ""},
    {emu::Call::QueryDirection, 5, nullptr, E_FAIL, KOVIC_E_RENDERER_NO_INPUT_PIN, 0, ""},
    {emu::Call::GraphConnect, 1, nullptr, E_FAIL, KOVIC_E_CONNECT_SOURCE_GRABBER, 0, ""},
    {emu::Call::GraphConnectDirect, 1, nullptr, E_FAIL, KOVIC_E_CONNECT_GRABBER_RENDERER, 0, ""},
    {emu::Call::QueryInterface, 1, &IID_ISampleGrabber, E_NOINTERFACE, KOVIC_E_GRABBER_INTERFACE, 0, ""},
    {emu::Call::QueryInterface, 1, &IID_IMediaControl, E_NOINTERFACE, KOVIC_E_MEDIA_CONTROL, 320,
     "MediaControl interface not create"},
    {emu::Call::GrabberSetMediaType, 1, nullptr, E_FAIL, KOVIC_E_GRABBER_MEDIA_TYPE, 0, ""},
    {emu::Call::GrabberSetOneShot, 1, nullptr, E_FAIL, KOVIC_E_GRABBER_ONE_SHOT, 0, ""},
    {emu::Call::GrabberSetBufferSamples, 1, nullptr, E_FAIL, KOVIC_E_GRABBER_BUFFERING, 0, ""},
    {emu::Call::GrabberSetCallback, 1, nullptr, E_FAIL, KOVIC_E_REGISTER_SINK, 0, ""},
    // Once for the type to connect the renderer with, once after the whole
    // chain is connected.
    {emu::Call::GrabberGetConnectedMediaType, 1, nullptr, E_FAIL, KOVIC_E_CONNECTED_MEDIA_TYPE, 0, ""},
    {emu::Call::GrabberGetConnectedMediaType, 2, nullptr, E_FAIL, KOVIC_E_CONNECTED_MEDIA_TYPE, 0, ""},
    // The frame sink cannot be allocated: nothing is registered.
    {emu::Call::LibraryAlloc, 1, nullptr, E_OUTOFMEMORY, KOVIC_E_REGISTER_SINK, 0, ""},
    // Nor when the library cannot keep its own module loaded for the sink.
    {emu::Call::HoldLibraryModule, 1, nullptr, E_FAIL, KOVIC_E_REGISTER_SINK, 0, ""},

    // Partial successes: calls tested for exact success fail on S_FALSE (and
    // release whatever came with it); calls tested for a negative result pass.
    {emu::Call::CoCreateInstance, 1, &CLSID_CaptureGraphBuilder2, S_FALSE, KOVIC_E_CREATE_GRAPH_BUILDER, 0,
     "Cannot create CaptureGraphBuilder"},
    {emu::Call::CoCreateInstance, 1, &CLSID_FilterGraph, S_FALSE, KOVIC_E_CREATE_FILTER_GRAPH, 0,
     "Cannot create FilterGraph"},
    {emu::Call::CoCreateInstance, 1, &CLSID_SystemDeviceEnum, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::CoCreateInstance, 1, &CLSID_SampleGrabber, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::CoCreateInstance, 1, &CLSID_NullRenderer, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::SetFiltergraph, 1, nullptr, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::CreateClassEnumerator, 1, nullptr, S_FALSE, KOVIC_E_DEVICE_NOT_FOUND, 0, ""},
    {emu::Call::EnumMonikerNext, 1, nullptr, S_FALSE, KOVIC_E_DEVICE_NOT_FOUND, 0, ""},
    {emu::Call::AddFilter, 1, nullptr, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::FindInterface, 2, nullptr, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::GetNumberOfCapabilities, 1, nullptr, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::GetStreamCaps, 3, nullptr, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::EnumPins, 1, nullptr, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::EnumPinsNext, 1, nullptr, S_FALSE, KOVIC_E_SOURCE_NO_OUTPUT_PIN, 0, ""},
    {emu::Call::QueryDirection, 1, nullptr, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::GraphConnect, 1, nullptr, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::GraphConnectDirect, 1, nullptr, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::GetFormat, 1, nullptr, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::QueryInterface, 1, &IID_ISampleGrabber, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::GrabberSetCallback, 1, nullptr, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::GrabberGetConnectedMediaType, 1, nullptr, S_FALSE, KOVIC_OK, 320, ""},
    {emu::Call::GrabberGetConnectedMediaType, 2, nullptr, S_FALSE, KOVIC_OK, 320, ""},
};

TEST_F(GraphBuildTest, EachPlatformCallOfTheBuildFailedInTurn) {
    CreateWith({Named(L"Cam")});
    RecordingWindow window;

    // A good build first: the table must hold one failure row per occurrence.
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    ASSERT_EQ(KOVICSetVideoFormat(h, 320, 240), 1);
    emu::ResetCallCounts();
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    EXPECT_EQ(KOVICGetWidth(h), 320);
    for (emu::Call call : {emu::Call::CoCreateInstance, emu::Call::SetFiltergraph, emu::Call::CreateClassEnumerator,
                           emu::Call::EnumMonikerNext, emu::Call::BindToObject, emu::Call::AddFilter,
                           emu::Call::FindInterface, emu::Call::GetNumberOfCapabilities, emu::Call::GetStreamCaps,
                           emu::Call::SetFormat, emu::Call::EnumPins, emu::Call::EnumPinsNext,
                           emu::Call::QueryDirection, emu::Call::GraphConnect, emu::Call::GraphConnectDirect,
                           emu::Call::QueryInterface,
                           emu::Call::GrabberSetMediaType, emu::Call::GrabberSetOneShot,
                           emu::Call::GrabberSetBufferSamples, emu::Call::GrabberSetCallback,
                           emu::Call::GrabberGetConnectedMediaType, emu::Call::LibraryAlloc,
                           emu::Call::HoldLibraryModule}) {
        int rows = 0;
        for (const FaultRow &row : kFaultRows) rows += row.call == call && FAILED(row.injected);
        EXPECT_EQ(rows, emu::CallCount(call)) << emu::CallName(call);
    }
    KOVICClose(h);
    ASSERT_EQ(emu::LiveObjects(), baseline_);

    for (const FaultRow &row : kFaultRows) {
        SCOPED_TRACE(std::string(emu::CallName(row.call)) + " #" + std::to_string(row.occurrence) +
                     (row.injected == S_FALSE ? " S_FALSE" : " failing"));
        h = KOVICOpen(window.as_arg());
        KOVICSetVideoFormat(h, 320, 240);
        emu::ClearFaults();
        emu::FailCall(row.call, row.injected, row.occurrence, row.target);
        int r = KOVICStartPreview(h);
        EXPECT_EQ(emu::FaultsFired(), 1);
        emu::ClearFaults();
        EXPECT_EQ(r, row.code);
        EXPECT_STREQ(Record(h)->last_error, row.last_error);
        if (r == KOVIC_OK || r == KOVIC_E_MEDIA_CONTROL) {
            EXPECT_EQ(Record(h)->built, 1);
            EXPECT_EQ(KOVICGetWidth(h), row.width);
        } else {
            ExpectEmpty(h);
        }
        EXPECT_EQ(KOVICClose(h), 1);
        EXPECT_EQ(emu::LiveObjects(), baseline_) << "left alive";
    }
}

// Whatever fails while a graph is torn down and released, nothing is left.
TEST_F(GraphBuildTest, TeardownFailuresLeaveNothingAlive) {
    emu::SimulatedDevice device = Named(L"Cam");
    device.connect_route = emu::ConnectRoute::kThroughConverter;
    CreateWith({device});
    RecordingWindow window;
    const emu::Call calls[] = {emu::Call::EnumPins,        emu::Call::EnumPinsNext, emu::Call::ConnectedTo,
                               emu::Call::QueryPinInfo,    emu::Call::GraphDisconnect, emu::Call::RemoveFilter,
                               emu::Call::MediaControlStop, emu::Call::QueryInterface};

    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    emu::ResetCallCounts();
    ASSERT_EQ(KOVICClose(h), 1);
    int counts[sizeof(calls) / sizeof(calls[0])];
    for (size_t i = 0; i < sizeof(calls) / sizeof(calls[0]); ++i) {
        counts[i] = emu::CallCount(calls[i]);
        EXPECT_GT(counts[i], 0) << emu::CallName(calls[i]);
    }
    for (size_t i = 0; i < sizeof(calls) / sizeof(calls[0]); ++i) {
        for (int occurrence = 1; occurrence <= counts[i]; ++occurrence) {
            for (HRESULT injected : {E_FAIL, S_FALSE}) {
                SCOPED_TRACE(std::string(emu::CallName(calls[i])) + " #" + std::to_string(occurrence));
                h = KOVICOpen(window.as_arg());
                ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
                emu::FailCall(calls[i], injected, occurrence);
                EXPECT_EQ(KOVICClose(h), 1);
                emu::ClearFaults();
                EXPECT_EQ(emu::LiveObjects(), baseline_) << "left alive";
            }
        }
    }
}

// Allocations of the framework itself: a media type that cannot be handed out.
TEST_F(GraphBuildTest, FrameworkAllocationFailuresLeaveNothingAlive) {
    CreateWith({Named(L"Cam")});
    KOVIC_SESSION h = KOVICOpen(nullptr);
    KOVICSetVideoFormat(h, 320, 240);
    emu::ResetCallCounts();
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    KOVICClose(h);
    const int allocations = emu::CallCount(emu::Call::CoTaskMemAlloc);
    ASSERT_GT(allocations, 0);
    int refused_type = 0;
    for (int occurrence = 1; occurrence <= allocations; ++occurrence) {
        SCOPED_TRACE(occurrence);
        h = KOVICOpen(nullptr);
        KOVICSetVideoFormat(h, 320, 240);
        emu::FailCall(emu::Call::CoTaskMemAlloc, E_OUTOFMEMORY, occurrence);
        int r = KOVICStartPreview(h);
        emu::ClearFaults();
        EXPECT_TRUE(r == KOVIC_OK || r == KOVIC_E_CONNECTED_MEDIA_TYPE) << std::hex << r;
        refused_type += r == KOVIC_E_CONNECTED_MEDIA_TYPE;
        KOVICClose(h);
        EXPECT_EQ(emu::LiveObjects(), baseline_);
    }
    EXPECT_EQ(refused_type, 2) << "the connected type is allocated twice: for the renderer's connection and for "
                                  "the frame format once the chain is connected";
}

TEST_F(GraphBuildTest, DeviceSelectionReachesTheRightMoniker) {
    emu::SimulatedDevice unbindable = Named(L"Unbindable");
    unbindable.bind_fails = true;
    CreateWith({Named(L"First"), unbindable});
    KOVIC_SESSION h = KOVICOpen(nullptr);

    // -1 never matches a moniker.
    ASSERT_EQ(KOVICSelectDevice(h, -1), 1);
    EXPECT_EQ(KOVICStartPreview(h), KOVIC_E_DEVICE_NOT_FOUND);
    ExpectEmpty(h);
    // Listed, but its filter cannot be made: the add fails, not the lookup.
    ASSERT_EQ(KOVICSelectDevice(h, 1), 1);
    EXPECT_EQ(KOVICStartPreview(h), KOVIC_E_ADD_DEVICE_SOURCE);
    ExpectEmpty(h);
    // Devices gone since the catalogue was taken: the index is past those present.
    emu::ClearDevices();
    emu::RegisterDevice(Named(L"First"));
    EXPECT_EQ(KOVICStartPreview(h), KOVIC_E_DEVICE_NOT_FOUND);
    ExpectEmpty(h);
    ASSERT_EQ(KOVICSelectDevice(h, 0), 1);
    EXPECT_EQ(KOVICStartPreview(h), KOVIC_OK);
    EXPECT_EQ(FiltersOf(h), (std::vector<std::wstring>{L"First", L"Sample Grabber", L"Null Renderer"}));
    KOVICClose(h);
}

// The catalogue leaves out a device whose property bag will not open; binding
// counts every moniker, so the indices after it reach one device earlier.
TEST_F(GraphBuildTest, CatalogueIndexAfterAnUnlistedDeviceBindsTheMonikerBefore) {
    emu::SimulatedDevice hidden = Named(L"Hidden");
    hidden.property_bag_fails = true;
    CreateWith({hidden, Named(L"Second"), Named(L"Third")});
    ASSERT_EQ(KOVICGetVideoDeviceCount(), 2);
    KOVIC_SESSION h = KOVICOpen(nullptr);
    const wchar_t *bound[] = {L"Hidden", L"Second"};
    for (int index = 0; index < 2; ++index) {
        ASSERT_EQ(KOVICSelectDevice(h, index), 1);
        ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
        EXPECT_EQ(FiltersOf(h).at(0), bound[index]) << "catalogue index " << index;
        ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);
    }
    EXPECT_EQ(KOVICSelectDevice(h, 2), KOVIC_E_DEVICE_INDEX) << "the third device cannot be selected at all";
    KOVICClose(h);
}

TEST_F(GraphBuildTest, AssemblyStepsOnTheirOwn) {
    CreateWith({Named(L"Cam")});
    KOVIC_SESSION h = KOVICOpen(nullptr);
    kovic::CaptureSession *s = Record(h);
    EXPECT_EQ(s->graph.AddCaptureFilters(s->selected_device), KOVIC_E_NO_FILTER_GRAPH);

    // A builder already in the session is reused: only the graph is created.
    ASSERT_EQ(CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                               kovic::CaptureGraphTestPeer::graph_builder(s->graph).ReleaseAndGetVoidAddressOf()),
              S_OK);
    ICaptureGraphBuilder2 *builder = s->graph.graph_builder();
    emu::ResetCallCounts();
    ASSERT_EQ(s->graph.CreateGraphObjects(*s), KOVIC_OK);
    EXPECT_EQ(emu::CallCount(emu::Call::CoCreateInstance), 1);
    EXPECT_EQ(s->graph.graph_builder(), builder);
    // Both present: nothing is created, but a builder takes one graph only, so
    // handing it the graph again fails as it does on Windows.
    emu::ResetCallCounts();
    EXPECT_EQ(s->graph.CreateGraphObjects(*s), KOVIC_E_SET_FILTER_GRAPH);
    EXPECT_EQ(emu::CallCount(emu::Call::CoCreateInstance), 0);
    EXPECT_STREQ(s->last_error, "Cannot give graph to builder");
    EXPECT_FALSE(s->graph.filter_graph());
    EXPECT_FALSE(s->graph.graph_builder());

    // A failed step keeps what was made before it, for the caller to release.
    ASSERT_EQ(s->graph.CreateGraphObjects(*s), KOVIC_OK);
    emu::FailCall(emu::Call::CoCreateInstance, E_FAIL, 1, &CLSID_NullRenderer);
    EXPECT_EQ(s->graph.AddCaptureFilters(s->selected_device), KOVIC_E_CREATE_NULL_RENDERER);
    EXPECT_TRUE(s->graph.device_source());
    EXPECT_TRUE(s->graph.sample_grabber());
    EXPECT_FALSE(s->graph.null_renderer());
    EXPECT_EQ(s->graph.ReleaseGraph(), 1);
    EXPECT_EQ(s->graph.ReleaseGraph(), 1) << "a second release finds everything absent";
    ExpectEmpty(h);
    KOVICClose(h);
}

TEST_F(GraphBuildTest, ChainCodesOfDevicesThatCannotBeConnected) {
    emu::SimulatedDevice no_output = Named(L"No output");
    no_output.output_pins.clear();
    emu::SimulatedDevice refusing = Named(L"Refusing");
    refusing.connect_route = emu::ConnectRoute::kRefused;
    CreateWith({no_output, refusing});
    KOVIC_SESSION h = KOVICOpen(nullptr);
    EXPECT_EQ(KOVICStartPreview(h), KOVIC_E_SOURCE_NO_OUTPUT_PIN);
    ExpectEmpty(h);
    KOVICSelectDevice(h, 1);
    EXPECT_EQ(KOVICStartPreview(h), KOVIC_E_CONNECT_SOURCE_GRABBER);
    ExpectEmpty(h);
    KOVICClose(h);
}

// The chain comes from output pin 0 even when that is the preview pin.
TEST_F(GraphBuildTest, FirstOutputPinIsUsedEvenWhenItIsThePreviewPin) {
    emu::SimulatedDevice device = Named(L"Cam");
    device.output_pins = {emu::SourcePin::kPreview, emu::SourcePin::kCapture};
    CreateWith({device});
    KOVIC_SESSION h = KOVICOpen(nullptr);
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    kovic::CaptureSession *s = Record(h);
    EXPECT_EQ(KOVICGetWidth(h), 640) << "the stream configuration still comes from the capture pin";
    const std::u16string names[] = {u"Preview", u"Capture"};
    IBaseFilter *source = s->graph.device_source();
    for (int n = 0; n < 2; ++n) {
        const int refs = References(source);
        kovic::ComPtr<IPin> pin = kovic::GetPin(source, PINDIR_OUTPUT, n);
        ASSERT_TRUE(pin);
        EXPECT_EQ(References(source), refs + 1) << "the pin comes with a reference of its own";
        PIN_INFO info;
        ASSERT_EQ(pin->QueryPinInfo(&info), S_OK);
        info.pFilter->Release();
        EXPECT_EQ(std::u16string(info.achName), names[n]);
        IPin *peer = nullptr;
        EXPECT_EQ(pin->ConnectedTo(&peer), n == 0 ? S_OK : VFW_E_NOT_CONNECTED);
        if (peer != nullptr) peer->Release();
        pin.Reset();
        EXPECT_EQ(References(source), refs);
    }
    EXPECT_FALSE(kovic::GetPin(source, PINDIR_OUTPUT, 2));
    EXPECT_FALSE(kovic::GetPin(source, PINDIR_INPUT, 0));
    KOVICClose(h);
}

// Teardown removes everything downstream of the source, a converter the graph
// placed included; the source stays in the graph until the graph is released.
// (A format the library does not convert itself is what makes the graph place
// one: the grabber then asks for RGB24.)
TEST_F(GraphBuildTest, TeardownThroughAConvertingFilter) {
    emu::SimulatedDevice device = Named(L"Cam");
    device.current_format = {kUnreadSubtype, 640, 480};
    device.connect_route = emu::ConnectRoute::kThroughConverter;
    CreateWith({device});
    KOVIC_SESSION h = KOVICOpen(nullptr);
    ASSERT_EQ(KOVICGetWidth(h), 640);
    kovic::CaptureSession *s = Record(h);
    EXPECT_EQ(FiltersOf(h),
              (std::vector<std::wstring>{L"Cam", L"Sample Grabber", L"Null Renderer", L"Colour Converter"}));
    FrameDescriptor *frame = s->graph.frame_sink()->descriptor();
    EXPECT_EQ(frame->width, 640);
    EXPECT_EQ(frame->height, 480);

    const int live = emu::LiveComObjects();
    s->graph.TearDownGraph(*s);
    EXPECT_EQ(s->built, 0);
    EXPECT_EQ(FiltersOf(h), std::vector<std::wstring>{L"Cam"});
    EXPECT_EQ(emu::LiveComObjects(), live - 1) << "the converter, held by the graph alone, is gone";
    for (IBaseFilter *f : {s->graph.device_source(), s->graph.sample_grabber(), s->graph.null_renderer()}) {
        for (PIN_DIRECTION d : {PINDIR_INPUT, PINDIR_OUTPUT}) {
            kovic::ComPtr<IPin> pin = kovic::GetPin(f, d, 0);
            if (!pin) continue;
            IPin *peer = reinterpret_cast<IPin *>(1);
            EXPECT_EQ(pin->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
            EXPECT_EQ(peer, nullptr);
        }
    }
    EXPECT_TRUE(s->graph.frame_sink() != nullptr) << "the sink lives until the graph is released";
    s->graph.ReleaseGraph();
    KOVICClose(h);
}

// A chain that failed at its connect step has nothing to remove.
TEST_F(GraphBuildTest, TeardownAfterAFailedConnectRemovesNothing) {
    CreateWith({Named(L"Cam")});
    KOVIC_SESSION h = KOVICOpen(nullptr);
    kovic::CaptureSession *s = Record(h);
    ASSERT_EQ(s->graph.CreateGraphObjects(*s), KOVIC_OK);
    ASSERT_EQ(s->graph.AddCaptureFilters(s->selected_device), KOVIC_OK);
    emu::FailCall(emu::Call::GraphConnect, E_FAIL);
    ASSERT_EQ(s->graph.ConnectCaptureChain(*s, s->requested_width, s->requested_height), KOVIC_E_CONNECT_SOURCE_GRABBER);
    EXPECT_EQ(s->graph.frame_sink(), nullptr);
    emu::ResetCallCounts();
    s->graph.TearDownGraph(*s);
    EXPECT_EQ(emu::CallCount(emu::Call::GraphDisconnect), 0);
    EXPECT_EQ(emu::CallCount(emu::Call::RemoveFilter), 0);
    EXPECT_EQ(FiltersOf(h).size(), 3u);
    EXPECT_EQ(s->built, 0);
    s->graph.ReleaseGraph();
    KOVICClose(h);
}

// Same device and size: the graph is reused. Another size at the next start:
// a fresh graph and a fresh sink that waits to be armed.
TEST_F(GraphBuildTest, ReuseAndRebuild) {
    CreateWith({Named(L"Cam")});
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    kovic::CaptureSession *s = Record(h);
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    EXPECT_EQ(KOVICStartPreview(h), KOVIC_E_PREVIEWING);
    EXPECT_EQ(emu::StateOf(s->graph.filter_graph()), emu::GraphState::kRunning) << "the graph keeps running";
    ASSERT_EQ(KOVICGetFrameCall(h), 1);
    ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);
    EXPECT_EQ(emu::StateOf(s->graph.filter_graph()), emu::GraphState::kStopped);

    emu::ResetCallCounts();
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    EXPECT_EQ(emu::CallCount(emu::Call::CoCreateInstance), 0) << "reused";
    EXPECT_EQ(s->graph.frame_sink()->descriptor()->busy, 0u) << "the sink keeps its state";
    ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);

    KOVICSetVideoFormat(h, 320, 240);
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    EXPECT_GT(emu::CallCount(emu::Call::CoCreateInstance), 0) << "rebuilt";
    EXPECT_EQ(s->graph.frame_sink()->descriptor()->busy, 1u) << "a fresh sink waits";
    EXPECT_EQ(s->graph.frame_sink()->descriptor()->width, 320);
    EXPECT_EQ(s->built_width, 320);
    KOVICClose(h);
    EXPECT_EQ(window.StatusTexts(), (std::vector<std::string>{"Preview Start", "Preview Stop", "Preview Start",
                                                              "Preview Stop", "Preview Start", "Preview Stop"}));
}

}  // namespace
