// The MJPG decoder against libjpeg-turbo's own TurboJPEG decode of the same
// frame, side by side in one run: MjpegDecoder::Decode, and a whole delivered
// frame in the frame sink's callback (armed, decoded into its frame buffer,
// the host told), each into the bottom-up padded RGB24 frame, against
// tjDecompress2 to bottom-up BGR with the same row size. The frame is a camera-like picture (colour bars, a ramp, a counter
// box, sensor noise) of the benchmark's width and height, encoded at quality
// 85 with 4:2:2 (the arguments' third value 422) or 4:2:0 (420) chroma. The
// ratios are printed after the table.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "frames/frame_sink.h"
#include "frames/frame_to_rgb24.h"
#include "frames/mjpeg_decoder.h"
#include "timing_reporter.h"

namespace {

// Top-down B, G, R: eight bars over the upper two thirds, a grey ramp below,
// a dark box of light digit-like blocks, and a little noise everywhere.
std::vector<unsigned char> CameraPicture(int width, int height) {
    static const unsigned char kBars[8][3] = {{255, 255, 255}, {0, 255, 255}, {255, 255, 0}, {0, 255, 0},
                                              {255, 0, 255},   {0, 0, 255},   {255, 0, 0},   {0, 0, 0}};
    std::vector<unsigned char> picture(static_cast<size_t>(width) * height * 3);
    unsigned noise = 12345;
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            unsigned char *p = &picture[(static_cast<size_t>(y) * width + x) * 3];
            if (y < height * 2 / 3) {
                std::memcpy(p, kBars[x * 8 / width], 3);
            } else {
                p[0] = p[1] = p[2] = static_cast<unsigned char>(x * 255 / width);
            }
            const bool in_box = x > width / 16 && x < width / 3 && y > height / 16 && y < height / 6;
            if (in_box) {
                const bool lit = ((x / 8) % 4 != 3) && ((y / 8) % 2 == 0);
                p[0] = p[1] = p[2] = lit ? 235 : 16;
            }
            for (int c = 0; c < 3; ++c) {
                noise = noise * 1103515245u + 12345u;
                const int v = p[c] + static_cast<int>((noise >> 16) % 9) - 4;
                p[c] = static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
            }
        }
    }
    return picture;
}

struct EncodedFrame {
    std::vector<unsigned char> jpeg;
    int width = 0, height = 0;
    size_t row_bytes = 0;
};

EncodedFrame Encode(const benchmark::State &state) {
    EncodedFrame frame;
    frame.width = static_cast<int>(state.range(0));
    frame.height = static_cast<int>(state.range(1));
    frame.row_bytes = kovic::Rgb24RowBytes(frame.width);
    const std::vector<unsigned char> picture = CameraPicture(frame.width, frame.height);
    tjhandle compressor = tjInitCompress();
    unsigned char *jpeg = nullptr;
    unsigned long jpeg_bytes = 0;
    const int subsampling = state.range(2) == 420 ? TJSAMP_420 : TJSAMP_422;
    if (compressor != nullptr && tjCompress2(compressor, picture.data(), frame.width, 0, frame.height, TJPF_BGR,
                                             &jpeg, &jpeg_bytes, subsampling, 85, 0) == 0) {
        frame.jpeg.assign(jpeg, jpeg + jpeg_bytes);
    }
    tjFree(jpeg);
    tjDestroy(compressor);
    return frame;
}

void BM_MjpegDecoder(benchmark::State &state) {
    const EncodedFrame frame = Encode(state);
    std::vector<unsigned char> out(frame.row_bytes * frame.height);
    kovic::MjpegDecoderPtr decoder = kovic::MjpegDecoder::Create();
    if (frame.jpeg.empty() || decoder == nullptr ||
        !decoder->Decode(frame.jpeg.data(), frame.jpeg.size(), frame.width, frame.height, out.data(), out.size())) {
        state.SkipWithError("the frame does not decode");
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(
            decoder->Decode(frame.jpeg.data(), frame.jpeg.size(), frame.width, frame.height, out.data(), out.size()));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frame.width * frame.height);
}

// The sink as the grabber drives it: armed, then one sample through the
// callback interface. No host window: natively the frame message is refused,
// on Windows it joins the thread's own queue, which no one reads (once full,
// it refuses posts too).
void BM_SinkMjpeg(benchmark::State &state) {
    const EncodedFrame frame = Encode(state);
    kovic::FrameSinkPtr sink = kovic::FrameSink::Create(nullptr);
    if (frame.jpeg.empty() || sink == nullptr || !sink->SetFrameFormat(kovic::FrameFormat::kMjpg, frame.width, frame.height)) {
        state.SkipWithError("no MJPG sink");
        return;
    }
    ISampleGrabberCB *callback = sink.get();
    BYTE *sample = const_cast<BYTE *>(frame.jpeg.data());
    const LONG length = static_cast<LONG>(frame.jpeg.size());
    sink->Arm();
    callback->BufferCB(0.0, sample, length);
    const FrameDescriptor *delivered = sink->descriptor();
    if (delivered->busy == 0 || delivered->length != static_cast<int32_t>(frame.row_bytes * frame.height)) {
        state.SkipWithError("the sink did not deliver the frame");
        return;
    }
    for (auto _ : state) {
        sink->Arm();
        benchmark::DoNotOptimize(callback->BufferCB(0.0, sample, length));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frame.width * frame.height);
}

void BM_TjDecompress2(benchmark::State &state) {
    const EncodedFrame frame = Encode(state);
    std::vector<unsigned char> out(frame.row_bytes * frame.height);
    tjhandle decompressor = tjInitDecompress();
    const int flags = TJFLAG_BOTTOMUP;
    if (frame.jpeg.empty() || decompressor == nullptr ||
        tjDecompress2(decompressor, frame.jpeg.data(), static_cast<unsigned long>(frame.jpeg.size()), out.data(),
                      frame.width, static_cast<int>(frame.row_bytes), frame.height, TJPF_BGR, flags) != 0) {
        state.SkipWithError("the frame does not decode");
        tjDestroy(decompressor);
        return;
    }
    // Same picture, byte for byte, as the library's decode, or the comparison is void.
    std::vector<unsigned char> ours(out.size());
    kovic::MjpegDecoderPtr decoder = kovic::MjpegDecoder::Create();
    if (decoder == nullptr ||
        !decoder->Decode(frame.jpeg.data(), frame.jpeg.size(), frame.width, frame.height, ours.data(), ours.size()) ||
        ours != out) {
        state.SkipWithError("the two decodes differ");
        tjDestroy(decompressor);
        return;
    }
    for (auto _ : state) {
        benchmark::DoNotOptimize(tjDecompress2(decompressor, frame.jpeg.data(),
                                               static_cast<unsigned long>(frame.jpeg.size()), out.data(), frame.width,
                                               static_cast<int>(frame.row_bytes), frame.height, TJPF_BGR, flags));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frame.width * frame.height);
    tjDestroy(decompressor);
}

void Sizes(benchmark::internal::Benchmark *b) {
    b->Args({1920, 1080, 422})->Args({1920, 1080, 420})->Args({1280, 720, 422});
}

BENCHMARK(BM_MjpegDecoder)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SinkMjpeg)->Apply(Sizes)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TjDecompress2)->Apply(Sizes)->Unit(benchmark::kMillisecond);

// The console table, then the decoder's time over TurboJPEG's (medians when
// the run has repetitions).
class RatioReporter : public kovic_bench::TimingReporter {
public:
    RatioReporter() : TimingReporter(OO_Tabular) {}
    void Finalize() override {
        ConsoleReporter::Finalize();
        for (const char *ours : {"BM_MjpegDecoder", "BM_SinkMjpeg"}) {
            std::printf("\nratios (%s / tjDecompress2), wall clock and CPU:\n", ours + 3);
            for (const char *size : {"1920/1080/422", "1920/1080/420", "1280/720/422"}) {
                auto a = times_.find(std::string(ours) + "/" + size);
                auto b = times_.find(std::string("BM_TjDecompress2/") + size);
                if (a == times_.end() || b == times_.end() || b->second.real <= 0 || b->second.cpu <= 0) continue;
                std::printf("  %-14s %7.2f ms / %7.2f ms = %.3f   CPU %7.2f ms / %7.2f ms = %.3f\n", size,
                            a->second.real, b->second.real, a->second.real / b->second.real, a->second.cpu,
                            b->second.cpu, a->second.cpu / b->second.cpu);
            }
        }
    }
};

}  // namespace

int main(int argc, char **argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
