// The frame path against its plain baselines, side by side in one run, on the
// emulated platform: one delivered frame through the sink's buffer callback
// (the post to an emulated host window, drained each time, included) against
// a memcpy of the same frame; one delivered YUY2, NV12 or I420 frame converted
// by the callback against a memcpy of the RGB24 frame it produces; one dropped sample; a BMP snapshot against a
// plain fopen/fwrite/fclose of the same bytes to the same folder. The frame
// size is the benchmark's arguments (width, height); the ratios are printed
// after the table. Single-threaded: the benchmark is the streaming thread and
// the host in turn.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "frames/bitmap_writer.h"
#include "frames/frame_sink.h"
#include "frames/frame_to_rgb24.h"
#include "platform/emulated/host_api.h"
#include "timing_reporter.h"

namespace {

// An RGB24 frame as the framework delivers it: rows of whole 32-bit words.
std::vector<BYTE> Frame(const benchmark::State &state) {
    const int64_t width = state.range(0), height = state.range(1);
    std::vector<BYTE> frame(static_cast<size_t>(((width * 3 + 3) & ~int64_t{3}) * height));
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<BYTE>(i * 131 + (i >> 13));
    return frame;
}

LRESULT IgnoreMessage(HWND, UINT, WPARAM, LPARAM, void *) { return 0; }

std::filesystem::path Folder() {
    static const std::filesystem::path folder = [] {
        std::filesystem::path p = std::filesystem::temp_directory_path() / "kovic-frame-path-bench";
        std::filesystem::create_directories(p);
        return p;
    }();
    return folder;
}

void BM_DeliveredFrame(benchmark::State &state) {
    const std::vector<BYTE> frame = Frame(state);
    HWND window = emu::CreateHostWindow(&IgnoreMessage, nullptr);
    kovic::FrameSinkPtr sink = kovic::FrameSink::Create(window);
    // The first delivery allocates the sink's buffer; every later one reuses it.
    sink->Arm();
    sink->BufferCB(0.0, const_cast<BYTE *>(frame.data()), static_cast<LONG>(frame.size()));
    emu::PumpMessages(window);
    double time = 0;
    for (auto _ : state) {
        sink->Arm();
        sink->BufferCB(time += 1.0 / 30, const_cast<BYTE *>(frame.data()), static_cast<LONG>(frame.size()));
        emu::PumpMessages(window);
    }
    benchmark::DoNotOptimize(sink->descriptor()->data[frame.size() - 1]);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
    sink.reset();
    emu::DestroyHostWindow(window);
}

// A camera frame of the format in the benchmark's third argument, converted
// into RGB24 by the callback; the same RGB24 frame's memcpy is BM_MemcpyFrame.
void BM_DeliveredConvertedFrame(benchmark::State &state) {
    const auto format = static_cast<kovic::FrameFormat>(state.range(2));
    const auto width = static_cast<int32_t>(state.range(0)), height = static_cast<int32_t>(state.range(1));
    std::vector<BYTE> frame(kovic::SourceFrameBytes(format, width, height));
    for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<BYTE>(i * 131 + (i >> 13));
    HWND window = emu::CreateHostWindow(&IgnoreMessage, nullptr);
    kovic::FrameSinkPtr sink = kovic::FrameSink::Create(window);
    sink->SetFrameFormat(format, width, height);
    sink->Arm();
    sink->BufferCB(0.0, frame.data(), static_cast<LONG>(frame.size()));
    emu::PumpMessages(window);
    double time = 0;
    for (auto _ : state) {
        sink->Arm();
        sink->BufferCB(time += 1.0 / 30, frame.data(), static_cast<LONG>(frame.size()));
        emu::PumpMessages(window);
    }
    benchmark::DoNotOptimize(sink->descriptor()->data[sink->descriptor()->length - 1]);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(sink->descriptor()->length));
    sink.reset();
    emu::DestroyHostWindow(window);
}

void BM_MemcpyFrame(benchmark::State &state) {
    const std::vector<BYTE> frame = Frame(state);
    std::vector<BYTE> copy(frame.size(), 1);
    for (auto _ : state) {
        std::memcpy(copy.data(), frame.data(), frame.size());
        benchmark::ClobberMemory();
    }
    benchmark::DoNotOptimize(copy[frame.size() - 1]);
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size()));
}

// The sink waits (no arming): every sample is dropped at the busy flag.
void BM_DroppedSample(benchmark::State &state) {
    const std::vector<BYTE> frame = Frame(state);
    kovic::FrameSinkPtr sink = kovic::FrameSink::Create(nullptr);
    ISampleGrabberCB *callback = sink.get();  // called through the interface, as the grabber does
    for (auto _ : state) {
        benchmark::DoNotOptimize(callback->BufferCB(0.0, const_cast<BYTE *>(frame.data()), static_cast<LONG>(frame.size())));
    }
}

void BM_BitmapSnapshot(benchmark::State &state) {
    const std::vector<BYTE> frame = Frame(state);
    const std::string path = (Folder() / "snapshot.bmp").string();
    const auto width = static_cast<int32_t>(state.range(0)), height = static_cast<int32_t>(state.range(1));
    for (auto _ : state) {
        if (kovic::WriteBitmapFile(path.c_str(), width, height, frame.data(), static_cast<int32_t>(frame.size())) != 1) {
            state.SkipWithError("WriteBitmapFile failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size() + kovic::kBitmapHeaderBytes));
}

void BM_PlainWrite(benchmark::State &state) {
    const std::vector<BYTE> frame = Frame(state);
    const std::string path = (Folder() / "plain.bmp").string();
    unsigned char headers[kovic::kBitmapHeaderBytes];
    kovic::LayOutBitmapHeaders(static_cast<int32_t>(state.range(0)), static_cast<int32_t>(state.range(1)),
                               static_cast<int32_t>(frame.size()), headers);
    for (auto _ : state) {
        std::FILE *file = std::fopen(path.c_str(), "wb");
        bool ok = file != nullptr && std::fwrite(headers, 1, sizeof(headers), file) == sizeof(headers) &&
                  std::fwrite(frame.data(), 1, frame.size(), file) == frame.size();
        if (file != nullptr) ok = std::fclose(file) == 0 && ok;
        if (!ok) {
            state.SkipWithError("plain write failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(frame.size() + kovic::kBitmapHeaderBytes));
}

void Sizes(benchmark::internal::Benchmark *b) { b->Args({1920, 1080})->Args({640, 480}); }

// Each measured path beside its baseline, in the order of the table.
BENCHMARK(BM_DeliveredFrame)->Apply(Sizes)->Unit(benchmark::kMicrosecond);
constexpr int64_t kConvertedFormats[] = {static_cast<int64_t>(kovic::FrameFormat::kYuy2),
                                         static_cast<int64_t>(kovic::FrameFormat::kNv12),
                                         static_cast<int64_t>(kovic::FrameFormat::kI420)};
void ConvertedSizes(benchmark::internal::Benchmark *b) {
    for (int64_t format : kConvertedFormats) b->Args({1920, 1080, format})->Args({640, 480, format});
}
BENCHMARK(BM_DeliveredConvertedFrame)->Apply(ConvertedSizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_MemcpyFrame)->Apply(Sizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DroppedSample)->Args({1920, 1080});
BENCHMARK(BM_BitmapSnapshot)->Apply(Sizes)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_PlainWrite)->Apply(Sizes)->Unit(benchmark::kMicrosecond);

// The console table, then each path's time over its baseline's (medians when
// the run has repetitions).
class RatioReporter : public kovic_bench::TimingReporter {
public:
    // Colours only on a terminal, so that a saved report reads cleanly.
    RatioReporter() : TimingReporter(isatty(fileno(stdout)) ? OO_ColorTabular : OO_Tabular) {}
    void Finalize() override {
        ConsoleReporter::Finalize();
        const char *const sizes[] = {"1920/1080", "640/480"};
        std::printf("\nratios (path / baseline), wall clock and CPU:\n");
        for (const char *size : sizes) {
            Ratio("delivered frame / memcpy", "BM_DeliveredFrame/", "BM_MemcpyFrame/", size);
            const std::pair<const char *, kovic::FrameFormat> converted[] = {
                {"YUY2 converted / memcpy", kovic::FrameFormat::kYuy2},
                {"NV12 converted / memcpy", kovic::FrameFormat::kNv12},
                {"I420 converted / memcpy", kovic::FrameFormat::kI420}};
            for (const auto &c : converted) {
                Ratio(c.first, "BM_DeliveredConvertedFrame/", "BM_MemcpyFrame/", size,
                      "/" + std::to_string(static_cast<int>(c.second)));
            }
            Ratio("BMP snapshot / plain write", "BM_BitmapSnapshot/", "BM_PlainWrite/", size);
        }
        auto dropped = times_.find("BM_DroppedSample/1920/1080");
        if (dropped != times_.end()) std::printf("  dropped sample: %.2f ns\n", dropped->second.real);
    }

private:
    void Ratio(const char *label, const std::string &path, const std::string &baseline, const std::string &size,
               const std::string &suffix = "") {
        auto a = times_.find(path + size + suffix), b = times_.find(baseline + size);
        if (a == times_.end() || b == times_.end() || b->second.real <= 0 || b->second.cpu <= 0) return;
        std::printf("  %-28s %-10s %8.1f us / %8.1f us = %.3f   CPU %8.1f us / %8.1f us = %.3f\n", label,
                    size.c_str(), a->second.real, b->second.real, a->second.real / b->second.real, a->second.cpu,
                    b->second.cpu, a->second.cpu / b->second.cpu);
    }
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    std::filesystem::remove_all(Folder());
    return 0;
}
