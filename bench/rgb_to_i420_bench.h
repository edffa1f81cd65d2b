// Shared set-up of the RGB24 to I420 benchmarks: one random frame per size,
// reused by every benchmark of that size. Single-threaded.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

namespace kovic_bench {

struct Frame {
    int width = 0, height = 0;
    std::vector<uint8_t> source;       // 3 * width * height bytes of B, G, R
    std::vector<uint8_t> destination;  // width * height * 3 / 2 bytes, and room for a source copy
};

// The frame for the benchmark's (width, height) arguments.
Frame &FrameFor(const benchmark::State &state);

// Reports the pixels converted as the items processed (scripts/bench turns
// them into Mpx/s).
void ReportPixels(benchmark::State &state, const Frame &frame);

}  // namespace kovic_bench

// The three frame sizes every conversion benchmark runs at.
#define KOVIC_FRAME_SIZES Args({640, 480})->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMicrosecond)
