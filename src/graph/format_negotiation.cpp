// CaptureGraph's format negotiation: finding the capture pin's stream
// configuration, applying the requested size (RGB24 first, then I420), and
// answering the size and format queries. Host thread only.
#include "graph/format_negotiation.h"

#include <cstring>

#include "graph/capture_graph.h"
#include "platform/hresult_tests.h"
#include "platform/media_type.h"

namespace kovic {
namespace {

// VIDEO_STREAM_CONFIG_CAPS is 128 bytes; its content is not read. A pin tells
// the size of its capability structure, and GetStreamCaps writes that many
// bytes, so a pin that reports more gets a block of that size. A size beyond
// any capability structure is a broken pin: its capabilities are passed over.
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

// Walks the capability list in order and hands the first capability of that
// width and absolute height (and subtype, when one is given) to `use` before
// its media type is released. A capability that cannot be obtained is passed
// over. 1 when one matched, 0 otherwise.
template <class Use>
int FindCapability(IAMStreamConfig *config, int32_t width, int32_t height, const GUID *subtype, Use use) {
    int count = 0, size = 0;
    if (CallFailed(config->GetNumberOfCapabilities(&count, &size))) return 0;
    if (size > kLargestStreamCapsBytes) return 0;
    StreamCapsBlock caps(size);
    if (caps.bytes() == nullptr) return 0;
    for (int i = 0; i < count; ++i) {
        MediaTypePtr type;
        if (CallFailed(config->GetStreamCaps(i, type.ReleaseAndGetAddressOf(), caps.bytes())) || !type.Get()) continue;
        int32_t w, h;
        if (ReadFormatSize(*type.Get(), &w, &h) && w == width && Magnitude(h) == height &&
            (subtype == nullptr || IsEqualGUID(type->subtype, *subtype))) {
            use(type.Get());
            return 1;
        }
    }
    return 0;
}

}  // namespace

bool ReadFormatSize(const AM_MEDIA_TYPE &type, int32_t *width, int32_t *height) {
    *width = 0;
    *height = 0;
    // A block too small for the bitmap header's size fields is never read past its end.
    if (type.pbFormat == nullptr || type.cbFormat < kFormatSizeBytesNeeded) return false;
    std::memcpy(width, type.pbFormat + kFormatWidthOffset, sizeof(*width));
    std::memcpy(height, type.pbFormat + kFormatHeightOffset, sizeof(*height));
    return true;
}

AppliedFormat CaptureGraph::FindStreamConfig(GraphOwner &owner, int32_t requested_width, int32_t requested_height) {
    if (!device_source_) return AppliedFormat::kNothing;
    // Only S_OK counts for either request.
    HRESULT hr = graph_builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved, device_source_.Get(),
                                               IID_IAMStreamConfig, stream_config_.ReleaseAndGetVoidAddressOf());
    if (!CallSucceededExactly(hr)) {
        hr = graph_builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, device_source_.Get(),
                                           IID_IAMStreamConfig, stream_config_.ReleaseAndGetVoidAddressOf());
        if (!CallSucceededExactly(hr)) {
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
    }
    return AppliedFormat::kNothing;
}

int CaptureGraph::ApplyCaptureFormat(REFGUID subtype, int32_t width, int32_t height) {
    IAMStreamConfig *config = stream_config_.Get();
    if (config == nullptr) return 0;
    // SetFormat's own result is not tested: a refused format goes unnoticed.
    return FindCapability(config, width, height, &subtype, [config](AM_MEDIA_TYPE *type) { config->SetFormat(type); });
}

int CaptureGraph::HasCaptureFormat(int32_t width, int32_t height) const {
    if (!device_source_ || !stream_config_) return 0;
    return FindCapability(stream_config_.Get(), width, height, nullptr, [](AM_MEDIA_TYPE *) {});
}

int32_t CaptureGraph::ReadCurrentFormat(FormatDimension dimension) const {
    if (!device_source_ || !stream_config_) return 0;
    MediaTypePtr type;
    // Only S_OK carries a format.
    if (!CallSucceededExactly(stream_config_->GetFormat(type.ReleaseAndGetAddressOf())) || !type.Get()) return 0;
    if (!IsEqualGUID(type->formattype, FORMAT_VideoInfo)) return 0;
    int32_t width, height;
    if (!ReadFormatSize(*type.Get(), &width, &height)) return 0;
    return dimension == FormatDimension::kWidth ? width : Magnitude(height);
}

}  // namespace kovic
