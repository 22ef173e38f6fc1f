// Throughput of each edit on a buffer in memory: one slice of the size the
// run edits at a time (it stays in cache), and a whole 4000 x 3000 picture
// (it does not). The buffer is
// restored before every pass (untimed), so edits such as gray, which would
// otherwise feed on their own output, always see the same colourful pixels.
// Copy leaves the buffer as it is, so it has no kernel: it is all I/O.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "bitmap.h"
#include "pixel_operations.h"

namespace {

using korvane::OperationKind;

constexpr std::int64_t kPictureBytes = std::int64_t{4000} * 3000 * 3;
constexpr std::uint8_t kAmount = 40;

std::vector<std::uint8_t> RandomPixels(std::size_t size) {
    std::vector<std::uint8_t> pixels(size);
    std::mt19937 generator(20240517);
    for (auto& byte : pixels) byte = static_cast<std::uint8_t>(generator());
    return pixels;
}

// Runs `edit` over a fresh copy of the same pixels in every iteration.
template <typename Edit>
void RunEdit(benchmark::State& state, Edit edit) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const std::vector<std::uint8_t> source = RandomPixels(size);
    std::vector<std::uint8_t> pixels(size);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(pixels.data(), source.data(), size);
        state.ResumeTiming();
        edit(pixels.data(), size);
        benchmark::DoNotOptimize(pixels.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_TransformBuffer(benchmark::State& state, OperationKind kind) {
    RunEdit(state, [kind](std::uint8_t* pixels, std::size_t size) {
        korvane::TransformBuffer(pixels, size, kind, kAmount);
    });
}

void BM_Noise(benchmark::State& state) {
    RunEdit(state, [](std::uint8_t* pixels, std::size_t size) {
        korvane::AddNoiseToBuffer(pixels, size, kAmount);
    });
}

void Sizes(benchmark::internal::Benchmark* benchmark) {
    benchmark->Arg(static_cast<std::int64_t>(korvane::kSliceBytes))->Arg(kPictureBytes)->Unit(benchmark::kMicrosecond);
}

}  // namespace

BENCHMARK_CAPTURE(BM_TransformBuffer, add, OperationKind::kAdd)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_TransformBuffer, subtract, OperationKind::kSubtract)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_TransformBuffer, gray, OperationKind::kGray)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_TransformBuffer, invert, OperationKind::kInvert)->Apply(Sizes);
BENCHMARK_CAPTURE(BM_TransformBuffer, threshold, OperationKind::kThreshold)->Apply(Sizes);
BENCHMARK(BM_Noise)->Apply(Sizes);

BENCHMARK_MAIN();
