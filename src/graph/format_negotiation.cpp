// CaptureGraph's format negotiation: finding the capture pin's stream
// configuration, applying the requested size (RGB24 first, then I420, then
// the best format of that size the library can deliver), and answering the
// size and format queries. Host thread only.
#include "graph/format_negotiation.h"

#include <cstring>

#include "graph/capture_graph.h"
#include "graph/chain_connection.h"
#include "platform/hresult_tests.h"
#include "platform/media_type.h"

namespace kovic {
namespace {

// VIDEO_STREAM_CONFIG_CAPS is 128 bytes; of it only MinFrameInterval is read.
// A pin tells the size of its capability structure, and GetStreamCaps writes
// that many bytes, so a pin that reports more gets a block of that size. A
// size beyond any capability structure is a broken pin: its capabilities are
// passed over.
constexpr size_t kStreamCapsBytes = 128;
constexpr int kLargestStreamCapsBytes = 64 * 1024;

// The block GetStreamCaps writes into: on the stack for the documented size,
// from the library's allocator for a larger one. Empty when that fails.
class StreamCapsBlock {
public:
    explicit StreamCapsBlock(int reported_bytes) {
        if (reported_bytes <= static_cast<int>(kStreamCapsBytes)) {
            bytes_ = local_;
        } else {
            heap_ = static_cast<BYTE *>(AllocateMemory(static_cast<size_t>(reported_bytes)));
            bytes_ = heap_;
        }
        // Zeroed once, so that a pin that writes less than it reported is read as zeros.
        const size_t block_bytes = bytes_ == local_ ? kStreamCapsBytes : static_cast<size_t>(reported_bytes);
        if (bytes_ != nullptr) std::memset(bytes_, 0, block_bytes);
    }
    ~StreamCapsBlock() { FreeMemory(heap_); }
    StreamCapsBlock(const StreamCapsBlock &) = delete;
    StreamCapsBlock &operator=(const StreamCapsBlock &) = delete;
    BYTE *bytes() const { return bytes_; }

private:
    BYTE local_[kStreamCapsBytes];
    BYTE *heap_ = nullptr;
    BYTE *bytes_ = nullptr;
};

int32_t Magnitude(int32_t v) { return v < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v; }

// Walks the capability list in order and hands each capability of that width
// and absolute height to `visit` (media type, capability block and its size)
// before the media type is released; `visit` returns true to stop. A
// capability that cannot be obtained is passed over. False when the count
// cannot be read or the block cannot be had.
template <class Visit>
bool ForEachCapabilityOfSize(IAMStreamConfig *config, int32_t width, int32_t height, Visit visit) {
    int count = 0, size = 0;
    if (CallFailed(config->GetNumberOfCapabilities(&count, &size))) return false;
    if (size > kLargestStreamCapsBytes) return false;
    StreamCapsBlock caps(size);
    if (caps.bytes() == nullptr) return false;
    // Only what the pin's own structure covers is read of the block.
    const int caps_bytes = size > 0 ? size : 0;
    for (int i = 0; i < count; ++i) {
        MediaTypePtr type;
        if (CallFailed(config->GetStreamCaps(i, type.ReleaseAndGetAddressOf(), caps.bytes())) || !type.Get()) continue;
        int32_t w, h;
        if (!ReadFormatSize(*type.Get(), &w, &h) || w != width || Magnitude(h) != height) continue;
        if (visit(type, caps.bytes(), caps_bytes)) break;
    }
    return true;
}

int64_t ReadInterval(const BYTE *bytes, size_t available, size_t offset) {
    if (bytes == nullptr || available < offset + sizeof(int64_t)) return 0;
    int64_t interval;
    std::memcpy(&interval, bytes + offset, sizeof(interval));
    return interval;
}

}  // namespace

bool ReadFormatSize(const AM_MEDIA_TYPE &type, int32_t *width, int32_t *height) {
    *width = 0;
    *height = 0;
    const bool second = IsEqualGUID(type.formattype, FORMAT_VideoInfo2);
    const unsigned needed = second ? kFormat2SizeBytesNeeded : kFormatSizeBytesNeeded;
    // A block too small for the bitmap header's size fields is never read past its end.
    if (type.pbFormat == nullptr || type.cbFormat < needed) return false;
    std::memcpy(width, type.pbFormat + (second ? kFormat2WidthOffset : kFormatWidthOffset), sizeof(*width));
    std::memcpy(height, type.pbFormat + (second ? kFormat2HeightOffset : kFormatHeightOffset), sizeof(*height));
    return true;
}

FrameFormat FrameFormatOfSubtype(const GUID &subtype) {
    struct Entry {
        const GUID *subtype;
        FrameFormat format;
    };
    // I420 and IYUV are two names of one layout.
    const Entry kEntries[] = {
        {&MEDIASUBTYPE_RGB24, FrameFormat::kRgb24}, {&MEDIASUBTYPE_RGB32, FrameFormat::kRgb32},
        {&MEDIASUBTYPE_YUY2, FrameFormat::kYuy2},   {&MEDIASUBTYPE_UYVY, FrameFormat::kUyvy},
        {&MEDIASUBTYPE_NV12, FrameFormat::kNv12},   {&MEDIASUBTYPE_I420, FrameFormat::kI420},
        {&MEDIASUBTYPE_IYUV, FrameFormat::kI420},   {&MEDIASUBTYPE_YV12, FrameFormat::kYv12},
        {&MEDIASUBTYPE_MJPG, FrameFormat::kMjpg},
    };
    for (const Entry &e : kEntries) {
        if (IsEqualGUID(subtype, *e.subtype)) return e.format;
    }
    return FrameFormat::kUnknown;
}

CapabilityRank RankCapability(const AM_MEDIA_TYPE &type, const BYTE *caps, int caps_bytes) {
    CapabilityRank rank;
    const FrameFormat format = FrameFormatOfSubtype(type.subtype);
    rank.deliverable = format != FrameFormat::kUnknown;
    rank.compressed = format == FrameFormat::kMjpg;
    int64_t interval = ReadInterval(type.pbFormat, type.cbFormat, kFormatFrameIntervalOffset);
    if (interval <= 0) {
        const size_t available = caps_bytes > 0 ? static_cast<size_t>(caps_bytes) : 0;
        interval = ReadInterval(caps, available, kCapsMinFrameIntervalOffset);
    }
    if (interval > 0) rank.frame_interval_100ns = interval;
    return rank;
}

bool PreferCapability(const CapabilityRank &a, const CapabilityRank &b) {
    if (a.frame_interval_100ns != b.frame_interval_100ns) return a.frame_interval_100ns < b.frame_interval_100ns;
    return !a.compressed && b.compressed;
}

AppliedFormat CaptureGraph::FindStreamConfig(GraphOwner &owner, int32_t requested_width, int32_t requested_height) {
    if (!device_source_) return AppliedFormat::kNothing;
    // Only S_OK counts for either request.
    HRESULT hr = graph_builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, device_source_.Get(),
                                               IID_IAMStreamConfig, stream_config_.ReleaseAndGetVoidAddressOf());
    if (!CallSucceededExactly(hr)) {
        hr = graph_builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, device_source_.Get(),
                                           IID_IAMStreamConfig, stream_config_.ReleaseAndGetVoidAddressOf());
        // A pin that answers no pin category is found by neither request,
        // though it carries the interface: the source's first output pin,
        // the one the chain is connected from, is asked directly.
        if (!CallSucceededExactly(hr) && !StreamConfigFromFirstOutputPin()) {
            stream_config_.Reset();
            owner.ReportError("Error %x: Cannot find VCapture:IAMStreamConfig", hr);
            return AppliedFormat::kNothing;
        }
    }
    if (requested_width > 0 && requested_height > 0) {
        if (ApplyCaptureFormat(MEDIASUBTYPE_RGB24, requested_width, requested_height) == 1) {
            return AppliedFormat::kRgb24;
        }
        if (ApplyCaptureFormat(MEDIASUBTYPE_I420, requested_width, requested_height) == 1) {
            return AppliedFormat::kI420;
        }
        if (ApplyDeliverableFormat(requested_width, requested_height) == 1) return AppliedFormat::kOther;
    }
    return AppliedFormat::kNothing;
}

bool CaptureGraph::StreamConfigFromFirstOutputPin() {
    ComPtr<IPin> pin = GetPin(device_source_.Get(), PINDIR_OUTPUT, 0);
    if (!pin) return false;
    if (CallFailed(QueryInto(pin.Get(), IID_IAMStreamConfig, &stream_config_)) || !stream_config_) {
        stream_config_.Reset();
        return false;
    }
    return true;
}

int CaptureGraph::ApplyCaptureFormat(REFGUID subtype, int32_t width, int32_t height) {
    IAMStreamConfig *config = stream_config_.Get();
    if (config == nullptr) return 0;
    int applied = 0;
    ForEachCapabilityOfSize(config, width, height, [&](MediaTypePtr &type, const BYTE *, int) {
        if (!IsEqualGUID(type->subtype, subtype)) return false;
        // SetFormat's own result is not tested: a refused format goes unnoticed.
        config->SetFormat(type.Get());
        applied = 1;
        return true;
    });
    return applied;
}

int CaptureGraph::ApplyDeliverableFormat(int32_t width, int32_t height) {
    IAMStreamConfig *config = stream_config_.Get();
    if (config == nullptr) return 0;
    MediaTypePtr best;
    CapabilityRank best_rank;
    ForEachCapabilityOfSize(config, width, height, [&](MediaTypePtr &type, const BYTE *caps, int caps_bytes) {
        const CapabilityRank rank = RankCapability(*type.Get(), caps, caps_bytes);
        if (rank.deliverable && (!best.Get() || PreferCapability(rank, best_rank))) {
            best.Swap(type);
            best_rank = rank;
        }
        return false;
    });
    if (!best.Get()) return 0;
    config->SetFormat(best.Get());  // unchecked, as for the other formats
    return 1;
}

int CaptureGraph::HasCaptureFormat(int32_t width, int32_t height) const {
    if (!device_source_ || !stream_config_) return 0;
    int offered = 0;
    ForEachCapabilityOfSize(stream_config_.Get(), width, height, [&](MediaTypePtr &type, const BYTE *caps, int bytes) {
        offered = RankCapability(*type.Get(), caps, bytes).deliverable ? 1 : 0;
        return offered == 1;
    });
    return offered;
}

int32_t CaptureGraph::ReadCurrentFormat(FormatDimension dimension) const {
    if (!device_source_ || !stream_config_) return 0;
    MediaTypePtr type;
    // Only S_OK carries a format.
    if (!CallSucceededExactly(stream_config_->GetFormat(type.ReleaseAndGetAddressOf())) || !type.Get()) return 0;
    if (!IsEqualGUID(type->formattype, FORMAT_VideoInfo) && !IsEqualGUID(type->formattype, FORMAT_VideoInfo2)) return 0;
    int32_t width, height;
    if (!ReadFormatSize(*type.Get(), &width, &height)) return 0;
    return dimension == FormatDimension::kWidth ? width : Magnitude(height);
}

}  // namespace kovic
