// Shared set-up of the frame to RGB24 benchmarks: one random source frame per
// format and size, and one output buffer large enough for any of them (RGB24
// or libyuv's 4-byte ARGB), reused by every benchmark. Single-threaded.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "frames/frame_to_rgb24.h"

namespace kovic_bench {

struct SourceFrame {
    int width = 0, height = 0;
    std::vector<uint8_t> source;       // SourceFrameBytes(format, width, height)
    std::vector<uint8_t> destination;  // 4 * width * height bytes
};

// The frame for the format and the benchmark's (width, height) arguments.
SourceFrame &SourceFrameFor(kovic::FrameFormat format, const benchmark::State &state);

// Reports the pixels converted as the items processed (scripts/bench turns
// them into Mpx/s).
void ReportFramePixels(benchmark::State &state, const SourceFrame &frame);

}  // namespace kovic_bench

// The three frame sizes every conversion benchmark runs at.
#define KOVIC_CAMERA_SIZES Args({640, 480})->Args({1280, 720})->Args({1920, 1080})->Unit(benchmark::kMicrosecond)
