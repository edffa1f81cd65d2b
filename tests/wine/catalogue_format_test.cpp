// The catalogue and format negotiation of kovic.dll under Wine, on the
// virtual camera's devices.
#include <cstring>

#include "e2e_fixture.h"

namespace kovic_wine {
namespace {

using CatalogueTest = CaptureTest;
using FormatTest = CaptureTest;

TEST_F(CatalogueTest, ListsTheRegisteredDevicesInSortedInstanceKeyOrder) {
    // Wine enumerates the category's instance keys sorted by key name:
    // vcam-broken, vcam-main, vcam-mixed, vcam-mjpg-1080, -720, -corrupt,
    // vcam-no-category, vcam-nv12-size, vcam-only-i420, -nv12, -rgb32, -uyvy,
    // -yuy2, -yv12, vcam-preview-first, vcam-short, vcam-stubborn,
    // vcam-wide-caps, vcam-wide-name, then the key named after the class that
    // registering the DLL wrote.
    const std::vector<std::string> expected = {
        kBrokenCamera,       kMainCamera,        kMixedCamera,      kMjpg1080Camera,    kMjpg720Camera,
        kCorruptMjpgCamera,  kUncategorisedCamera, kNv12SizeCamera, kI420Camera,        kNv12Camera,
        kRgb32Camera,        kUyvyCamera,        kYuy2Camera,       kYv12Camera,        kPreviewFirstCamera,
        kShortFrameCamera,   kStubbornCamera,    kWideCapsCamera,   kFarPlaneCamera,    kDefaultCamera};
    EXPECT_EQ(CatalogueNames(), expected);
    const int count = static_cast<int>(expected.size());
    ASSERT_EQ(KOVICGetVideoDeviceCount(), count);

    unsigned char buffer[96];
    std::memset(buffer, 0xEE, sizeof(buffer));
    ASSERT_EQ(KOVICGetVideoDevice(DeviceIndex(kMainCamera), reinterpret_cast<char *>(buffer)), KOVIC_OK);
    size_t length = std::strlen(kMainCamera);
    EXPECT_EQ(std::memcmp(buffer, kMainCamera, length + 1), 0);
    for (size_t i = length + 1; i < 80; ++i) EXPECT_NE(buffer[i], 0xEE) << "byte " << i << " of the 80 not written";
    for (size_t i = 80; i < sizeof(buffer); ++i) EXPECT_EQ(buffer[i], 0xEE) << "wrote past 80 bytes at " << i;

    std::memset(buffer, 0xEE, sizeof(buffer));
    EXPECT_EQ(KOVICGetVideoDevice(count, reinterpret_cast<char *>(buffer)), KOVIC_E_DEVICE_INDEX);
    EXPECT_EQ(KOVICGetVideoDevice(-1, reinterpret_cast<char *>(buffer)), KOVIC_E_NO_DEVICE_RECORD);
    EXPECT_EQ(buffer[0], 0xEE);

    // Listing again finds the same devices once each.
    ASSERT_EQ(KOVICCreate(), KOVIC_OK);
    EXPECT_EQ(CatalogueNames(), expected);
    EXPECT_EQ(VirtualCameraObjects(), 0) << "listing binds no device";
}

// The far-plane device's name is 78 characters, then U+1F4F7 (a surrogate
// pair), a space and U+1F3A5: 84 bytes in the system's ANSI code page, too
// long for the 80-byte field. Cut between whole characters it keeps the 78:
// the high surrogate alone would still fit (as one '?' where the pair takes
// two), but it is half a character and is dropped with its partner.
TEST_F(CatalogueTest, ANameOutsideTheBasicPlaneIsCutBeforeItsSurrogatePair) {
    const int index = DeviceIndex(kFarPlaneCamera);
    ASSERT_GE(index, 0) << "not listed under its cut name";
    char name[KOVIC_DEVICE_NAME_BYTES];
    std::memset(name, 0xEE, sizeof(name));
    ASSERT_EQ(KOVICGetVideoDevice(index, name), KOVIC_OK);
    ASSERT_EQ(std::strlen(kFarPlaneCamera), 78u);
    EXPECT_EQ(std::memcmp(name, kFarPlaneCamera, 79), 0) << "the 78 characters and the terminator";
    EXPECT_EQ(name[79], 0);
}

TEST_F(FormatTest, QueriesAnswerFromTheDeviceWithoutTheSignOfTheHeight) {
    KOVIC_SESSION session = OpenOn(kMainCamera);
    // The query gate builds the graph with the device's own first format.
    EXPECT_EQ(KOVICGetWidth(session), 320);
    EXPECT_EQ(KOVICGetHeight(session), 240);
    EXPECT_EQ(KOVICEnumVideoFormat(session, 320, 240), 1);
    EXPECT_EQ(KOVICEnumVideoFormat(session, 176, 144), 1) << "offered as 176 by -144";
    EXPECT_EQ(KOVICEnumVideoFormat(session, 176, -144), 0) << "the question is asked by size";
    EXPECT_EQ(KOVICEnumVideoFormat(session, 178, 100), 1);
    EXPECT_EQ(KOVICEnumVideoFormat(session, 640, 480), 1) << "offered in I420 only";
    EXPECT_EQ(KOVICEnumVideoFormat(session, 352, 288), 1) << "offered in YUY2 only";
    EXPECT_EQ(KOVICEnumVideoFormat(session, 800, 600), 0);
    EXPECT_EQ(KOVICEnumVideoFormat(session, 240, 320), 0);

    KOVIC_SESSION top_down = OpenOn(kMainCamera, 176, 144);
    EXPECT_EQ(KOVICGetWidth(top_down), 176);
    EXPECT_EQ(KOVICGetHeight(top_down), 144);
}

TEST_F(FormatTest, ASizeOfferedInRgb24AndI420AppliesRgb24) {
    KOVIC_SESSION session = OpenOn(kMainCamera, 320, 240);
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    const FrameMessage *frame = NextFrame(session);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->length, 320 * 240 * 3) << "RGB24, not I420's 320*240*3/2";
    EXPECT_TRUE(DecodeDeliveredFrame(frame->width, frame->height, frame->data).valid);
}

TEST_F(FormatTest, ASizeOfferedOnlyInI420IsAppliedAndDeliveredAsRgb24) {
    // The device is set to I420; the grabber, told to want I420 before it is
    // connected, passes it on to the null renderer, and the library converts
    // each delivered frame into bottom-up RGB24.
    KOVIC_SESSION session = OpenOn(kMainCamera, 640, 480);
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    EXPECT_EQ(KOVICGetWidth(session), 640);
    const FrameMessage *frame = NextFrame(session);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 640);
    EXPECT_EQ(frame->height, 480);
    EXPECT_EQ(frame->length, 640 * 480 * 3) << "RGB24, not I420's 640*480*3/2";
    EXPECT_TRUE(DecodeDeliveredFrame(frame->width, frame->height, frame->data).valid);
    CloseAsHost(session);
}

TEST_F(FormatTest, ASizeOfferedOnlyInYuy2IsAppliedAndOneNotOfferedLeavesTheDevicesFormat) {
    for (int requested : {352, 800}) {
        const bool offered = requested == 352;
        SCOPED_TRACE(offered ? "YUY2 only" : "not offered");
        const int width = offered ? 352 : 320, height = offered ? 288 : 240;
        KOVIC_SESSION session = OpenOn(kMainCamera, requested, offered ? 288 : 600);
        EXPECT_EQ(KOVICEnumVideoFormat(session, requested, offered ? 288 : 600), offered ? 1 : 0);
        EXPECT_EQ(KOVICGetWidth(session), width);
        EXPECT_EQ(KOVICGetHeight(session), height);
        ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
        const FrameMessage *frame = NextFrame(session);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->width, width);
        EXPECT_EQ(frame->height, height);
        EXPECT_EQ(frame->length, width * height * 3);
        EXPECT_TRUE(DecodeDeliveredFrame(frame->width, frame->height, frame->data).valid);
        CloseAsHost(session);
    }
}

TEST_F(FormatTest, ADeviceThatIgnoresSetFormatKeepsItsOwnSize) {
    KOVIC_SESSION session = OpenOn(kStubbornCamera, 176, 144);
    EXPECT_EQ(KOVICEnumVideoFormat(session, 176, 144), 1);
    EXPECT_EQ(KOVICGetWidth(session), 320);
    EXPECT_EQ(KOVICGetHeight(session), 240);
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    const FrameMessage *frame = NextFrame(session);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 320);
    EXPECT_EQ(frame->length, 230400);
    vcam::DecodedPattern pattern = DecodeDeliveredFrame(frame->width, frame->height, frame->data);
    ASSERT_TRUE(pattern.valid);
    EXPECT_EQ(pattern.tag, 3u);
}

TEST_F(FormatTest, TheDeviceRateOfTheAppliedSizePacesTheFrames) {
    // 192x144 runs at 60 frames a second: counters and sample times agree on it.
    KOVIC_SESSION session = OpenOn(kMainCamera, 192, 144);
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    const FrameMessage *first = NextFrame(session);
    ASSERT_NE(first, nullptr);
    vcam::DecodedPattern a = DecodeDeliveredFrame(first->width, first->height, first->data);
    double first_time = first->sample_time;
    host_.PumpFor(300);
    const FrameMessage *later = NextFrame(session);
    ASSERT_NE(later, nullptr);
    vcam::DecodedPattern b = DecodeDeliveredFrame(later->width, later->height, later->data);
    ASSERT_TRUE(a.valid && b.valid);
    ASSERT_GT(b.counter, a.counter);
    // Frames are never sent ahead of the rate, and a busy machine may make the
    // camera skip some; at 30 a second the counter would rise half as fast.
    double slots = (later->sample_time - first_time) * 60.0;
    double sent = static_cast<double>(b.counter - a.counter);
    EXPECT_LE(sent, slots + 1.0);
    EXPECT_GE(sent, slots * 0.75);
}

// The wide-caps device reports a capability structure of 1024 bytes and
// writes that many: the library gives it a block of that size, so the
// requested size is found and applied and frames come.
TEST_F(FormatTest, ACapabilityStructureLargerThanTheDocumentedOneIsReadWhole) {
    KOVIC_SESSION session = OpenOn(kWideCapsCamera, 176, 144);
    EXPECT_EQ(KOVICEnumVideoFormat(session, 320, 240), 1);
    ASSERT_EQ(KOVICStartPreview(session), KOVIC_OK);
    EXPECT_EQ(KOVICGetWidth(session), 176);
    EXPECT_EQ(KOVICGetHeight(session), 144);
    const FrameMessage *frame = NextFrame(session);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->width, 176);
    EXPECT_EQ(frame->length, 176 * 144 * 3);
}

}  // namespace
}  // namespace kovic_wine
