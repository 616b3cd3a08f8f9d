// Which form of the kernels this processor runs.
#pragma once

#include <cstdint>

namespace zeverive {

// 0 plain x87, 1 3DNow!, 2 SSE. Indexes the columns of the kernel table.
typedef int32_t KernelVariant;
constexpr KernelVariant kVariantX87 = 0;
constexpr KernelVariant kVariant3DNow = 1;
constexpr KernelVariant kVariantSse = 2;
constexpr int kVariantCount = 3;

// What CPUID reports. SSE and 3DNow! are independent facts: a processor may
// have either, both or neither.
struct ProcessorFeatures {
    bool sse;
    bool amd_3dnow;
};
ProcessorFeatures read_processor_features();

// The variant CPUID asks for; SSE wins over 3DNow! when both are reported.
KernelVariant choose_variant();

// Whether the operating system lets an SSE instruction run: one XORPS is
// tried under a guard that catches the fault.
bool sse_runs();

// Runs `trial` under the same guard; false if it raised a fault. The trial
// must fault, if at all, at its first instruction.
bool instruction_runs(void (*trial)());

}  // namespace zeverive
