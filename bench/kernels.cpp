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
#include <string>
#include <vector>

#include "cpu/kernel_table.h"
#include "kernel_check/kernel_cases.h"
#include "kernels/edge_mask.h"
#include "kernels/odd_lowpass.h"
#include "report.h"

namespace {

using namespace zeverive;
using namespace zeverive::check;

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
    for (KernelVariant v = 0; v < kVariantCount; ++v) {
        if (!variant_runs(v)) continue;
        const char* variant = kVariantNames[v];
        for (int n : kForwardLengths)
            add(name_of("forward_transform", variant, n), n,
                [&w, v, n] { kernel_table.forward_transform[v](w.line(0), n, w.line(1)); });
        for (int h : kHalfLengths)
            add(name_of("inverse_transform", variant, h), 2 * h,
                [&w, v, h] { kernel_table.inverse_transform[v](w.line(0), w.line(0) + h, h, w.line(1)); });
        for (const Band& b : kBands) {
            const int n = b.end - b.start;
            add(name_of("shrink_band", variant, b.start), n, [&w, v, b, shrink_threshold] {
                kernel_table.shrink_band[v](w.line(2), b.start, b.end, shrink_threshold, w.mask.data());
            });
            add(name_of("shrink_band_2phase", variant, b.start), 2 * n, [&w, v, b, shrink_threshold] {
                kernel_table.shrink_band_2phase[v](w.line(2), w.line(3), b.start, b.end, shrink_threshold,
                                                   w.mask.data());
            });
            add(name_of("shrink_band_4phase", variant, b.start), 4 * n, [&w, v, b, shrink_threshold] {
                kernel_table.shrink_band_4phase[v](w.line(2), w.line(3), w.line(4), w.line(5), b.start, b.end,
                                                   shrink_threshold, w.mask.data());
            });
        }
        for (int h : kHalfLengths)
            add(name_of("edge_mask", variant, h), h, [&w, v, h, edge_threshold] {
                kernel_table.edge_mask[v](w.edge_mask.data(), h, w.line(0), edge_threshold);
            });
    }
    // The mode-3 kernels have one form, shared by every variant, and on
    // x86-64 its AVX2 twin.
    struct Mode3Forms {
        const char* name;
        void (*analysis)(const float*, int, float*);
        void (*synthesis)(const float*, int, float*);
        void (*pair)(float*, int, const float*, const float*, float);
    };
    std::vector<Mode3Forms> forms = {{"scalar", odd_lowpass_analysis, odd_lowpass_synthesis, edge_mask_pair}};
#if defined(__x86_64__)
    if (variant_runs(kVariantAvx2))
        forms.push_back({"avx2", odd_lowpass_analysis_avx2, odd_lowpass_synthesis_avx2, edge_mask_pair_avx2});
#endif
    for (const Mode3Forms& f : forms) {
        for (int n : kForwardLengths)
            add(name_of("odd_lowpass_analysis", f.name, n), n, [&w, f, n] { f.analysis(w.line(0), n, w.line(1)); });
        for (int h : kHalfLengths)
            add(name_of("odd_lowpass_synthesis", f.name, h), h, [&w, f, h] { f.synthesis(w.line(0), h, w.line(1)); });
        for (int h : kHalfLengths)
            add(name_of("edge_mask_pair", f.name, h), 2 * h, [&w, f, h, edge_threshold] {
                f.pair(w.edge_mask.data(), h, w.line(0), w.line(2), edge_threshold);
            });
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
