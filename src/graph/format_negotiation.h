// Capture format negotiation helpers: reading a media type's frame size where
// its format type puts the bitmap header, the frame format a subtype carries,
// and the ranking of capabilities of one size. The negotiation steps are
// CaptureGraph's (format_negotiation.cpp). Pure functions; any thread.
#pragma once

#include <cstdint>

#include "frames/frame_to_rgb24.h"
#include "platform/platform.h"

namespace kovic {

// Byte offsets of the bitmap header's size fields inside a VIDEOINFOHEADER
// format block, and the block size needed to read both. A FORMAT_VideoInfo2
// block (VIDEOINFOHEADER2) has four more fields before its bitmap header.
constexpr unsigned kFormatWidthOffset = 52;
constexpr unsigned kFormatHeightOffset = 56;
constexpr unsigned kFormatSizeBytesNeeded = 60;
constexpr unsigned kFormat2WidthOffset = 76;
constexpr unsigned kFormat2HeightOffset = 80;
constexpr unsigned kFormat2SizeBytesNeeded = 84;
// AvgTimePerFrame (100 ns units, signed 64-bit) in both kinds of block.
constexpr unsigned kFormatFrameIntervalOffset = 40;
// MinFrameInterval (100 ns units, signed 64-bit) in VIDEO_STREAM_CONFIG_CAPS.
constexpr unsigned kCapsMinFrameIntervalOffset = 104;

// Reads width and height from a media type's format block: at 76 and 80 for
// FORMAT_VideoInfo2, at the video-info positions (52 and 56) for any other
// format type. False (and 0, 0) when the block is too small to hold them.
bool ReadFormatSize(const AM_MEDIA_TYPE &type, int32_t *width, int32_t *height);

// The frame format of a subtype the library reads itself (RGB24 is copied as
// it is, MJPG decoded, the others converted); kUnknown for any other subtype.
FrameFormat FrameFormatOfSubtype(const GUID &subtype);

// How a capability of the requested size ranks for the library. A format the
// library reads is deliverable (MJPG, which the frame sink decodes, as a
// compressed one); any other format (H.264, bit depths the library does not
// read) is not, since nothing can be counted on to deliver it.
struct CapabilityRank {
    bool deliverable = false;
    bool compressed = false;
    // Time between frames in 100 ns units; INT64_MAX when the capability tells none.
    int64_t frame_interval_100ns = INT64_MAX;
};

// Ranks one capability. The rate is the format's AvgTimePerFrame: that is the
// rate the type runs at when it is applied as it stands (the library sets it
// unchanged). Only where the format block gives none (0 or a block too short)
// is the capability block's MinFrameInterval taken, when `caps` holds it.
CapabilityRank RankCapability(const AM_MEDIA_TYPE &type, const BYTE *caps, int caps_bytes);

// True when `a` is to be applied rather than `b` (both deliverable): the
// higher frame rate, and at equal rates an uncompressed format before a
// compressed one. Equal ranks keep the one found first.
bool PreferCapability(const CapabilityRank &a, const CapabilityRank &b);

}  // namespace kovic
