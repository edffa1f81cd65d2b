// Capture formats and media types; pure functions, any thread.
#include "video_format.h"

#include <cstring>
#include <initializer_list>

namespace vcam {
namespace {

// Four-character codes of the YUV subtypes, as biCompression holds them.
constexpr DWORD kFourccI420 = 0x30323449;  // 'I','4','2','0'
constexpr DWORD kFourccYuy2 = 0x32595559;  // 'Y','U','Y','2'

// MEDIASUBTYPE_I420 is the FOURCC GUID {30323449-0000-0010-8000-00AA00389B71}.
const GUID kSubtypeI420 = {kFourccI420, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

}  // namespace

int32_t AbsoluteHeight(const VideoFormat &format) { return format.height < 0 ? -format.height : format.height; }

int32_t RowBytes(const VideoFormat &format) {
    switch (format.pixel) {
    case PixelFormat::kRgb24: return (format.width * 3 + 3) & ~3;
    case PixelFormat::kI420: return format.width;
    case PixelFormat::kYuy2: return format.width * 2;
    }
    return 0;
}

uint32_t ImageBytes(const VideoFormat &format) {
    uint32_t rows = static_cast<uint32_t>(AbsoluteHeight(format));
    uint32_t row = static_cast<uint32_t>(RowBytes(format));
    if (format.pixel == PixelFormat::kI420) {
        // Luma plane, then two chroma planes of a quarter each.
        return row * rows + 2 * ((row / 2) * (rows / 2));
    }
    return row * rows;
}

uint16_t BitsPerPixel(PixelFormat pixel) {
    switch (pixel) {
    case PixelFormat::kRgb24: return 24;
    case PixelFormat::kI420: return 12;
    case PixelFormat::kYuy2: return 16;
    }
    return 0;
}

REFERENCE_TIME FrameInterval100ns(uint32_t frames_per_second) {
    return frames_per_second == 0 ? 0 : kUnitsPerSecond / frames_per_second;
}

const GUID &SubtypeOf(PixelFormat pixel) {
    switch (pixel) {
    case PixelFormat::kRgb24: return MEDIASUBTYPE_RGB24;
    case PixelFormat::kI420: return kSubtypeI420;
    case PixelFormat::kYuy2: return MEDIASUBTYPE_YUY2;
    }
    return GUID_NULL;
}

bool PixelFormatOfSubtype(const GUID &subtype, PixelFormat *pixel) {
    for (PixelFormat p : {PixelFormat::kRgb24, PixelFormat::kI420, PixelFormat::kYuy2}) {
        if (IsEqualGUID(subtype, SubtypeOf(p))) {
            *pixel = p;
            return true;
        }
    }
    return false;
}

bool IsProducible(const VideoFormat &format) {
    if (format.width <= 0 || format.height == 0 || format.width > 8192 || AbsoluteHeight(format) > 8192) return false;
    switch (format.pixel) {
    case PixelFormat::kRgb24: return true;
    case PixelFormat::kI420: return format.height > 0 && format.width % 2 == 0 && format.height % 2 == 0;
    case PixelFormat::kYuy2: return format.height > 0 && format.width % 2 == 0;
    }
    return false;
}

bool SameFrameShape(const VideoFormat &a, const VideoFormat &b) {
    return a.pixel == b.pixel && a.width == b.width && a.height == b.height;
}

HRESULT FillMediaType(const VideoFormat &format, AM_MEDIA_TYPE *type) {
    std::memset(type, 0, sizeof(*type));
    auto *info = static_cast<VIDEOINFOHEADER *>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    if (info == nullptr) return E_OUTOFMEMORY;
    std::memset(info, 0, sizeof(*info));
    uint32_t image_bytes = ImageBytes(format);
    info->AvgTimePerFrame = FrameInterval100ns(format.frames_per_second);
    info->dwBitRate = static_cast<DWORD>(static_cast<uint64_t>(image_bytes) * 8u * format.frames_per_second);
    BITMAPINFOHEADER &header = info->bmiHeader;
    header.biSize = sizeof(BITMAPINFOHEADER);
    header.biWidth = format.width;
    header.biHeight = format.height;
    header.biPlanes = 1;
    header.biBitCount = BitsPerPixel(format.pixel);
    header.biCompression = format.pixel == PixelFormat::kRgb24 ? BI_RGB
                           : format.pixel == PixelFormat::kI420 ? kFourccI420
                                                                 : kFourccYuy2;
    header.biSizeImage = image_bytes;

    type->majortype = MEDIATYPE_Video;
    type->subtype = SubtypeOf(format.pixel);
    type->bFixedSizeSamples = TRUE;
    type->bTemporalCompression = FALSE;
    type->lSampleSize = image_bytes;
    type->formattype = FORMAT_VideoInfo;
    type->cbFormat = sizeof(VIDEOINFOHEADER);
    type->pbFormat = reinterpret_cast<BYTE *>(info);
    return S_OK;
}

AM_MEDIA_TYPE *CreateMediaType(const VideoFormat &format) {
    auto *type = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (type == nullptr) return nullptr;
    if (FAILED(FillMediaType(format, type))) {
        CoTaskMemFree(type);
        return nullptr;
    }
    return type;
}

HRESULT CopyMediaType(const AM_MEDIA_TYPE &from, AM_MEDIA_TYPE *to) {
    *to = from;
    to->pbFormat = nullptr;
    to->cbFormat = 0;
    if (from.cbFormat != 0 && from.pbFormat != nullptr) {
        to->pbFormat = static_cast<BYTE *>(CoTaskMemAlloc(from.cbFormat));
        if (to->pbFormat == nullptr) {
            to->pUnk = nullptr;
            return E_OUTOFMEMORY;
        }
        std::memcpy(to->pbFormat, from.pbFormat, from.cbFormat);
        to->cbFormat = from.cbFormat;
    }
    if (to->pUnk != nullptr) to->pUnk->AddRef();
    return S_OK;
}

void FreeMediaTypeContents(AM_MEDIA_TYPE *type) {
    if (type->pbFormat != nullptr) CoTaskMemFree(type->pbFormat);
    type->pbFormat = nullptr;
    type->cbFormat = 0;
    if (type->pUnk != nullptr) type->pUnk->Release();
    type->pUnk = nullptr;
}

void DeleteMediaType(AM_MEDIA_TYPE *type) {
    if (type == nullptr) return;
    FreeMediaTypeContents(type);
    CoTaskMemFree(type);
}

void FillStreamCaps(const VideoFormat &format, VIDEO_STREAM_CONFIG_CAPS *caps) {
    std::memset(caps, 0, sizeof(*caps));
    SIZE size = {format.width, AbsoluteHeight(format)};
    REFERENCE_TIME interval = FrameInterval100ns(format.frames_per_second);
    LONG bits_per_second =
        static_cast<LONG>(static_cast<uint64_t>(ImageBytes(format)) * 8u * format.frames_per_second);
    caps->guid = FORMAT_VideoInfo;
    caps->VideoStandard = 0;  // AnalogVideo_None
    caps->InputSize = size;
    caps->MinCroppingSize = size;
    caps->MaxCroppingSize = size;
    caps->CropGranularityX = 1;
    caps->CropGranularityY = 1;
    caps->CropAlignX = 1;
    caps->CropAlignY = 1;
    caps->MinOutputSize = size;
    caps->MaxOutputSize = size;
    caps->OutputGranularityX = 0;  // one size per capability
    caps->OutputGranularityY = 0;
    caps->MinFrameInterval = interval;
    caps->MaxFrameInterval = interval;
    caps->MinBitsPerSecond = bits_per_second;
    caps->MaxBitsPerSecond = bits_per_second;
}

bool ReadMediaType(const AM_MEDIA_TYPE &type, VideoFormat *format) {
    if (!IsEqualGUID(type.majortype, MEDIATYPE_Video) || !IsEqualGUID(type.formattype, FORMAT_VideoInfo)) return false;
    if (type.pbFormat == nullptr || type.cbFormat < sizeof(VIDEOINFOHEADER)) return false;
    PixelFormat pixel;
    if (!PixelFormatOfSubtype(type.subtype, &pixel)) return false;
    VIDEOINFOHEADER info;
    std::memcpy(&info, type.pbFormat, sizeof(info));
    format->pixel = pixel;
    format->width = info.bmiHeader.biWidth;
    format->height = info.bmiHeader.biHeight;
    format->frames_per_second =
        info.AvgTimePerFrame > 0 ? static_cast<uint32_t>(kUnitsPerSecond / info.AvgTimePerFrame) : 0;
    return true;
}

}  // namespace vcam
