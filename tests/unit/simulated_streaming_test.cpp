// The emulated platform's streaming devices, as the library's tests rely on
// them: the test pattern's layout in each format, and the streaming thread
// (frames in the connected format, in order, not ahead of the frame rate,
// ended by a stop, a pause or the graph's last Release, and never started by a
// Run that fails).
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/com_ptr.h"
#include "support/emulated_fixture.h"

using kovic::ComPtr;
using kovic_test::EmulatedTest;

namespace {

// --- The pattern ---

std::vector<BYTE> Pattern(const emu::SimulatedFormat &format, uint32_t n) {
    std::vector<BYTE> frame(emu::FrameBytes(format), 0xEE);
    EXPECT_TRUE(emu::DrawTestPattern(format, n, frame.data(), frame.size()));
    return frame;
}

// RGB24 rows are whole 32-bit words in BGR order; a positive height puts the
// top row (the one with the counter box) last in memory.
TEST(TestPattern, Rgb24RowsArePaddedAndBottomUp) {
    const emu::SimulatedFormat up{MEDIASUBTYPE_RGB24, 33, 20};
    const size_t stride = 100;  // 33 * 3 = 99, rounded up
    ASSERT_EQ(emu::FrameBytes(up), stride * 20);
    const std::vector<BYTE> a = Pattern(up, 0);
    for (size_t row = 0; row < 20; ++row) EXPECT_EQ(a[row * stride + 99], 0) << "padding of row " << row;
    // Frame 0 starts with the white bar; the counter's black margin is at the top left.
    const BYTE *bottom = &a[0];
    const BYTE *top = &a[19 * stride];
    EXPECT_EQ(bottom[0] + bottom[1] + bottom[2], 3 * 255);
    EXPECT_EQ(top[0] + top[1] + top[2], 0);
    // Yellow (second bar, red and green): blue first in memory.
    const BYTE *yellow = &a[5 * 3];
    EXPECT_EQ(yellow[0], 0);
    EXPECT_EQ(yellow[1], 255);
    EXPECT_EQ(yellow[2], 255);

    const emu::SimulatedFormat down{MEDIASUBTYPE_RGB24, 33, -20};
    const std::vector<BYTE> b = Pattern(down, 0);
    for (size_t row = 0; row < 20; ++row) {
        EXPECT_EQ(std::memcmp(&b[row * stride], &a[(19 - row) * stride], stride), 0) << "row " << row;
    }
}

// The bars move four pixels a frame; the counter shows the frame number.
TEST(TestPattern, BarsMoveAndTheCounterCounts) {
    const emu::SimulatedFormat f{MEDIASUBTYPE_RGB24, 64, 48};
    const std::vector<BYTE> f0 = Pattern(f, 0), f1 = Pattern(f, 1), f8 = Pattern(f, 8);
    // Bottom row (outside the counter): pixel x of frame 1 is pixel x + 4 of frame 0.
    for (int x = 0; x + 4 < 64; ++x) ASSERT_EQ(std::memcmp(&f1[x * 3], &f0[(x + 4) * 3], 3), 0) << x;
    // At 48 rows a font cell is one pixel: the last digit's middle stroke
    // (cell 22, 3) is dark in a 0 and lit in an 8.
    const size_t stride = 64 * 3, middle = (47 - 3) * stride + 22 * 3;
    EXPECT_EQ(f0[middle], 0);
    EXPECT_EQ(f8[middle], 255);
    EXPECT_NE(Pattern(f, 123456), Pattern(f, 123457));
    EXPECT_EQ(Pattern(f, 5), Pattern(f, 5));
}

TEST(TestPattern, YuvLayoutsAndTheirSizes) {
    // I420 of an odd size: a full Y plane, then U and V of 17 x 11.
    const emu::SimulatedFormat i420{MEDIASUBTYPE_I420, 33, 21};
    ASSERT_EQ(emu::FrameBytes(i420), 33u * 21 + 2 * 17 * 11);
    const std::vector<BYTE> p = Pattern(i420, 0);
    EXPECT_EQ(p[20 * 33], 235) << "white, bottom left, in studio range";
    EXPECT_EQ(p[33 * 21 + 17 * 11 - 1], 128) << "the last U sample is under the black bar";
    EXPECT_EQ(p.back(), 128);
    EXPECT_EQ(p[0], 16) << "the counter's dark margin";

    // YUY2: four bytes per pair of pixels, a lone last pixel rounded up.
    const emu::SimulatedFormat yuy2{MEDIASUBTYPE_YUY2, 33, 21};
    ASSERT_EQ(emu::FrameBytes(yuy2), 17u * 4 * 21);
    const std::vector<BYTE> q = Pattern(yuy2, 0);
    const BYTE *bottom = &q[20 * 17 * 4];
    EXPECT_EQ(bottom[0], 235);
    EXPECT_EQ(bottom[1], 128);
    EXPECT_EQ(bottom[3], 128);

    // A wrong byte count or an empty picture: false and nothing written.
    std::vector<BYTE> short_frame(emu::FrameBytes(i420) - 1, 0xEE);
    EXPECT_FALSE(emu::DrawTestPattern(i420, 0, short_frame.data(), short_frame.size()));
    EXPECT_EQ(short_frame, std::vector<BYTE>(short_frame.size(), 0xEE));
    BYTE none = 0xEE;
    EXPECT_FALSE(emu::DrawTestPattern({MEDIASUBTYPE_RGB24, 0, 10}, 0, &none, 0));
}

// --- The streaming thread ---

// A callback that records each frame's number and whether its bytes are the
// pattern of that number, and lets the test wait for the next one.
class RecordingCallback final : public ISampleGrabberCB {
public:
    RecordingCallback(emu::SimulatedFormat format, double frames_per_second)
        : format_(format), frames_per_second_(frames_per_second) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void **out) override {
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample *) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BufferCB(double time, BYTE *data, LONG length) override {
        const long long n = std::llround(time * frames_per_second_);
        std::vector<BYTE> expected(emu::FrameBytes(format_));
        emu::DrawTestPattern(format_, static_cast<uint32_t>(n), expected.data(), expected.size());
        const bool whole = length == static_cast<LONG>(expected.size()) &&
                           std::memcmp(data, expected.data(), expected.size()) == 0;
        std::lock_guard<std::mutex> lock(mutex_);
        numbers_.push_back(n);
        all_whole_ = all_whole_ && whole;
        arrived_.notify_all();
        return S_OK;
    }
    bool WaitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex_);
        return arrived_.wait_for(lock, std::chrono::seconds(5), [&] { return numbers_.size() >= count; });
    }
    std::vector<long long> numbers() {
        std::lock_guard<std::mutex> lock(mutex_);
        return numbers_;
    }
    bool all_whole() {
        std::lock_guard<std::mutex> lock(mutex_);
        return all_whole_;
    }

private:
    emu::SimulatedFormat format_;
    double frames_per_second_;
    std::mutex mutex_;
    std::condition_variable arrived_;
    std::vector<long long> numbers_;
    bool all_whole_ = true;
};

class StreamingThreadTest : public EmulatedTest {
protected:
    void SetUp() override {
        EmulatedTest::SetUp();
        ASSERT_GE(CoInitialize(nullptr), 0);
    }
    void TearDown() override {
        control_.Reset();
        graph_.Reset();
        CoUninitialize();
        EmulatedTest::TearDown();
    }

    // The registered device bound and connected straight to a sample grabber
    // that takes any type and calls a recording callback.
    RecordingCallback &Assemble(const emu::SimulatedFormat &format, double frames_per_second) {
        emu::RegisterDevice(Device(format, frames_per_second));
        callback_ = std::make_unique<RecordingCallback>(format, frames_per_second);
        Connect(callback_.get());
        return *callback_;
    }
    void Connect(ISampleGrabberCB *callback) {
        ComPtr<ICreateDevEnum> devices;
        ASSERT_EQ(CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                                   devices.ReleaseAndGetVoidAddressOf()),
                  S_OK);
        ComPtr<IEnumMoniker> monikers;
        ASSERT_EQ(devices->CreateClassEnumerator(CLSID_VideoInputDeviceCategory, monikers.ReleaseAndGetAddressOf(), 0),
                  S_OK);
        ComPtr<IMoniker> moniker;
        ASSERT_EQ(monikers->Next(1, moniker.ReleaseAndGetAddressOf(), nullptr), S_OK);
        ComPtr<IBaseFilter> source, grabber;
        ASSERT_EQ(moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, source.ReleaseAndGetVoidAddressOf()), S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                   grabber.ReleaseAndGetVoidAddressOf()),
                  S_OK);
        ASSERT_EQ(CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                                   graph_.ReleaseAndGetVoidAddressOf()),
                  S_OK);
        ASSERT_EQ(graph_->AddFilter(source.Get(), nullptr), S_OK);
        ASSERT_EQ(graph_->AddFilter(grabber.Get(), nullptr), S_OK);
        ComPtr<ISampleGrabber> control;
        ASSERT_EQ(grabber->QueryInterface(IID_ISampleGrabber, control.ReleaseAndGetVoidAddressOf()), S_OK);
        ASSERT_EQ(control->SetCallback(callback, 1), S_OK);
        ASSERT_EQ(graph_->Connect(FirstPin(source.Get()).Get(), FirstPin(grabber.Get()).Get()), S_OK);
        ASSERT_EQ(graph_->QueryInterface(IID_IMediaControl, control_.ReleaseAndGetVoidAddressOf()), S_OK);
    }
    static ComPtr<IPin> FirstPin(IBaseFilter *filter) {
        ComPtr<IEnumPins> pins;
        EXPECT_EQ(filter->EnumPins(pins.ReleaseAndGetAddressOf()), S_OK);
        ComPtr<IPin> pin;
        EXPECT_EQ(pins->Next(1, pin.ReleaseAndGetAddressOf(), nullptr), S_OK);
        return pin;
    }
    static emu::SimulatedDevice Device(const emu::SimulatedFormat &format, double frames_per_second) {
        emu::SimulatedDevice d;
        d.streams_test_pattern = true;
        d.frames_per_second = frames_per_second;
        d.capabilities = {format};
        d.current_format = format;
        return d;
    }

    // The callback outlives the graph: TearDown releases the graph first.
    std::unique_ptr<RecordingCallback> callback_;
    ComPtr<IGraphBuilder> graph_;
    ComPtr<IMediaControl> control_;
};

TEST_F(StreamingThreadTest, FramesInTheConnectedFormatInOrderAndNotAheadOfTheRate) {
    const emu::SimulatedFormat i420{MEDIASUBTYPE_I420, 64, 48};
    RecordingCallback &callback = Assemble(i420, 200);
    ASSERT_TRUE(control_);
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(control_->Run(), S_OK);
    ASSERT_TRUE(callback.WaitFor(10));
    // Frame n is due n intervals after the run began.
    EXPECT_GE(std::chrono::steady_clock::now() - started, std::chrono::milliseconds(45));
    ASSERT_EQ(control_->Stop(), S_OK);
    const std::vector<long long> numbers = callback.numbers();
    for (size_t i = 0; i < numbers.size(); ++i) ASSERT_EQ(numbers[i], static_cast<long long>(i));
    EXPECT_TRUE(callback.all_whole());

    // Stopped means stopped; a new run counts from 0 again.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(callback.numbers().size(), numbers.size()) << "a frame after Stop returned";
    ASSERT_EQ(control_->Run(), S_OK);
    ASSERT_TRUE(callback.WaitFor(numbers.size() + 1));
    EXPECT_EQ(callback.numbers()[numbers.size()], 0);
    ASSERT_EQ(control_->Stop(), S_OK);
}

TEST_F(StreamingThreadTest, PauseAFailedRunAndTheLastReleaseAllEndTheStream) {
    const emu::SimulatedFormat rgb{MEDIASUBTYPE_RGB24, 32, 24};
    RecordingCallback &callback = Assemble(rgb, 1000);
    ASSERT_TRUE(control_);
    auto quiet = [&] {
        const size_t before = callback.numbers().size();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return callback.numbers().size() == before;
    };

    emu::FailCall(emu::Call::MediaControlRun, E_FAIL);
    EXPECT_EQ(control_->Run(), E_FAIL);
    EXPECT_TRUE(quiet()) << "a failed run starts nothing";
    EXPECT_EQ(callback.numbers().size(), 0u);

    ASSERT_EQ(control_->Run(), S_OK);
    ASSERT_TRUE(callback.WaitFor(3));
    ASSERT_EQ(control_->Pause(), S_OK);
    EXPECT_TRUE(quiet()) << "a paused live source delivers nothing";

    ASSERT_EQ(control_->Run(), S_OK);
    const size_t before = callback.numbers().size();
    ASSERT_TRUE(callback.WaitFor(before + 3));
    emu::FailCall(emu::Call::MediaControlStop, E_FAIL);
    EXPECT_EQ(control_->Stop(), E_FAIL);
    EXPECT_TRUE(callback.WaitFor(before + 6)) << "a failed stop leaves the stream running";

    // The last references go while it runs: the graph stops it on the way out.
    control_.Reset();
    graph_.Reset();
    EXPECT_TRUE(quiet());
    EXPECT_TRUE(callback.all_whole());
}

// --- Host windows ---

// A host that waits for a streaming thread's post by its call count and then
// reads the window's queue must find the message there: the count may never
// run ahead of the queue.
TEST_F(EmulatedTest, APostAlreadyCountedIsAlreadyQueued) {
    const HWND window = emu::CreateHostWindow(
        [](HWND, UINT, WPARAM, LPARAM, void *) -> LRESULT { return 0; }, nullptr, 1u << 20);
    emu::ResetCallCounts();
    const int posts = 50000;
    std::thread poster([&] {
        for (int i = 0; i < posts; ++i) PostMessageA(window, KOVIC_MSG_FRAME, 0, 0);
    });
    int behind = 0;
    for (int counted = 0; counted < posts;) {
        counted = emu::CallCount(emu::Call::PostMessage);
        if (emu::QueuedMessages(window) < static_cast<size_t>(counted)) ++behind;
    }
    poster.join();
    EXPECT_EQ(behind, 0);
    EXPECT_EQ(emu::QueuedMessages(window), static_cast<size_t>(posts));
    emu::DestroyHostWindow(window);
}

}  // namespace
