// Capture formats of the virtual camera and the media types built from them.
// Pure functions; the media types they return are CoTaskMem-allocated and
// owned by the caller.
#pragma once

#include <cstdint>
#include <string>

#include "vcam_platform.h"

namespace vcam {

// The pixel layouts a capability can carry. 4:2:0 formats (I420, YV12, NV12)
// store a luma plane and chroma subsampled 2x2; 4:2:2 formats (YUY2, UYVY)
// pack a pixel pair's luma and its one chroma pair into four bytes; RGB rows
// are padded to 4 bytes (RGB32 rows are whole already) and a positive height
// stores the bottom row first. MJPG frames are JPEG pictures of varying length.
enum class PixelFormat { kRgb24, kI420, kYuy2, kNv12, kUyvy, kYv12, kRgb32, kMjpg };

// Every pixel format, in declaration order.
constexpr PixelFormat kAllPixelFormats[] = {PixelFormat::kRgb24, PixelFormat::kI420, PixelFormat::kYuy2,
                                            PixelFormat::kNv12,  PixelFormat::kUyvy, PixelFormat::kYv12,
                                            PixelFormat::kRgb32, PixelFormat::kMjpg};

// One capability. Height is signed: a negative RGB height means top-down rows.
struct VideoFormat {
    PixelFormat pixel = PixelFormat::kRgb24;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t frames_per_second = 30;
};

constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;  // REFERENCE_TIME counts 100 ns

int32_t AbsoluteHeight(const VideoFormat &format);
// Bytes per row of the first plane: RGB24 rows are padded to a multiple of 4
// bytes, RGB32 rows are 4 * width, the luma rows of the 4:2:0 formats width
// bytes, the packed 4:2:2 rows 2 * width; MJPG has no rows (0).
int32_t RowBytes(const VideoFormat &format);
// biSizeImage: every plane of one frame; for MJPG the bound on a frame's
// length, 2 bytes a pixel, as webcams announce it.
uint32_t ImageBytes(const VideoFormat &format);
// Whether frames are compressed, and so of varying length.
bool IsCompressed(PixelFormat pixel);
uint16_t BitsPerPixel(PixelFormat pixel);
// biCompression: BI_RGB for the RGB formats, the four-character code otherwise.
DWORD CompressionOf(PixelFormat pixel);
// Whether the format stores RGB (and so may be stored top-down).
bool IsRgb(PixelFormat pixel);
// The profile's name of a format ("NV12"), and the format of a name (any case).
const wchar_t *NameOf(PixelFormat pixel);
bool PixelFormatOfName(const std::wstring &name, PixelFormat *pixel);
// 10^7 / fps, truncated (333333 for 30, 166666 for 60); 0 for 0 fps.
REFERENCE_TIME FrameInterval100ns(uint32_t frames_per_second);

const GUID &SubtypeOf(PixelFormat pixel);
bool PixelFormatOfSubtype(const GUID &subtype, PixelFormat *pixel);
// Whether the sizes and subsampling of a format can be produced: positive
// width, non-zero height, top-down only for the RGB formats, an even width for
// the YUV ones and MJPG (4:2:2) and an even height for the 4:2:0 ones.
bool IsProducible(const VideoFormat &format);
// Same pixel format and size (signed height); the rate is not compared.
bool SameFrameShape(const VideoFormat &a, const VideoFormat &b);

// Fills `type` (whose previous contents are not freed) with a video-info
// media type for the format; its format block comes from CoTaskMemAlloc.
// E_OUTOFMEMORY leaves `type` zeroed.
HRESULT FillMediaType(const VideoFormat &format, AM_MEDIA_TYPE *type);
// The same in a CoTaskMem record of its own (null when out of memory).
AM_MEDIA_TYPE *CreateMediaType(const VideoFormat &format);
// Deep copy of any media type into `to` (pUnk is added a reference).
HRESULT CopyMediaType(const AM_MEDIA_TYPE &from, AM_MEDIA_TYPE *to);
// Frees the format block and pUnk of a record, and zeroes both.
void FreeMediaTypeContents(AM_MEDIA_TYPE *type);
void DeleteMediaType(AM_MEDIA_TYPE *type);

void FillStreamCaps(const VideoFormat &format, VIDEO_STREAM_CONFIG_CAPS *caps);

// Reads a video-info media type back into a format; false for any other kind
// of type, an unknown subtype, or a format block too short for its header.
// The rate comes from AvgTimePerFrame (0 when it is 0).
bool ReadMediaType(const AM_MEDIA_TYPE &type, VideoFormat *format);

}  // namespace vcam
