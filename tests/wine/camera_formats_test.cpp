// kovic.dll under Wine on cameras that do not offer RGB24 alone: cameras of
// one YUV or RGB32 format, a camera that lists YUY2 first and RGB24 at another
// size, a size offered only in NV12, and a camera whose pin answers no pin
// category. Every frame must reach the host as RGB24 at the size asked for:
// a descriptor that matches the bytes, the picture upright with its colours,
// a BMP snapshot that holds it, and an I420 conversion that accepts it.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <ostream>

#include "e2e_fixture.h"

namespace kovic_wine {
namespace {

// Largest per-channel error of a camera's YUV frame turned into RGB24: the
// camera rounds to studio levels, the library's integer arithmetic rounds
// again (1 level measured). A full-range reading of studio levels is 16 or
// more levels off at black and white, a BT.709 reading or swapped chroma
// much more.
constexpr int kChannelTolerance = 6;

int32_t PaddedRow(int32_t width) { return (width * 3 + 3) & ~3; }

// The colour of picture point (x, y) of an RGB24 frame laid out as the
// descriptor says: rows padded to 4 bytes, a positive height bottom-up.
vcam::Rgb ColourAt(const unsigned char *data, int32_t width, int32_t height, int x, int y) {
    const int32_t rows = height < 0 ? -height : height;
    const int row = height > 0 ? rows - 1 - y : y;
    const unsigned char *p = data + static_cast<size_t>(row) * PaddedRow(width) + 3 * static_cast<size_t>(x);
    return {p[2], p[1], p[0]};
}

// The colour bars, checked inside each bar (away from its edges, where a
// converter may blend chroma) just below the marker, half-way down and on
// the last row: a frame converted only in part, flipped, shifted by a row,
// read with the wrong matrix or range, or with its chroma swapped, fails.
void ExpectBarColours(const unsigned char *data, int32_t width, int32_t height) {
    const int32_t rows = height < 0 ? -height : height;
    for (int y : {vcam::kMarkerTop + vcam::kMarkerPixels + 6, rows / 2, rows - 1}) {
        for (int bar = 0; bar < 8; ++bar) {
            const int x = static_cast<int>((static_cast<int64_t>(2 * bar + 1) * width) / 16);
            const vcam::Rgb expected = vcam::BackgroundColour(x, y, width);
            const vcam::Rgb seen = ColourAt(data, width, height, x, y);
            const int errors[3] = {std::abs(seen.r - expected.r), std::abs(seen.g - expected.g),
                                   std::abs(seen.b - expected.b)};
            for (int error : errors) {
                ASSERT_LE(error, kChannelTolerance)
                    << "bar " << bar << " at (" << x << ", " << y << "): seen " << int(seen.r) << "," << int(seen.g)
                    << "," << int(seen.b) << ", painted " << int(expected.r) << "," << int(expected.g) << ","
                    << int(expected.b);
            }
        }
    }
}

// Saves the frame and reads the file back: a 24-bit BMP of the frame's size
// whose pixel bytes are the frame's and carry the pattern.
void ExpectBitmapOfFrame(KOVIC_SESSION session, const FrameMessage &frame, uint32_t tag) {
    std::vector<unsigned char> file = SaveAndCheckBitmap(session, frame, "kovic-formats-");
    ASSERT_FALSE(file.empty());
    vcam::DecodedPattern pattern = DecodeDeliveredFrame(frame.width, frame.height, file.data() + 54);
    ASSERT_TRUE(pattern.valid) << "the file's picture";
    EXPECT_EQ(pattern.tag, tag);
}

// Converts the frame to I420 into a buffer with a guard after it. A frame
// whose rows carry no padding converts to the pattern, read back as the
// conversion lays it out (mirrored, and upright from a bottom-up frame).
void ExpectI420Conversion(const FrameMessage &frame, uint32_t counter) {
    const int32_t width = frame.width;
    const int32_t rows = frame.height < 0 ? -frame.height : frame.height;
    const size_t planes = static_cast<size_t>(width) * rows * 3 / 2;
    constexpr size_t kGuard = 64;
    std::vector<unsigned char> i420(planes + kGuard, 0xEE);
    ASSERT_EQ(KOVICGetYuvFrame(i420.data(), frame.data, width, rows, frame.length), 1);
    for (size_t at = planes; at < i420.size(); ++at) ASSERT_EQ(i420[at], 0xEE) << "wrote past the planes at " << at;
    if (PaddedRow(width) != width * 3) return;  // the conversion reads rows of exactly 3 x width bytes
    vcam::DecodedPattern converted =
        vcam::DecodePattern(LumaOfConvertedFrame(i420.data(), width, rows, frame.height > 0), width, rows);
    ASSERT_TRUE(converted.valid) << "the I420 planes";
    EXPECT_EQ(converted.counter, counter);
}

class CameraFormatTest : public CaptureTest {
protected:
    // Starts preview and checks three frames: each an RGB24 frame of the
    // expected size (`height` signed as the descriptor must give it) holding
    // the device's pattern, counters rising; the first is saved and
    // converted too. Stops preview.
    void ExpectRgb24Frames(KOVIC_SESSION session, int32_t width, int32_t height, uint32_t tag) {
        ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
        const int32_t rows = height < 0 ? -height : height;
        const unsigned char *first_data = nullptr;
        uint32_t last_counter = 0;
        for (int i = 0; i < 3; ++i) {
            SCOPED_TRACE(testing::Message() << "frame " << i);
            const FrameMessage *frame = NextFrame(session);
            ASSERT_NE(frame, nullptr) << "no frame came";
            // Nothing below may be read by a size the bytes do not have.
            ASSERT_EQ(frame->width, width);
            ASSERT_EQ(frame->height, height);
            ASSERT_EQ(frame->length, PaddedRow(width) * rows) << "the descriptor's size and the bytes disagree";
            ASSERT_NE(frame->data, nullptr);
            vcam::DecodedPattern pattern = DecodeDeliveredFrame(frame->width, frame->height, frame->data);
            ASSERT_TRUE(pattern.valid) << "the delivered picture";
            EXPECT_EQ(pattern.tag, tag) << "another device's frames";
            ExpectBarColours(frame->data, frame->width, frame->height);
            if (i == 0) {
                first_data = frame->data;
                ExpectBitmapOfFrame(session, *frame, tag);
                ExpectI420Conversion(*frame, pattern.counter);
            } else {
                EXPECT_GT(pattern.counter, last_counter) << "the counter advances";
                EXPECT_EQ(frame->data, first_data) << "one buffer per sink";
            }
            last_counter = pattern.counter;
        }
        EXPECT_EQ(KOVICStopPreview(session), KOVIC_OK);
    }
};

// --- Cameras of one format -------------------------------------------------

struct SingleFormatCamera {
    const char *name;
    uint32_t tag;
};

void PrintTo(const SingleFormatCamera &camera, std::ostream *out) { *out << camera.name << ", tag " << camera.tag; }

class SingleFormatCameraTest : public CameraFormatTest, public testing::WithParamInterface<SingleFormatCamera> {};

TEST_P(SingleFormatCameraTest, ItsOwnFormatAndAnotherOfferedSizeArriveAsBottomUpRgb24) {
    const SingleFormatCamera camera = GetParam();
    {
        SCOPED_TRACE("the device's own first format, 640x480");
        KOVIC_SESSION session = OpenOn(camera.name);
        EXPECT_EQ(KOVICGetWidth(session), 640);
        EXPECT_EQ(KOVICGetHeight(session), 480);
        EXPECT_EQ(KOVICEnumVideoFormat(session, 640, 480), 1);
        EXPECT_EQ(KOVICEnumVideoFormat(session, 178, 100), 1);
        EXPECT_EQ(KOVICEnumVideoFormat(session, 320, 240), 0);
        ExpectRgb24Frames(session, 640, 480, camera.tag);
        CloseAsHost(session);
    }
    {
        // Rows of 534 bytes padded to 536; the RGB32 camera stores this size
        // top-down, and converted frames are bottom-up whatever the source.
        SCOPED_TRACE("the requested 178x100");
        KOVIC_SESSION session = OpenOn(camera.name, 178, 100);
        EXPECT_EQ(KOVICGetWidth(session), 178);
        EXPECT_EQ(KOVICGetHeight(session), 100);
        ExpectRgb24Frames(session, 178, 100, camera.tag);
        CloseAsHost(session);
    }
}

INSTANTIATE_TEST_SUITE_P(Cameras, SingleFormatCameraTest,
                         testing::Values(SingleFormatCamera{kYuy2Camera, 7}, SingleFormatCamera{kUyvyCamera, 8},
                                         SingleFormatCamera{kNv12Camera, 9}, SingleFormatCamera{kI420Camera, 10},
                                         SingleFormatCamera{kYv12Camera, 11}, SingleFormatCamera{kRgb32Camera, 12}),
                         [](const testing::TestParamInfo<SingleFormatCamera> &info) {
                             // "Kovic YUY2 Camera" -> "YUY2"
                             std::string name = info.param.name;
                             return name.substr(6, name.find(' ', 6) - 6);
                         });

// --- Mixed cameras -----------------------------------------------------------

using MixedCameraTest = CameraFormatTest;

TEST_F(MixedCameraTest, Yuy2FirstAndRgb24AtAnotherSizeDeliverEachSizeAsAsked) {
    {
        SCOPED_TRACE("no size asked: the device's first format, YUY2 640x480");
        KOVIC_SESSION session = OpenOn(kMixedCamera);
        EXPECT_EQ(KOVICGetWidth(session), 640);
        EXPECT_EQ(KOVICGetHeight(session), 480);
        ExpectRgb24Frames(session, 640, 480, 13);
        CloseAsHost(session);
    }
    {
        // The grabber must not turn the connection back into the device's
        // first-listed 640x480, nor the descriptor say 640x480 over 320x240 bytes.
        SCOPED_TRACE("320x240: the RGB24 capability");
        KOVIC_SESSION session = OpenOn(kMixedCamera, 320, 240);
        EXPECT_EQ(KOVICGetWidth(session), 320);
        EXPECT_EQ(KOVICGetHeight(session), 240);
        ExpectRgb24Frames(session, 320, 240, 13);
        CloseAsHost(session);
    }
    {
        SCOPED_TRACE("640x480 asked for: YUY2");
        KOVIC_SESSION session = OpenOn(kMixedCamera, 640, 480);
        EXPECT_EQ(KOVICEnumVideoFormat(session, 640, 480), 1);
        EXPECT_EQ(KOVICGetWidth(session), 640);
        EXPECT_EQ(KOVICGetHeight(session), 480);
        ExpectRgb24Frames(session, 640, 480, 13);
        CloseAsHost(session);
    }
}

TEST_F(MixedCameraTest, ASizeOfferedOnlyInNv12IsAppliedAndDelivered) {
    KOVIC_SESSION session = OpenOn(kNv12SizeCamera, 640, 480);
    EXPECT_EQ(KOVICEnumVideoFormat(session, 640, 480), 1);
    EXPECT_EQ(KOVICGetWidth(session), 640) << "an offered size is applied, not answered and then ignored";
    EXPECT_EQ(KOVICGetHeight(session), 480);
    ExpectRgb24Frames(session, 640, 480, 14);
    CloseAsHost(session);

    // The size it offers in RGB24 stays RGB24, copied as the device sends it.
    session = OpenOn(kNv12SizeCamera, 320, 240);
    EXPECT_EQ(KOVICGetWidth(session), 320);
    ExpectRgb24Frames(session, 320, 240, 14);
}

// --- A pin without a category -------------------------------------------------

using UncategorisedCameraTest = CameraFormatTest;

TEST_F(UncategorisedCameraTest, SizesAreAnsweredAppliedAndDeliveredThroughThePinItself) {
    {
        SCOPED_TRACE("no size asked");
        KOVIC_SESSION session = OpenOn(kUncategorisedCamera);
        EXPECT_EQ(KOVICGetWidth(session), 640) << "the stream configuration was found on the pin";
        EXPECT_EQ(KOVICGetHeight(session), 480);
        EXPECT_EQ(KOVICEnumVideoFormat(session, 640, 480), 1);
        EXPECT_EQ(KOVICEnumVideoFormat(session, 320, 240), 1);
        EXPECT_EQ(KOVICEnumVideoFormat(session, 800, 600), 0);
        ExpectRgb24Frames(session, 640, 480, 15);
        CloseAsHost(session);
    }
    {
        SCOPED_TRACE("320x240 asked for");
        KOVIC_SESSION session = OpenOn(kUncategorisedCamera, 320, 240);
        EXPECT_EQ(KOVICGetWidth(session), 320);
        EXPECT_EQ(KOVICGetHeight(session), 240);
        ExpectRgb24Frames(session, 320, 240, 15);
        CloseAsHost(session);
    }
}

}  // namespace
}  // namespace kovic_wine
