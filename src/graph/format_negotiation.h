// Capture format negotiation: finding the capture pin's stream configuration,
// applying the requested size (RGB24 first, then I420), and answering the size
// and format queries. Host thread only.
#pragma once

#include "session/capture_session.h"

namespace kovic {

enum class AppliedFormat { kNothing, kRgb24, kI420 };

// Byte offsets of the bitmap header's size fields inside a VIDEOINFOHEADER
// format block, and the block size needed to read both.
constexpr unsigned kFormatWidthOffset = 52;
constexpr unsigned kFormatHeightOffset = 56;
constexpr unsigned kFormatSizeBytesNeeded = 60;

// Reads width and height from a media type's format block at the video-info
// positions; false (and 0, 0) when the block is too small to hold them.
bool ReadFormatSize(const AM_MEDIA_TYPE &type, int32_t *width, int32_t *height);

AppliedFormat FindStreamConfig(CaptureSession *session);
int ApplyCaptureFormat(CaptureSession *session, REFGUID subtype);
int HasCaptureFormat(CaptureSession *session, int32_t width, int32_t height);

enum class FormatDimension { kWidth, kHeight };
// The current format's width, or its absolute height; 0 when unknown.
int32_t ReadCurrentFormat(CaptureSession *session, FormatDimension dimension);

}  // namespace kovic
