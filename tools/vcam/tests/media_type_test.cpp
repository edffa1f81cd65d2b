// Media types, capability blocks and device profiles of the virtual camera:
// the numbers a capture graph reads from them.
#include <gtest/gtest.h>

#include <cstring>

#include "device_profile.h"
#include "video_format.h"

namespace vcam {
namespace {

VideoFormat Format(PixelFormat pixel, int32_t width, int32_t height, uint32_t fps = 30) {
    VideoFormat format;
    format.pixel = pixel;
    format.width = width;
    format.height = height;
    format.frames_per_second = fps;
    return format;
}

const VIDEOINFOHEADER &InfoOf(const AM_MEDIA_TYPE &type) {
    return *reinterpret_cast<const VIDEOINFOHEADER *>(type.pbFormat);
}

TEST(MediaTypeTest, RowsAndImageSizesPerPixelFormat) {
    struct Case {
        VideoFormat format;
        int32_t row;
        uint32_t image;
    } cases[] = {
        {Format(PixelFormat::kRgb24, 320, 240), 960, 230400},
        // 178 * 3 = 534 bytes of pixels, padded to 536.
        {Format(PixelFormat::kRgb24, 178, 100), 536, 53600},
        {Format(PixelFormat::kRgb24, 1, 1), 4, 4},
        {Format(PixelFormat::kRgb24, 3, 2), 12, 24},
        // A top-down height counts by its size.
        {Format(PixelFormat::kRgb24, 176, -144), 528, 76032},
        {Format(PixelFormat::kI420, 640, 480), 640, 460800},
        {Format(PixelFormat::kI420, 2, 2), 2, 6},
        {Format(PixelFormat::kYuy2, 352, 288), 704, 202752},
        {Format(PixelFormat::kUyvy, 352, 288), 704, 202752},
        {Format(PixelFormat::kUyvy, 178, 99), 356, 35244},
        // 4:2:0: a luma plane and chroma of half the width and half the height.
        {Format(PixelFormat::kNv12, 640, 480), 640, 460800},
        {Format(PixelFormat::kYv12, 178, 100), 178, 26700},
        {Format(PixelFormat::kNv12, 2, 2), 2, 6},
        // RGB32 rows need no padding.
        {Format(PixelFormat::kRgb32, 178, 100), 712, 71200},
        {Format(PixelFormat::kRgb32, 320, -240), 1280, 307200},
        // MJPG frames vary; the bound is 2 bytes a pixel, as a webcam's 4:2:2 would be raw.
        {Format(PixelFormat::kMjpg, 1280, 720), 0, 1843200},
        {Format(PixelFormat::kMjpg, 1920, 1080), 0, 4147200},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.format.width << "x" << c.format.height);
        EXPECT_EQ(RowBytes(c.format), c.row);
        EXPECT_EQ(ImageBytes(c.format), c.image);
    }
}

TEST(MediaTypeTest, FrameIntervalsTruncateTenMillionOverTheRate) {
    EXPECT_EQ(FrameInterval100ns(30), 333333);
    EXPECT_EQ(FrameInterval100ns(60), 166666);
    EXPECT_EQ(FrameInterval100ns(15), 666666);
    EXPECT_EQ(FrameInterval100ns(7), 1428571);
    EXPECT_EQ(FrameInterval100ns(1), 10000000);
    EXPECT_EQ(FrameInterval100ns(0), 0);
}

// A FOURCC subtype: the code in the first field, then the fixed tail.
GUID FourccGuid(DWORD fourcc) {
    return {fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
}

TEST(MediaTypeTest, VideoInfoTypeCarriesTheBitmapHeaderOfTheFormat) {
    // The subtypes written out as the framework defines them, so that a wrong
    // byte in the camera's own table shows.
    const GUID rgb24 = {0xe436eb7d, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
    const GUID rgb32 = {0xe436eb7e, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
    const GUID i420 = FourccGuid(0x30323449), yuy2 = FourccGuid(0x32595559), nv12 = FourccGuid(0x3231564E),
               uyvy = FourccGuid(0x59565955), yv12 = FourccGuid(0x32315659);
    // {47504A4D-0000-0010-8000-00AA00389B71}, biCompression 'MJPG'.
    const GUID mjpg = FourccGuid(0x47504A4D);
    struct Case {
        VideoFormat format;
        const GUID *subtype;
        DWORD compression;
        WORD bits;
    } cases[] = {
        {Format(PixelFormat::kRgb24, 178, 100), &rgb24, BI_RGB, 24},
        {Format(PixelFormat::kRgb24, 176, -144, 60), &rgb24, BI_RGB, 24},
        {Format(PixelFormat::kI420, 640, 480, 15), &i420, 0x30323449, 12},
        {Format(PixelFormat::kYuy2, 352, 288), &yuy2, 0x32595559, 16},
        {Format(PixelFormat::kNv12, 640, 480, 25), &nv12, 0x3231564E, 12},
        {Format(PixelFormat::kUyvy, 720, 576, 25), &uyvy, 0x59565955, 16},
        {Format(PixelFormat::kYv12, 176, 144, 5), &yv12, 0x32315659, 12},
        {Format(PixelFormat::kRgb32, 320, 240), &rgb32, BI_RGB, 32},
        {Format(PixelFormat::kRgb32, 178, -100), &rgb32, BI_RGB, 32},
        {Format(PixelFormat::kMjpg, 1280, 720), &mjpg, 0x47504A4D, 24},
        {Format(PixelFormat::kMjpg, 1920, 1080, 15), &mjpg, 0x47504A4D, 24},
    };
    // The SDK's own declarations agree where it has them.
    EXPECT_TRUE(IsEqualGUID(rgb24, MEDIASUBTYPE_RGB24));
    EXPECT_TRUE(IsEqualGUID(rgb32, MEDIASUBTYPE_RGB32));
    EXPECT_TRUE(IsEqualGUID(yuy2, MEDIASUBTYPE_YUY2));
    EXPECT_TRUE(IsEqualGUID(uyvy, MEDIASUBTYPE_UYVY));
    EXPECT_TRUE(IsEqualGUID(yv12, MEDIASUBTYPE_YV12));
    EXPECT_TRUE(IsEqualGUID(mjpg, MEDIASUBTYPE_MJPG));
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.format.width << "x" << c.format.height);
        AM_MEDIA_TYPE *type = CreateMediaType(c.format);
        ASSERT_NE(type, nullptr);
        EXPECT_TRUE(IsEqualGUID(type->majortype, MEDIATYPE_Video));
        EXPECT_TRUE(IsEqualGUID(type->subtype, *c.subtype));
        EXPECT_TRUE(IsEqualGUID(type->formattype, FORMAT_VideoInfo));
        ASSERT_EQ(type->cbFormat, sizeof(VIDEOINFOHEADER));
        EXPECT_EQ(type->pUnk, nullptr);
        EXPECT_EQ(type->bFixedSizeSamples != FALSE, c.format.pixel != PixelFormat::kMjpg)
            << "compressed frames vary in length";
        EXPECT_FALSE(type->bTemporalCompression);
        const VIDEOINFOHEADER &info = InfoOf(*type);
        EXPECT_EQ(info.bmiHeader.biSize, sizeof(BITMAPINFOHEADER));
        EXPECT_EQ(info.bmiHeader.biWidth, c.format.width);
        EXPECT_EQ(info.bmiHeader.biHeight, c.format.height) << "the sign of the height is kept";
        EXPECT_EQ(info.bmiHeader.biPlanes, 1);
        EXPECT_EQ(info.bmiHeader.biBitCount, c.bits);
        EXPECT_EQ(info.bmiHeader.biCompression, c.compression);
        EXPECT_EQ(info.bmiHeader.biSizeImage, ImageBytes(c.format));
        EXPECT_EQ(type->lSampleSize, ImageBytes(c.format));
        EXPECT_EQ(info.AvgTimePerFrame, FrameInterval100ns(c.format.frames_per_second));
        // The library reads the size at bytes 52 and 56 of the block.
        int32_t width, height;
        std::memcpy(&width, type->pbFormat + 52, 4);
        std::memcpy(&height, type->pbFormat + 56, 4);
        EXPECT_EQ(width, c.format.width);
        EXPECT_EQ(height, c.format.height);

        VideoFormat back;
        ASSERT_TRUE(ReadMediaType(*type, &back));
        EXPECT_TRUE(SameFrameShape(back, c.format));
        EXPECT_EQ(back.frames_per_second, c.format.frames_per_second);
        EXPECT_EQ(info.dwBitRate, ImageBytes(c.format) * 8u * c.format.frames_per_second);
        DeleteMediaType(type);
    }
}

TEST(MediaTypeTest, ReadingRejectsWhatIsNotAVideoInfoTypeOfAKnownSubtype) {
    AM_MEDIA_TYPE type;
    ASSERT_EQ(FillMediaType(Format(PixelFormat::kRgb24, 320, 240), &type), S_OK);
    VideoFormat format;
    AM_MEDIA_TYPE changed = type;
    changed.formattype = FORMAT_VideoInfo2;
    EXPECT_FALSE(ReadMediaType(changed, &format));
    changed = type;
    changed.cbFormat = sizeof(VIDEOINFOHEADER) - 1;
    EXPECT_FALSE(ReadMediaType(changed, &format)) << "a block too short for its header";
    changed = type;
    changed.subtype = MEDIASUBTYPE_RGB565;
    EXPECT_FALSE(ReadMediaType(changed, &format));
    changed.subtype = FourccGuid(0x34363248);  // H264
    EXPECT_FALSE(ReadMediaType(changed, &format));
    changed = type;
    changed.majortype = MEDIATYPE_Audio;
    EXPECT_FALSE(ReadMediaType(changed, &format));
    changed = type;
    changed.pbFormat = nullptr;
    EXPECT_FALSE(ReadMediaType(changed, &format));
    FreeMediaTypeContents(&type);
    EXPECT_EQ(type.pbFormat, nullptr);
    EXPECT_EQ(type.cbFormat, 0u);
}

TEST(MediaTypeTest, CopyIsDeepAndCountsTheObjectReference) {
    AM_MEDIA_TYPE original;
    ASSERT_EQ(FillMediaType(Format(PixelFormat::kYuy2, 64, 32), &original), S_OK);
    AM_MEDIA_TYPE copy;
    ASSERT_EQ(CopyMediaType(original, &copy), S_OK);
    EXPECT_NE(copy.pbFormat, original.pbFormat);
    EXPECT_EQ(std::memcmp(copy.pbFormat, original.pbFormat, original.cbFormat), 0);
    FreeMediaTypeContents(&original);
    VideoFormat format;
    EXPECT_TRUE(ReadMediaType(copy, &format)) << "the copy outlives the original";
    FreeMediaTypeContents(&copy);
}

TEST(MediaTypeTest, StreamCapsGiveOneSizeAndOneRatePerCapability) {
    VIDEO_STREAM_CONFIG_CAPS caps;
    FillStreamCaps(Format(PixelFormat::kRgb24, 176, -144, 60), &caps);
    EXPECT_TRUE(IsEqualGUID(caps.guid, FORMAT_VideoInfo));
    EXPECT_EQ(caps.MinOutputSize.cx, 176);
    EXPECT_EQ(caps.MinOutputSize.cy, 144) << "sizes are positive";
    EXPECT_EQ(caps.MaxOutputSize.cx, 176);
    EXPECT_EQ(caps.MaxOutputSize.cy, 144);
    EXPECT_EQ(caps.InputSize.cy, 144);
    EXPECT_EQ(caps.MinFrameInterval, 166666);
    EXPECT_EQ(caps.MaxFrameInterval, 166666);
    EXPECT_EQ(caps.MinBitsPerSecond, static_cast<LONG>(76032u * 8u * 60u));
    EXPECT_EQ(sizeof(caps), 128u) << "the library reads 128-byte capability blocks";

    // Every pixel format's block carries its own rate and bit rate.
    for (PixelFormat pixel : kAllPixelFormats) {
        VideoFormat format = Format(pixel, 640, 480, 25);
        SCOPED_TRACE(testing::PrintToString(std::wstring(NameOf(pixel))));
        FillStreamCaps(format, &caps);
        EXPECT_EQ(caps.MinFrameInterval, 400000);
        EXPECT_EQ(caps.MaxFrameInterval, 400000);
        EXPECT_EQ(caps.MaxOutputSize.cx, 640);
        EXPECT_EQ(caps.MaxOutputSize.cy, 480);
        EXPECT_EQ(caps.MaxBitsPerSecond, static_cast<LONG>(ImageBytes(format) * 8u * 25u));
    }
}

TEST(DeviceProfileTest, FormatListsParseWithSignedHeightsRatesAndAnyCase) {
    std::vector<VideoFormat> formats;
    ASSERT_TRUE(ParseFormatList(L" RGB24 320x240,i420 640X480@15 , Yuy2 352x288, rgb24 176x-144@60", 25, &formats));
    ASSERT_EQ(formats.size(), 4u);
    EXPECT_TRUE(SameFrameShape(formats[0], Format(PixelFormat::kRgb24, 320, 240)));
    EXPECT_EQ(formats[0].frames_per_second, 25u) << "the device rate when an entry names none";
    EXPECT_TRUE(SameFrameShape(formats[1], Format(PixelFormat::kI420, 640, 480)));
    EXPECT_EQ(formats[1].frames_per_second, 15u);
    EXPECT_TRUE(SameFrameShape(formats[2], Format(PixelFormat::kYuy2, 352, 288)));
    EXPECT_TRUE(SameFrameShape(formats[3], Format(PixelFormat::kRgb24, 176, -144)));
    EXPECT_EQ(formats[3].frames_per_second, 60u);

    ASSERT_TRUE(ParseFormatList(L"NV12 640x480@30, uyvy 720x576@25, Yv12 176x144, RGB32 320x-240, rgb32 178x100, "
                                L"UYVY 320x241, mjpg 1280x720@30, MJPG 1920x1080",
                                30, &formats));
    ASSERT_EQ(formats.size(), 8u);
    EXPECT_TRUE(SameFrameShape(formats[0], Format(PixelFormat::kNv12, 640, 480)));
    EXPECT_TRUE(SameFrameShape(formats[1], Format(PixelFormat::kUyvy, 720, 576)));
    EXPECT_EQ(formats[1].frames_per_second, 25u);
    EXPECT_TRUE(SameFrameShape(formats[2], Format(PixelFormat::kYv12, 176, 144)));
    EXPECT_TRUE(SameFrameShape(formats[3], Format(PixelFormat::kRgb32, 320, -240))) << "RGB32 may be top-down";
    EXPECT_TRUE(SameFrameShape(formats[4], Format(PixelFormat::kRgb32, 178, 100)));
    EXPECT_TRUE(SameFrameShape(formats[5], Format(PixelFormat::kUyvy, 320, 241))) << "4:2:2 takes any height";
    EXPECT_TRUE(SameFrameShape(formats[6], Format(PixelFormat::kMjpg, 1280, 720)));
    EXPECT_TRUE(SameFrameShape(formats[7], Format(PixelFormat::kMjpg, 1920, 1080)));
    for (PixelFormat pixel : kAllPixelFormats) {
        PixelFormat back = PixelFormat::kRgb24;
        ASSERT_TRUE(PixelFormatOfName(NameOf(pixel), &back));
        EXPECT_EQ(back, pixel);
    }
}

TEST(DeviceProfileTest, MalformedOrUnproducibleFormatsFailAndLeaveTheListAlone) {
    const wchar_t *bad[] = {
        L"",                   // nothing
        L"RGB24 320x240,",     // empty entry
        L"H264 320x240",       // unknown subtype
        L"MJPG 321x240",       // odd width cannot be subsampled 4:2:2
        L"MJPG 320x-240",      // compressed frames have no row order
        L"NV21 320x240",       // unknown subtype
        L"RGB 320x240",        // a prefix of a name is no name
        L"RGB24 320",          // no height
        L"RGB24 320x240x1",    // trailing text
        L"RGB24 0x240",        // no width
        L"RGB24 320x0",        // no height
        L"RGB24 -320x240",     // negative width
        L"I420 321x240",       // odd width cannot be subsampled
        L"I420 320x241",       // odd height
        L"I420 320x-240",      // YUV frames are top-down already
        L"YUY2 351x288",       // odd width
        L"UYVY 351x288",       // odd width
        L"UYVY 352x-288",      // top-down YUV
        L"NV12 321x240",       // odd width
        L"NV12 320x241",       // odd height
        L"YV12 320x241",       // odd height
        L"YV12 320x-240",      // top-down YUV
        L"RGB24 320x240@0",    // no rate
        L"RGB24 320x240@",     // missing rate
        L"RGB24 99999999x2",   // absurd size
    };
    for (const wchar_t *text : bad) {
        std::vector<VideoFormat> formats(1);
        EXPECT_FALSE(ParseFormatList(text, 30, &formats)) << "accepted \"" << testing::PrintToString(std::wstring(text))
                                                           << "\"";
        EXPECT_EQ(formats.size(), 1u);
    }
    std::wstring many;
    for (size_t i = 0; i <= kMaxFormats; ++i) many += L"RGB24 32x32,";
    many += L"RGB24 32x32";
    std::vector<VideoFormat> formats;
    EXPECT_FALSE(ParseFormatList(many, 30, &formats));
}

TEST(DeviceProfileTest, FaultsTagAndRateParse) {
    uint32_t faults = 99;
    ASSERT_TRUE(ParseFaults(L"", &faults));
    EXPECT_EQ(faults, 0u);
    ASSERT_TRUE(ParseFaults(L"fail-bind, short-frames  preview-pin-first,ignore-set-format", &faults));
    EXPECT_EQ(faults, kFaultFailBind | kFaultShortFrames | kFaultPreviewPinFirst | kFaultIgnoreSetFormat);
    ASSERT_TRUE(ParseFaults(L"no-pin-category", &faults));
    EXPECT_EQ(faults, kFaultNoPinCategory);
    ASSERT_TRUE(ParseFaults(L"corrupt-jpeg,short-frames", &faults));
    EXPECT_EQ(faults, kFaultCorruptJpeg | kFaultShortFrames);
    EXPECT_FALSE(ParseFaults(L"short-frames, explode", &faults));
    uint32_t value = 7;
    EXPECT_TRUE(ParseNumber(L" 15 ", 0, 15, &value));
    EXPECT_EQ(value, 15u);
    EXPECT_FALSE(ParseNumber(L"16", 0, 15, &value));
    EXPECT_FALSE(ParseNumber(L"0", 1, 1000, &value));
    EXPECT_FALSE(ParseNumber(L"3x", 0, 15, &value));
    EXPECT_FALSE(ParseNumber(L"", 0, 15, &value));
    EXPECT_EQ(value, 15u);
}

TEST(DeviceProfileTest, DefaultProfileOffersProducibleFormatsStartingWithRgb24) {
    DeviceProfile profile = DefaultProfile();
    ASSERT_FALSE(profile.formats.empty());
    EXPECT_EQ(profile.formats[0].pixel, PixelFormat::kRgb24);
    for (const VideoFormat &format : profile.formats) EXPECT_TRUE(IsProducible(format));
    EXPECT_EQ(profile.faults, 0u);
}

}  // namespace
}  // namespace vcam
