// The frame sink and its handshake: driven directly through BufferCB, and end
// to end with samples pushed from a simulated device through a built graph.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "frames/frame_sink.h"
#include "frames/frame_to_rgb24.h"
#include "frames/mjpeg_decoder.h"
#include "platform/emulated/host_api.h"
#include "session/capture_session.h"
#include "session/live_sessions.h"
#include "support/emulated_fixture.h"
#include "support/guarded_buffer.h"
#include "support/jpeg_test_frames.h"

using kovic::FrameSink;
using kovic_test::EmulatedTest;
using kovic_test::GuardedBuffer;
using kovic_test::kUnreadSubtype;
using kovic_test::RecordingWindow;

namespace {

class FrameSinkTest : public EmulatedTest {
protected:
    void TearDown() override {
        sink_.reset();
        EmulatedTest::TearDown();
    }
    FrameSink *MakeSink(HWND window) {
        sink_ = FrameSink::Create(window);
        return sink_.get();
    }
    // Delivers `length` bytes of `fill`.
    static void Deliver(FrameSink *sink, double time, int length, unsigned char fill) {
        std::vector<BYTE> bytes(static_cast<size_t>(length), fill);
        EXPECT_EQ(sink->BufferCB(time, bytes.data(), length), S_OK);
    }
    // Dispatches what was posted and returns the frame messages among it.
    static std::vector<kovic_test::ReceivedMessage> FrameMessages(RecordingWindow &window) {
        emu::PumpMessages(window.handle());
        std::vector<kovic_test::ReceivedMessage> frames;
        for (const auto &m : window.messages)
            if (m.message == KOVIC_MSG_FRAME) frames.push_back(m);
        return frames;
    }
    kovic::FrameSinkPtr sink_;
};

TEST_F(FrameSinkTest, OneFramePerArming) {
    RecordingWindow window;
    FrameSink *sink = MakeSink(window.handle());
    ASSERT_NE(sink, nullptr);
    FrameDescriptor *d = sink->descriptor();
    EXPECT_EQ(d->busy, 1u);
    EXPECT_EQ(d->data, nullptr);

    Deliver(sink, 0.5, 12, 0x11);
    EXPECT_TRUE(FrameMessages(window).empty()) << "nothing before the first arming";
    EXPECT_EQ(d->data, nullptr);
    EXPECT_EQ(d->length, 0);

    sink->Arm();
    Deliver(sink, 1.5, 12, 0x22);
    Deliver(sink, 2.5, 12, 0x33);
    auto frames = FrameMessages(window);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0].wparam, reinterpret_cast<WPARAM>(d));
    EXPECT_EQ(frames[0].lparam, 0);
    EXPECT_EQ(d->busy, 1u);
    EXPECT_EQ(d->sample_time, 1.5);
    EXPECT_EQ(d->length, 12);
    ASSERT_NE(d->data, nullptr);
    EXPECT_EQ(d->data[11], 0x22) << "the sample after the first was dropped";
    unsigned char *buffer = d->data;

    // Two armings without a frame between them still give one frame.
    sink->Arm();
    sink->Arm();
    Deliver(sink, 3.5, 12, 0x44);
    Deliver(sink, 4.5, 12, 0x55);
    frames = FrameMessages(window);
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[1].wparam, reinterpret_cast<WPARAM>(d)) << "the same descriptor for every frame";
    EXPECT_EQ(d->data, buffer) << "the same buffer for every frame";
    EXPECT_EQ(d->data[0], 0x44);
    EXPECT_EQ(d->sample_time, 3.5);
    EXPECT_EQ(d->reserved, 0u);
}

// The first frame fixes the buffer; a shorter frame is copied whole over its
// start; a longer one grows the buffer instead of running past its end.
TEST_F(FrameSinkTest, BufferSizedByTheFirstFrameAndGrownByALongerOne) {
    RecordingWindow window;
    FrameSink *sink = MakeSink(window.handle());
    FrameDescriptor *d = sink->descriptor();
    sink->Arm();
    Deliver(sink, 0, 8, 'a');
    unsigned char *first = d->data;
    sink->Arm();
    Deliver(sink, 0, 4, 'b');
    EXPECT_EQ(d->data, first);
    EXPECT_EQ(d->length, 4);
    EXPECT_EQ(std::memcmp(d->data, "bbbbaaaa", 8), 0) << "bytes past a shorter frame keep older content";
    sink->Arm();
    Deliver(sink, 0, 4096, 'c');
    EXPECT_EQ(d->length, 4096);
    ASSERT_NE(d->data, nullptr);
    for (int i = 0; i < 4096; i += 511) EXPECT_EQ(d->data[i], 'c') << i;
    EXPECT_EQ(FrameMessages(window).size(), 3u);
}

TEST_F(FrameSinkTest, AFrameWithoutABufferStillPostsAndTheAllocationIsRetried) {
    RecordingWindow window;
    FrameSink *sink = MakeSink(window.handle());
    FrameDescriptor *d = sink->descriptor();
    emu::FailCall(emu::Call::LibraryAlloc, E_OUTOFMEMORY);
    sink->Arm();
    Deliver(sink, 7.25, 32, 0x5A);
    EXPECT_EQ(FrameMessages(window).size(), 1u);
    EXPECT_EQ(d->data, nullptr);
    EXPECT_EQ(d->length, 32);
    EXPECT_EQ(d->sample_time, 7.25);
    EXPECT_EQ(d->busy, 1u);

    sink->Arm();
    Deliver(sink, 8.25, 32, 0x6B);
    EXPECT_EQ(FrameMessages(window).size(), 2u);
    ASSERT_NE(d->data, nullptr);
    EXPECT_EQ(d->data[31], 0x6B);
}

// A post that fails leaves the sink waiting until the host arms it again.
TEST_F(FrameSinkTest, AFailedPostLeavesTheSinkWaiting) {
    RecordingWindow window;
    FrameSink *sink = MakeSink(window.handle());
    emu::FailCall(emu::Call::PostMessage, E_FAIL);
    sink->Arm();
    Deliver(sink, 0, 16, 1);
    EXPECT_EQ(sink->descriptor()->busy, 1u);
    Deliver(sink, 0, 16, 2);
    EXPECT_TRUE(FrameMessages(window).empty());
    sink->Arm();
    Deliver(sink, 0, 16, 3);
    EXPECT_EQ(FrameMessages(window).size(), 1u);

    // A window that is gone refuses the post the same way.
    HWND gone = emu::CreateHostWindow([](HWND, UINT, WPARAM, LPARAM, void *) -> LRESULT { return 0; }, nullptr);
    emu::DestroyHostWindow(gone);
    kovic::FrameSinkPtr orphan = FrameSink::Create(gone);
    orphan->Arm();
    Deliver(orphan.get(), 0, 16, 4);
    EXPECT_EQ(orphan->descriptor()->busy, 1u);
}

// A sink told a format it converts: the descriptor describes the RGB24 frame
// it will deliver (positive height, padded rows); each delivered frame is
// converted whole into a buffer allocated once of exactly that size; a sample
// shorter than the format needs is not read and leaves the sink armed; a
// longer one is converted from its start.
TEST_F(FrameSinkTest, AConvertingSinkDeliversWholeRgb24Frames) {
    RecordingWindow window;
    FrameSink *sink = MakeSink(window.handle());
    sink->SetFrameFormat(kovic::FrameFormat::kYuy2, 5, -3);  // top-down, odd width: 9-byte rows padded to 16
    FrameDescriptor *d = sink->descriptor();
    EXPECT_EQ(d->width, 5);
    EXPECT_EQ(d->height, 3);
    const size_t source_bytes = 3 * 12;  // three pixel pairs a row, the last one half used
    ASSERT_EQ(kovic::SourceFrameBytes(kovic::FrameFormat::kYuy2, 5, -3), source_bytes);
    std::vector<BYTE> sample(source_bytes + 8);
    for (size_t i = 0; i < sample.size(); ++i) sample[i] = static_cast<BYTE>(16 + i * 5);
    std::vector<uint8_t> expected(16 * 3);
    ASSERT_TRUE(kovic::ConvertFrameToRgb24(kovic::FrameFormat::kYuy2, sample.data(), source_bytes, 5, -3,
                                           expected.data(), expected.size()));

    sink->Arm();
    EXPECT_EQ(sink->BufferCB(0.25, sample.data(), static_cast<LONG>(source_bytes - 1)), S_OK);
    EXPECT_TRUE(FrameMessages(window).empty());
    EXPECT_EQ(d->busy, 0u) << "a short sample leaves the sink armed";
    EXPECT_EQ(d->data, nullptr);
    EXPECT_EQ(sink->BufferCB(0.5, nullptr, static_cast<LONG>(source_bytes)), S_OK);
    EXPECT_EQ(d->busy, 0u) << "so does a sample without bytes";

    EXPECT_EQ(sink->BufferCB(0.75, sample.data(), static_cast<LONG>(sample.size())), S_OK);
    ASSERT_EQ(FrameMessages(window).size(), 1u);
    EXPECT_EQ(d->busy, 1u);
    EXPECT_EQ(d->sample_time, 0.75);
    ASSERT_EQ(d->length, 48);
    EXPECT_EQ(sink->buffer_bytes(), 48);
    ASSERT_NE(d->data, nullptr);
    EXPECT_EQ(std::memcmp(d->data, expected.data(), expected.size()), 0);
    unsigned char *buffer = d->data;

    // The next frame reuses the buffer, and a dropped one touches nothing.
    std::vector<BYTE> next(source_bytes, 128);
    sink->Arm();
    sink->BufferCB(1.0, next.data(), static_cast<LONG>(next.size()));
    sink->BufferCB(1.5, sample.data(), static_cast<LONG>(sample.size()));
    EXPECT_EQ(FrameMessages(window).size(), 2u);
    EXPECT_EQ(d->data, buffer);
    EXPECT_EQ(d->sample_time, 1.0);
    EXPECT_EQ(d->data[0], d->data[3]) << "a grey frame";
    EXPECT_EQ(d->data[15], 0) << "row padding is zero";
}

// A converting sink whose buffer cannot be had still posts, with the whole
// frame's length and no data, and tries again at the next delivery; a size no
// frame can have delivers nothing; RGB24 and an unknown format are copied.
TEST_F(FrameSinkTest, ConvertingSinkEdges) {
    RecordingWindow window;
    FrameSink *sink = MakeSink(window.handle());
    sink->SetFrameFormat(kovic::FrameFormat::kRgb32, 2, 2);
    std::vector<BYTE> sample(16, 0x40);
    emu::FailCall(emu::Call::LibraryAlloc, E_OUTOFMEMORY);
    sink->Arm();
    sink->BufferCB(0, sample.data(), 16);
    EXPECT_EQ(FrameMessages(window).size(), 1u);
    EXPECT_EQ(sink->descriptor()->data, nullptr);
    EXPECT_EQ(sink->descriptor()->length, 16) << "two rows of 6 bytes padded to 8";
    emu::ClearFaults();
    sink->Arm();
    sink->BufferCB(0, sample.data(), 16);
    ASSERT_NE(sink->descriptor()->data, nullptr);
    EXPECT_EQ(sink->descriptor()->data[0], 0x40);
    EXPECT_EQ(sink->descriptor()->data[6], 0) << "padding";

    for (int32_t width : {0, -4}) {
        kovic::FrameSinkPtr impossible = FrameSink::Create(window.handle());
        impossible->SetFrameFormat(kovic::FrameFormat::kNv12, width, 2);
        impossible->Arm();
        impossible->BufferCB(0, sample.data(), 16);
        EXPECT_EQ(impossible->descriptor()->busy, 0u) << width;
        EXPECT_EQ(impossible->descriptor()->data, nullptr) << width;
    }

    for (kovic::FrameFormat copied : {kovic::FrameFormat::kRgb24, kovic::FrameFormat::kUnknown}) {
        kovic::FrameSinkPtr copy = FrameSink::Create(window.handle());
        copy->SetFrameFormat(copied, 2, -2);
        EXPECT_EQ(copy->descriptor()->height, -2) << "a copied frame keeps its sign";
        copy->Arm();
        copy->BufferCB(0, sample.data(), 5);
        EXPECT_EQ(copy->descriptor()->length, 5) << "and its own length";
    }
    FrameMessages(window);
}

// The sink answers COM like an object that is not reference counted.
// A sample in a buffer of its own length that ends (or starts) at an
// inaccessible page: reading outside it faults.
std::unique_ptr<GuardedBuffer> Guarded(const std::vector<uint8_t> &bytes, GuardedBuffer::Guard guard) {
    auto buffer = std::make_unique<GuardedBuffer>(bytes.size(), guard);
    if (buffer->data() != nullptr && !bytes.empty()) std::memcpy(buffer->data(), bytes.data(), bytes.size());
    return buffer;
}

// An MJPG sink decodes each delivered frame into a bottom-up RGB24 buffer
// allocated once; a sample that does not decode completely to the connected
// size is not delivered: no message, the sink armed again, the descriptor as
// the last good frame left it. The samples sit against guard pages, so a read
// past either end faults.
TEST_F(FrameSinkTest, AnMjpgSinkDeliversOnlyFramesThatDecodeWhole) {
    constexpr int32_t kWidth = 70, kHeight = 40;  // 210-byte rows padded to 212
    const size_t frame_bytes = 212 * kHeight;
    const std::vector<uint8_t> jpeg = kovic_test::EncodeJpeg(kovic_test::TestPicture(kWidth, kHeight), kWidth, kHeight,
                                                             {kovic_test::Chroma::k422, 90});
    std::vector<uint8_t> expected(frame_bytes);
    {
        kovic::MjpegDecoderPtr decoder = kovic::MjpegDecoder::Create();
        ASSERT_TRUE(decoder);
        ASSERT_TRUE(decoder->Decode(jpeg.data(), jpeg.size(), kWidth, kHeight, expected.data(), expected.size()));
    }
    RecordingWindow window;
    FrameSink *sink = MakeSink(window.handle());
    ASSERT_TRUE(sink->SetFrameFormat(kovic::FrameFormat::kMjpg, kWidth, -kHeight));
    FrameDescriptor *d = sink->descriptor();
    EXPECT_EQ(d->width, kWidth);
    EXPECT_EQ(d->height, kHeight) << "decoded frames are bottom-up";

    sink->Arm();
    auto good = Guarded(jpeg, GuardedBuffer::Guard::kAfterEnd);
    sink->BufferCB(1.0, good->data(), static_cast<LONG>(jpeg.size()));
    ASSERT_EQ(FrameMessages(window).size(), 1u);
    EXPECT_EQ(d->busy, 1u);
    EXPECT_EQ(d->sample_time, 1.0);
    ASSERT_EQ(d->length, static_cast<int32_t>(frame_bytes));
    EXPECT_EQ(sink->buffer_bytes(), static_cast<int32_t>(frame_bytes));
    ASSERT_NE(d->data, nullptr);
    EXPECT_EQ(std::memcmp(d->data, expected.data(), frame_bytes), 0);
    unsigned char *buffer = d->data;

    // The end marker halfway through the coded data, as a lost USB packet leaves it.
    std::vector<uint8_t> damaged(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2));
    damaged.push_back(0xFF);
    damaged.push_back(0xD9);
    const std::vector<uint8_t> other_size =
        kovic_test::EncodeJpeg(kovic_test::TestPicture(kWidth, kHeight - 8), kWidth, kHeight - 8);
    std::vector<uint8_t> garbage(jpeg.size());
    for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<uint8_t>(i * 97 + 13);
    garbage[0] = 0xFF;  // a start-of-image marker ahead of nonsense
    garbage[1] = 0xD8;
    struct Bad {
        const char *what;
        std::vector<uint8_t> bytes;
    };
    const Bad bad[] = {
        {"truncated", std::vector<uint8_t>(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 2))},
        {"without its end marker", std::vector<uint8_t>(jpeg.begin(), jpeg.end() - 2)},
        {"damaged entropy data", damaged},
        {"another size", other_size},
        {"garbage", garbage},
        {"only a start marker", {0xFF, 0xD8}},
        {"one byte", {0xFF}},
    };
    for (const Bad &b : bad) {
        for (GuardedBuffer::Guard guard : {GuardedBuffer::Guard::kAfterEnd, GuardedBuffer::Guard::kBeforeStart}) {
            sink->Arm();
            auto sample = Guarded(b.bytes, guard);
            EXPECT_EQ(sink->BufferCB(2.0, sample->data(), static_cast<LONG>(b.bytes.size())), S_OK);
            EXPECT_TRUE(FrameMessages(window).size() == 1u) << b.what << ": delivered";
            EXPECT_EQ(d->busy, 0u) << b.what << ": the sink must stay armed";
            EXPECT_EQ(d->sample_time, 1.0) << b.what;
            EXPECT_EQ(d->length, static_cast<int32_t>(frame_bytes)) << b.what;
            EXPECT_EQ(d->data, buffer) << b.what;
        }
    }
    sink->BufferCB(3.0, good->data(), 0);
    sink->BufferCB(3.0, nullptr, static_cast<LONG>(jpeg.size()));
    sink->BufferCB(3.0, good->data(), -1);
    EXPECT_EQ(FrameMessages(window).size(), 1u) << "empty samples are not frames";
    EXPECT_EQ(d->busy, 0u);

    // A good frame after all that is delivered into the same buffer.
    sink->BufferCB(4.0, good->data(), static_cast<LONG>(jpeg.size()));
    ASSERT_EQ(FrameMessages(window).size(), 2u);
    EXPECT_EQ(d->sample_time, 4.0);
    EXPECT_EQ(d->data, buffer) << "no allocation after the first frame";
    EXPECT_EQ(std::memcmp(d->data, expected.data(), frame_bytes), 0);
}

// A sink that is not armed never looks at the sample: it points at an
// inaccessible page here, which any read would fault on. Nor does an MJPG
// sink of a size no frame can have.
TEST_F(FrameSinkTest, DroppedMjpgSamplesAreNeverRead) {
    GuardedBuffer nothing(0, GuardedBuffer::Guard::kAfterEnd);
    ASSERT_NE(nothing.data(), nullptr);
    RecordingWindow window;
    FrameSink *sink = MakeSink(window.handle());
    ASSERT_TRUE(sink->SetFrameFormat(kovic::FrameFormat::kMjpg, 16, 16));
    EXPECT_EQ(sink->BufferCB(0, nothing.data(), 4096), S_OK) << "before the first arming";
    const std::vector<uint8_t> jpeg = kovic_test::EncodeJpeg(kovic_test::TestPicture(16, 16), 16, 16);
    sink->Arm();
    sink->BufferCB(1.0, const_cast<uint8_t *>(jpeg.data()), static_cast<LONG>(jpeg.size()));
    EXPECT_EQ(sink->BufferCB(2.0, nothing.data(), 4096), S_OK) << "after a delivery";
    EXPECT_EQ(FrameMessages(window).size(), 1u);
    EXPECT_EQ(sink->descriptor()->sample_time, 1.0);

    ASSERT_TRUE(sink->SetFrameFormat(kovic::FrameFormat::kMjpg, 0, 16));
    sink->Arm();
    EXPECT_EQ(sink->BufferCB(3.0, nothing.data(), 4096), S_OK) << "no size";
    EXPECT_EQ(sink->descriptor()->busy, 0u);
}

// A first frame that fails halfway still leaves a buffer behind (allocated
// before the decode); what the decode did not reach reads as zeros, never as
// whatever the heap held.
TEST_F(FrameSinkTest, AnMjpgBufferLeftByAFailedFirstFrameHoldsOnlyWhatTheLibraryWrote) {
    RecordingWindow window;
    FrameSink *sink = MakeSink(window.handle());
    ASSERT_TRUE(sink->SetFrameFormat(kovic::FrameFormat::kMjpg, 64, 64));
    const std::vector<uint8_t> jpeg = kovic_test::EncodeJpeg(kovic_test::TestPicture(64, 64), 64, 64);
    std::vector<uint8_t> cut(jpeg.begin(), jpeg.begin() + static_cast<long>(jpeg.size() / 3));
    sink->Arm();
    sink->BufferCB(1.0, cut.data(), static_cast<LONG>(cut.size()));
    const FrameDescriptor *d = sink->descriptor();
    EXPECT_TRUE(FrameMessages(window).empty());
    ASSERT_NE(d->data, nullptr);
    // The picture's bottom rows come first in memory and last in the decode.
    for (size_t i = 0; i < 64 * 3 * 8; ++i) ASSERT_EQ(d->data[i], 0) << i;
}

// The decoder is made with the format, before any frame; when it cannot be
// made the sink says so, and a later try makes it.
TEST_F(FrameSinkTest, AnMjpgSinkMakesItsDecoderWithTheFormat) {
    RecordingWindow window;
    FrameSink *sink = MakeSink(window.handle());
    emu::ResetCallCounts();
    emu::FailCall(emu::Call::LibraryAlloc, E_OUTOFMEMORY);
    EXPECT_FALSE(sink->SetFrameFormat(kovic::FrameFormat::kMjpg, 16, 16));
    emu::ClearFaults();
    EXPECT_TRUE(sink->SetFrameFormat(kovic::FrameFormat::kYuy2, 16, 16)) << "other formats need no decoder";
    const int before = emu::CallCount(emu::Call::LibraryAlloc);
    EXPECT_TRUE(sink->SetFrameFormat(kovic::FrameFormat::kMjpg, 16, 16));
    EXPECT_GT(emu::CallCount(emu::Call::LibraryAlloc), before);

    // Frames then cost one allocation, the first frame's buffer, and no more.
    const std::vector<uint8_t> jpeg = kovic_test::EncodeJpeg(kovic_test::TestPicture(16, 16), 16, 16);
    const int made = emu::CallCount(emu::Call::LibraryAlloc);
    for (int i = 0; i < 3; ++i) {
        sink->Arm();
        sink->BufferCB(i, const_cast<uint8_t *>(jpeg.data()), static_cast<LONG>(jpeg.size()));
    }
    EXPECT_EQ(FrameMessages(window).size(), 3u);
    EXPECT_EQ(emu::CallCount(emu::Call::LibraryAlloc), made + 1);
}

TEST_F(FrameSinkTest, UnknownAnswers) {
    FrameSink *sink = MakeSink(nullptr);
    ISampleGrabberCB *as_callback = sink;
    for (const IID *iid : {&IID_ISampleGrabberCB, &IID_IUnknown}) {
        void *out = nullptr;
        EXPECT_EQ(sink->QueryInterface(*iid, &out), S_OK);
        EXPECT_EQ(out, static_cast<void *>(as_callback));
    }
    void *out = as_callback;
    EXPECT_EQ(sink->QueryInterface(IID_IPin, &out), E_NOINTERFACE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(sink->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(sink->AddRef(), 2u);
        EXPECT_EQ(sink->Release(), 1u);
        EXPECT_EQ(sink->Release(), 1u);
    }
    sink->Arm();
    EXPECT_EQ(sink->SampleCB(1.0, nullptr), S_OK);
    EXPECT_EQ(sink->descriptor()->busy, 0u) << "SampleCB takes no frame";
}

// The 32-bit and 64-bit layouts are fixed by static assertions in the
// header; here what holds on any target.
TEST_F(FrameSinkTest, DescriptorLayout) {
    EXPECT_EQ(offsetof(FrameDescriptor, width), 0u);
    EXPECT_EQ(offsetof(FrameDescriptor, height), 4u);
    EXPECT_EQ(offsetof(FrameDescriptor, data), 8u);
    EXPECT_EQ(offsetof(FrameDescriptor, length), offsetof(FrameDescriptor, data) + sizeof(void *));
    EXPECT_EQ(offsetof(FrameDescriptor, sample_time) % 8, 0u);
    EXPECT_EQ(sizeof(FrameDescriptor::sample_time), 8u);
    EXPECT_EQ(offsetof(FrameDescriptor, busy), offsetof(FrameDescriptor, sample_time) + 8);
    EXPECT_EQ(offsetof(FrameDescriptor, reserved), offsetof(FrameDescriptor, busy) + 4);
    EXPECT_EQ(sizeof(FrameDescriptor), offsetof(FrameDescriptor, reserved) + 4);
}

class FrameDeliveryTest : public EmulatedTest {
protected:
    kovic::CaptureSession *Record(KOVIC_SESSION h) { return kovic::LookUpSession(h); }
    std::vector<const FrameDescriptor *> Frames(RecordingWindow &window) {
        emu::PumpMessages(window.handle());
        std::vector<const FrameDescriptor *> frames;
        for (const auto &m : window.messages)
            if (m.message == KOVIC_MSG_FRAME) frames.push_back(reinterpret_cast<const FrameDescriptor *>(m.wparam));
        return frames;
    }
};

TEST_F(FrameDeliveryTest, SamplesFromTheDeviceReachTheHostUnderTheHandshake) {
    CreateWith({Named(L"Cam")});
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    ASSERT_EQ(KOVICStartPreview(h), 1);
    IBaseFilter *source = Record(h)->graph.device_source();
    IBaseFilter *renderer = Record(h)->graph.null_renderer();
    std::vector<BYTE> frame(640 * 480 * 3);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<BYTE>(i * 7);

    EXPECT_EQ(emu::DeliverSample(source, 0, frame.data(), static_cast<LONG>(frame.size())), S_OK);
    EXPECT_TRUE(Frames(window).empty()) << "a new sink waits to be armed";
    ASSERT_EQ(KOVICGetFrameCall(h), 1);
    EXPECT_EQ(emu::DeliverSample(source, 15000000, frame.data(), static_cast<LONG>(frame.size())), S_OK);
    EXPECT_EQ(emu::DeliverSample(source, 15333333, frame.data(), static_cast<LONG>(frame.size())), S_OK);
    auto frames = Frames(window);
    ASSERT_EQ(frames.size(), 1u);
    const FrameDescriptor *d = frames[0];
    EXPECT_EQ(d, Record(h)->graph.frame_sink()->descriptor());
    EXPECT_EQ(d->width, 640);
    EXPECT_EQ(d->height, 480);
    EXPECT_DOUBLE_EQ(d->sample_time, 1.5);
    ASSERT_EQ(d->length, static_cast<int32_t>(frame.size()));
    EXPECT_EQ(std::memcmp(d->data, frame.data(), frame.size()), 0);
    EXPECT_EQ(emu::RendererSamples(renderer), 3) << "every sample passes on to the renderer";

    ASSERT_EQ(KOVICStopPreview(h), 1);
    ASSERT_EQ(KOVICGetFrameCall(h), 1);
    EXPECT_EQ(emu::DeliverSample(source, 0, frame.data(), 16), VFW_E_WRONG_STATE);
    EXPECT_EQ(Frames(window).size(), 1u) << "a stopped graph delivers nothing";
    // Restarted without a change: same sink, still armed.
    ASSERT_EQ(KOVICStartPreview(h), 1);
    EXPECT_EQ(emu::DeliverSample(source, 0, frame.data(), 16), S_OK);
    EXPECT_EQ(Frames(window).size(), 2u);
    KOVICClose(h);
}

// The connection agrees on the device's format: frames reach the sink in it
// and are converted into RGB24 there, with the descriptor's size taken from
// the connected type. A format the library does not read is connected through
// the graph's converter and arrives as RGB24 to be copied.
TEST_F(FrameDeliveryTest, FramesArriveInTheConnectedFormat) {
    emu::SimulatedDevice i420 = Named(L"I420 camera");
    i420.current_format = {MEDIASUBTYPE_I420, 320, 240};
    emu::SimulatedDevice converted = Named(L"Converted");
    converted.current_format = {kUnreadSubtype, 320, 240};
    converted.connect_route = emu::ConnectRoute::kThroughConverter;
    CreateWith({i420, converted});
    RecordingWindow window;
    std::vector<BYTE> frame(emu::FrameBytes(i420.current_format));
    ASSERT_EQ(frame.size(), 320u * 240 * 3 / 2);
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<BYTE>(i % 251);
    std::vector<uint8_t> expected(320 * 240 * 3);
    ASSERT_TRUE(kovic::ConvertFrameToRgb24(kovic::FrameFormat::kI420, frame.data(), frame.size(), 320, 240,
                                           expected.data(), expected.size()));

    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    ASSERT_EQ(KOVICStartPreview(h), 1);
    KOVICGetFrameCall(h);
    ASSERT_EQ(emu::DeliverSample(Record(h)->graph.device_source(), 0, frame.data(), static_cast<LONG>(frame.size())),
              S_OK);
    auto frames = Frames(window);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->width, 320);
    EXPECT_EQ(frames[0]->height, 240);
    ASSERT_EQ(frames[0]->length, 320 * 240 * 3) << "converted into RGB24";
    EXPECT_EQ(std::memcmp(frames[0]->data, expected.data(), expected.size()), 0);
    KOVICClose(h);
    window.messages.clear();

    h = KOVICOpen(window.as_arg());
    KOVICSelectDevice(h, 1);
    ASSERT_EQ(KOVICStartPreview(h), 1);
    KOVICGetFrameCall(h);
    std::vector<BYTE> compressed(1000, 0x5A);
    ASSERT_EQ(emu::DeliverSample(Record(h)->graph.device_source(), 0, compressed.data(),
                                 static_cast<LONG>(compressed.size())),
              S_OK);
    frames = Frames(window);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(frames[0]->width, 320);
    EXPECT_EQ(frames[0]->height, 240);
    EXPECT_EQ(frames[0]->length, 320 * 240 * 3) << "RGB24 out of the converter";
    EXPECT_EQ(frames[0]->data[0], 0x5A);
    KOVICClose(h);
}

// The session's own descriptor passed back with a length its buffer does not
// hold is refused before any file is touched, so no memory past the buffer
// can reach a file; with its own length it is saved as delivered. A
// descriptor the host made itself is written as the host describes it.
TEST_F(FrameDeliveryTest, ASnapshotOfTheOwnDescriptorNeverReadsPastItsBuffer) {
    emu::SimulatedDevice small = Named(L"Small");
    small.capabilities = {{MEDIASUBTYPE_RGB24, 2, 2}};
    small.current_format = {MEDIASUBTYPE_RGB24, 2, 2};
    CreateWith({small});
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    ASSERT_EQ(KOVICStartPreview(h), 1);
    ASSERT_EQ(KOVICGetFrameCall(h), 1);
    const BYTE pixels[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    ASSERT_EQ(emu::DeliverSample(Record(h)->graph.device_source(), 0, pixels, 16), S_OK);
    auto frames = Frames(window);
    ASSERT_EQ(frames.size(), 1u);
    auto *own = const_cast<FrameDescriptor *>(frames[0]);
    ASSERT_EQ(own->length, 16);

    const std::string file = ::testing::TempDir() + "kovic-own-descriptor.bmp";
    std::remove(file.c_str());
    emu::ResetCallCounts();
    for (int32_t inflated : {17, 4096, INT32_MAX}) {
        own->length = inflated;
        EXPECT_EQ(KOVICSaveSingleFrameBitmap(h, file.c_str(), own), 0) << inflated;
    }
    EXPECT_EQ(emu::CallCount(emu::Call::CreateFile), 0) << "a refused snapshot touched the file system";
    own->length = 16;
    ASSERT_EQ(KOVICSaveSingleFrameBitmap(h, file.c_str(), own), 1);
    std::ifstream in(file, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_EQ(bytes.size(), 54u + 16u);
    EXPECT_EQ(std::memcmp(bytes.data() + 54, pixels, 16), 0);

    // A copy made by the host, pointing at a buffer of its own, is the host's.
    std::vector<unsigned char> mine(4096, 0x5A);
    FrameDescriptor copy = *own;
    copy.data = mine.data();
    copy.length = 4096;
    EXPECT_EQ(KOVICSaveSingleFrameBitmap(h, file.c_str(), &copy), 1);
    std::remove(file.c_str());
    KOVICClose(h);
}

}  // namespace
