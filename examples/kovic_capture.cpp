// kovic-capture: the demo host. Lists the video input devices, opens a session
// on one, applies a size, starts preview, takes frames through the handshake
// (arm, receive, use, re-arm), converts each to I420 (appended to a .i420 file),
// saves the first and the last as BMP, stops, closes, and prints what it did.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "demo_host.h"
#include "kovic.h"

namespace {

struct Options {
    bool list_only = false;
    int device = 0;
    std::string device_name;
    int width = 0, height = 0;
    int frames = 60;
    double seconds = 0;
    std::string out_dir = ".";
};

void Usage(const char *program) {
    std::fprintf(stderr,
                 "usage: %s [--list] [--device N | --device-name NAME] [--size WxH]\n"
                 "          [--frames N | --seconds T] [--out DIR]\n"
                 "  --list          list the video input devices and exit\n"
                 "  --device N      capture from device N (default 0)\n"
                 "  --device-name   capture from the device with this name\n"
                 "  --size WxH      request this capture size (default: the device's)\n"
                 "  --frames N      stop after N frames (default 60)\n"
                 "  --seconds T     stop after T seconds instead\n"
                 "  --out DIR       folder for frames.i420, first.bmp and last.bmp (default .)\n",
                 program);
}

bool ParsePositive(const char *text, int *value) {
    char *end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || v <= 0 || v > 1000000) return false;
    *value = static_cast<int>(v);
    return true;
}

bool Parse(int argc, char **argv, Options *o) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--list") {
            o->list_only = true;
        } else if (a == "--device" && next) {
            char *end = nullptr;
            o->device = static_cast<int>(std::strtol(next, &end, 10));
            if (end == next || *end != '\0' || o->device < 0) return false;
            ++i;
        } else if (a == "--device-name" && next) {
            o->device_name = next;
            ++i;
        } else if (a == "--size" && next) {
            if (std::sscanf(next, "%dx%d", &o->width, &o->height) != 2 || o->width <= 0 || o->height <= 0) {
                return false;
            }
            ++i;
        } else if (a == "--frames" && next) {
            if (!ParsePositive(next, &o->frames)) return false;
            ++i;
        } else if (a == "--seconds" && next) {
            char *end = nullptr;
            o->seconds = std::strtod(next, &end);
            if (end == next || *end != '\0' || !(o->seconds > 0)) return false;
            ++i;
        } else if (a == "--out" && next) {
            o->out_dir = next;
            ++i;
        } else {
            return false;
        }
    }
    return true;
}

std::string Hex(int code) {
    char text[16];
    std::snprintf(text, sizeof(text), "0x%X", static_cast<unsigned>(code));
    return text;
}

using Clock = std::chrono::steady_clock;

class Capture : public demo::MessageHandler {
public:
    explicit Capture(const Options &o) : options_(o) {}
    // The window comes first (the session reports to it), then the session.
    void set_session(KOVIC_SESSION session) { session_ = session; }

    void OnStatus(const char *text) override { std::printf("status: %s\n", text); }

    void OnFrame(uintptr_t address) override {
        const auto *frame = reinterpret_cast<const FrameDescriptor *>(address);
        ++delivered_;
        if (delivered_ == 1) {
            first_frame_ = Clock::now();
            Save(frame, "first.bmp");
        }
        Convert(frame);
        last_frame_ = Clock::now();
        if (Finished()) {
            Save(frame, "last.bmp");
            done_ = true;
        } else {
            KOVICGetFrameCall(session_);  // finished with this frame: ask for the next
        }
        // One progress line, rewritten at most four times a second.
        if (done_ || last_frame_ - last_progress_ >= std::chrono::milliseconds(250)) {
            last_progress_ = last_frame_;
            std::fprintf(stderr, "\rframes %d  %dx%d  %d bytes  t=%.3f s   ", delivered_, frame->width, frame->height,
                         frame->length, frame->sample_time);
        }
    }

    std::string I420Path() const { return options_.out_dir + "/frames.i420"; }

    bool Finished() const {
        if (options_.seconds > 0) {
            return delivered_ > 0 &&
                   std::chrono::duration<double>(Clock::now() - first_frame_).count() >= options_.seconds;
        }
        return delivered_ >= options_.frames;
    }

    int delivered_ = 0;
    int converted_ = 0;
    double convert_seconds_ = 0;
    bool done_ = false;
    Clock::time_point first_frame_, last_frame_, last_progress_;
    std::FILE *i420_ = nullptr;
    std::vector<std::string> written_;

private:
    void Convert(const FrameDescriptor *frame) {
        int w = frame->width, h = frame->height < 0 ? -frame->height : frame->height;
        if (frame->data == nullptr || w <= 0 || h <= 0) return;
        yuv_.resize(static_cast<size_t>(w) * h * 3 / 2);
        auto start = Clock::now();
        int r = KOVICGetYuvFrame(yuv_.data(), frame->data, w, h, frame->length);
        convert_seconds_ += std::chrono::duration<double>(Clock::now() - start).count();
        if (r != 1) return;  // not a tightly packed RGB24 frame of that size
        ++converted_;
        // The file is made with the first converted frame, so a run that
        // converts nothing leaves none behind.
        if (i420_ == nullptr) i420_ = std::fopen(I420Path().c_str(), "wb");
        if (i420_ != nullptr) std::fwrite(yuv_.data(), 1, yuv_.size(), i420_);
    }

    void Save(const FrameDescriptor *frame, const char *name) {
        std::string path = options_.out_dir + "/" + name;
        if (KOVICSaveSingleFrameBitmap(session_, path.c_str(), frame) == 1) written_.push_back(path);
    }

    KOVIC_SESSION session_ = 0;
    const Options &options_;
    std::vector<unsigned char> yuv_;
};

int ListDevices() {
    int count = KOVICGetVideoDeviceCount();
    std::printf("%d video input device(s)\n", count);
    for (int i = 0; i < count; ++i) {
        char name[KOVIC_DEVICE_NAME_BYTES];
        if (KOVICGetVideoDevice(i, name) == KOVIC_OK) std::printf("  [%d] %.79s\n", i, name);
    }
    return count;
}

int FindDevice(const std::string &wanted) {
    for (int i = 0; i < KOVICGetVideoDeviceCount(); ++i) {
        char name[KOVIC_DEVICE_NAME_BYTES];
        if (KOVICGetVideoDevice(i, name) == KOVIC_OK && wanted == name) return i;
    }
    return -1;
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    if (!Parse(argc, argv, &options)) {
        Usage(argv[0]);
        return 2;
    }
    demo::PrepareDevices();
    KOVICCreate();
    std::printf("kovic-capture (%s); DirectX version 0x%X\n", demo::PlatformName().c_str(), MirelGetDXVersion());
    int count = ListDevices();
    if (options.list_only) return 0;
    if (count == 0) {
        std::fprintf(stderr, "no video input device\n");
        return 1;
    }
    int device = options.device;
    if (!options.device_name.empty() && (device = FindDevice(options.device_name)) < 0) {
        std::fprintf(stderr, "no device named \"%s\"\n", options.device_name.c_str());
        return 1;
    }

    Capture capture(options);
    demo::HostWindow window(&capture);
    KOVIC_SESSION session = KOVICOpen(window.handle());
    capture.set_session(session);
    int r = KOVICSelectDevice(session, device);
    if (r != KOVIC_OK) {
        std::fprintf(stderr, "device %d: %s\n", device, Hex(r).c_str());
        KOVICClose(session);
        return 1;
    }
    if (options.width > 0) {
        KOVICSetVideoFormat(session, options.width, options.height);
        std::printf("size %dx%d offered: %s\n", options.width, options.height,
                    KOVICEnumVideoFormat(session, options.width, options.height) ? "yes" : "no");
    }
    auto started = Clock::now();
    r = KOVICStartPreview(session);
    if (r != KOVIC_OK) {
        std::fprintf(stderr, "KOVICStartPreview: %s\n", Hex(r).c_str());
        KOVICClose(session);
        return 1;
    }
    std::printf("capturing %dx%d from device %d\n", KOVICGetWidth(session), KOVICGetHeight(session), device);
    KOVICGetFrameCall(session);
    // Give up when no frame has come for five seconds.
    auto last_progress = Clock::now();
    while (!capture.done_) {
        int before = capture.delivered_;
        window.DispatchOne(100);
        if (capture.delivered_ != before) last_progress = Clock::now();
        if (Clock::now() - last_progress > std::chrono::seconds(5)) {
            std::fprintf(stderr, "\nno frame for 5 s\n");
            break;
        }
    }
    std::fprintf(stderr, "\n");
    KOVICStopPreview(session);
    window.Drain();  // frame messages still queued point at a sink about to go
    KOVICClose(session);
    if (capture.i420_ != nullptr) {
        std::fclose(capture.i420_);
        capture.written_.push_back(capture.I420Path());
    }

    double span = std::chrono::duration<double>(capture.last_frame_ - capture.first_frame_).count();
    double total = std::chrono::duration<double>(Clock::now() - started).count();
    std::printf("frames delivered: %d in %.2f s (%.1f frames/s)\n", capture.delivered_, total,
                capture.delivered_ > 1 && span > 0 ? (capture.delivered_ - 1) / span : 0.0);
    std::printf("frames converted to I420: %d, mean conversion %.1f us\n", capture.converted_,
                capture.converted_ ? 1e6 * capture.convert_seconds_ / capture.converted_ : 0.0);
    for (const auto &f : capture.written_) std::printf("wrote %s\n", f.c_str());
    return capture.delivered_ > 0 ? 0 : 1;
}
