// Fuzzes the MJPG path of the frame sink with arbitrary bytes as one sample
// of a connected MJPG format: sessions of simulated MJPG cameras are built
// once through the exports, and each input is pushed down one session's graph
// (source, sample grabber, sink) while the sink is armed. The sample sits
// against inaccessible memory. The sink must deliver exactly the samples a
// new decoder decodes, each as that decoder's picture, described truthfully;
// a sample it does not deliver leaves it armed and the host's last frame
// untouched in its description.
#include <cstdint>
#include <cstring>

#include "frames/frame_to_rgb24.h"
#include "frames/mjpeg_decoder.h"
#include "guarded_buffer.h"
#include "kovic.h"
#include "platform/emulated/host_api.h"
#include "session/capture_session.h"
#include "session/live_sessions.h"

namespace {

// The cameras' connected sizes: even, odd, and a top-down format block (the
// sign does not change the bottom-up picture the host receives).
struct CameraSize {
    int32_t width, height;
};
constexpr CameraSize kSizes[] = {{32, 24}, {33, 17}, {48, -16}};
constexpr int kCameras = sizeof(kSizes) / sizeof(kSizes[0]);

LRESULT CountFrame(HWND, UINT message, WPARAM wparam, LPARAM, void *context) {
    if (message == KOVIC_MSG_FRAME) {
        auto *last = static_cast<const FrameDescriptor **>(context);
        *last = reinterpret_cast<const FrameDescriptor *>(wparam);
    }
    return 0;
}

struct Stage {
    HWND window = nullptr;
    const FrameDescriptor *last_frame = nullptr;
    KOVIC_SESSION sessions[kCameras] = {};

    Stage() {
        emu::ResetPlatform();
        for (const CameraSize &size : kSizes) {
            emu::SimulatedDevice camera;
            camera.friendly_name = L"MJPG Camera";
            camera.capabilities = {{MEDIASUBTYPE_MJPG, size.width, size.height}};
            camera.current_format = camera.capabilities.front();
            emu::RegisterDevice(camera);
        }
        window = emu::CreateHostWindow(&CountFrame, &last_frame);
        KOVICCreate();
        for (int i = 0; i < kCameras; ++i) {
            sessions[i] = KOVICOpen(window);
            if (KOVICSelectDevice(sessions[i], i) != 1 || KOVICStartPreview(sessions[i]) != 1) {
                fuzz::Fail("an MJPG camera's session did not start");
            }
        }
    }
    // Closed as a host would before it exits: the library does not tear down
    // graphs of sessions left open at unload.
    ~Stage() {
        for (KOVIC_SESSION h : sessions) KOVICClose(h);
        KOVICDestroy();
        emu::DestroyHostWindow(window);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static Stage stage;
    fuzz::Input in(data, size);
    const int camera = in.Byte() % kCameras;
    const CameraSize wanted = kSizes[camera];
    KOVIC_SESSION h = stage.sessions[camera];
    kovic::CaptureSession *session = kovic::LookUpSession(h);
    const FrameDescriptor *descriptor = session->graph.frame_sink()->descriptor();
    const FrameDescriptor before = *descriptor;

    fuzz::GuardedBuffer sample(in.rest_size());
    sample.Fill(in.rest(), in.rest_size());
    stage.last_frame = nullptr;
    KOVICGetFrameCall(h);
    if (emu::DeliverSample(session->graph.device_source(), 0, sample.data(), static_cast<LONG>(sample.size())) !=
        S_OK) {
        fuzz::Fail("the sample did not reach the end of the chain");
    }
    const int frames = emu::PumpMessages(stage.window);

    const int32_t rows = wanted.height < 0 ? -wanted.height : wanted.height;
    const size_t frame_bytes = kovic::Rgb24RowBytes(wanted.width) * static_cast<size_t>(rows);
    fuzz::GuardedBuffer picture(frame_bytes);
    kovic::MjpegDecoderPtr fresh = kovic::MjpegDecoder::Create();
    if (fresh == nullptr) fuzz::Fail("MjpegDecoder::Create");
    const bool decodes =
        fresh->Decode(sample.data(), sample.size(), wanted.width, wanted.height, picture.data(), picture.size());

    if (frames != (decodes ? 1 : 0)) fuzz::Fail("the sink delivered otherwise than a new decoder decodes");
    if (decodes) {
        if (stage.last_frame != descriptor) fuzz::Fail("the frame message points at another descriptor");
        if (descriptor->width != wanted.width || descriptor->height != rows ||
            descriptor->length != static_cast<int32_t>(frame_bytes) || descriptor->busy == 0) {
            fuzz::Fail("the delivered frame is described wrongly");
        }
        if (std::memcmp(descriptor->data, picture.data(), frame_bytes) != 0) {
            fuzz::Fail("the delivered picture is not the decoder's");
        }
    } else {
        if (descriptor->busy != 0) fuzz::Fail("a frame that was not delivered left the sink unarmed");
        if (descriptor->length != before.length || descriptor->sample_time != before.sample_time) {
            fuzz::Fail("a frame that was not delivered changed the description of the last one");
        }
    }
    return 0;
}
