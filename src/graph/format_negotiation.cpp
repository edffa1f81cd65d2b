#include "graph/format_negotiation.h"

#include <cstring>

#include "platform/hresult_tests.h"
#include "platform/media_type.h"

namespace kovic {
namespace {

// VIDEO_STREAM_CONFIG_CAPS is 128 bytes; its content is not read.
constexpr size_t kStreamCapsBytes = 128;

int32_t Magnitude(int32_t v) { return v < 0 ? static_cast<int32_t>(0u - static_cast<uint32_t>(v)) : v; }

// Walks the capability list in order and hands the first capability of that
// width and absolute height (and subtype, when one is given) to `use` before
// its media type is released. A capability that cannot be obtained is passed
// over. 1 when one matched, 0 otherwise.
template <class Use>
int FindCapability(IAMStreamConfig *config, int32_t width, int32_t height, const GUID *subtype, Use use) {
    int count = 0, size = 0;
    if (CallFailed(config->GetNumberOfCapabilities(&count, &size))) return 0;
    for (int i = 0; i < count; ++i) {
        MediaTypePtr type;
        BYTE caps[kStreamCapsBytes];
        if (CallFailed(config->GetStreamCaps(i, type.ReleaseAndGetAddressOf(), caps)) || !type.Get()) continue;
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

AppliedFormat FindStreamConfig(CaptureSession *session) {
    if (!session->device_source) return AppliedFormat::kNothing;
    // Only S_OK counts for either request.
    HRESULT hr = session->graph_builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Interleaved,
                                                      session->device_source.Get(), IID_IAMStreamConfig,
                                                      session->stream_config.ReleaseAndGetVoidAddressOf());
    if (!CallSucceededExactly(hr)) {
        hr = session->graph_builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video,
                                                  session->device_source.Get(), IID_IAMStreamConfig,
                                                  session->stream_config.ReleaseAndGetVoidAddressOf());
        if (!CallSucceededExactly(hr)) {
            session->stream_config.Reset();
            ReportError(session, "Error %x: Cannot find VCapture:IAMStreamConfig", hr);
            return AppliedFormat::kNothing;
        }
    }
    if (session->requested_width > 0 && session->requested_height > 0) {
        if (ApplyCaptureFormat(session, MEDIASUBTYPE_RGB24) == 1) return AppliedFormat::kRgb24;
        if (ApplyCaptureFormat(session, MEDIASUBTYPE_I420) == 1) return AppliedFormat::kI420;
    }
    return AppliedFormat::kNothing;
}

int ApplyCaptureFormat(CaptureSession *session, REFGUID subtype) {
    IAMStreamConfig *config = session->stream_config.Get();
    if (config == nullptr) return 0;
    return FindCapability(config, session->requested_width, session->requested_height, &subtype,
                          [config](AM_MEDIA_TYPE *type) { config->SetFormat(type); });
}

int HasCaptureFormat(CaptureSession *session, int32_t width, int32_t height) {
    if (!session->device_source || !session->stream_config) return 0;
    return FindCapability(session->stream_config.Get(), width, height, nullptr, [](AM_MEDIA_TYPE *) {});
}

int32_t ReadCurrentFormat(CaptureSession *session, FormatDimension dimension) {
    if (!session->device_source || !session->stream_config) return 0;
    MediaTypePtr type;
    // Only S_OK carries a format.
    if (!CallSucceededExactly(session->stream_config->GetFormat(type.ReleaseAndGetAddressOf())) || !type.Get()) {
        return 0;
    }
    if (!IsEqualGUID(type->formattype, FORMAT_VideoInfo)) return 0;
    int32_t width, height;
    if (!ReadFormatSize(*type.Get(), &width, &height)) return 0;
    return dimension == FormatDimension::kWidth ? width : Magnitude(height);
}

}  // namespace kovic
