// Capture formats and media types; pure functions, any thread.
#include "video_format.h"

#include <cstring>
#include <cwctype>

namespace vcam {
namespace {

// Four-character codes of the YUV subtypes, as biCompression holds them
// (first character in the lowest byte).
constexpr DWORD Fourcc(char a, char b, char c, char d) {
    return static_cast<DWORD>(static_cast<uint8_t>(a)) | (static_cast<DWORD>(static_cast<uint8_t>(b)) << 8) |
           (static_cast<DWORD>(static_cast<uint8_t>(c)) << 16) | (static_cast<DWORD>(static_cast<uint8_t>(d)) << 24);
}
constexpr DWORD kFourccI420 = Fourcc('I', '4', '2', '0');  // 0x30323449
constexpr DWORD kFourccYuy2 = Fourcc('Y', 'U', 'Y', '2');  // 0x32595559
constexpr DWORD kFourccNv12 = Fourcc('N', 'V', '1', '2');  // 0x3231564E
constexpr DWORD kFourccUyvy = Fourcc('U', 'Y', 'V', 'Y');  // 0x59565955
constexpr DWORD kFourccYv12 = Fourcc('Y', 'V', '1', '2');  // 0x32315659
constexpr DWORD kFourccMjpg = Fourcc('M', 'J', 'P', 'G');  // 0x47504A4D

// A FOURCC subtype is {fourcc-0000-0010-8000-00AA00389B71}. Written out here,
// since not every SDK's headers declare all of them.
constexpr GUID FourccSubtype(DWORD fourcc) {
    return {fourcc, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};
}
const GUID kSubtypeI420 = FourccSubtype(kFourccI420);
const GUID kSubtypeYuy2 = FourccSubtype(kFourccYuy2);
const GUID kSubtypeNv12 = FourccSubtype(kFourccNv12);
const GUID kSubtypeUyvy = FourccSubtype(kFourccUyvy);
const GUID kSubtypeYv12 = FourccSubtype(kFourccYv12);
const GUID kSubtypeMjpg = FourccSubtype(kFourccMjpg);
// MEDIASUBTYPE_RGB24 and MEDIASUBTYPE_RGB32: {e436eb7d-...} and {e436eb7e-...}.
const GUID kSubtypeRgb24 = {0xe436eb7d, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};
const GUID kSubtypeRgb32 = {0xe436eb7e, 0x524f, 0x11ce, {0x9f, 0x53, 0x00, 0x20, 0xaf, 0x0b, 0xa7, 0x70}};

bool IsPlanar420(PixelFormat pixel) {
    return pixel == PixelFormat::kI420 || pixel == PixelFormat::kYv12 || pixel == PixelFormat::kNv12;
}

}  // namespace

int32_t AbsoluteHeight(const VideoFormat &format) { return format.height < 0 ? -format.height : format.height; }

int32_t RowBytes(const VideoFormat &format) {
    switch (format.pixel) {
    case PixelFormat::kRgb24: return (format.width * 3 + 3) & ~3;
    case PixelFormat::kRgb32: return format.width * 4;
    case PixelFormat::kI420:
    case PixelFormat::kYv12:
    case PixelFormat::kNv12: return format.width;
    case PixelFormat::kYuy2:
    case PixelFormat::kUyvy: return format.width * 2;
    case PixelFormat::kMjpg: return 0;
    }
    return 0;
}

uint32_t ImageBytes(const VideoFormat &format) {
    uint32_t rows = static_cast<uint32_t>(AbsoluteHeight(format));
    if (format.pixel == PixelFormat::kMjpg) return static_cast<uint32_t>(format.width) * rows * 2;
    uint32_t row = static_cast<uint32_t>(RowBytes(format));
    if (IsPlanar420(format.pixel)) {
        // Luma plane, then chroma of a quarter per component (two planes, or
        // one plane of interleaved pairs for NV12).
        return row * rows + 2 * ((row / 2) * (rows / 2));
    }
    return row * rows;
}

uint16_t BitsPerPixel(PixelFormat pixel) {
    switch (pixel) {
    case PixelFormat::kRgb24: return 24;
    case PixelFormat::kRgb32: return 32;
    case PixelFormat::kI420:
    case PixelFormat::kYv12:
    case PixelFormat::kNv12: return 12;
    case PixelFormat::kYuy2:
    case PixelFormat::kUyvy: return 16;
    case PixelFormat::kMjpg: return 24;  // the decoded picture's depth, as cameras state it
    }
    return 0;
}

bool IsCompressed(PixelFormat pixel) { return pixel == PixelFormat::kMjpg; }

DWORD CompressionOf(PixelFormat pixel) {
    switch (pixel) {
    case PixelFormat::kRgb24:
    case PixelFormat::kRgb32: return BI_RGB;
    case PixelFormat::kI420: return kFourccI420;
    case PixelFormat::kYuy2: return kFourccYuy2;
    case PixelFormat::kNv12: return kFourccNv12;
    case PixelFormat::kUyvy: return kFourccUyvy;
    case PixelFormat::kYv12: return kFourccYv12;
    case PixelFormat::kMjpg: return kFourccMjpg;
    }
    return BI_RGB;
}

bool IsRgb(PixelFormat pixel) { return pixel == PixelFormat::kRgb24 || pixel == PixelFormat::kRgb32; }

const wchar_t *NameOf(PixelFormat pixel) {
    switch (pixel) {
    case PixelFormat::kRgb24: return L"RGB24";
    case PixelFormat::kI420: return L"I420";
    case PixelFormat::kYuy2: return L"YUY2";
    case PixelFormat::kNv12: return L"NV12";
    case PixelFormat::kUyvy: return L"UYVY";
    case PixelFormat::kYv12: return L"YV12";
    case PixelFormat::kRgb32: return L"RGB32";
    case PixelFormat::kMjpg: return L"MJPG";
    }
    return L"";
}

bool PixelFormatOfName(const std::wstring &name, PixelFormat *pixel) {
    std::wstring upper = name;
    for (wchar_t &c : upper) c = static_cast<wchar_t>(std::towupper(c));
    for (PixelFormat p : kAllPixelFormats) {
        if (upper == NameOf(p)) {
            *pixel = p;
            return true;
        }
    }
    return false;
}

REFERENCE_TIME FrameInterval100ns(uint32_t frames_per_second) {
    return frames_per_second == 0 ? 0 : kUnitsPerSecond / frames_per_second;
}

const GUID &SubtypeOf(PixelFormat pixel) {
    switch (pixel) {
    case PixelFormat::kRgb24: return kSubtypeRgb24;
    case PixelFormat::kI420: return kSubtypeI420;
    case PixelFormat::kYuy2: return kSubtypeYuy2;
    case PixelFormat::kNv12: return kSubtypeNv12;
    case PixelFormat::kUyvy: return kSubtypeUyvy;
    case PixelFormat::kYv12: return kSubtypeYv12;
    case PixelFormat::kRgb32: return kSubtypeRgb32;
    case PixelFormat::kMjpg: return kSubtypeMjpg;
    }
    return GUID_NULL;
}

bool PixelFormatOfSubtype(const GUID &subtype, PixelFormat *pixel) {
    for (PixelFormat p : kAllPixelFormats) {
        if (IsEqualGUID(subtype, SubtypeOf(p))) {
            *pixel = p;
            return true;
        }
    }
    return false;
}

bool IsProducible(const VideoFormat &format) {
    if (format.width <= 0 || format.height == 0 || format.width > 8192 || AbsoluteHeight(format) > 8192) return false;
    if (IsRgb(format.pixel)) return true;
    if (format.height < 0 || format.width % 2 != 0) return false;
    return !IsPlanar420(format.pixel) || format.height % 2 == 0;
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
    header.biCompression = CompressionOf(format.pixel);
    header.biSizeImage = image_bytes;

    type->majortype = MEDIATYPE_Video;
    type->subtype = SubtypeOf(format.pixel);
    // Compressed frames vary in length; biSizeImage and lSampleSize give their bound.
    type->bFixedSizeSamples = IsCompressed(format.pixel) ? FALSE : TRUE;
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
