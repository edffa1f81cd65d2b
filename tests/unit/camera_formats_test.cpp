// Cameras that deliver something other than RGB24, through the exports: a
// camera of each format, cameras that mix formats and sizes, and one whose pin
// reports no category. Every delivered frame must be the device's test pattern
// as bottom-up RGB24 (bars in order, the counter of that frame, upright),
// described truthfully, written as a valid BMP and accepted by the I420
// conversion.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frames/frame_to_rgb24.h"
#include "frames/mjpeg_decoder.h"
#include "session/capture_session.h"
#include "session/live_sessions.h"
#include "support/emulated_fixture.h"
#include "support/jpeg_test_frames.h"

using kovic_test::EmulatedTest;
using kovic_test::kUnreadSubtype;
using kovic_test::RecordingWindow;

namespace {

kovic::CaptureSession *Record(KOVIC_SESSION h) { return kovic::LookUpSession(h); }

int32_t Rows(int32_t height) { return height < 0 ? -height : height; }
size_t PaddedRow(int32_t width) { return (static_cast<size_t>(width) * 3 + 3) & ~static_cast<size_t>(3); }

// The pattern of frame n as the host should see it: bottom-up padded RGB24.
std::vector<uint8_t> ExpectedPicture(int32_t width, int32_t height, uint32_t frame_number) {
    emu::SimulatedFormat rgb{MEDIASUBTYPE_RGB24, width, Rows(height)};
    std::vector<uint8_t> picture(emu::FrameBytes(rgb));
    EXPECT_TRUE(emu::DrawTestPattern(rgb, frame_number, picture.data(), picture.size()));
    return picture;
}

// Compares a delivered picture with the pattern. YUV chroma is shared by a
// pixel pair (and a row pair), so only pixels whose chroma source holds the
// same colour are compared, and those within the rounding of a round trip
// through limited-range YUV. They must be most of the picture, so a picture
// upside down, shifted, or of another frame's counter cannot pass.
void ExpectPattern(const uint8_t *got, const std::vector<uint8_t> &want, int32_t width, int32_t rows, int tolerance,
                   const std::string &what) {
    const size_t stride = PaddedRow(width);
    auto at = [&](const uint8_t *p, int32_t x, int32_t y) {
        return p + static_cast<size_t>(rows - 1 - y) * stride + 3 * static_cast<size_t>(x);
    };
    auto same = [&](int32_t x0, int32_t y0, int32_t x1, int32_t y1) {
        return std::memcmp(at(want.data(), x0, y0), at(want.data(), x1, y1), 3) == 0;
    };
    size_t compared = 0, wrong = 0;
    for (int32_t y = 0; y < rows; ++y) {
        for (int32_t x = 0; x < width; ++x) {
            const int32_t cx = x & ~1, cy = y & ~1;
            if (!same(x, y, cx, y) || !same(x, y, cx, cy) || !same(x, y, x, cy)) continue;
            ++compared;
            for (int c = 0; c < 3; ++c) {
                const int d = at(got, x, y)[c] - at(want.data(), x, y)[c];
                if (d > tolerance || d < -tolerance) {
                    if (++wrong <= 3) ADD_FAILURE() << what << ": pixel " << x << "," << y << " channel " << c;
                    break;
                }
            }
        }
    }
    EXPECT_EQ(wrong, 0u) << what;
    EXPECT_GT(compared * 10, static_cast<size_t>(width) * rows * 8) << what << ": too few pixels to judge";
}

class CameraFormatsTest : public EmulatedTest {
protected:
    static emu::SimulatedDevice Camera(const wchar_t *name, std::vector<emu::SimulatedFormat> caps) {
        emu::SimulatedDevice d = Named(name);
        d.capabilities = caps;
        d.current_format = caps.front();
        return d;
    }
    // Arms the sink, pushes the pattern's frame n in the connected format and
    // returns the descriptor the frame message points at (null when none came).
    const FrameDescriptor *Push(KOVIC_SESSION h, RecordingWindow &window, const emu::SimulatedFormat &format,
                                uint32_t frame_number) {
        std::vector<BYTE> frame(emu::FrameBytes(format));
        EXPECT_TRUE(emu::DrawTestPattern(format, frame_number, frame.data(), frame.size()));
        window.messages.clear();
        EXPECT_EQ(KOVICGetFrameCall(h), 1);
        EXPECT_EQ(emu::DeliverSample(Record(h)->graph.device_source(), frame_number * 333333LL, frame.data(),
                                     static_cast<LONG>(frame.size())),
                  S_OK);
        emu::PumpMessages(window.handle());
        const FrameDescriptor *d = nullptr;
        for (const auto &m : window.messages)
            if (m.message == KOVIC_MSG_FRAME) d = reinterpret_cast<const FrameDescriptor *>(m.wparam);
        return d;
    }
    // The descriptor, a BMP of it and its I420 conversion for a frame of
    // width x rows, converted (positive height) or not.
    static void ExpectConsistent(KOVIC_SESSION h, const FrameDescriptor &d, int32_t width, int32_t height,
                                 const std::string &what) {
        SCOPED_TRACE(what);
        EXPECT_EQ(d.width, width);
        EXPECT_EQ(d.height, height);
        ASSERT_NE(d.data, nullptr);
        ASSERT_EQ(d.length, static_cast<int32_t>(PaddedRow(width) * static_cast<size_t>(Rows(height))));
        EXPECT_EQ(KOVICGetWidth(h), width);
        EXPECT_EQ(KOVICGetHeight(h), Rows(height));

        const std::string file = ::testing::TempDir() + "kovic-camera-format.bmp";
        ASSERT_EQ(KOVICSaveSingleFrameBitmap(h, file.c_str(), &d), 1);
        std::ifstream in(file, std::ios::binary);
        std::vector<unsigned char> bmp((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::remove(file.c_str());
        ASSERT_EQ(bmp.size(), 54u + static_cast<size_t>(d.length));
        auto u32 = [&](size_t at) {
            return static_cast<uint32_t>(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 | bmp[at + 3] << 24);
        };
        EXPECT_EQ(bmp[0], 'B');
        EXPECT_EQ(bmp[1], 'M');
        EXPECT_EQ(u32(2), bmp.size());
        EXPECT_EQ(static_cast<int32_t>(u32(18)), width);
        EXPECT_EQ(static_cast<int32_t>(u32(22)), height);
        EXPECT_EQ(bmp[28], 24);
        EXPECT_EQ(std::memcmp(bmp.data() + 54, d.data, static_cast<size_t>(d.length)), 0);

        if (width % 2 == 0 && height % 2 == 0 && PaddedRow(width) == static_cast<size_t>(width) * 3) {
            std::vector<unsigned char> i420(static_cast<size_t>(width) * Rows(height) * 3 / 2);
            EXPECT_EQ(KOVICGetYuvFrame(i420.data(), d.data, width, Rows(height), d.length), 1);
        }
    }
};

// A camera whose only format is each of the formats the library converts, at
// an even size and at one whose RGB24 rows need padding and whose chroma has a
// lone last column and row; RGB32 both bottom-up and top-down; RGB24 as a copy.
TEST_F(CameraFormatsTest, ACameraOfEachFormatDeliversThePatternAsRgb24) {
    struct Case {
        const GUID *subtype;
        const char *name;
        int tolerance;
    };
    const Case cases[] = {{&MEDIASUBTYPE_YUY2, "YUY2", 6},  {&MEDIASUBTYPE_UYVY, "UYVY", 6},
                          {&MEDIASUBTYPE_NV12, "NV12", 6},  {&MEDIASUBTYPE_I420, "I420", 6},
                          {&MEDIASUBTYPE_IYUV, "IYUV", 6},  {&MEDIASUBTYPE_YV12, "YV12", 6},
                          {&MEDIASUBTYPE_RGB32, "RGB32", 0}};
    RecordingWindow window;
    for (const Case &c : cases) {
        for (auto size : {std::pair<int32_t, int32_t>{320, 240}, {177, 99}, {64, -48}}) {
            const std::string what = std::string(c.name) + " " + std::to_string(size.first) + "x" +
                                     std::to_string(size.second);
            SCOPED_TRACE(what);
            emu::SimulatedFormat format{*c.subtype, size.first, size.second};
            CreateWith({Camera(L"Only", {format})});
            KOVIC_SESSION h = KOVICOpen(window.as_arg());
            ASSERT_EQ(KOVICStartPreview(h), 1);
            const int32_t rows = Rows(size.second);
            for (uint32_t n : {41u, 42u}) {
                const FrameDescriptor *d = Push(h, window, format, n);
                ASSERT_NE(d, nullptr);
                ExpectConsistent(h, *d, size.first, rows, what);
                ExpectPattern(d->data, ExpectedPicture(size.first, rows, n), size.first, rows, c.tolerance,
                              what + " frame " + std::to_string(n));
            }
            KOVICClose(h);
        }
    }
    // RGB24 is copied as it is, a top-down height kept negative.
    emu::SimulatedFormat top_down{MEDIASUBTYPE_RGB24, 64, -48};
    CreateWith({Camera(L"RGB24", {top_down})});
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    ASSERT_EQ(KOVICStartPreview(h), 1);
    const FrameDescriptor *d = Push(h, window, top_down, 3);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->height, -48);
    std::vector<BYTE> sent(emu::FrameBytes(top_down));
    emu::DrawTestPattern(top_down, 3, sent.data(), sent.size());
    ASSERT_EQ(d->length, static_cast<int32_t>(sent.size()));
    EXPECT_EQ(std::memcmp(d->data, sent.data(), sent.size()), 0);
    KOVICClose(h);
}

// YUY2 640x480 listed first (the current format) and RGB24 320x240: without a
// size the frames are YUY2 converted at 640x480; asked for 320x240 they are
// RGB24 at that size. The grabber keeps the format it was connected in, so the
// descriptor always tells the frames' own size.
TEST_F(CameraFormatsTest, AMixedCameraDeliversTheSizeItDescribes) {
    const emu::SimulatedFormat yuy2{MEDIASUBTYPE_YUY2, 640, 480}, rgb{MEDIASUBTYPE_RGB24, 320, 240};
    CreateWith({Camera(L"Mixed", {yuy2, rgb})});
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    ASSERT_EQ(KOVICStartPreview(h), 1);
    const FrameDescriptor *d = Push(h, window, yuy2, 5);
    ASSERT_NE(d, nullptr);
    ExpectConsistent(h, *d, 640, 480, "default");
    ExpectPattern(d->data, ExpectedPicture(640, 480, 5), 640, 480, 6, "default");
    KOVICClose(h);

    h = KOVICOpen(window.as_arg());
    KOVICSetVideoFormat(h, 320, 240);
    ASSERT_EQ(KOVICStartPreview(h), 1);
    d = Push(h, window, rgb, 6);
    ASSERT_NE(d, nullptr);
    ExpectConsistent(h, *d, 320, 240, "asked 320x240");
    ExpectPattern(d->data, ExpectedPicture(320, 240, 6), 320, 240, 0, "asked 320x240");
    KOVICClose(h);
}

// A camera that lists every capability whatever was set, its first-listed
// size first: asked for its second size, that is the size delivered.
TEST_F(CameraFormatsTest, ACameraListingItsFirstSizeFirstStillDeliversTheAskedSize) {
    const emu::SimulatedFormat big{MEDIASUBTYPE_YUY2, 640, 480}, small{MEDIASUBTYPE_YUY2, 320, 240};
    emu::SimulatedDevice camera = Camera(L"Lists All", {big, small});
    camera.enumerates_capabilities_only = true;
    CreateWith({camera});
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    KOVICSetVideoFormat(h, 320, 240);
    ASSERT_EQ(KOVICStartPreview(h), 1);
    const FrameDescriptor *d = Push(h, window, small, 9);
    ASSERT_NE(d, nullptr);
    ExpectConsistent(h, *d, 320, 240, "asked 320x240");
    ExpectPattern(d->data, ExpectedPicture(320, 240, 9), 320, 240, 6, "asked 320x240");
    KOVICClose(h);
}

// A size offered only in NV12 is listed and applied; a size offered in three
// converted formats takes the fastest; a pin that reports no category still
// has its sizes listed and applied.
TEST_F(CameraFormatsTest, SizesOfferedOnlyInAnotherFormatAreListedAndApplied) {
    const emu::SimulatedFormat yuy2{MEDIASUBTYPE_YUY2, 640, 480}, nv12{MEDIASUBTYPE_NV12, 1280, 720};
    emu::SimulatedFormat slow{MEDIASUBTYPE_UYVY, 176, 144}, fast{MEDIASUBTYPE_YV12, 176, 144};
    slow.frames_per_second = 15;
    fast.frames_per_second = 60;
    emu::SimulatedDevice camera = Camera(L"Mostly YUY2", {yuy2, nv12, slow, fast});
    emu::SimulatedDevice uncategorised = camera;
    uncategorised.friendly_name = L"No Category";
    uncategorised.pins_report_category = false;
    CreateWith({camera, uncategorised});
    RecordingWindow window;
    for (int device : {0, 1}) {
        SCOPED_TRACE(device);
        KOVIC_SESSION h = KOVICOpen(window.as_arg());
        KOVICSelectDevice(h, device);
        EXPECT_EQ(KOVICEnumVideoFormat(h, 1280, 720), 1);
        EXPECT_EQ(KOVICEnumVideoFormat(h, 1920, 1080), 0);
        KOVICSetVideoFormat(h, 1280, 720);
        ASSERT_EQ(KOVICStartPreview(h), 1);
        const FrameDescriptor *d = Push(h, window, nv12, 12);
        ASSERT_NE(d, nullptr);
        ExpectConsistent(h, *d, 1280, 720, "NV12 only");
        ExpectPattern(d->data, ExpectedPicture(1280, 720, 12), 1280, 720, 6, "NV12 only");
        KOVICStopPreview(h);

        KOVICSetVideoFormat(h, 176, 144);
        ASSERT_EQ(KOVICStartPreview(h), 1);
        d = Push(h, window, fast, 13);
        ASSERT_NE(d, nullptr) << "connected in YV12, the faster format";
        ExpectConsistent(h, *d, 176, 144, "YV12 at 60");
        ExpectPattern(d->data, ExpectedPicture(176, 144, 13), 176, 144, 6, "YV12 at 60");
        EXPECT_STREQ(Record(h)->last_error, "");
        KOVICClose(h);
    }
}

// A sample shorter than its format needs is not delivered: nothing is read of
// it and the sink stays armed for the next one.
TEST_F(CameraFormatsTest, AShortSampleIsNotDelivered) {
    const emu::SimulatedFormat nv12{MEDIASUBTYPE_NV12, 64, 48};
    CreateWith({Camera(L"NV12", {nv12})});
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    ASSERT_EQ(KOVICStartPreview(h), 1);
    ASSERT_EQ(KOVICGetFrameCall(h), 1);
    std::vector<BYTE> frame(emu::FrameBytes(nv12));
    emu::DrawTestPattern(nv12, 1, frame.data(), frame.size());
    IBaseFilter *source = Record(h)->graph.device_source();
    ASSERT_EQ(emu::DeliverSample(source, 0, frame.data(), static_cast<LONG>(frame.size() - 1)), S_OK);
    EXPECT_EQ(emu::PumpMessages(window.handle()), 0);
    EXPECT_EQ(Record(h)->graph.frame_sink()->descriptor()->busy, 0u) << "still armed";
    EXPECT_EQ(Record(h)->graph.frame_sink()->descriptor()->data, nullptr);
    ASSERT_EQ(emu::DeliverSample(Record(h)->graph.device_source(), 0, frame.data(), static_cast<LONG>(frame.size())),
              S_OK);
    EXPECT_EQ(emu::PumpMessages(window.handle()), 1);
    KOVICClose(h);
}

// A format the library does not read goes through the graph's converter as
// RGB24; with no converter on the way the start fails at the connection.
TEST_F(CameraFormatsTest, AFormatTheLibraryDoesNotReadNeedsTheGraphsConverter) {
    emu::SimulatedDevice unread = Camera(L"H264", {{kUnreadSubtype, 320, 240}});
    unread.connect_route = emu::ConnectRoute::kThroughConverter;
    emu::SimulatedDevice stuck = Camera(L"No converter", {{kUnreadSubtype, 320, 240}});
    stuck.connect_route = emu::ConnectRoute::kRefused;
    CreateWith({unread, stuck});
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    ASSERT_EQ(KOVICStartPreview(h), 1);
    EXPECT_EQ(emu::FilterNames(Record(h)->graph.filter_graph()).back(), L"Colour Converter");
    const FrameDescriptor *d = Record(h)->graph.frame_sink()->descriptor();
    EXPECT_EQ(d->width, 320);
    EXPECT_EQ(d->height, 240);
    KOVICClose(h);

    h = KOVICOpen(window.as_arg());
    KOVICSelectDevice(h, 1);
    EXPECT_EQ(KOVICStartPreview(h), KOVIC_E_CONNECT_SOURCE_GRABBER);
    KOVICClose(h);
}

// A camera that offers 1280x720 as MJPG at 30 frames/s and as YUY2 at 10 is
// captured in MJPG at 30: the chain is connected in MJPG (no converter), and
// the sink decodes each frame into the bottom-up RGB24 the host receives.
TEST_F(CameraFormatsTest, AnMjpgCameraIsCapturedAtItsFasterRateAndDecodedByTheLibrary) {
    emu::SimulatedFormat mjpg{MEDIASUBTYPE_MJPG, 1280, 720}, yuy2{MEDIASUBTYPE_YUY2, 1280, 720};
    mjpg.frames_per_second = 30;
    yuy2.frames_per_second = 10;
    emu::SimulatedDevice camera = Camera(L"Webcam", {{MEDIASUBTYPE_YUY2, 640, 480}, yuy2, mjpg});
    CreateWith({camera});
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    EXPECT_EQ(KOVICEnumVideoFormat(h, 1280, 720), 1);
    KOVICSetVideoFormat(h, 1280, 720);
    ASSERT_EQ(KOVICStartPreview(h), 1);
    const std::vector<std::wstring> filters = emu::FilterNames(Record(h)->graph.filter_graph());
    EXPECT_EQ(filters, (std::vector<std::wstring>{L"Webcam", L"Sample Grabber", L"Null Renderer"}));
    const FrameDescriptor *d = Record(h)->graph.frame_sink()->descriptor();
    EXPECT_EQ(d->width, 1280);
    EXPECT_EQ(d->height, 720);

    const std::vector<uint8_t> picture = kovic_test::TestPicture(1280, 720);
    const std::vector<uint8_t> jpeg =
        kovic_test::EncodeJpeg(picture, 1280, 720, {kovic_test::Chroma::k422, 90});
    ASSERT_EQ(KOVICGetFrameCall(h), 1);
    ASSERT_EQ(emu::DeliverSample(Record(h)->graph.device_source(), 0, jpeg.data(), static_cast<LONG>(jpeg.size())),
              S_OK);
    emu::PumpMessages(window.handle());
    ASSERT_EQ(window.messages.size(), 2u);  // "Preview Start" and the frame
    ASSERT_EQ(window.messages.back().message, static_cast<UINT>(KOVIC_MSG_FRAME));
    ASSERT_NE(d->data, nullptr);
    ASSERT_EQ(d->length, 1280 * 3 * 720);
    // Upright and close to the encoded picture: the top row of the picture is
    // the last row in memory.
    int worst = 0;
    for (int y = 0; y < 720; y += 7) {
        for (int x = 0; x < 1280; x += 5) {
            const uint8_t *got = d->data + static_cast<size_t>(719 - y) * 3840 + 3 * static_cast<size_t>(x);
            const uint8_t *want = &picture[(static_cast<size_t>(y) * 1280 + x) * 3];
            for (int c = 0; c < 3; ++c) worst = std::max(worst, std::abs(got[c] - want[c]));
        }
    }
    EXPECT_LE(worst, 12);
    KOVICClose(h);
}

// The sink's decoder is made when the chain is connected; when it cannot be,
// the build fails as a sink that cannot be set up does, and leaves no sink.
TEST_F(CameraFormatsTest, AnMjpgSinkWithoutItsDecoderFailsTheBuild) {
    CreateWith({Camera(L"Webcam", {{MEDIASUBTYPE_MJPG, 320, 240}})});
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    emu::ResetCallCounts();
    emu::FailCall(emu::Call::LibraryAlloc, E_OUTOFMEMORY, 2);  // the first is the sink itself
    EXPECT_EQ(KOVICStartPreview(h), KOVIC_E_REGISTER_SINK);
    EXPECT_EQ(emu::FaultsFired(), 1);
    EXPECT_EQ(Record(h)->graph.frame_sink(), nullptr);
    EXPECT_EQ(KOVICGetFrameCall(h), KOVIC_E_NO_FRAME_SINK);
    emu::ClearFaults();
    EXPECT_EQ(KOVICStartPreview(h), 1);
    KOVICClose(h);
}

}  // namespace
