// Capture format negotiation helpers: reading a media type's frame size at the
// video-info positions. The negotiation steps are CaptureGraph's
// (format_negotiation.cpp). Pure functions; any thread.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace kovic {

// Byte offsets of the bitmap header's size fields inside a VIDEOINFOHEADER
// format block, and the block size needed to read both.
constexpr unsigned kFormatWidthOffset = 52;
constexpr unsigned kFormatHeightOffset = 56;
constexpr unsigned kFormatSizeBytesNeeded = 60;

// Reads width and height from a media type's format block at the video-info
// positions; false (and 0, 0) when the block is too small to hold them.
bool ReadFormatSize(const AM_MEDIA_TYPE &type, int32_t *width, int32_t *height);

}  // namespace kovic
