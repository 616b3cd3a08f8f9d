// Whole frames through process_frame, one thread: every mode and variant at
// 720x480 (a standard-definition frame), 416x416 (the largest frame of the
// small size class) and 832x832 (the largest frame the line buffers hold).
//
//   frame_bench [--benchmark_filter=REGEX] [--benchmark_repetitions=N] ...
//
// With repetitions every row also gets its median, fastest (_min) and
// slowest (_max) repetition.
//
// Names are frame/<variant>/mode<m>/<width>x<height>. Besides the time per
// frame, each row reports frames per second (fps) and nanoseconds per pixel
// (time_per_pixel, in ns). Every iteration denoises the same noisy frame: the input
// is put back between iterations, outside the timed region, so the edge
// masks and shrinks see the same data every time.

#include <benchmark/benchmark.h>

#include <cstring>
#include <string>
#include <vector>

#include "host/callbacks.h"
#include "report.h"
#include "support/forced_variant.h"
#include "support/synthetic_frames.h"
#include "support/test_host.h"
#include "support/variants.h"

namespace {

using namespace zeverive_test;

// Noise of about 10 steps of 8-bit video (one step is 4096 / 219 on the
// host's scale), the strength the comparison with other denoisers uses.
constexpr int kNoiseSigma = 187;

struct FrameSize {
    int width, height;
};
constexpr FrameSize kSizes[] = {{720, 480}, {416, 416}, {832, 832}};

void run_frames(benchmark::State& state, int variant, int mode, FrameSize size) {
    ForcedVariant forced(variant);
    TestHost host;
    host.set_slider(0, mode);
    TestFrame input(size.width, size.height);
    fill_smooth(input);
    add_noise(input, kNoiseSigma, 2024);
    TestFrame frame(input);
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(frame.pixels.data(), input.pixels.data(), input.pixels.size() * sizeof(YcPixel));
        state.ResumeTiming();
        process_frame(&host.filter, &frame.info);
        benchmark::ClobberMemory();
    }
    const double pixels = double(size.width) * size.height;
    state.counters["fps"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
    // Seconds per pixel, which the console shows with its prefix ("31.4ns").
    state.counters["time_per_pixel"] = benchmark::Counter(double(state.iterations()) * pixels,
                                                          benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(pixels));
}

void register_all() {
    for (int variant = 0; variant < zeverive::kVariantCount; ++variant) {
        if (!variant_runs(variant)) continue;
        for (int mode = 0; mode < 4; ++mode) {
            for (const FrameSize& size : kSizes) {
                const std::string name = std::string("frame/") + kVariantNames[variant] + "/mode" +
                                         std::to_string(mode) + "/" + std::to_string(size.width) + "x" +
                                         std::to_string(size.height);
                zeverive_bench::with_range(benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& state) {
                    run_frames(state, variant, mode, size);
                }))->Unit(benchmark::kMillisecond);
            }
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    zeverive_bench::describe_machine();
    register_all();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
