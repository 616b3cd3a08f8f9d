// Every kernel in every variant at every size the pipeline uses: time per
// call, and samples per second as the items processed.
//
//   kernel_bench [--benchmark_filter=REGEX] [--benchmark_repetitions=N] ...
//
// With repetitions every row also gets its median, fastest (_min) and
// slowest (_max) repetition.
//
// Names are <operation>/<variant>/<size>; the size is the length or half
// length of the transforms and edge masks, and the first index of a band
// for the shrinks. Samples count every coefficient a call reads from its
// lines (all lines of a multi-line shrink).

#include <benchmark/benchmark.h>
#include <xmmintrin.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "cpu/kernel_table.h"
#include "support/kernel_cases.h"
#include "report.h"

namespace {

using namespace zeverive;
using namespace zeverive_test;

// Decomposed-looking lines, masks with both values, and the SSE scratch.
// Line 0 is the transforms' input and line 1 their output; lines 2 to 5
// are shrunk; the edge masks write a mask of their own, so no benchmark
// changes another one's data.
struct Workspace {
    Workspace() {
        Random random(2024);
        for (auto& line : lines) {
            line = std::make_unique<GuardedLine>(kLineLength);
            fill_line(random, line->data(), kLineLength, Spread::kCoefficients);
        }
        for (int i = 0; i < kLineLength; ++i) mask[i] = float(random.below(2));
        edge_mask.fill(1.0f);
    }
    float* line(int k) { return lines[k]->data(); }

    std::unique_ptr<GuardedLine> lines[6];
    GuardedLine mask{kLineLength};
    GuardedLine edge_mask{kLineLength};
    ScratchScope scratch;
};

Workspace& workspace() {
    static Workspace w;
    return w;
}

void add(const std::string& name, int samples, std::function<void()> call) {
    zeverive_bench::with_range(benchmark::RegisterBenchmark(name.c_str(), [samples, call](benchmark::State& state) {
        for (auto _ : state) {
            call();
            benchmark::ClobberMemory();
        }
        state.SetItemsProcessed(state.iterations() * samples);
    }));
}

std::string name_of(const char* op, const char* variant, int size) {
    return std::string(op) + "/" + variant + "/" + std::to_string(size);
}

void register_all() {
    Workspace& w = workspace();
    // The shrinks and edge masks work in place; repeated calls test the same
    // coefficients again, which costs what the first test did. Their
    // thresholds sit inside the coefficients' range so both outcomes occur.
    const float shrink_threshold = 400.0f;
    const float edge_threshold = 900.0f;
    // A form several variants share (the mode-3 kernels' plain form) is
    // timed once, under the first of them.
    std::set<void (*)()> timed;
    const auto first_time = [&timed](auto form) { return timed.insert(reinterpret_cast<void (*)()>(form)).second; };
    for (KernelVariant v = 0; v < kVariantCount; ++v) {
        if (!variant_runs(v)) continue;
        const char* variant = kVariantNames[v];
        const TransformKernels transform = transform_kernels(v);
        const ShrinkKernels shrink = shrink_kernels(v);
        const EdgeMaskKernels edge = edge_mask_kernels(v);
        const OddLowpassKernels odd = odd_lowpass_kernels(v);
        if (first_time(transform.forward))
            for (int n : kForwardLengths)
                add(name_of("forward_transform", variant, n), n,
                    [&w, f = transform.forward, n] { f(w.line(0), n, w.line(1)); });
        if (first_time(transform.inverse))
            for (int h : kHalfLengths)
                add(name_of("inverse_transform", variant, h), 2 * h,
                    [&w, f = transform.inverse, h] { f(w.line(0), w.line(0) + h, h, w.line(1)); });
        const bool new_shrink_band = first_time(shrink.shrink_band);
        const bool new_shrink_band_2phase = first_time(shrink.shrink_band_2phase);
        const bool new_shrink_band_4phase = first_time(shrink.shrink_band_4phase);
        for (const Band& b : kBands) {
            const int n = b.end - b.start;
            if (new_shrink_band)
                add(name_of("shrink_band", variant, b.start), n, [&w, f = shrink.shrink_band, b, shrink_threshold] {
                    f(w.line(2), b.start, b.end, shrink_threshold, w.mask.data());
                });
            if (new_shrink_band_2phase)
                add(name_of("shrink_band_2phase", variant, b.start), 2 * n,
                    [&w, f = shrink.shrink_band_2phase, b, shrink_threshold] {
                        f(w.line(2), w.line(3), b.start, b.end, shrink_threshold, w.mask.data());
                    });
            if (new_shrink_band_4phase)
                add(name_of("shrink_band_4phase", variant, b.start), 4 * n,
                    [&w, f = shrink.shrink_band_4phase, b, shrink_threshold] {
                        f(w.line(2), w.line(3), w.line(4), w.line(5), b.start, b.end, shrink_threshold,
                          w.mask.data());
                    });
        }
        if (first_time(edge.single))
            for (int h : kHalfLengths)
                add(name_of("edge_mask", variant, h), h, [&w, f = edge.single, h, edge_threshold] {
                    f(w.edge_mask.data(), h, w.line(0), edge_threshold);
                });
        if (first_time(edge.pair))
            for (int h : kHalfLengths)
                add(name_of("edge_mask_pair", variant, h), 2 * h, [&w, f = edge.pair, h, edge_threshold] {
                    f(w.edge_mask.data(), h, w.line(0), w.line(2), edge_threshold);
                });
        if (first_time(odd.analysis))
            for (int n : kForwardLengths)
                add(name_of("odd_lowpass_analysis", variant, n), n,
                    [&w, f = odd.analysis, n] { f(w.line(0), n, w.line(1)); });
        if (first_time(odd.synthesis))
            for (int h : kHalfLengths)
                add(name_of("odd_lowpass_synthesis", variant, h), h,
                    [&w, f = odd.synthesis, h] { f(w.line(0), h, w.line(1)); });
    }
}

// The processor's rate of 4-wide single-precision multiply-adds (one MULPS
// and one ADDPS; the builds never fuse them), the yardstick for the SSE
// transforms: one transform output costs four products and three sums, so
// a forward transform of n samples or an inverse of n/2 pairs needs n
// multiply-adds of four lanes, and its best possible time is n divided by
// this rate. Twelve independent chains of acc = acc * m + a keep both the
// multiplier and the adder busy whatever their latencies; the chains
// converge to a / (1 - m), so nothing overflows or goes denormal, and the
// chains with m and a fit the sixteen XMM registers without spilling.
void multiply_add_rate(benchmark::State& state) {
    constexpr int kChains = 12;
    constexpr int kRounds = 256;
    const __m128 m = _mm_set1_ps(0.999f);
    const __m128 a = _mm_set1_ps(0.001f);
    __m128 acc[kChains];
    for (int c = 0; c < kChains; ++c) acc[c] = _mm_set1_ps(float(c));
    for (auto _ : state) {
        for (int r = 0; r < kRounds; ++r) {
            for (int c = 0; c < kChains; ++c) acc[c] = _mm_add_ps(_mm_mul_ps(acc[c], m), a);
        }
        for (int c = 0; c < kChains; ++c) benchmark::DoNotOptimize(acc[c]);
    }
    state.SetItemsProcessed(state.iterations() * kRounds * kChains);
}

}  // namespace

int main(int argc, char** argv) {
    zeverive_bench::describe_machine();
    register_all();
    zeverive_bench::with_range(benchmark::RegisterBenchmark("multiply_add_rate/sse", multiply_add_rate));
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
