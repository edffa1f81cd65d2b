// The filter-graph model's building blocks: media-type records, pins, filters,
// the pin enumerator. Connections change on the host's thread; samples pass
// through PassDownstream on the delivering thread.
#include "platform/emulated/graph_model.h"

#include <algorithm>
#include <cstring>

namespace emu {
namespace {

constexpr size_t kWidthOffset = offsetof(VIDEOINFOHEADER, bmiHeader) + offsetof(BITMAPINFOHEADER, biWidth);
constexpr size_t kHeightOffset = offsetof(VIDEOINFOHEADER, bmiHeader) + offsetof(BITMAPINFOHEADER, biHeight);
constexpr size_t kWidthOffset2 = offsetof(VIDEOINFOHEADER2, bmiHeader) + offsetof(BITMAPINFOHEADER, biWidth);
constexpr size_t kHeightOffset2 = offsetof(VIDEOINFOHEADER2, bmiHeader) + offsetof(BITMAPINFOHEADER, biHeight);
constexpr DWORD kBiRgb = 0;

bool IsPlanar420(const GUID &subtype) {
    return IsEqualGUID(subtype, MEDIASUBTYPE_I420) || IsEqualGUID(subtype, MEDIASUBTYPE_IYUV) ||
           IsEqualGUID(subtype, MEDIASUBTYPE_YV12) || IsEqualGUID(subtype, MEDIASUBTYPE_NV12);
}

WORD BitsPerPixel(const GUID &subtype) {
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24) || IsEqualGUID(subtype, MEDIASUBTYPE_MJPG)) return 24;
    if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32)) return 32;
    if (IsPlanar420(subtype)) return 12;
    return 16;  // YUY2, UYVY and the other packed 4:2:2 formats
}

bool IsRgb(const GUID &subtype) {
    return IsEqualGUID(subtype, MEDIASUBTYPE_RGB24) || IsEqualGUID(subtype, MEDIASUBTYPE_RGB32);
}

bool IsVideoInfo2(const GUID &format_type) { return IsEqualGUID(format_type, FORMAT_VideoInfo2); }

// Walks a filter's pins for the library: a snapshot of the filter's fixed pins
// and a reference to the filter, which keeps the pins alive.
class PinEnumerator final : public IEnumPins, public EmuObject {
public:
    explicit PinEnumerator(EmuFilter *filter) : filter_(filter) { filter_->AddRef(); }
    ~PinEnumerator() override { filter_->Release(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override {
        return QueryImpl(iid, out, {{&IID_IUnknown, this}, {&IID_IEnumPins, this}});
    }
    EMU_REFCOUNT_METHODS
    // More than one pin asked for without a count to tell how many came is
    // E_INVALIDARG, as DirectShow's pin enumerators answer.
    HRESULT STDMETHODCALLTYPE Next(ULONG count, IPin **out, ULONG *fetched) override {
        if (out == nullptr) return E_POINTER;
        if (count > 1 && fetched == nullptr) return E_INVALIDARG;
        HRESULT injected = CheckFault(Call::EnumPinsNext);
        if (fetched) *fetched = 0;
        if (FAILED(injected)) return injected;
        ULONG n = 0;
        while (n < count && position_ < filter_->pin_count()) {
            EmuPin *pin = filter_->pin(position_++);
            pin->AddRef();
            out[n++] = pin;
        }
        if (fetched) *fetched = n;
        return n == count ? Completed(injected) : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override {
        position_ = 0;
        return S_OK;
    }

private:
    EmuFilter *filter_;
    size_t position_ = 0;
};

}  // namespace

uint32_t FrameBytes(const SimulatedFormat &format) {
    if (format.width <= 0 || format.height == 0) return 0;
    uint64_t width = static_cast<uint64_t>(format.width);
    uint64_t rows = format.height < 0 ? 0 - static_cast<uint64_t>(static_cast<int64_t>(format.height))
                                      : static_cast<uint64_t>(format.height);
    uint64_t bytes;
    if (IsRgb(format.subtype)) {
        bytes = ((width * BitsPerPixel(format.subtype) / 8 + 3) & ~uint64_t{3}) * rows;
    } else if (IsPlanar420(format.subtype)) {
        // A full-size Y plane, then U and V at half size each way, rounded up
        // (NV12: one plane of U,V pairs of the same size).
        bytes = width * rows + 2 * ((width + 1) / 2) * ((rows + 1) / 2);
    } else if (IsEqualGUID(format.subtype, MEDIASUBTYPE_MJPG)) {
        bytes = width * rows * 2;  // the largest compressed frame a sample holds
    } else {
        // Packed 4:2:2: four bytes for each pair of pixels, a lone last pixel rounded up to a pair.
        bytes = (width + 1) / 2 * 4 * rows;
    }
    return bytes > UINT32_MAX ? 0 : static_cast<uint32_t>(bytes);
}

// --- MediaTypeRecord ---

MediaTypeRecord MediaTypeRecord::From(const AM_MEDIA_TYPE &type) {
    MediaTypeRecord r;
    r.majortype = type.majortype;
    r.subtype = type.subtype;
    r.formattype = type.formattype;
    r.fixed_size_samples = type.bFixedSizeSamples;
    r.temporal_compression = type.bTemporalCompression;
    r.sample_size = type.lSampleSize;
    if (type.cbFormat != 0 && type.pbFormat != nullptr) r.format.assign(type.pbFormat, type.pbFormat + type.cbFormat);
    return r;
}

SimulatedFormat VideoInfo2Format(const GUID &subtype, int32_t width, int32_t height) {
    SimulatedFormat format{subtype, width, height};
    format.format_type = FORMAT_VideoInfo2;
    format.format_bytes = sizeof(VIDEOINFOHEADER2);
    return format;
}

MediaTypeRecord MediaTypeRecord::FromFormat(const SimulatedFormat &format, double frames_per_second) {
    if (format.frames_per_second > 0) frames_per_second = format.frames_per_second;
    MediaTypeRecord r;
    r.majortype = MEDIATYPE_Video;
    r.subtype = format.subtype;
    r.formattype = format.format_type;
    r.fixed_size_samples = TRUE;
    r.sample_size = FrameBytes(format);

    VIDEOINFOHEADER header;
    std::memset(&header, 0, sizeof(header));
    if (frames_per_second > 0) {
        header.AvgTimePerFrame = static_cast<REFERENCE_TIME>(10000000.0 / frames_per_second);
        header.dwBitRate = static_cast<DWORD>(std::min(4294967295.0, r.sample_size * 8.0 * frames_per_second));
    }
    header.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    header.bmiHeader.biWidth = format.width;
    header.bmiHeader.biHeight = format.height;
    header.bmiHeader.biPlanes = 1;
    header.bmiHeader.biBitCount = BitsPerPixel(format.subtype);
    header.bmiHeader.biCompression = IsRgb(format.subtype) ? kBiRgb : format.subtype.Data1;  // FOURCC
    header.bmiHeader.biSizeImage = r.sample_size;

    // Compressed frames vary in size.
    if (IsEqualGUID(format.subtype, MEDIASUBTYPE_MJPG)) r.fixed_size_samples = FALSE;
    r.format.assign(format.format_bytes, 0);
    if (r.format.empty()) return r;
    if (IsVideoInfo2(format.format_type)) {
        // The same leading fields, then the bitmap header further on.
        VIDEOINFOHEADER2 header2;
        std::memset(&header2, 0, sizeof(header2));
        std::memcpy(&header2, &header, offsetof(VIDEOINFOHEADER, bmiHeader));
        header2.bmiHeader = header.bmiHeader;
        std::memcpy(r.format.data(), &header2, std::min(r.format.size(), sizeof(header2)));
    } else {
        std::memcpy(r.format.data(), &header, std::min(r.format.size(), sizeof(header)));
    }
    return r;
}

MediaTypeRecord MediaTypeRecord::Rgb24(int32_t width, int32_t height) {
    return FromFormat({MEDIASUBTYPE_RGB24, width, height}, 0.0);
}

bool MediaTypeRecord::ReadSize(int32_t *width, int32_t *height) const {
    const bool second = IsVideoInfo2(formattype);
    const size_t width_at = second ? kWidthOffset2 : kWidthOffset, height_at = second ? kHeightOffset2 : kHeightOffset;
    if (format.size() < height_at + sizeof(int32_t)) return false;
    std::memcpy(width, format.data() + width_at, sizeof(*width));
    std::memcpy(height, format.data() + height_at, sizeof(*height));
    return true;
}

bool MediaTypeRecord::SameAs(const MediaTypeRecord &other) const {
    return IsEqualGUID(majortype, other.majortype) && IsEqualGUID(subtype, other.subtype) &&
           IsEqualGUID(formattype, other.formattype) && format == other.format;
}

HRESULT MediaTypeRecord::CopyTo(AM_MEDIA_TYPE *out) const {
    std::memset(out, 0, sizeof(*out));
    BYTE *block = nullptr;
    if (!format.empty()) {
        block = static_cast<BYTE *>(CoTaskMemAlloc(format.size()));
        if (block == nullptr) return E_OUTOFMEMORY;
        std::memcpy(block, format.data(), format.size());
    }
    out->majortype = majortype;
    out->subtype = subtype;
    out->bFixedSizeSamples = fixed_size_samples;
    out->bTemporalCompression = temporal_compression;
    out->lSampleSize = sample_size;
    out->formattype = formattype;
    out->pUnk = nullptr;
    out->cbFormat = static_cast<ULONG>(format.size());
    out->pbFormat = block;
    return S_OK;
}

HRESULT MediaTypeRecord::NewTaskMemoryCopy(AM_MEDIA_TYPE **out) const {
    *out = nullptr;
    auto *type = static_cast<AM_MEDIA_TYPE *>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (type == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = CopyTo(type);
    if (FAILED(hr)) {
        CoTaskMemFree(type);
        return hr;
    }
    *out = type;
    return S_OK;
}

// --- EmuPin ---

EmuPin::EmuPin(EmuFilter *owner, PIN_DIRECTION direction, const wchar_t *name)
    : owner_(owner), direction_(direction), name_(name) {}

EmuPin::~EmuPin() { Detach(); }

ULONG STDMETHODCALLTYPE EmuPin::AddRef() { return owner_->AddRef(); }
ULONG STDMETHODCALLTYPE EmuPin::Release() { return owner_->Release(); }

HRESULT EmuPin::Query(REFIID iid, void **out, bool injectable) {
    return QueryTable(iid, out, {{&IID_IUnknown, this}, {&IID_IPin, this}}, injectable);
}

HRESULT STDMETHODCALLTYPE EmuPin::ConnectedTo(IPin **peer) {
    if (peer == nullptr) return E_POINTER;
    *peer = nullptr;
    HRESULT injected = CheckFault(Call::ConnectedTo);
    if (FAILED(injected)) return injected;
    if (peer_ == nullptr) return VFW_E_NOT_CONNECTED;
    peer_->AddRef();
    *peer = peer_;
    return Completed(injected);
}

HRESULT STDMETHODCALLTYPE EmuPin::QueryPinInfo(PIN_INFO *info) {
    if (info == nullptr) return E_POINTER;
    HRESULT injected = CheckFault(Call::QueryPinInfo);
    if (FAILED(injected)) return injected;  // *info untouched: no filter reference handed out
    owner_->AddRef();
    info->pFilter = owner_;
    info->dir = direction_;
    const std::u16string name = Utf16Of(name_);
    size_t chars = std::min(name.size(), sizeof(info->achName) / sizeof(info->achName[0]) - 1);
    std::char_traits<WCHAR>::copy(info->achName, name.c_str(), chars);
    info->achName[chars] = u'\0';
    return Completed(injected);
}

HRESULT STDMETHODCALLTYPE EmuPin::QueryDirection(PIN_DIRECTION *direction) {
    if (direction == nullptr) return E_POINTER;
    HRESULT injected = CheckFault(Call::QueryDirection);
    if (FAILED(injected)) return injected;  // *direction untouched
    *direction = direction_;
    return Completed(injected);
}

void EmuPin::Attach(EmuPin *peer, const MediaTypeRecord &type) {
    peer->AddRef();
    peer_ = peer;
    connected_type_ = type;
}

bool EmuPin::Detach() {
    if (peer_ == nullptr) return false;
    EmuPin *peer = peer_;
    peer_ = nullptr;
    connected_type_ = MediaTypeRecord();
    peer->Release();  // may destroy the peer's filter, never this one
    return true;
}

// --- EmuFilter ---

EmuFilter::~EmuFilter() {
    // Pins still connected on this side release their peers as they go.
    pins_.clear();
}

HRESULT EmuFilter::Query(REFIID iid, void **out, bool injectable) {
    return QueryTable(iid, out, {{&IID_IUnknown, this}, {&IID_IBaseFilter, this}}, injectable);
}

HRESULT STDMETHODCALLTYPE EmuFilter::EnumPins(IEnumPins **out) {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    HRESULT injected = CheckFault(Call::EnumPins);
    if (FAILED(injected)) return injected;
    *out = new PinEnumerator(this);
    return Completed(injected);
}

HRESULT EmuFilter::Receive(EmuPin *, REFERENCE_TIME, const BYTE *, LONG) { return E_UNEXPECTED; }

HRESULT EmuFilter::FindPinInterface(const GUID *, const GUID *, REFIID, void **) { return E_NOINTERFACE; }

void EmuFilter::DisconnectAll() {
    for (auto &pin : pins_) {
        EmuPin *peer = pin->peer();
        if (peer == nullptr) continue;
        // The peer's side first: while this side holds the peer, its filter stays alive.
        if (peer->peer() == pin.get()) peer->Detach();
        pin->Detach();
    }
}

HRESULT EmuFilter::PassDownstream(EmuPin *output, REFERENCE_TIME start, const BYTE *data, LONG length) {
    EmuPin *input = output->peer();
    if (input == nullptr) return VFW_E_NOT_CONNECTED;
    return input->owner()->Receive(input, start, data, length);
}

EmuFilter *AsEmuFilter(IBaseFilter *filter) { return dynamic_cast<EmuFilter *>(filter); }
EmuPin *AsEmuPin(IPin *pin) { return dynamic_cast<EmuPin *>(pin); }

}  // namespace emu
