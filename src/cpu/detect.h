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
#else
constexpr int kVariantCount = 3;
#endif

// What CPUID reports. SSE and 3DNow! are independent facts: a processor may
// have either, both or neither. avx2 also needs the operating system to save
// the 256-bit registers; it is read on x86-64 only.
struct ProcessorFeatures {
    bool sse;
    bool amd_3dnow;
    bool avx2;
};
ProcessorFeatures read_processor_features();

// The variant CPUID asks for; SSE wins over 3DNow! when both are reported,
// and AVX2, where the operating system saves its registers, over SSE.
KernelVariant choose_variant();

// Whether the operating system lets an SSE instruction run: one XORPS is
// tried under a guard that catches the fault.
bool sse_runs();

// Runs `trial` under the same guard; false if it raised a fault. The trial
// must fault, if at all, at its first instruction.
bool instruction_runs(void (*trial)());

}  // namespace zeverive
