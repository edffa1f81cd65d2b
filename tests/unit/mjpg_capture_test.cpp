// MJPG cameras end to end on the emulated platform: streaming devices that
// send the test pattern as JPEG pictures (with and without Huffman tables,
// some corrupt) and the frames the host receives from them, decoded by the
// library into bottom-up RGB24.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "frames/frame_to_rgb24.h"
#include "frames/mjpeg_decoder.h"
#include "session/capture_session.h"
#include "session/live_sessions.h"
#include "support/emulated_fixture.h"
#include "support/jpeg_test_frames.h"

using kovic_test::EmulatedTest;
using kovic_test::RecordingWindow;

namespace {

// The pattern of frame n as the host should see it: bottom-up padded RGB24.
std::vector<uint8_t> ExpectedPicture(int32_t width, int32_t rows, uint32_t frame_number) {
    emu::SimulatedFormat rgb{MEDIASUBTYPE_RGB24, width, rows};
    std::vector<uint8_t> picture(emu::FrameBytes(rgb));
    EXPECT_TRUE(emu::DrawTestPattern(rgb, frame_number, picture.data(), picture.size()));
    return picture;
}

// Compares a decoded frame with the pattern of frame n. JPEG's loss spreads
// over a block of the coded picture (16 x 8 pixels at 4:2:2), and chroma
// sampling and its interpolation reach a few pixels across, so the pixels are
// compared where the pattern is one colour over the whole block, four pixels
// to each side and one above and below; most of the picture is such blocks. The
// counter's box is told apart from that of the frames before and after: the
// picture must be nearer to its own frame's counter there, so a picture of
// another frame, or one upside down, fails.
void ExpectJpegPattern(const uint8_t *got, int32_t width, int32_t rows, uint32_t n, const std::string &what) {
    SCOPED_TRACE(what + " frame " + std::to_string(n));
    const size_t stride = kovic::Rgb24RowBytes(width);
    const std::vector<uint8_t> want = ExpectedPicture(width, rows, n);
    auto at = [&](const uint8_t *p, int32_t x, int32_t y) {
        return p + static_cast<size_t>(rows - 1 - y) * stride + 3 * static_cast<size_t>(x);
    };
    size_t blocks = 0, compared = 0, wrong = 0;
    for (int32_t by = 0; by < rows; by += 8) {
        for (int32_t bx = 0; bx < width; bx += 16) {
            ++blocks;
            const int32_t x0 = std::max(bx - 4, 0), x1 = std::min(bx + 20, width);
            const int32_t y0 = std::max(by - 1, 0), y1 = std::min(by + 9, rows);
            const uint8_t *colour = at(want.data(), bx, by);
            bool uniform = true;
            for (int32_t y = y0; y < y1 && uniform; ++y) {
                for (int32_t x = x0; x < x1 && uniform; ++x) uniform = std::equal(colour, colour + 3, at(want.data(), x, y));
            }
            if (!uniform) continue;
            ++compared;
            for (int32_t y = by; y < std::min(by + 8, rows); ++y) {
                for (int32_t x = bx; x < std::min(bx + 16, width); ++x) {
                    for (int c = 0; c < 3; ++c) {
                        if (std::abs(at(got, x, y)[c] - colour[c]) > 10 && ++wrong <= 3) {
                            ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": "
                                          << int(at(got, x, y)[c]) << " for " << int(colour[c]);
                        }
                    }
                }
            }
        }
    }
    EXPECT_EQ(wrong, 0u);
    EXPECT_GT(compared * 4, blocks) << "too few blocks to judge";

    // The counter's box: its top left 25 x 7 font cells of rows / 64 pixels.
    const int32_t scale = std::max(1, rows / 64);
    auto distance = [&](const std::vector<uint8_t> &other) {
        uint64_t sum = 0;
        for (int32_t y = 0; y < 7 * scale; ++y) {
            for (int32_t x = 0; x < 25 * scale; ++x) {
                for (int c = 0; c < 3; ++c) sum += static_cast<uint64_t>(std::abs(at(got, x, y)[c] - at(other.data(), x, y)[c]));
            }
        }
        return sum;
    };
    const uint64_t own = distance(want);
    EXPECT_LT(own, distance(ExpectedPicture(width, rows, n + 1))) << "looks like the next frame";
    if (n > 0) {
        EXPECT_LT(own, distance(ExpectedPicture(width, rows, n - 1))) << "looks like the previous frame";
    }
}

class MjpgCaptureTest : public EmulatedTest {
protected:
    static emu::SimulatedDevice Streaming(int32_t width, int32_t height, double fps) {
        emu::SimulatedDevice d = Named(L"Webcam");
        d.capabilities = {{MEDIASUBTYPE_MJPG, width, height}};
        d.current_format = d.capabilities.front();
        d.frames_per_second = fps;
        d.streams_test_pattern = true;
        return d;
    }
    // Arms the sink and waits for the next frame; null when none comes in time.
    static const FrameDescriptor *NextFrame(KOVIC_SESSION h, RecordingWindow &window) {
        window.messages.clear();
        EXPECT_EQ(KOVICGetFrameCall(h), 1);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            emu::WaitAndDispatchMessage(window.handle(), 100);
            for (const auto &m : window.messages) {
                if (m.message == KOVIC_MSG_FRAME) return reinterpret_cast<const FrameDescriptor *>(m.wparam);
            }
        }
        return nullptr;
    }
    static uint32_t FrameNumber(const FrameDescriptor &d, double fps) {
        const double interval = std::floor(10000000.0 / fps) * 1e-7;
        return static_cast<uint32_t>(std::llround(d.sample_time / interval));
    }
};

// Every size a USB 2 webcam sends as MJPG, with and without Huffman tables:
// each delivered frame is the pattern of its own frame, upright, as RGB24
// rows padded to whole words, and later frames count on.
TEST_F(MjpgCaptureTest, StreamedFramesDecodeToThePattern) {
    const int32_t sizes[][2] = {{640, 480}, {1280, 720}, {1920, 1080}};
    for (const auto &size : sizes) {
        for (bool tables : {true, false}) {
            const std::string what = std::to_string(size[0]) + "x" + std::to_string(size[1]) +
                                     (tables ? "" : " without Huffman tables");
            emu::SimulatedDevice camera = Streaming(size[0], size[1], 60);
            camera.jpeg_huffman_tables = tables;
            CreateWith({camera});
            RecordingWindow window;
            KOVIC_SESSION h = KOVICOpen(window.as_arg());
            ASSERT_EQ(KOVICStartPreview(h), 1) << what;
            uint32_t last = 0;
            for (int i = 0; i < 2; ++i) {
                const FrameDescriptor *d = NextFrame(h, window);
                ASSERT_NE(d, nullptr) << what;
                ASSERT_EQ(d->width, size[0]);
                ASSERT_EQ(d->height, size[1]);
                ASSERT_EQ(d->length, static_cast<int32_t>(kovic::Rgb24RowBytes(size[0]) * size[1]));
                const uint32_t n = FrameNumber(*d, 60);
                if (i > 0) {
        EXPECT_GT(n, last) << what;
    }
                last = n;
                ExpectJpegPattern(d->data, size[0], size[1], n, what);
            }
            KOVICClose(h);
            emu::ClearDevices();
        }
    }
}

// A device that sends every second frame cut short or damaged: only the good
// frames reach the host, each the next good one after its arming.
TEST_F(MjpgCaptureTest, CorruptFramesAreSkipped) {
    emu::SimulatedDevice camera = Streaming(320, 240, 200);
    camera.corrupt_jpeg_every = 2;  // frames 1, 3, 5, ...
    CreateWith({camera});
    RecordingWindow window;
    KOVIC_SESSION h = KOVICOpen(window.as_arg());
    ASSERT_EQ(KOVICStartPreview(h), 1);
    uint32_t last = 0;
    for (int i = 0; i < 12; ++i) {
        const FrameDescriptor *d = NextFrame(h, window);
        ASSERT_NE(d, nullptr);
        const uint32_t n = FrameNumber(*d, 200);
        EXPECT_EQ(n % 2, 0u) << "frame " << n << " is corrupt and must not be delivered";
        if (i > 0) {
        EXPECT_GT(n, last);
    }
        last = n;
        ExpectJpegPattern(d->data, 320, 240, n, "320x240");
    }
    KOVICClose(h);
}

// The device's pictures: of varying length within the format's frame size,
// with the Huffman tables as asked, and the corrupt ones refused by the
// decoder in both kinds of damage while the good ones between decode.
TEST_F(MjpgCaptureTest, TheDevicesPicturesAndTheirDamage) {
    const emu::SimulatedFormat format{MEDIASUBTYPE_MJPG, 352, 288};
    const size_t capacity = emu::FrameBytes(format);
    std::vector<BYTE> a(capacity), b(capacity);
    const size_t a_bytes = emu::EncodeTestPatternJpeg(format, 0, true, a.data(), a.size());
    const size_t b_bytes = emu::EncodeTestPatternJpeg(format, 0, false, b.data(), b.size());
    ASSERT_GT(a_bytes, 0u);
    ASSERT_GT(b_bytes, 0u);
    a.resize(a_bytes);
    b.resize(b_bytes);
    EXPECT_TRUE(kovic_test::HasSegment(a, 0xC4));
    EXPECT_FALSE(kovic_test::HasSegment(b, 0xC4));
    EXPECT_TRUE(kovic_test::HasSegment(b, 0xDB)) << "quantisation tables are always sent";
    EXPECT_EQ(kovic_test::WithoutSegments(a, 0xC4), b) << "the same picture, less its tables";
    EXPECT_EQ(emu::EncodeTestPatternJpeg(format, 0, true, a.data(), a_bytes - 1), 0u) << "a buffer too small";

    kovic::MjpegDecoderPtr decoder = kovic::MjpegDecoder::Create();
    ASSERT_TRUE(decoder);
    std::vector<uint8_t> frame(kovic::Rgb24RowBytes(352) * 288);
    const uint32_t every = 3;
    for (uint32_t n = 0; n < 4 * every; ++n) {
        std::vector<BYTE> jpeg(capacity);
        size_t bytes = emu::EncodeTestPatternJpeg(format, n, n % 2 == 0, jpeg.data(), jpeg.size());
        ASSERT_GT(bytes, 0u);
        const size_t whole = bytes;
        bytes = emu::CorruptJpegFrame(n, every, jpeg.data(), bytes);
        const bool corrupt = n % every == every - 1;
        if (corrupt) {
        EXPECT_EQ(bytes < whole, (n / every) % 2 == 0) << n << ": cut short, or damaged in place";
    }
        EXPECT_EQ(decoder->Decode(jpeg.data(), bytes, 352, 288, frame.data(), frame.size()), !corrupt) << n;
        if (!corrupt) ExpectJpegPattern(frame.data(), 352, 288, n, "352x288");
    }
}

}  // namespace
