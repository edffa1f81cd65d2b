// Preview with a device that streams by itself: the handshake against a real
// streaming thread (one frame per arming, samples dropped until re-armed),
// restarting with and without a rebuild, closing while previewing, the
// snapshot of a delivered frame, and thousands of handshakes and start/stop
// cycles with no frame after a stop has returned.
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "frames/bitmap_writer.h"
#include "frames/frame_sink.h"
#include "frames/frame_to_rgb24.h"
#include "graph/format_negotiation.h"
#include "platform/atomic_word.h"
#include "session/capture_session.h"
#include "session/live_sessions.h"
#include "support/emulated_fixture.h"

namespace fs = std::filesystem;
using kovic_test::EmulatedTest;

namespace {

kovic::CaptureSession *Record(KOVIC_SESSION h) { return kovic::LookUpSession(h); }

// A host window that checks each frame as it arrives, before it re-arms: the
// frame's number from its sample time, and every byte against the test
// pattern of that number. A frame overwritten while the host reads it, or
// assembled from two samples, fails the check.
class CheckingHost {
public:
    struct Frame {
        const FrameDescriptor *descriptor;
        LPARAM lparam;
        long long number;
        bool whole;
        const unsigned char *data;
        int32_t width, height, length;
    };

    // `source`: the format the camera streams in; anything but RGB24 is
    // expected converted into RGB24 by the library's own conversion.
    explicit CheckingHost(double frames_per_second, const GUID &source = MEDIASUBTYPE_RGB24)
        : frames_per_second_(frames_per_second), source_(source) {
        window_ = emu::CreateHostWindow(&Procedure, this);
    }
    ~CheckingHost() { emu::DestroyHostWindow(window_); }
    HWND window() const { return window_; }

    // Dispatches queued messages until one more frame has been handled.
    bool NextFrame(int timeout_ms = 5000) {
        const size_t before = frames.size();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (frames.size() == before) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0 || !emu::WaitAndDispatchMessage(window_, static_cast<int>(left.count()))) return false;
        }
        return true;
    }

    std::vector<Frame> frames;
    std::vector<std::string> statuses;
    std::function<void(const std::string &)> on_status;

private:
    static LRESULT Procedure(HWND, UINT message, WPARAM wparam, LPARAM lparam, void *context) {
        auto *self = static_cast<CheckingHost *>(context);
        if (message == KOVIC_MSG_STATUS) {
            self->statuses.push_back(reinterpret_cast<const char *>(wparam));
            if (self->on_status) self->on_status(self->statuses.back());
        } else if (message == KOVIC_MSG_FRAME) {
            const auto *d = reinterpret_cast<const FrameDescriptor *>(wparam);
            const long long n = std::llround(d->sample_time * self->frames_per_second_);
            const emu::SimulatedFormat format{MEDIASUBTYPE_RGB24, d->width, d->height};
            std::vector<BYTE> expected(emu::FrameBytes(format));
            const auto number = static_cast<uint32_t>(n);
            bool drawn = n >= 0 && emu::DrawTestPattern(format, number, expected.data(), expected.size());
            if (drawn && !IsEqualGUID(self->source_, MEDIASUBTYPE_RGB24)) {
                const emu::SimulatedFormat camera{self->source_, d->width, d->height};
                std::vector<BYTE> sent(emu::FrameBytes(camera));
                drawn = emu::DrawTestPattern(camera, number, sent.data(), sent.size()) &&
                        kovic::ConvertFrameToRgb24(kovic::FrameFormatOfSubtype(self->source_), sent.data(), sent.size(),
                                                   d->width, d->height, expected.data(), expected.size());
            }
            bool whole = drawn && d->data != nullptr && d->length == static_cast<int32_t>(expected.size()) &&
                         std::memcmp(d->data, expected.data(), expected.size()) == 0;
            self->frames.push_back({d, lparam, n, whole, d->data, d->width, d->height, d->length});
        }
        return 0;
    }

    double frames_per_second_;
    GUID source_;
    HWND window_;
};

// Waits until the renderer has received `count` samples: each of them passed
// the grabber, and so the sink, before it got there.
bool WaitForSamples(IBaseFilter *renderer, int count) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (emu::RendererSamples(renderer) < count) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return true;
}

class PreviewStreamingTest : public EmulatedTest {
protected:
    // A camera that makes its own frames; the frame rate divides 10^7, so a
    // sample time gives its frame number exactly.
    static emu::SimulatedDevice Streaming(double frames_per_second, int32_t width = 640, int32_t height = 480) {
        emu::SimulatedDevice d = Named(L"Streaming camera");
        d.streams_test_pattern = true;
        d.frames_per_second = frames_per_second;
        d.capabilities = {{MEDIASUBTYPE_RGB24, width, height}, {MEDIASUBTYPE_RGB24, 320, 240}};
        d.current_format = {MEDIASUBTYPE_RGB24, width, height};
        return d;
    }
    static uint32_t Busy(KOVIC_SESSION h) { return kovic::LoadAcquire(&Record(h)->graph.frame_sink()->descriptor()->busy); }
};

TEST_F(PreviewStreamingTest, OneFramePerArmingAndSamplesDroppedUntilReArmed) {
    CreateWith({Streaming(500)});
    CheckingHost host(500);
    KOVIC_SESSION h = KOVICOpen(host.window());
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    IBaseFilter *renderer = Record(h)->graph.null_renderer();
    ASSERT_TRUE(WaitForSamples(renderer, 3));
    EXPECT_EQ(emu::QueuedMessages(host.window()), 0u) << "a new sink waits to be armed";

    ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);
    ASSERT_TRUE(host.NextFrame());
    const CheckingHost::Frame first = host.frames.back();
    EXPECT_TRUE(first.whole);
    EXPECT_GE(first.number, 3) << "the samples before the arming were not kept";
    EXPECT_EQ(first.descriptor, Record(h)->graph.frame_sink()->descriptor());
    EXPECT_EQ(first.lparam, 0);
    EXPECT_EQ(first.width, 640);
    EXPECT_EQ(first.height, 480);

    // Three more samples pass the sink while the host holds the frame.
    ASSERT_TRUE(WaitForSamples(renderer, static_cast<int>(first.number) + 4));
    EXPECT_EQ(emu::QueuedMessages(host.window()), 0u) << "dropped until re-armed";
    ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);
    ASSERT_TRUE(host.NextFrame());
    const CheckingHost::Frame second = host.frames.back();
    EXPECT_TRUE(second.whole);
    EXPECT_GE(second.number, first.number + 4);
    EXPECT_EQ(second.descriptor, first.descriptor);
    EXPECT_EQ(second.data, first.data) << "the buffer of the first frame is reused";
    ASSERT_TRUE(WaitForSamples(renderer, static_cast<int>(second.number) + 4));
    EXPECT_EQ(emu::QueuedMessages(host.window()), 0u) << "one arming, one frame";

    ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);
    KOVICClose(h);
}

// Cameras streaming from their own thread in formats the library converts:
// every delivered frame is the whole converted picture of one frame number,
// never torn by the next sample, and the frame numbers advance.
TEST_F(PreviewStreamingTest, ConvertedFramesArriveWholeFromAStreamingCamera) {
    for (const GUID *subtype : {&MEDIASUBTYPE_NV12, &MEDIASUBTYPE_YUY2, &MEDIASUBTYPE_RGB32}) {
        emu::SimulatedDevice camera = Streaming(500, 176, 144);
        camera.capabilities = {{*subtype, 176, 144}};
        camera.current_format = camera.capabilities[0];
        CreateWith({camera});
        CheckingHost host(500, *subtype);
        KOVIC_SESSION h = KOVICOpen(host.window());
        ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
        long long last = -1;
        for (int i = 0; i < 5; ++i) {
            ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);
            ASSERT_TRUE(host.NextFrame());
            const CheckingHost::Frame &frame = host.frames.back();
            EXPECT_TRUE(frame.whole) << i;
            EXPECT_EQ(frame.width, 176);
            EXPECT_EQ(frame.height, 144);
            EXPECT_GT(frame.number, last) << "the counter advances";
            last = frame.number;
        }
        ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);
        KOVICClose(h);
    }
}

// The sink, its buffer and its state survive a stop: armed while stopped, it
// delivers the first frame of the next run without another arming.
TEST_F(PreviewStreamingTest, StartStopStartReusesTheGraphAndTheSink) {
    CreateWith({Streaming(500)});
    CheckingHost host(500);
    KOVIC_SESSION h = KOVICOpen(host.window());
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);
    ASSERT_TRUE(host.NextFrame());
    ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);
    kovic::FrameSink *sink = Record(h)->graph.frame_sink();
    IBaseFilter *grabber = Record(h)->graph.sample_grabber();
    ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);

    emu::ResetCallCounts();
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    EXPECT_EQ(emu::CallCount(emu::Call::CoCreateInstance), 0) << "no rebuild";
    EXPECT_EQ(Record(h)->graph.frame_sink(), sink);
    EXPECT_EQ(Record(h)->graph.sample_grabber(), grabber);
    ASSERT_TRUE(host.NextFrame());
    EXPECT_TRUE(host.frames.back().whole);
    EXPECT_EQ(host.frames.back().number, 0) << "armed before the run: its first frame";
    EXPECT_EQ(host.frames.back().data, host.frames.front().data);
    EXPECT_EQ(host.statuses, (std::vector<std::string>{"Preview Start", "Preview Stop", "Preview Start"}));
    ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);
    KOVICClose(h);
}

TEST_F(PreviewStreamingTest, ANewSizeAtRestartGivesANewSinkThatWaitsToBeArmed) {
    CreateWith({Streaming(500)});
    CheckingHost host(500);
    KOVIC_SESSION h = KOVICOpen(host.window());
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);
    ASSERT_TRUE(host.NextFrame());
    ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);
    ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK) << "armed, but the sink is about to go";

    KOVICSetVideoFormat(h, 320, 240);
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    EXPECT_EQ(Record(h)->built_width, 320);
    EXPECT_EQ(Record(h)->graph.frame_sink()->descriptor()->width, 320);
    EXPECT_EQ(Busy(h), 1u);
    ASSERT_TRUE(WaitForSamples(Record(h)->graph.null_renderer(), 3));
    EXPECT_EQ(emu::QueuedMessages(host.window()), 0u) << "the new sink waits to be armed";
    ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);
    ASSERT_TRUE(host.NextFrame());
    EXPECT_TRUE(host.frames.back().whole);
    EXPECT_EQ(host.frames.back().width, 320);
    EXPECT_EQ(host.frames.back().length, 320 * 240 * 3);
    ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);
    KOVICClose(h);
}

TEST_F(PreviewStreamingTest, ASecondStartIsRefusedAndTheGraphKeepsRunning) {
    CreateWith({Streaming(500)});
    CheckingHost host(500);
    KOVIC_SESSION h = KOVICOpen(host.window());
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    EXPECT_EQ(KOVICStartPreview(h), KOVIC_E_PREVIEWING);
    EXPECT_EQ(KOVICIsPreviewing(h), 1);
    EXPECT_EQ(emu::StateOf(Record(h)->graph.filter_graph()), emu::GraphState::kRunning);
    ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);
    ASSERT_TRUE(host.NextFrame()) << "frames still flow";
    EXPECT_TRUE(host.frames.back().whole);
    EXPECT_EQ(host.statuses, std::vector<std::string>{"Preview Start"});
    ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);
    KOVICClose(h);
}

// "Preview Stop" comes from inside KOVICClose while the record and its graph
// still exist, and after the graph has stopped. (Reading a freed record here
// is what AddressSanitizer would report.)
TEST_F(PreviewStreamingTest, ClosingWhilePreviewingStopsFirst) {
    CreateWith({Streaming(500)});
    CheckingHost host(500);
    KOVIC_SESSION h = KOVICOpen(host.window());
    kovic::CaptureSession *s = Record(h);
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);
    ASSERT_TRUE(host.NextFrame());
    IBaseFilter *renderer = s->graph.null_renderer();
    ASSERT_TRUE(WaitForSamples(renderer, static_cast<int>(host.frames.back().number) + 2));

    bool stopped_in_place = false;
    host.on_status = [&](const std::string &text) {
        if (text != "Preview Stop") return;
        const int samples = emu::RendererSamples(renderer);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
        stopped_in_place = s->previewing == 0 && s->graph.frame_sink() != nullptr && s->graph.filter_graph() != nullptr &&
                           emu::StateOf(s->graph.filter_graph()) == emu::GraphState::kStopped &&
                           emu::RendererSamples(renderer) == samples;
    };
    EXPECT_EQ(KOVICClose(h), KOVIC_OK);
    EXPECT_TRUE(stopped_in_place);
    EXPECT_EQ(host.statuses, (std::vector<std::string>{"Preview Start", "Preview Stop"}));
    EXPECT_EQ(emu::QueuedMessages(host.window()), 0u);
}

// A close whose stop cannot get the run control still frees everything, and
// the sink only after the streaming thread has gone with the graph (a sink
// freed under a running stream is what AddressSanitizer would report).
TEST_F(PreviewStreamingTest, ClosingARunningGraphWithoutRunControl) {
    CreateWith({Streaming(2000, 64, 48)});
    CheckingHost host(2000);
    KOVIC_SESSION h = KOVICOpen(host.window());
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);
    ASSERT_TRUE(host.NextFrame());
    ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);
    emu::FailCall(emu::Call::QueryInterface, E_NOINTERFACE, 0, &IID_IMediaControl);
    EXPECT_EQ(KOVICClose(h), KOVIC_OK);
    EXPECT_EQ(host.statuses, std::vector<std::string>{"Preview Start"}) << "the stop failed: no message";
    // A frame message still queued points at a descriptor that is gone: the
    // host window is destroyed without dispatching it.
}

std::vector<unsigned char> ReadAll(const fs::path &p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<unsigned char>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// The descriptor of a frame message, handed back to the export while the
// device goes on streaming: the file holds that frame exactly.
TEST_F(PreviewStreamingTest, ADeliveredFrameSavedThroughTheExport) {
    const fs::path dir = fs::temp_directory_path() / ("kovic-preview-snapshot-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    CreateWith({Streaming(500)});
    CheckingHost host(500);
    KOVIC_SESSION h = KOVICOpen(host.window());
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);
    ASSERT_TRUE(host.NextFrame());
    const CheckingHost::Frame frame = host.frames.back();
    ASSERT_TRUE(frame.whole);
    ASSERT_TRUE(WaitForSamples(Record(h)->graph.null_renderer(), static_cast<int>(frame.number) + 3));

    const std::string path = (dir / "frame.bmp").string();
    emu::ResetCallCounts();
    ASSERT_EQ(KOVICSaveSingleFrameBitmap(h, path.c_str(), frame.descriptor), 1);
    std::vector<unsigned char> expected(kovic::kBitmapHeaderBytes + 640 * 480 * 3);
    unsigned char headers[kovic::kBitmapHeaderBytes];
    kovic::LayOutBitmapHeaders(640, 480, 640 * 480 * 3, headers);
    std::memcpy(expected.data(), headers, sizeof(headers));
    ASSERT_TRUE(emu::DrawTestPattern({MEDIASUBTYPE_RGB24, 640, 480}, static_cast<uint32_t>(frame.number),
                                     expected.data() + kovic::kBitmapHeaderBytes, 640 * 480 * 3));
    const std::vector<unsigned char> written = ReadAll(path);
    EXPECT_EQ(written.size(), 921654u);
    EXPECT_TRUE(written == expected) << "headers, then the frame's bytes unchanged";
    EXPECT_EQ(emu::CallCount(emu::Call::CreateFile), 1);

    emu::ResetCallCounts();
    const std::string other = (dir / "other.bmp").string();
    EXPECT_EQ(KOVICSaveSingleFrameBitmap(h, other.c_str(), nullptr), 0);
    FrameDescriptor without_data = {};
    without_data.width = 640;
    without_data.height = 480;
    without_data.length = 640 * 480 * 3;
    EXPECT_EQ(KOVICSaveSingleFrameBitmap(h, other.c_str(), &without_data), 0);
    EXPECT_EQ(KOVICSaveSingleFrameBitmap(h, nullptr, frame.descriptor), KOVIC_E_NO_FILE_NAME);
    EXPECT_EQ(emu::CallCount(emu::Call::CreateFile), 0) << "refused before any file is opened";
    std::vector<std::string> files;
    for (const auto &e : fs::directory_iterator(dir)) files.push_back(e.path().filename().string());
    EXPECT_EQ(files, std::vector<std::string>{"frame.bmp"});

    ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);
    KOVICClose(h);
    fs::remove_all(dir);
}

// Thousands of handshakes against a fast device, then hundreds of start/stop
// cycles with the sink armed across each stop: every frame whole, frame
// numbers rising within a run, and nothing reaching the sink or the window
// once KOVICStopPreview has returned.
TEST_F(PreviewStreamingTest, ThousandsOfHandshakesAndStartStopCycles) {
    constexpr double kRate = 20000;
    CreateWith({Streaming(kRate, 32, 24)});
    CheckingHost host(kRate);
    KOVIC_SESSION h = KOVICOpen(host.window());
    ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
    IBaseFilter *renderer = Record(h)->graph.null_renderer();
    long long last = -1;
    for (int i = 0; i < 3000; ++i) {
        ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);
        ASSERT_TRUE(host.NextFrame()) << "handshake " << i;
        ASSERT_TRUE(host.frames.back().whole) << "handshake " << i;
        ASSERT_GT(host.frames.back().number, last);
        last = host.frames.back().number;
    }
    ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);

    // The host arms only when it has no request out: arming while a frame is
    // on its way would let the next one overwrite it during the read.
    bool asked = false;
    for (int i = 0; i < 500; ++i) {
        ASSERT_EQ(KOVICStartPreview(h), KOVIC_OK);
        if (!asked) {
            ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);
        }
        ASSERT_TRUE(host.NextFrame()) << "cycle " << i;
        ASSERT_TRUE(host.frames.back().whole) << "cycle " << i;
        ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);  // perhaps answered before the stop, perhaps after the next start
        ASSERT_EQ(KOVICStopPreview(h), KOVIC_OK);
        const int posts = emu::CallCount(emu::Call::PostMessage);
        const int samples = emu::RendererSamples(renderer);
        const size_t frames = host.frames.size();
        emu::PumpMessages(host.window());
        asked = host.frames.size() == frames;
        ASSERT_TRUE(host.frames.back().whole);
        std::this_thread::yield();
        ASSERT_EQ(emu::CallCount(emu::Call::PostMessage), posts) << "a frame after the stop, cycle " << i;
        ASSERT_EQ(emu::RendererSamples(renderer), samples) << "a sample after the stop, cycle " << i;
    }
    // Armed and stopped: nothing comes, however long the host waits.
    if (!asked) {
        ASSERT_EQ(KOVICGetFrameCall(h), KOVIC_OK);
    }
    const int samples = emu::RendererSamples(renderer);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(emu::RendererSamples(renderer), samples);
    EXPECT_EQ(emu::QueuedMessages(host.window()), 0u);
    EXPECT_EQ(Busy(h), 0u);
    EXPECT_EQ(host.statuses.size(), 2u * 501);
    KOVICClose(h);
}

}  // namespace
