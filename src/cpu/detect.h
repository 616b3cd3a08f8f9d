// Which form of the kernels this processor runs.
#pragma once

#include <cstdint>

namespace zeverive {

// 0 plain x87, 1 3DNow!, 2 SSE; on x86-64 also 3 AVX2, eight lanes with
// every output bit of SSE's. Indexes the columns of the kernel table.
typedef int32_t KernelVariant;
constexpr KernelVariant kVariantX87 = 0;
constexpr KernelVariant kVariant3DNow = 1;
constexpr KernelVariant kVariantSse = 2;
// The variants every build has, and so the ones whose results the x86-64
// and the i386 build must share.
constexpr int kPortableVariantCount = 3;
#if defined(__x86_64__)
constexpr KernelVariant kVariantAvx2 = 3;
constexpr int kVariantCount = 4;
constexpr const char* kVariantNames[kVariantCount] = {"x87", "3dnow", "sse", "avx2"};
#else
constexpr int kVariantCount = 3;
constexpr const char* kVariantNames[kVariantCount] = {"x87", "3dnow", "sse"};
#endif

// A set of variants, bit 1 << v for variant v.
typedef uint32_t VariantSet;
constexpr VariantSet variant_bit(KernelVariant v) {
    return VariantSet{1} << v;
}

// What CPUID reports. SSE and 3DNow! are independent facts: a processor may
// have either, both or neither. avx2 also needs the operating system to save
// the 256-bit registers; it is read on x86-64 only.
struct ProcessorFeatures {
    bool sse;
    bool amd_3dnow;
    bool avx2;
};
ProcessorFeatures read_processor_features();

// Which variants run here, and which of them initialise takes.
struct UsableVariants {
    VariantSet runs;
    KernelVariant chosen;
};

// The one answer for initialise, the tests and the benchmarks, from
// CPUID, XGETBV and a trial of one SSE instruction.
UsableVariants usable_variants();

// The rule behind it, for the facts given. x87 runs everywhere. 3DNow!
// runs where CPUID reports it, and on x86-64 always (over the portable
// two-lane layer). SSE runs where CPUID reports it and the trial passed.
// AVX2 (x86-64) runs where `features.avx2` says so. The choice: AVX2, else
// SSE, else 3DNow!; a processor that reports SSE to an operating system
// that refuses it gets x87, never 3DNow!.
UsableVariants usable_variants_for(const ProcessorFeatures& features, bool sse_trial_passed);

// Whether the operating system lets an SSE instruction run: one XORPS is
// tried under a guard that catches the fault.
bool sse_runs();

// Runs `trial` under the same guard; false if it raised a fault. The trial
// must fault, if at all, at its first instruction.
bool instruction_runs(void (*trial)());

}  // namespace zeverive
