// Capture format negotiation through the exports: which capability a requested
// size applies, what the size queries answer, and the query gate's build rule.
#include <cstring>
#include <string>
#include <vector>

#include "frames/frame_sink.h"
#include "graph/format_negotiation.h"
#include "platform/media_type.h"
#include "session/capture_session.h"
#include "session/live_sessions.h"
#include "support/emulated_fixture.h"

using kovic_test::EmulatedTest;

namespace {

kovic::CaptureSession *Record(KOVIC_SESSION h) { return kovic::LookUpSession(h); }

// A format type that is not FORMAT_VideoInfo.
const GUID kOtherFormatType = {0x12345678, 0x1, 0x2, {3, 4, 5, 6, 7, 8, 9, 10}};

class FormatNegotiationTest : public EmulatedTest {
protected:
    KOVIC_SESSION OpenWith(const emu::SimulatedDevice &device, int width, int height) {
        CreateWith({device});
        KOVIC_SESSION h = KOVICOpen(nullptr);
        KOVICSetVideoFormat(h, width, height);
        return h;
    }
    static emu::SimulatedDevice Offering(std::vector<emu::SimulatedFormat> caps) {
        emu::SimulatedDevice d = Named(L"Cam");
        d.capabilities = std::move(caps);
        return d;
    }
    // The device's current format as its stream configuration reports it.
    static emu::SimulatedFormat Current(KOVIC_SESSION h) {
        kovic::MediaTypePtr type;
        EXPECT_EQ(Record(h)->graph.stream_config()->GetFormat(type.ReleaseAndGetAddressOf()), S_OK);
        const auto *header = reinterpret_cast<const VIDEOINFOHEADER *>(type->pbFormat);
        return {type->subtype, header->bmiHeader.biWidth, header->bmiHeader.biHeight};
    }
    static const FrameDescriptor &Frame(KOVIC_SESSION h) { return *Record(h)->graph.frame_sink()->descriptor(); }
};

TEST_F(FormatNegotiationTest, Rgb24IsAppliedBeforeI420) {
    KOVIC_SESSION h = OpenWith(Offering({{MEDIASUBTYPE_I420, 320, 240}, {MEDIASUBTYPE_RGB24, 320, 240}}), 320, 240);
    ASSERT_EQ(KOVICStartPreview(h), 1);
    EXPECT_TRUE(IsEqualGUID(Current(h).subtype, MEDIASUBTYPE_RGB24));
    EXPECT_EQ(KOVICGetWidth(h), 320);
    KOVICClose(h);

    h = OpenWith(Offering({{MEDIASUBTYPE_I420, 320, 240}, {MEDIASUBTYPE_RGB24, 640, 480}}), 320, 240);
    ASSERT_EQ(KOVICStartPreview(h), 1);
    EXPECT_TRUE(IsEqualGUID(Current(h).subtype, MEDIASUBTYPE_I420)) << "no RGB24 of that size: I420";
    EXPECT_EQ(Frame(h).width, 320) << "the chain carries the applied format";
    KOVICClose(h);
}

TEST_F(FormatNegotiationTest, ANegativeHeightMatchesItsAbsoluteValueAndKeepsItsSign) {
    KOVIC_SESSION h = OpenWith(Offering({{MEDIASUBTYPE_RGB24, 320, -240}}), 320, 240);
    ASSERT_EQ(KOVICStartPreview(h), 1);
    EXPECT_EQ(Current(h).height, -240);
    EXPECT_EQ(KOVICGetWidth(h), 320);
    EXPECT_EQ(KOVICGetHeight(h), 240);
    EXPECT_EQ(KOVICEnumVideoFormat(h, 320, 240), 1);
    EXPECT_EQ(KOVICEnumVideoFormat(h, 320, -240), 0) << "asked sizes are compared as given";
    EXPECT_EQ(Frame(h).height, -240) << "the connected type's height is copied with its sign";
    KOVICClose(h);
}

// A size offered in neither RGB24 nor I420 is applied in a format the library
// delivers; a size offered only in a format nobody can be counted on to
// deliver (here H.264) is neither listed nor applied.
TEST_F(FormatNegotiationTest, ASizeOfferedOnlyInAnotherSubtypeIsListedAndApplied) {
    const GUID kH264 = {0x34363248, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    emu::SimulatedDevice d =
        Offering({{MEDIASUBTYPE_RGB24, 320, 240}, {MEDIASUBTYPE_YUY2, 640, 480}, {kH264, 1280, 720}});
    d.current_format = {MEDIASUBTYPE_RGB24, 320, 240};
    KOVIC_SESSION h = OpenWith(d, 640, 480);
    emu::ResetCallCounts();
    EXPECT_EQ(KOVICEnumVideoFormat(h, 640, 480), 1);
    EXPECT_EQ(emu::CallCount(emu::Call::SetFormat), 1);
    EXPECT_EQ(KOVICGetWidth(h), 640);
    EXPECT_TRUE(IsEqualGUID(Current(h).subtype, MEDIASUBTYPE_YUY2));
    EXPECT_EQ(KOVICEnumVideoFormat(h, 640, 240), 0);
    EXPECT_EQ(KOVICEnumVideoFormat(h, 1280, 720), 0);
    KOVICClose(h);

    h = OpenWith(d, 1280, 720);
    ASSERT_EQ(KOVICStartPreview(h), 1);
    EXPECT_EQ(KOVICGetWidth(h), 320) << "nothing applied";
    KOVICClose(h);
}

TEST_F(FormatNegotiationTest, BothSidesMustBePositiveForASizeToBeApplied) {
    for (auto size : {std::pair<int, int>{640, 0}, {0, 480}, {-320, 240}}) {
        KOVIC_SESSION h = OpenWith(Named(L"Cam"), size.first, size.second);
        emu::ResetCallCounts();
        ASSERT_EQ(KOVICStartPreview(h), 1);
        EXPECT_EQ(emu::CallCount(emu::Call::GetNumberOfCapabilities), 0);
        EXPECT_EQ(emu::CallCount(emu::Call::SetFormat), 0);
        EXPECT_EQ(KOVICGetWidth(h), 640) << "the device keeps its current format";
        KOVICClose(h);
    }
}

TEST_F(FormatNegotiationTest, TopDownCurrentFormatAnswersPositiveSizes) {
    emu::SimulatedDevice d = Named(L"Cam");
    d.current_format = {MEDIASUBTYPE_RGB24, 640, -480};
    KOVIC_SESSION h = OpenWith(d, 0, 0);
    EXPECT_EQ(KOVICGetWidth(h), 640);
    EXPECT_EQ(KOVICGetHeight(h), 480);
    KOVICClose(h);
}

TEST_F(FormatNegotiationTest, WithoutAStreamConfigurationTheQueriesAnswerZeroAndTheBuildGoesOn) {
    emu::SimulatedDevice neither = Named(L"Neither");
    neither.stream_config_for_video = false;
    neither.has_stream_config = false;
    KOVIC_SESSION h = OpenWith(neither, 320, 240);
    emu::ResetCallCounts();
    EXPECT_EQ(KOVICStartPreview(h), 1);
    EXPECT_EQ(emu::CallCount(emu::Call::FindInterface), 2);
    EXPECT_STREQ(Record(h)->last_error, "Error 80004002: Cannot find VCapture:IAMStreamConfig");
    EXPECT_EQ(KOVICGetWidth(h), 0);
    EXPECT_EQ(KOVICGetHeight(h), 0);
    EXPECT_EQ(KOVICEnumVideoFormat(h, 640, 480), 0);
    EXPECT_EQ(Frame(h).width, 640) << "connected with the device's own format";
    KOVICClose(h);

    emu::SimulatedDevice interleaved = Named(L"DV");
    interleaved.stream_config_for_interleaved = true;
    interleaved.stream_config_for_video = false;
    h = OpenWith(interleaved, 320, 240);
    emu::ResetCallCounts();
    EXPECT_EQ(KOVICGetWidth(h), 320);
    EXPECT_EQ(emu::CallCount(emu::Call::FindInterface), 1) << "the interleaved answer is taken first";
    EXPECT_STREQ(Record(h)->last_error, "");
    KOVICClose(h);
}

// A capture pin that answers no pin category is found by neither lookup; its
// stream configuration is then asked of the source's first output pin, and
// the sizes are answered and applied as for any other device. When that pin
// has none either, the diagnostic names the second lookup's result.
TEST_F(FormatNegotiationTest, StreamConfigurationLookups) {
    emu::SimulatedDevice uncategorised = Offering({{MEDIASUBTYPE_YUY2, 640, 480}, {MEDIASUBTYPE_YUY2, 320, 240}});
    uncategorised.current_format = {MEDIASUBTYPE_YUY2, 640, 480};
    uncategorised.pins_report_category = false;
    KOVIC_SESSION h = OpenWith(uncategorised, 320, 240);
    emu::ResetCallCounts();
    ASSERT_EQ(KOVICStartPreview(h), 1);
    EXPECT_EQ(emu::CallCount(emu::Call::FindInterface), 2) << "both lookups are still made";
    EXPECT_STREQ(Record(h)->last_error, "");
    EXPECT_EQ(KOVICGetWidth(h), 320);
    EXPECT_EQ(KOVICEnumVideoFormat(h, 640, 480), 1);
    EXPECT_EQ(Frame(h).width, 320);
    KOVICClose(h);

    h = OpenWith(uncategorised, 320, 240);
    emu::FailCall(emu::Call::QueryInterface, E_NOINTERFACE, 0, &IID_IAMStreamConfig);
    ASSERT_EQ(KOVICStartPreview(h), 1);
    emu::ClearFaults();
    EXPECT_STREQ(Record(h)->last_error, "Error 80004002: Cannot find VCapture:IAMStreamConfig");
    EXPECT_EQ(KOVICGetWidth(h), 0);
    EXPECT_EQ(Frame(h).width, 640) << "connected in the device's own format";
    KOVICClose(h);

    // The pin lookup that falls back fails at each of its calls: no stream
    // configuration, and the build goes on.
    for (emu::Call call : {emu::Call::EnumPins, emu::Call::EnumPinsNext, emu::Call::QueryDirection}) {
        h = OpenWith(uncategorised, 320, 240);
        emu::FailCall(call, E_FAIL);
        ASSERT_EQ(KOVICStartPreview(h), 1) << emu::CallName(call);
        emu::ClearFaults();
        EXPECT_EQ(Record(h)->graph.stream_config(), nullptr) << emu::CallName(call);
        KOVICClose(h);
    }
}

// A block too short for the bitmap header's size fields is never read past its
// end: such a capability matches nothing, and such a current or connected
// format has no size.
TEST_F(FormatNegotiationTest, FormatBlocksTooShortForTheSizeFields) {
    emu::SimulatedDevice d = Offering({{MEDIASUBTYPE_RGB24, 320, 240, FORMAT_VideoInfo, 56},
                                       {MEDIASUBTYPE_RGB24, 320, 240, FORMAT_VideoInfo, 0},
                                       {MEDIASUBTYPE_RGB24, 640, 480, FORMAT_VideoInfo, 60}});
    KOVIC_SESSION h = OpenWith(d, 320, 240);
    emu::ResetCallCounts();
    EXPECT_EQ(KOVICEnumVideoFormat(h, 320, 240), 0);
    EXPECT_EQ(emu::CallCount(emu::Call::SetFormat), 0);
    EXPECT_EQ(KOVICEnumVideoFormat(h, 640, 480), 1) << "60 bytes hold both fields";
    KOVICClose(h);

    for (uint32_t bytes : {0u, 40u, 59u}) {
        d.current_format = {MEDIASUBTYPE_RGB24, 640, 480, FORMAT_VideoInfo, bytes};
        h = OpenWith(d, 0, 0);
        EXPECT_EQ(KOVICGetWidth(h), 0) << bytes;
        EXPECT_EQ(KOVICGetHeight(h), 0) << bytes;
        EXPECT_EQ(Frame(h).width, 0) << bytes;
        EXPECT_EQ(Frame(h).height, 0) << bytes;
        KOVICClose(h);
    }
}

// The size queries want FORMAT_VideoInfo; matching and the connection read the
// same positions whatever the format type.
TEST_F(FormatNegotiationTest, FormatTypeIsCheckedOnlyByTheSizeQueries) {
    emu::SimulatedDevice d = Offering({{MEDIASUBTYPE_RGB24, 320, 240, kOtherFormatType}});
    KOVIC_SESSION h = OpenWith(d, 320, 240);
    ASSERT_EQ(KOVICStartPreview(h), 1);
    EXPECT_EQ(Current(h).width, 320) << "applied";
    EXPECT_EQ(KOVICGetWidth(h), 0);
    EXPECT_EQ(KOVICEnumVideoFormat(h, 320, 240), 1);
    EXPECT_EQ(Frame(h).width, 320);
    KOVICClose(h);
}

TEST_F(FormatNegotiationTest, AnIgnoredOrFailingSetFormatGoesUnnoticed) {
    emu::SimulatedDevice d = Named(L"Cam");
    d.set_format_ignored = true;
    KOVIC_SESSION h = OpenWith(d, 320, 240);
    emu::ResetCallCounts();
    ASSERT_EQ(KOVICStartPreview(h), 1);
    EXPECT_EQ(emu::CallCount(emu::Call::SetFormat), 1);
    EXPECT_EQ(KOVICGetWidth(h), 640);
    EXPECT_EQ(Frame(h).width, 640) << "connected with whatever format the device has";
    KOVICClose(h);

    h = OpenWith(Named(L"Cam"), 320, 240);
    ASSERT_EQ(KOVICStartPreview(h), 1);
    emu::FailCall(emu::Call::GetFormat, E_FAIL);
    EXPECT_EQ(KOVICGetWidth(h), 0) << "no current format";
    emu::ClearFaults();
    emu::FailCall(emu::Call::GetFormat, S_FALSE);
    EXPECT_EQ(KOVICGetHeight(h), 0) << "only S_OK carries a format";
    emu::ClearFaults();
    EXPECT_EQ(KOVICGetHeight(h), 240);
    KOVICClose(h);
}

// A built graph answers the queries as it is; only KOVICStartPreview rebuilds
// it for a new selection or size. A gate build that fails answers 0.
TEST_F(FormatNegotiationTest, TheQueryGateBuildsOnceAndNeverRebuilds) {
    CreateWith({Named(L"A"), Named(L"B")});
    KOVIC_SESSION h = KOVICOpen(nullptr);
    emu::FailCall(emu::Call::AddFilter, E_FAIL);
    EXPECT_EQ(KOVICGetWidth(h), 0);
    EXPECT_EQ(Record(h)->built, 0);
    emu::ClearFaults();

    EXPECT_EQ(KOVICGetWidth(h), 640);
    ASSERT_EQ(Record(h)->built, 1);
    KOVICSetVideoFormat(h, 320, 240);
    KOVICSelectDevice(h, 1);
    emu::ResetCallCounts();
    EXPECT_EQ(KOVICGetWidth(h), 640);
    EXPECT_EQ(KOVICGetHeight(h), 480);
    EXPECT_EQ(KOVICEnumVideoFormat(h, 320, 240), 1);
    EXPECT_EQ(emu::CallCount(emu::Call::CoCreateInstance), 0) << "no rebuild from the queries";

    ASSERT_EQ(KOVICStartPreview(h), 1);
    EXPECT_GT(emu::CallCount(emu::Call::CoCreateInstance), 0);
    EXPECT_EQ(KOVICGetWidth(h), 320);
    EXPECT_EQ(emu::FilterNames(Record(h)->graph.filter_graph()).at(0), L"B");
    KOVICClose(h);
}

// A pin whose capability structure is larger than the 128 bytes of
// VIDEO_STREAM_CONFIG_CAPS fills a block of the size it reports (AddressSanitizer
// would see a write past a 128-byte block); one that reports an impossible
// size, or whose block cannot be allocated, offers nothing, and the build goes
// on with the device's own format.
TEST_F(FormatNegotiationTest, TheCapabilityBlockHasTheSizeThePinReports) {
    for (int bytes : {0, 64, 128, 129, 4096, 64 * 1024}) {
        SCOPED_TRACE(bytes);
        emu::SimulatedDevice device = Offering({{MEDIASUBTYPE_RGB24, 640, 480}, {MEDIASUBTYPE_RGB24, 320, 240}});
        device.stream_caps_bytes = bytes;
        KOVIC_SESSION h = OpenWith(device, 320, 240);
        ASSERT_EQ(KOVICStartPreview(h), 1);
        EXPECT_EQ(KOVICGetWidth(h), 320) << "the requested size was applied";
        EXPECT_EQ(KOVICEnumVideoFormat(h, 640, 480), 1);
        KOVICClose(h);
    }
    emu::SimulatedDevice broken = Offering({{MEDIASUBTYPE_RGB24, 640, 480}, {MEDIASUBTYPE_RGB24, 320, 240}});
    broken.stream_caps_bytes = 64 * 1024 + 1;
    KOVIC_SESSION h = OpenWith(broken, 320, 240);
    emu::ResetCallCounts();
    ASSERT_EQ(KOVICStartPreview(h), 1);
    EXPECT_EQ(emu::CallCount(emu::Call::GetStreamCaps), 0) << "no block for an impossible size";
    EXPECT_EQ(KOVICGetWidth(h), 640) << "the device keeps its own format";
    EXPECT_EQ(KOVICEnumVideoFormat(h, 640, 480), 0);
    KOVICClose(h);

    emu::SimulatedDevice large = broken;
    large.stream_caps_bytes = 4096;
    h = OpenWith(large, 320, 240);
    emu::FailCall(emu::Call::LibraryAlloc, E_OUTOFMEMORY);  // the first allocation of the build is the block
    ASSERT_EQ(KOVICStartPreview(h), 1);
    emu::ClearFaults();
    EXPECT_EQ(KOVICGetWidth(h), 320) << "no block for the RGB24 walk; the later walks get their own";
    EXPECT_EQ(KOVICEnumVideoFormat(h, 320, 240), 1) << "a later query gets its block";
    KOVICClose(h);
}

}  // namespace

namespace {

// A media type over a format block of `bytes` bytes holding a frame interval
// and a size at the positions of its format type.
struct BlockType {
    std::vector<BYTE> block;
    AM_MEDIA_TYPE type;
    BlockType(const GUID &subtype, const GUID &format_type, size_t bytes, int64_t interval, int32_t w, int32_t h)
        : block(bytes, 0) {
        std::memset(&type, 0, sizeof(type));
        type.majortype = MEDIATYPE_Video;
        type.subtype = subtype;
        type.formattype = format_type;
        const bool second = IsEqualGUID(format_type, FORMAT_VideoInfo2);
        auto put = [&](size_t at, const void *value, size_t n) {
            if (at + n <= block.size()) std::memcpy(block.data() + at, value, n);
        };
        put(40, &interval, 8);
        put(second ? 76 : 52, &w, 4);
        put(second ? 80 : 56, &h, 4);
        type.cbFormat = static_cast<ULONG>(block.size());
        type.pbFormat = block.empty() ? nullptr : block.data();
    }
};

TEST(FormatNegotiationRules, SizesAreReadWhereTheFormatTypePutsThem) {
    int32_t w = -1, h = -1;
    BlockType info2(MEDIASUBTYPE_NV12, FORMAT_VideoInfo2, 112, 0, 1280, -720);
    EXPECT_TRUE(kovic::ReadFormatSize(info2.type, &w, &h));
    EXPECT_EQ(w, 1280);
    EXPECT_EQ(h, -720);
    BlockType short2(MEDIASUBTYPE_NV12, FORMAT_VideoInfo2, 83, 0, 1280, 720);
    EXPECT_FALSE(kovic::ReadFormatSize(short2.type, &w, &h)) << "84 bytes hold the height";
    EXPECT_EQ(w, 0);
    BlockType info(MEDIASUBTYPE_NV12, FORMAT_VideoInfo, 60, 0, 640, 480);
    EXPECT_TRUE(kovic::ReadFormatSize(info.type, &w, &h));
    EXPECT_EQ(w, 640);
    BlockType other(MEDIASUBTYPE_NV12, kOtherFormatType, 60, 0, 320, 240);
    EXPECT_TRUE(kovic::ReadFormatSize(other.type, &w, &h)) << "any other type at the video-info positions";
    EXPECT_EQ(h, 240);
}

TEST(FormatNegotiationRules, SubtypesTheLibraryReads) {
    using kovic::FrameFormat;
    EXPECT_EQ(kovic::FrameFormatOfSubtype(MEDIASUBTYPE_RGB24), FrameFormat::kRgb24);
    EXPECT_EQ(kovic::FrameFormatOfSubtype(MEDIASUBTYPE_RGB32), FrameFormat::kRgb32);
    EXPECT_EQ(kovic::FrameFormatOfSubtype(MEDIASUBTYPE_YUY2), FrameFormat::kYuy2);
    EXPECT_EQ(kovic::FrameFormatOfSubtype(MEDIASUBTYPE_UYVY), FrameFormat::kUyvy);
    EXPECT_EQ(kovic::FrameFormatOfSubtype(MEDIASUBTYPE_NV12), FrameFormat::kNv12);
    EXPECT_EQ(kovic::FrameFormatOfSubtype(MEDIASUBTYPE_I420), FrameFormat::kI420);
    EXPECT_EQ(kovic::FrameFormatOfSubtype(MEDIASUBTYPE_IYUV), FrameFormat::kI420);
    EXPECT_EQ(kovic::FrameFormatOfSubtype(MEDIASUBTYPE_YV12), FrameFormat::kYv12);
    EXPECT_EQ(kovic::FrameFormatOfSubtype(MEDIASUBTYPE_MJPG), FrameFormat::kMjpg);
    EXPECT_EQ(kovic::FrameFormatOfSubtype(GUID_NULL), FrameFormat::kUnknown);
}

// The rate is the format's own AvgTimePerFrame, the capability block's
// MinFrameInterval only where the format gives none; the faster wins, and at
// equal rates the uncompressed format.
TEST(FormatNegotiationRules, CapabilitiesRankByFrameRateThenCompression) {
    std::vector<BYTE> caps(128, 0);
    const int64_t min_interval = 166666;
    std::memcpy(caps.data() + 104, &min_interval, 8);

    BlockType yuy2_30(MEDIASUBTYPE_YUY2, FORMAT_VideoInfo, 88, 333333, 640, 480);
    kovic::CapabilityRank r = kovic::RankCapability(yuy2_30.type, caps.data(), 128);
    EXPECT_TRUE(r.deliverable);
    EXPECT_FALSE(r.compressed);
    EXPECT_EQ(r.frame_interval_100ns, 333333) << "the format's rate, not the block's";

    BlockType unrated(MEDIASUBTYPE_NV12, FORMAT_VideoInfo, 88, 0, 640, 480);
    EXPECT_EQ(kovic::RankCapability(unrated.type, caps.data(), 128).frame_interval_100ns, min_interval);
    EXPECT_EQ(kovic::RankCapability(unrated.type, caps.data(), 104).frame_interval_100ns, INT64_MAX)
        << "a structure that ends before MinFrameInterval tells none";
    EXPECT_EQ(kovic::RankCapability(unrated.type, nullptr, 0).frame_interval_100ns, INT64_MAX);
    BlockType stub(MEDIASUBTYPE_NV12, FORMAT_VideoInfo, 44, 333333, 0, 0);
    EXPECT_EQ(kovic::RankCapability(stub.type, caps.data(), 128).frame_interval_100ns, min_interval)
        << "a block too short for AvgTimePerFrame";

    BlockType mjpg_30(MEDIASUBTYPE_MJPG, FORMAT_VideoInfo, 88, 333333, 640, 480);
    BlockType mjpg_60(MEDIASUBTYPE_MJPG, FORMAT_VideoInfo2, 112, 166666, 640, 480);
    const GUID kH264 = {0x34363248, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
    BlockType h264(kH264, FORMAT_VideoInfo2, 112, 166666, 640, 480);
    const kovic::CapabilityRank m30 = kovic::RankCapability(mjpg_30.type, caps.data(), 128);
    const kovic::CapabilityRank m60 = kovic::RankCapability(mjpg_60.type, caps.data(), 128);
    EXPECT_TRUE(m30.deliverable && m30.compressed);
    EXPECT_FALSE(kovic::RankCapability(h264.type, caps.data(), 128).deliverable);

    EXPECT_TRUE(kovic::PreferCapability(m60, r)) << "faster, though compressed";
    EXPECT_FALSE(kovic::PreferCapability(r, m60));
    EXPECT_TRUE(kovic::PreferCapability(r, m30)) << "equal rates: uncompressed first";
    EXPECT_FALSE(kovic::PreferCapability(m30, r));
    EXPECT_FALSE(kovic::PreferCapability(r, r)) << "a tie keeps the one found first";
}

}  // namespace

// Through the exports: the faster of two formats of one size is applied,
// at equal rates the uncompressed one, and VIDEOINFOHEADER2 capabilities and
// current formats are sized like any other.
TEST_F(FormatNegotiationTest, TheBestDeliverableFormatOfTheSizeIsApplied) {
    emu::SimulatedFormat yuy2{MEDIASUBTYPE_YUY2, 640, 480}, nv12{MEDIASUBTYPE_NV12, 640, 480};
    emu::SimulatedFormat mjpg = emu::VideoInfo2Format(MEDIASUBTYPE_MJPG, 640, 480);
    nv12.frames_per_second = 60;
    emu::SimulatedDevice d = Offering({yuy2, nv12, mjpg, {MEDIASUBTYPE_RGB24, 320, 240}});
    d.current_format = {MEDIASUBTYPE_RGB24, 320, 240};
    KOVIC_SESSION h = OpenWith(d, 640, 480);
    ASSERT_EQ(KOVICStartPreview(h), 1);
    EXPECT_TRUE(IsEqualGUID(Current(h).subtype, MEDIASUBTYPE_NV12));
    KOVICClose(h);

    d = Offering({mjpg, yuy2});
    d.current_format = {MEDIASUBTYPE_YUY2, 640, 480};
    h = OpenWith(d, 640, 480);
    ASSERT_EQ(KOVICStartPreview(h), 1);
    EXPECT_TRUE(IsEqualGUID(Current(h).subtype, MEDIASUBTYPE_YUY2)) << "uncompressed at the same rate";
    KOVICClose(h);

    emu::SimulatedFormat big2 = emu::VideoInfo2Format(MEDIASUBTYPE_YUY2, 1280, 720);
    d = Offering({mjpg, big2});
    d.current_format = mjpg;
    h = OpenWith(d, 1280, 720);
    EXPECT_EQ(KOVICEnumVideoFormat(h, 1280, 720), 1);
    ASSERT_EQ(KOVICStartPreview(h), 1);
    EXPECT_EQ(KOVICGetWidth(h), 1280);
    EXPECT_EQ(KOVICGetHeight(h), 720);
    EXPECT_EQ(Frame(h).width, 1280);
    EXPECT_EQ(Frame(h).height, 720);
    KOVICClose(h);
}
