// libyuv's nearest conversions on the same frames, for comparison only (its
// own BT.601 matrix; the YUY2, UYVY kernels write 4-byte ARGB, having no RGB24
// output). Each writes the picture bottom-up as ours does (negative height).
// Single-threaded.
#include <libyuv.h>

#include "frame_to_rgb24_bench.h"

namespace {

using kovic::FrameFormat;
using kovic_bench::SourceFrame;

template <typename Convert>
void Libyuv(benchmark::State &state, FrameFormat format, Convert convert) {
    SourceFrame &frame = kovic_bench::SourceFrameFor(format, state);
    const int w = frame.width, h = frame.height;
    for (auto _ : state) {
        if (convert(frame.source.data(), frame.destination.data(), w, h) != 0) {
            state.SkipWithError("libyuv refused");
            break;
        }
        benchmark::ClobberMemory();
    }
    kovic_bench::ReportFramePixels(state, frame);
}

int Nv12(const uint8_t *s, uint8_t *d, int w, int h) {
    return libyuv::NV12ToRGB24(s, w, s + w * h, 2 * ((w + 1) / 2), d, 3 * w, w, -h);
}
int I420(const uint8_t *s, uint8_t *d, int w, int h) {
    const int cw = (w + 1) / 2, ch = (h + 1) / 2;
    return libyuv::I420ToRGB24(s, w, s + w * h, cw, s + w * h + cw * ch, cw, d, 3 * w, w, -h);
}
int Yuy2(const uint8_t *s, uint8_t *d, int w, int h) { return libyuv::YUY2ToARGB(s, 2 * w, d, 4 * w, w, -h); }
int Uyvy(const uint8_t *s, uint8_t *d, int w, int h) { return libyuv::UYVYToARGB(s, 2 * w, d, 4 * w, w, -h); }
int Rgb32(const uint8_t *s, uint8_t *d, int w, int h) { return libyuv::ARGBToRGB24(s, 4 * w, d, 3 * w, w, h); }

BENCHMARK_CAPTURE(Libyuv, NV12_LibyuvNV12ToRGB24, FrameFormat::kNv12, Nv12)->KOVIC_CAMERA_SIZES;
BENCHMARK_CAPTURE(Libyuv, I420_LibyuvI420ToRGB24, FrameFormat::kI420, I420)->KOVIC_CAMERA_SIZES;
BENCHMARK_CAPTURE(Libyuv, YUY2_LibyuvYUY2ToARGB, FrameFormat::kYuy2, Yuy2)->KOVIC_CAMERA_SIZES;
BENCHMARK_CAPTURE(Libyuv, UYVY_LibyuvUYVYToARGB, FrameFormat::kUyvy, Uyvy)->KOVIC_CAMERA_SIZES;
BENCHMARK_CAPTURE(Libyuv, RGB32_LibyuvARGBToRGB24, FrameFormat::kRgb32, Rgb32)->KOVIC_CAMERA_SIZES;

}  // namespace
