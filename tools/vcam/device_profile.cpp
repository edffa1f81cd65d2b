// Parsing of device profiles; pure functions, any thread.
#include "device_profile.h"

#include <cwctype>

namespace vcam {
namespace {

std::wstring Trim(const std::wstring &text) {
    size_t begin = 0, end = text.size();
    while (begin < end && std::iswspace(text[begin])) ++begin;
    while (end > begin && std::iswspace(text[end - 1])) --end;
    return text.substr(begin, end - begin);
}

std::vector<std::wstring> Split(const std::wstring &text, const wchar_t *separators) {
    std::vector<std::wstring> parts;
    std::wstring current;
    for (wchar_t c : text) {
        bool separator = false;
        for (const wchar_t *s = separators; *s != 0; ++s) separator = separator || c == *s;
        if (separator) {
            parts.push_back(current);
            current.clear();
        } else {
            current.push_back(c);
        }
    }
    parts.push_back(current);
    return parts;
}

// Reads an optionally signed decimal integer at `pos`, advancing it.
bool ReadInteger(const std::wstring &text, size_t *pos, bool allow_sign, int64_t *value) {
    bool negative = false;
    if (allow_sign && *pos < text.size() && (text[*pos] == L'-' || text[*pos] == L'+')) {
        negative = text[*pos] == L'-';
        ++*pos;
    }
    size_t digits = 0;
    int64_t v = 0;
    while (*pos < text.size() && text[*pos] >= L'0' && text[*pos] <= L'9') {
        v = v * 10 + (text[*pos] - L'0');
        if (v > 1000000) return false;
        ++*pos;
        ++digits;
    }
    if (digits == 0) return false;
    *value = negative ? -v : v;
    return true;
}

bool ParseEntry(const std::wstring &entry, uint32_t default_fps, VideoFormat *format) {
    std::wstring text = Trim(entry);
    size_t blank = text.find_first_of(L" \t");
    if (blank == std::wstring::npos) return false;
    if (!PixelFormatOfName(text.substr(0, blank), &format->pixel)) return false;
    std::wstring size = Trim(text.substr(blank));
    size_t pos = 0;
    int64_t width = 0, height = 0, fps = default_fps;
    if (!ReadInteger(size, &pos, false, &width)) return false;
    if (pos >= size.size() || (size[pos] != L'x' && size[pos] != L'X')) return false;
    ++pos;
    if (!ReadInteger(size, &pos, true, &height)) return false;
    if (pos < size.size() && size[pos] == L'@') {
        ++pos;
        if (!ReadInteger(size, &pos, false, &fps)) return false;
    }
    if (pos != size.size() || fps < 1 || fps > 1000) return false;
    format->width = static_cast<int32_t>(width);
    format->height = static_cast<int32_t>(height);
    format->frames_per_second = static_cast<uint32_t>(fps);
    return IsProducible(*format);
}

}  // namespace

DeviceProfile DefaultProfile() {
    DeviceProfile profile;
    ParseFormatList(L"RGB24 320x240, I420 320x240, RGB24 640x480, I420 640x480, YUY2 640x480",
                    kDefaultFramesPerSecond, &profile.formats);
    return profile;
}

bool ParseFormatList(const std::wstring &text, uint32_t default_fps, std::vector<VideoFormat> *formats) {
    std::vector<VideoFormat> parsed;
    for (const std::wstring &entry : Split(text, L",")) {
        VideoFormat format;
        if (!ParseEntry(entry, default_fps, &format)) return false;
        parsed.push_back(format);
        if (parsed.size() > kMaxFormats) return false;
    }
    *formats = parsed;
    return true;
}

bool ParseFaults(const std::wstring &text, uint32_t *faults) {
    uint32_t result = 0;
    for (const std::wstring &part : Split(text, L", \t")) {
        if (part.empty()) continue;
        if (part == L"fail-bind") {
            result |= kFaultFailBind;
        } else if (part == L"ignore-set-format") {
            result |= kFaultIgnoreSetFormat;
        } else if (part == L"preview-pin-first") {
            result |= kFaultPreviewPinFirst;
        } else if (part == L"short-frames") {
            result |= kFaultShortFrames;
        } else if (part == L"no-pin-category") {
            result |= kFaultNoPinCategory;
        } else if (part == L"corrupt-jpeg") {
            result |= kFaultCorruptJpeg;
        } else {
            return false;
        }
    }
    *faults = result;
    return true;
}

JpegDamage JpegDamageOfFrame(uint32_t counter) {
    switch (counter % 7) {
    case 3: return JpegDamage::kTruncated;
    case 6: return JpegDamage::kDamaged;
    default: return JpegDamage::kNone;
    }
}

bool ParseNumber(const std::wstring &text, uint32_t minimum, uint32_t maximum, uint32_t *value) {
    std::wstring trimmed = Trim(text);
    size_t pos = 0;
    int64_t v = 0;
    if (!ReadInteger(trimmed, &pos, false, &v) || pos != trimmed.size()) return false;
    if (v < minimum || v > maximum) return false;
    *value = static_cast<uint32_t>(v);
    return true;
}

}  // namespace vcam
