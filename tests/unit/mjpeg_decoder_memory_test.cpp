// The MJPG decoder's working memory, through the library's allocator on the
// emulated platform: a decoder made for a width holds it from the start;
// otherwise the first frame of a size allocates it, later frames of that size
// (or smaller) allocate nothing; and running out of memory at any
// allocation of a frame fails that frame alone: the next one decodes to the
// same picture a fresh decoder gives.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "frames/frame_to_rgb24.h"
#include "frames/mjpeg_decoder.h"
#include "platform/emulated/host_api.h"
#include "support/jpeg_test_frames.h"

namespace {

using kovic_test::Chroma;
using kovic_test::EncodeJpeg;
using kovic_test::JpegOptions;
using kovic_test::TestPicture;

struct Frame {
    int width, height;
    std::vector<uint8_t> jpeg;
    std::vector<uint8_t> Decoded(kovic::MjpegDecoder &decoder, bool *ok) const {
        std::vector<uint8_t> out(kovic::Rgb24RowBytes(width) * static_cast<size_t>(height));
        *ok = decoder.Decode(jpeg.data(), jpeg.size(), width, height, out.data(), out.size());
        return out;
    }
};

Frame Encoded(int width, int height, Chroma chroma) {
    JpegOptions options;
    options.chroma = chroma;
    options.quality = 85;
    return {width, height, EncodeJpeg(TestPicture(width, height), width, height, options)};
}

class MjpegDecoderMemoryTest : public ::testing::Test {
protected:
    void SetUp() override { emu::ResetPlatform(); }
    void TearDown() override { emu::ClearFaults(); }
};

TEST_F(MjpegDecoderMemoryTest, OnlyTheFirstFrameOfASizeAllocates) {
    const Frame large = Encoded(1920, 1080, Chroma::k422);
    const Frame small = Encoded(640, 480, Chroma::k420);
    kovic::MjpegDecoderPtr decoder = kovic::MjpegDecoder::Create();
    ASSERT_NE(decoder, nullptr);
    bool ok = false;
    emu::ResetCallCounts();
    large.Decoded(*decoder, &ok);
    ASSERT_TRUE(ok);
    EXPECT_GT(emu::CallCount(emu::Call::LibraryAlloc), 0) << "the working memory comes from the library's allocator";
    emu::ResetCallCounts();
    for (const Frame *frame : {&large, &small, &large, &small, &large}) {
        frame->Decoded(*decoder, &ok);
        EXPECT_TRUE(ok) << frame->width;
    }
    EXPECT_EQ(emu::CallCount(emu::Call::LibraryAlloc), 0);
}

// A decoder made for a width holds the working memory of frames that wide in
// every sampling cameras use, so that not even the first frame allocates.
TEST_F(MjpegDecoderMemoryTest, ADecoderMadeForAWidthAllocatesNoMore) {
    for (int width : {16, 33, 640, 1280, 1920, 3840}) {
        for (Chroma chroma : {Chroma::k420, Chroma::k422, Chroma::k444}) {
            // The working memory depends on the width alone: a few rows will do.
            const Frame frame = Encoded(width, 41, chroma);
            kovic::MjpegDecoderPtr decoder = kovic::MjpegDecoder::Create(width);
            ASSERT_NE(decoder, nullptr);
            emu::ResetCallCounts();
            bool ok = false;
            frame.Decoded(*decoder, &ok);
            EXPECT_TRUE(ok) << width;
            EXPECT_EQ(emu::CallCount(emu::Call::LibraryAlloc), 0) << width << " wide, chroma " << static_cast<int>(chroma);
        }
    }
    // Its making fails as a whole when that memory cannot be had.
    for (int n = 1; n <= 3; ++n) {
        emu::FailCall(emu::Call::LibraryAlloc, E_OUTOFMEMORY, n);
        EXPECT_EQ(kovic::MjpegDecoder::Create(1920), nullptr) << "allocation " << n;
        emu::ClearFaults();
    }
}

// Every allocation of a first frame fails in turn: that frame is refused, and
// the same decoder then decodes it exactly as a decoder that never failed.
TEST_F(MjpegDecoderMemoryTest, RunningOutOfMemoryFailsOnlyThatFrame) {
    for (const Frame &frame : {Encoded(1280, 720, Chroma::k422), Encoded(35, 19, Chroma::k420)}) {
        kovic::MjpegDecoderPtr clean = kovic::MjpegDecoder::Create();
        ASSERT_NE(clean, nullptr);
        bool ok = false;
        emu::ResetCallCounts();
        const std::vector<uint8_t> want = frame.Decoded(*clean, &ok);
        ASSERT_TRUE(ok);
        const int allocations = emu::CallCount(emu::Call::LibraryAlloc);
        ASSERT_GT(allocations, 0);
        for (int n = 1; n <= allocations; ++n) {
            kovic::MjpegDecoderPtr decoder = kovic::MjpegDecoder::Create();
            ASSERT_NE(decoder, nullptr);
            emu::FailCall(emu::Call::LibraryAlloc, E_OUTOFMEMORY, n);
            frame.Decoded(*decoder, &ok);
            EXPECT_FALSE(ok) << frame.width << ": allocation " << n;
            emu::ClearFaults();
            EXPECT_EQ(frame.Decoded(*decoder, &ok), want) << frame.width << ": allocation " << n;
            EXPECT_TRUE(ok) << frame.width << ": allocation " << n;
        }
    }
}

}  // namespace
