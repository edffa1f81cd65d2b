// Frame to RGB24 speed, per camera format: the reference walk, each kernel set
// this processor runs, and the dispatched fast path, against a plain copy of
// the RGB24 output's size (and libyuv's nearest conversion, in its own file,
// where installed). Single-threaded. Benchmarks are named <format>_<what>.
#include "frame_to_rgb24_bench.h"

#include <cstring>
#include <map>
#include <random>
#include <tuple>

#include "frames/frame_to_rgb24_rows.h"
#include "platform/cpu_features.h"

namespace kovic_bench {

SourceFrame &SourceFrameFor(kovic::FrameFormat format, const benchmark::State &state) {
    static std::map<std::tuple<int, int, int>, SourceFrame> frames;
    const int width = static_cast<int>(state.range(0));
    const int height = static_cast<int>(state.range(1));
    SourceFrame &frame = frames[{static_cast<int>(format), width, height}];
    if (frame.width == 0) {
        frame.width = width;
        frame.height = height;
        frame.source.resize(kovic::SourceFrameBytes(format, width, height));
        std::mt19937 random(42);
        for (auto &b : frame.source) b = static_cast<uint8_t>(random());
        frame.destination.resize(static_cast<size_t>(4) * width * height);
    }
    return frame;
}

void ReportFramePixels(benchmark::State &state, const SourceFrame &frame) {
    const double pixels = static_cast<double>(frame.width) * frame.height;
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * pixels));
}

}  // namespace kovic_bench

namespace {

using kovic::FrameFormat;
using kovic_bench::SourceFrame;

void Run(benchmark::State &state, FrameFormat format, const kovic::FrameToRgb24Kernels *kernels) {
    SourceFrame &frame = kovic_bench::SourceFrameFor(format, state);
    for (auto _ : state) {
        const bool converted =
            kernels == nullptr
                ? kovic::ConvertFrameToRgb24Reference(format, frame.source.data(), frame.source.size(), frame.width,
                                                      frame.height, frame.destination.data(),
                                                      frame.destination.size())
                : kovic::ConvertFrameToRgb24With(*kernels, format, frame.source.data(), frame.source.size(),
                                                 frame.width, frame.height, frame.destination.data(),
                                                 frame.destination.size());
        if (!converted) {
            state.SkipWithError("conversion refused");
            break;
        }
        benchmark::ClobberMemory();
    }
    kovic_bench::ReportFramePixels(state, frame);
}

void Reference(benchmark::State &state, FrameFormat format) { Run(state, format, nullptr); }

void FastPath(benchmark::State &state, FrameFormat format) {
    Run(state, format, &kovic::FrameToRgb24KernelsInUse());
    state.SetLabel(kovic::FrameToRgb24KernelsInUse().name);
}

// One kernel set, chosen from the given features; skipped where the processor
// lacks them.
void Kernels(benchmark::State &state, FrameFormat format, uint32_t features) {
    if ((kovic::CpuFeatures() & features) != features) {
        state.SkipWithError("not supported by this processor");
        for (auto _ : state) {
        }
        return;
    }
    const kovic::FrameToRgb24Kernels kernels = kovic::SelectFrameToRgb24Kernels(features);
    Run(state, format, &kernels);
}

constexpr uint32_t kSse2 = kovic::kCpuSse2;
constexpr uint32_t kSsse3 = kSse2 | kovic::kCpuSsse3;
constexpr uint32_t kAvx2 = kSsse3 | kovic::kCpuAvx2;

#define KOVIC_FORMAT_BENCHMARKS(name, format)                                          \
    BENCHMARK_CAPTURE(Reference, name##_Reference, format)->KOVIC_CAMERA_SIZES;        \
    BENCHMARK_CAPTURE(Kernels, name##_C, format, 0u)->KOVIC_CAMERA_SIZES;              \
    BENCHMARK_CAPTURE(Kernels, name##_SSE2, format, kSse2)->KOVIC_CAMERA_SIZES;        \
    BENCHMARK_CAPTURE(Kernels, name##_SSSE3, format, kSsse3)->KOVIC_CAMERA_SIZES;      \
    BENCHMARK_CAPTURE(Kernels, name##_AVX2, format, kAvx2)->KOVIC_CAMERA_SIZES;        \
    BENCHMARK_CAPTURE(FastPath, name##_FastPath, format)->KOVIC_CAMERA_SIZES

KOVIC_FORMAT_BENCHMARKS(NV12, FrameFormat::kNv12);
KOVIC_FORMAT_BENCHMARKS(I420, FrameFormat::kI420);
KOVIC_FORMAT_BENCHMARKS(YUY2, FrameFormat::kYuy2);
KOVIC_FORMAT_BENCHMARKS(UYVY, FrameFormat::kUyvy);
KOVIC_FORMAT_BENCHMARKS(RGB32, FrameFormat::kRgb32);

// A plain copy of the RGB24 output's bytes: the memory traffic floor.
void Memcpy(benchmark::State &state) {
    SourceFrame &frame = kovic_bench::SourceFrameFor(FrameFormat::kRgb32, state);
    const size_t bytes = kovic::Rgb24RowBytes(frame.width) * static_cast<size_t>(frame.height);
    for (auto _ : state) {
        std::memcpy(frame.destination.data(), frame.source.data(), bytes);
        benchmark::ClobberMemory();
    }
    kovic_bench::ReportFramePixels(state, frame);
}
BENCHMARK(Memcpy)->Name("RGB24_Memcpy")->KOVIC_CAMERA_SIZES;

}  // namespace

BENCHMARK_MAIN();
