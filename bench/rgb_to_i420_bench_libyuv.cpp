// libyuv's RGB24ToI420 on the same frames, for comparison only (its output
// differs: averaged chroma, limited range, no mirroring). Single-threaded.
#include <libyuv.h>

#include "rgb_to_i420_bench.h"

namespace {

void BM_LibyuvRGB24ToI420(benchmark::State &state) {
    kovic_bench::Frame &frame = kovic_bench::FrameFor(state);
    const int w = frame.width, h = frame.height;
    uint8_t *y = frame.destination.data();
    uint8_t *u = y + w * h;
    uint8_t *v = u + (w / 2) * (h / 2);
    for (auto _ : state) {
        libyuv::RGB24ToI420(frame.source.data(), 3 * w, y, w, u, w / 2, v, w / 2, w, h);
        benchmark::ClobberMemory();
    }
    kovic_bench::ReportPixels(state, frame);
}
BENCHMARK(BM_LibyuvRGB24ToI420)->KOVIC_FRAME_SIZES;

}  // namespace
