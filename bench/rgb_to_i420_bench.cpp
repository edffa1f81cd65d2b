// RGB24 to I420 speed: the reference table walk, the dispatched fast path and
// each vector kernel, against a plain copy of the source frame (and libyuv, in
// its own file, where installed). Single-threaded.
#include "rgb_to_i420_bench.h"

#include <cstring>
#include <map>
#include <random>
#include <utility>

#include "frames/rgb_to_yuv.h"
#include "platform/cpu_features.h"

namespace kovic_bench {

Frame &FrameFor(const benchmark::State &state) {
    static std::map<std::pair<int, int>, Frame> frames;
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    Frame &frame = frames[{width, height}];
    if (frame.width == 0) {
        frame.width = width;
        frame.height = height;
        frame.source.resize(static_cast<size_t>(3) * width * height);
        std::mt19937 random(42);
        for (auto &b : frame.source) b = static_cast<uint8_t>(random());
        frame.destination.resize(frame.source.size());
    }
    return frame;
}

void ReportPixels(benchmark::State &state, const Frame &frame) {
    const double pixels = static_cast<double>(frame.width) * frame.height;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pixels));
}

}  // namespace kovic_bench

namespace {

using kovic_bench::Frame;
using kovic_bench::FrameFor;
using kovic_bench::ReportPixels;

void Convert(benchmark::State &state, int (*convert)(unsigned char *, const unsigned char *, int32_t, int32_t,
                                                     int32_t)) {
    kovic::BuildRgbToYuvTables();
    Frame &frame = FrameFor(state);
    const int length = static_cast<int>(frame.source.size());
    for (auto _ : state) {
        convert(frame.destination.data(), frame.source.data(), frame.width, frame.height, length);
        benchmark::ClobberMemory();
    }
    ReportPixels(state, frame);
}

void BM_Reference(benchmark::State &state) { Convert(state, kovic::ConvertRgb24ToI420Reference); }
BENCHMARK(BM_Reference)->KOVIC_FRAME_SIZES;

void BM_FastPath(benchmark::State &state) {
    Convert(state, kovic::ConvertRgb24ToI420);
    state.SetLabel(kovic::Rgb24ToI420KernelName());
}
BENCHMARK(BM_FastPath)->KOVIC_FRAME_SIZES;

// One kernel set, chosen by hiding the features above it; skipped where the
// processor lacks it.
void Kernel(benchmark::State &state, const char *name, uint32_t hidden) {
    kovic::BuildRgbToYuvTables();
    kovic::HideCpuFeatures(hidden);
    if (std::strcmp(kovic::Rgb24ToI420KernelName(), name) != 0) {
        kovic::HideCpuFeatures(0);
        state.SkipWithError("not supported by this processor");
        for (auto _ : state) {
        }
        return;
    }
    Convert(state, kovic::ConvertRgb24ToI420);
    kovic::HideCpuFeatures(0);
}

void BM_KernelC(benchmark::State &state) { Kernel(state, "C", kovic::kCpuSse2 | kovic::kCpuSsse3 | kovic::kCpuAvx2); }
void BM_KernelSSE2(benchmark::State &state) { Kernel(state, "SSE2", kovic::kCpuSsse3 | kovic::kCpuAvx2); }
void BM_KernelSSSE3(benchmark::State &state) { Kernel(state, "SSSE3", kovic::kCpuAvx2); }
void BM_KernelAVX2(benchmark::State &state) { Kernel(state, "AVX2", 0); }
BENCHMARK(BM_KernelC)->KOVIC_FRAME_SIZES;
BENCHMARK(BM_KernelSSE2)->KOVIC_FRAME_SIZES;
BENCHMARK(BM_KernelSSSE3)->KOVIC_FRAME_SIZES;
BENCHMARK(BM_KernelAVX2)->KOVIC_FRAME_SIZES;

void BM_MemcpySource(benchmark::State &state) {
    Frame &frame = FrameFor(state);
    for (auto _ : state) {
        std::memcpy(frame.destination.data(), frame.source.data(), frame.source.size());
        benchmark::ClobberMemory();
    }
    ReportPixels(state, frame);
}
BENCHMARK(BM_MemcpySource)->KOVIC_FRAME_SIZES;

}  // namespace

BENCHMARK_MAIN();
