// The virtual camera's streaming thread against a fake receiver: frames paced
// by the clock with rising sample times, the pattern's counter, state changes
// that stop delivery, and the short-frame fault.
#include <gtest/gtest.h>

#include <iterator>

#include "vcam_fixture.h"

namespace vcam_test {
namespace {

using vcam::PixelFormat;

constexpr REFERENCE_TIME kMillisecond = 10000;

class StreamingTest : public VirtualCameraTest {
protected:
    void SetUp() override {
        VirtualCameraTest::SetUp();
        ASSERT_EQ(CoCreateInstance(CLSID_SystemClock, nullptr, CLSCTX_INPROC_SERVER, IID_IReferenceClock,
                                   clock_.void_out()),
                  S_OK);
    }
    void TearDown() override {
        if (filter_ != nullptr) {
            filter_->Stop();
            if (pin_.get() != nullptr) pin_->Disconnect();
            receiver_.Disconnect();
            if (pin_.get() != nullptr) pin_.Take()->Release();
            EXPECT_EQ(filter_->Release(), 0u) << "the filter outlived its last reference";
        }
        if (receiver_.notified_allocator != nullptr) receiver_.notified_allocator->Release();
        receiver_.notified_allocator = nullptr;
        EXPECT_EQ(receiver_.references(), 1);
        clock_.Take()->Release();
        VirtualCameraTest::TearDown();
    }

    // A filter of the given profile, connected to the fake receiver.
    void Connect(const std::map<std::wstring, std::wstring> &values) {
        filter_ = NewFilter(&values);
        ASSERT_NE(filter_, nullptr);
        *pin_.out() = PinAt(filter_, 0);
        ASSERT_EQ(pin_->Connect(&receiver_, nullptr), S_OK);
    }

    // Runs on the system clock with the stream starting `delay_ms` from now.
    void RunSoon(int delay_ms = 20) {
        ASSERT_EQ(filter_->SetSyncSource(clock_.get()), S_OK);
        REFERENCE_TIME now = 0;
        clock_->GetTime(&now);
        ASSERT_EQ(filter_->Run(now + delay_ms * kMillisecond), S_OK);
    }

    bool WaitForSamples(size_t count, DWORD timeout_ms = 3000) {
        DWORD start = GetTickCount();
        while (receiver_.SampleCount() < count) {
            if (GetTickCount() - start > timeout_ms) return false;
            Sleep(5);
        }
        return true;
    }

    Ref<IReferenceClock> clock_;
    IBaseFilter *filter_ = nullptr;
    Ref<IPin> pin_;
    FakeInputPin receiver_;
};

TEST_F(StreamingTest, FramesArriveOnTheClockWithRisingTimesAndCountersAndStopEndsThem) {
    Connect({{L"Formats", L"RGB24 176x144@30"}, {L"Tag", L"9"}});
    ASSERT_EQ(filter_->Pause(), S_OK);
    Sleep(100);
    EXPECT_EQ(receiver_.SampleCount(), 0u) << "a live source sends nothing while paused";
    RunSoon();
    ASSERT_TRUE(WaitForSamples(6));
    ASSERT_EQ(filter_->Stop(), S_OK);
    size_t at_stop = receiver_.SampleCount();
    Sleep(150);
    EXPECT_EQ(receiver_.SampleCount(), at_stop) << "a frame arrived after Stop returned";

    std::vector<ReceivedSample> samples = receiver_.Samples();
    EXPECT_GE(samples.front().start, 0);
    EXPECT_LT(samples.front().start, 500 * kMillisecond) << "the first frame is due at the run's start";
    EXPECT_TRUE(samples.front().discontinuity);
    for (size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "sample " << i);
        const ReceivedSample &s = samples[i];
        EXPECT_EQ(s.length, 76032);
        EXPECT_EQ(s.stop - s.start, 333333);
        EXPECT_NE(s.thread, GetCurrentThreadId());
        EXPECT_EQ(s.thread, samples.front().thread) << "one streaming thread";
        ASSERT_TRUE(s.decoded);
        EXPECT_EQ(s.tag, 9u);
        EXPECT_EQ(s.counter, i) << "every frame painted is delivered, in order";
        if (i > 0) {
            EXPECT_GT(s.start, samples[i - 1].start);
            EXPECT_FALSE(s.discontinuity);
        }
    }
    // Paced by the clock: 30 frames a second, not as fast as possible. Only
    // the first frame may wake late, by less than one interval (a later
    // wake skips ahead), so n frames span at least n - 2 intervals.
    REFERENCE_TIME span = samples.back().start - samples.front().start;
    EXPECT_GE(span, static_cast<REFERENCE_TIME>(samples.size() - 2) * 333333);

    // A second run starts its times afresh and goes on counting.
    RunSoon();
    ASSERT_TRUE(WaitForSamples(samples.size() + 2));
    filter_->Stop();
    std::vector<ReceivedSample> again = receiver_.Samples();
    const ReceivedSample &first = again[samples.size()];
    EXPECT_TRUE(first.discontinuity);
    EXPECT_LT(first.start, 500 * kMillisecond);
    EXPECT_EQ(first.counter, samples.size());
}

TEST_F(StreamingTest, StopReturnsOnlyOnceADeliveryInProgressHasFinished) {
    Connect({{L"Formats", L"RGB24 176x144@60"}});
    receiver_.receive_delay_ms = 200;
    RunSoon();
    ASSERT_TRUE(WaitForSamples(1));
    ASSERT_EQ(receiver_.receiving(), 1);
    ASSERT_EQ(filter_->Stop(), S_OK);
    EXPECT_EQ(receiver_.receiving(), 0) << "Stop returned while the streaming thread was still delivering";
    size_t at_stop = receiver_.SampleCount();
    Sleep(100);
    EXPECT_EQ(receiver_.SampleCount(), at_stop);
}

TEST_F(StreamingTest, PauseHoldsDeliveryAndRunResumesIt) {
    Connect({{L"Formats", L"RGB24 176x144@60"}});
    RunSoon();
    ASSERT_TRUE(WaitForSamples(3));
    ASSERT_EQ(filter_->Pause(), S_OK);
    FILTER_STATE state;
    EXPECT_EQ(filter_->GetState(0, &state), VFW_S_CANT_CUE);
    Sleep(50);  // a frame already on its way may still land
    size_t paused = receiver_.SampleCount();
    Sleep(200);
    EXPECT_EQ(receiver_.SampleCount(), paused);
    RunSoon();
    EXPECT_TRUE(WaitForSamples(paused + 3));
    std::vector<ReceivedSample> samples = receiver_.Samples();
    EXPECT_EQ(samples.back().stop - samples.back().start, 166666);
}

TEST_F(StreamingTest, AReceiverThatRefusesASampleEndsDeliveryUntilTheNextRun) {
    Connect({{L"Formats", L"RGB24 176x144@60"}});
    receiver_.receive_result = S_FALSE;
    RunSoon();
    ASSERT_TRUE(WaitForSamples(1));
    Sleep(200);
    EXPECT_EQ(receiver_.SampleCount(), 1u);
    filter_->Stop();
    receiver_.receive_result = S_OK;
    RunSoon();
    EXPECT_TRUE(WaitForSamples(3));
}

TEST_F(StreamingTest, WithoutAClockFramesStillComeAtTheDeviceRate) {
    Connect({{L"Formats", L"YUY2 176x144@60"}, {L"Tag", L"3"}});
    ASSERT_EQ(filter_->SetSyncSource(nullptr), S_OK);
    Ref<IReferenceClock> none;
    EXPECT_EQ(filter_->GetSyncSource(none.out()), S_OK);
    EXPECT_EQ(none.get(), nullptr);
    // Without a clock the start argument means nothing; the run begins at once.
    ASSERT_EQ(filter_->Run(123456789), S_OK);
    ASSERT_TRUE(WaitForSamples(4));
    filter_->Stop();
    std::vector<ReceivedSample> samples = receiver_.Samples();
    EXPECT_LT(samples.front().start, 100 * kMillisecond);
    for (size_t i = 1; i < samples.size(); ++i) EXPECT_GT(samples[i].start, samples[i - 1].start);
    EXPECT_TRUE(samples[1].decoded);
    EXPECT_EQ(samples[1].tag, 3u);
    EXPECT_EQ(samples[1].length, 176 * 2 * 144);
}

// One connection per format: whole frames of the format's size whose pattern
// reads back (the receiver decodes each sample by the connected format).
struct FormatCase {
    const wchar_t *formats;
    long image_bytes;
};

class FormatStreamingTest : public StreamingTest, public testing::WithParamInterface<FormatCase> {};

TEST_P(FormatStreamingTest, StreamsWholeFramesOfThePattern) {
    receiver_.accepted.assign(std::begin(vcam::kAllPixelFormats), std::end(vcam::kAllPixelFormats));
    Connect({{L"Formats", GetParam().formats}, {L"Tag", L"12"}});
    RunSoon();
    ASSERT_TRUE(WaitForSamples(2));
    filter_->Stop();
    std::vector<ReceivedSample> samples = receiver_.Samples();
    for (const ReceivedSample &sample : samples) {
        EXPECT_EQ(sample.length, GetParam().image_bytes);
        EXPECT_TRUE(sample.decoded);
        EXPECT_EQ(sample.tag, 12u);
    }
    EXPECT_GT(samples[1].counter, samples[0].counter);
}

INSTANTIATE_TEST_SUITE_P(NewFormats, FormatStreamingTest,
                         testing::Values(FormatCase{L"NV12 178x100@60", 178 * 100 * 3 / 2},
                                         FormatCase{L"YV12 176x144@60", 176 * 144 * 3 / 2},
                                         FormatCase{L"UYVY 178x99@60", 178 * 2 * 99},
                                         FormatCase{L"RGB32 176x-144@60", 176 * 4 * 144},
                                         FormatCase{L"RGB32 178x100@60", 178 * 4 * 100}));

TEST_F(StreamingTest, TheShortFrameFaultHalvesEveryThirdFrame) {
    Connect({{L"Formats", L"RGB24 176x144@60"}, {L"Faults", L"short-frames"}});
    RunSoon();
    ASSERT_TRUE(WaitForSamples(7));
    filter_->Stop();
    std::vector<ReceivedSample> samples = receiver_.Samples();
    for (size_t i = 0; i < samples.size(); ++i) {
        EXPECT_EQ(samples[i].length, i % 3 == 0 ? 76032 / 2 : 76032) << "sample " << i;
    }
}

// MJPG: every frame a whole JPEG of the pattern, shorter than the announced
// bound, with the frame's counter; the even frames carry Huffman tables, the
// odd ones leave them out as webcams do.
TEST_F(StreamingTest, MjpgFramesAreJpegsOfThePatternEveryOtherWithoutHuffmanTables) {
    receiver_.accepted = {vcam::PixelFormat::kMjpg};
    Connect({{L"Formats", L"MJPG 320x240@60"}, {L"Tag", L"5"}});
    // What the end-to-end tests read to tell which of a size's formats a graph chose.
    auto connected_compression = Export<DWORD(WINAPI *)()>(module_, "VcamConnectedCompression");
    ASSERT_NE(connected_compression, nullptr);
    EXPECT_EQ(connected_compression(), static_cast<DWORD>(MAKEFOURCC('M', 'J', 'P', 'G')));
    RunSoon();
    ASSERT_TRUE(WaitForSamples(6));
    filter_->Stop();
    std::vector<ReceivedSample> samples = receiver_.Samples();
    for (size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "sample " << i);
        EXPECT_GT(samples[i].length, 0);
        EXPECT_LT(samples[i].length, 320 * 240 * 2);
        ASSERT_TRUE(samples[i].decoded);
        EXPECT_EQ(samples[i].counter, i);
        EXPECT_EQ(samples[i].tag, 5u);
        EXPECT_EQ(samples[i].huffman_tables, i % 2 == 0);
    }
}

// corrupt-jpeg: frames 3, 10, 17... cut to half their length, frames 6, 13,
// 20... of full length with damaged data; neither decodes cleanly, every
// other frame does.
TEST_F(StreamingTest, TheCorruptJpegFaultTruncatesOneFrameInSevenAndDamagesAnother) {
    receiver_.accepted = {vcam::PixelFormat::kMjpg};
    Connect({{L"Formats", L"MJPG 320x240@60"}, {L"Faults", L"corrupt-jpeg"}});
    RunSoon();
    ASSERT_TRUE(WaitForSamples(15));
    filter_->Stop();
    std::vector<ReceivedSample> samples = receiver_.Samples();
    for (size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE(testing::Message() << "sample " << i);
        const long whole = samples[i == 0 ? 1 : i - 1].length;  // frames 2 and 5 are whole
        switch (i % 7) {
        case 3:
            EXPECT_FALSE(samples[i].decoded);
            EXPECT_LE(samples[i].length, whole * 6 / 10);
            break;
        case 6:
            EXPECT_FALSE(samples[i].decoded);
            EXPECT_GE(samples[i].length, whole * 9 / 10);
            break;
        default:
            ASSERT_TRUE(samples[i].decoded);
            EXPECT_EQ(samples[i].counter, i);
            break;
        }
    }
}

}  // namespace
}  // namespace vcam_test
