// The Windows build against real COM, DirectShow and window messages (run
// under Wine, which has no capture device): the graph objects made and
// released through the library's own functions, pins found on the real sample
// grabber and null renderer, and the frame sink posting a real window message
// from another thread.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "frames/frame_sink.h"
#include "graph/chain_connection.h"
#include "session/capture_session.h"
#include "session/live_sessions.h"

namespace {

kovic::CaptureSession *Record(KOVIC_SESSION h) { return kovic::LookUpSession(h); }

// The reference count an object reports, without changing it.
ULONG References(IUnknown *object) {
    object->AddRef();
    return object->Release();
}

class WineGraphTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { ASSERT_EQ(KOVICCreate(), 1); }
};

TEST_F(WineGraphTest, GraphObjectsAreCreatedAndReleasedThroughTheLibrary) {
    KOVIC_SESSION h = KOVICOpen(nullptr);
    kovic::CaptureSession *s = Record(h);
    ASSERT_EQ(s->graph.CreateGraphObjects(*s), KOVIC_OK);
    ASSERT_TRUE(s->graph.graph_builder());
    ASSERT_TRUE(s->graph.filter_graph());
    EXPECT_STREQ(s->last_error, "");
    IGraphBuilder *graph = s->graph.filter_graph();
    graph->AddRef();
    EXPECT_EQ(s->graph.ReleaseGraph(), 1);
    EXPECT_FALSE(s->graph.filter_graph());
    EXPECT_FALSE(s->graph.graph_builder());
    EXPECT_EQ(s->graph.ReleaseGraph(), 1) << "a second release finds everything absent";
    EXPECT_EQ(graph->Release(), 0u) << "the session and the builder have let go of the graph";
    EXPECT_EQ(KOVICClose(h), 1);
}

TEST_F(WineGraphTest, WithoutACaptureDeviceTheBuildFindsNoDevice) {
    if (KOVICGetVideoDeviceCount() != 0) GTEST_SKIP() << "this prefix has a capture device";
    KOVIC_SESSION h = KOVICOpen(nullptr);
    EXPECT_EQ(KOVICStartPreview(h), KOVIC_E_DEVICE_NOT_FOUND);
    kovic::CaptureSession *s = Record(h);
    EXPECT_EQ(s->built, 0);
    EXPECT_FALSE(s->graph.filter_graph());
    EXPECT_FALSE(s->graph.graph_builder());
    EXPECT_FALSE(s->graph.sample_grabber());
    EXPECT_EQ(KOVICGetFrameCall(h), KOVIC_E_NO_FRAME_SINK);
    EXPECT_EQ(KOVICIsPreviewing(h), 0);
    EXPECT_EQ(KOVICGetWidth(h), 0);

    // Step by step: the graph is made, the device is not found, nothing else is created.
    ASSERT_EQ(s->graph.CreateGraphObjects(*s), KOVIC_OK);
    EXPECT_EQ(s->graph.AddCaptureFilters(s->selected_device), KOVIC_E_DEVICE_NOT_FOUND);
    EXPECT_FALSE(s->graph.device_source());
    EXPECT_FALSE(s->graph.sample_grabber());
    EXPECT_FALSE(s->graph.null_renderer());
    s->graph.TearDownGraph(*s);
    s->graph.ReleaseGraph();
    EXPECT_EQ(KOVICClose(h), 1);
}

// GetPin hands out each pin with a reference of its own, taken from its
// filter and given back when the holder goes. The grabber's callback
// registration leaves the sink, which counts nothing, intact until the grabber
// is gone.
TEST_F(WineGraphTest, PinsOfTheRealGrabberAndRenderer) {
    kovic::ComPtr<IBaseFilter> grabber, renderer;
    ASSERT_EQ(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               grabber.ReleaseAndGetVoidAddressOf()),
              S_OK);
    ASSERT_EQ(CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                               renderer.ReleaseAndGetVoidAddressOf()),
              S_OK);
    const ULONG grabber_refs = References(grabber.Get());
    const ULONG renderer_refs = References(renderer.Get());

    {
        kovic::ComPtr<IPin> grabber_in = kovic::GetPin(grabber.Get(), PINDIR_INPUT, 0);
        kovic::ComPtr<IPin> grabber_out = kovic::GetPin(grabber.Get(), PINDIR_OUTPUT, 0);
        kovic::ComPtr<IPin> renderer_in = kovic::GetPin(renderer.Get(), PINDIR_INPUT, 0);
        ASSERT_TRUE(grabber_in);
        ASSERT_TRUE(grabber_out);
        ASSERT_TRUE(renderer_in);
        EXPECT_NE(grabber_in.Get(), grabber_out.Get());
        EXPECT_FALSE(kovic::GetPin(grabber.Get(), PINDIR_INPUT, 1));
        EXPECT_FALSE(kovic::GetPin(grabber.Get(), PINDIR_OUTPUT, 1));
        EXPECT_FALSE(kovic::GetPin(renderer.Get(), PINDIR_OUTPUT, 0));
        EXPECT_EQ(References(grabber.Get()), grabber_refs + 2) << "one reference for each pin held";
        EXPECT_EQ(References(renderer.Get()), renderer_refs + 1);
        PIN_DIRECTION direction = PINDIR_INPUT;
        ASSERT_EQ(grabber_out->QueryDirection(&direction), S_OK);
        EXPECT_EQ(direction, PINDIR_OUTPUT);
        IPin *peer = grabber_in.Get();
        EXPECT_EQ(grabber_in->ConnectedTo(&peer), VFW_E_NOT_CONNECTED);
        EXPECT_EQ(peer, nullptr);
    }
    EXPECT_EQ(References(grabber.Get()), grabber_refs) << "the pins' references went with their holders";
    EXPECT_EQ(References(renderer.Get()), renderer_refs);

    kovic::FrameSinkPtr sink = kovic::FrameSink::Create(nullptr);
    ASSERT_TRUE(sink);
    kovic::ComPtr<ISampleGrabber> control;
    ASSERT_EQ(grabber->QueryInterface(IID_ISampleGrabber, control.ReleaseAndGetVoidAddressOf()), S_OK);
    EXPECT_EQ(control->SetCallback(sink.get(), 1), S_OK);
    AM_MEDIA_TYPE connected = {};
    EXPECT_EQ(control->GetConnectedMediaType(&connected), VFW_E_NOT_CONNECTED);
    control.Reset();
    grabber.Reset();  // its last use of the sink is the Release here
    sink.reset();
}

// A window that lives on this thread, for messages posted from another.
class MessageWindow {
public:
    MessageWindow() {
        WNDCLASSA wc = {};
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kClass;
        atom_ = RegisterClassA(&wc);
        handle_ = CreateWindowExA(0, kClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
    }
    ~MessageWindow() {
        if (handle_ != nullptr) DestroyWindow(handle_);
        if (atom_ != 0) UnregisterClassA(kClass, GetModuleHandleA(nullptr));
    }
    HWND handle() const { return handle_; }
    // Waits up to a few seconds for a queued message and takes it.
    bool Take(MSG *msg) {
        for (int waited_ms = 0; waited_ms < 5000; waited_ms += 10) {
            if (PeekMessageA(msg, handle_, 0, 0, PM_REMOVE)) return true;
            MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLPOSTMESSAGE);
        }
        return false;
    }

private:
    static constexpr const char *kClass = "KovicFrameSinkTestWindow";
    ATOM atom_ = 0;
    HWND handle_ = nullptr;
};

TEST_F(WineGraphTest, TheSinkPostsARealWindowMessageFromTheStreamingThread) {
    MessageWindow window;
    ASSERT_NE(window.handle(), nullptr);
    kovic::FrameSinkPtr sink = kovic::FrameSink::Create(window.handle());
    ASSERT_TRUE(sink);
    std::vector<BYTE> first(1000), second(1000);
    for (size_t i = 0; i < first.size(); ++i) {
        first[i] = static_cast<BYTE>(i * 13);
        second[i] = static_cast<BYTE>(~first[i]);
    }

    std::thread([&] { sink->BufferCB(1.0, first.data(), 1000); }).join();
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, window.handle(), 0, 0, PM_REMOVE)) << "not armed: nothing posted";

    sink->Arm();
    std::thread streaming([&] {
        sink->BufferCB(2.5, first.data(), 1000);
        sink->BufferCB(2.6, second.data(), 1000);  // dropped: the host has not asked again
    });
    streaming.join();
    ASSERT_TRUE(window.Take(&msg));
    EXPECT_EQ(msg.message, static_cast<UINT>(KOVIC_MSG_FRAME));
    EXPECT_EQ(msg.wParam, reinterpret_cast<WPARAM>(sink->descriptor()));
    EXPECT_EQ(msg.lParam, 0);
    const FrameDescriptor *d = reinterpret_cast<const FrameDescriptor *>(msg.wParam);
    EXPECT_EQ(d->length, 1000);
    EXPECT_EQ(d->sample_time, 2.5);
    EXPECT_EQ(d->busy, 1u);
    ASSERT_NE(d->data, nullptr);
    EXPECT_EQ(std::memcmp(d->data, first.data(), first.size()), 0);
    EXPECT_FALSE(PeekMessageA(&msg, window.handle(), 0, 0, PM_REMOVE)) << "one message per arming";

    // Read with a blocking GetMessageA, as a host's loop does.
    sink->Arm();
    std::thread([&] { sink->BufferCB(3.0, second.data(), 1000); }).join();
    ASSERT_GT(GetMessageA(&msg, window.handle(), 0, 0), 0);
    EXPECT_EQ(msg.message, static_cast<UINT>(KOVIC_MSG_FRAME));
    EXPECT_EQ(msg.wParam, reinterpret_cast<WPARAM>(sink->descriptor()));
    EXPECT_EQ(d->data[999], second[999]);
}

}  // namespace
