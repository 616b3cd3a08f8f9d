// Processor detection through CPUID, and a guarded trial of one SSE
// instruction for operating systems that do not save the SSE registers.

#include "cpu/detect.h"

#include <cpuid.h>

namespace zeverive {
namespace {

constexpr uint32_t kEflagsId = 1u << 21;
constexpr uint32_t kLeaf1EdxSse = 1u << 25;
constexpr uint32_t kExtendedLeafEdx3DNow = 1u << 31;

// A processor without CPUID cannot flip the ID bit of EFLAGS. Every x86-64
// processor has CPUID.
bool has_cpuid() {
#if defined(__i386__)
    uint32_t before, after;
    __asm__ volatile(
        "pushfl\n\t"
        "pushfl\n\t"
        "popl %0\n\t"
        "movl %0, %1\n\t"
        "xorl %2, %1\n\t"
        "pushl %1\n\t"
        "popfl\n\t"
        "pushfl\n\t"
        "popl %1\n\t"
        "popfl\n\t"
        : "=&r"(before), "=&r"(after)
        : "ri"(kEflagsId)
        : "cc");
    return ((before ^ after) & kEflagsId) != 0;
#else
    return true;
#endif
}

}  // namespace

ProcessorFeatures read_processor_features() {
    ProcessorFeatures features = {false, false};
    if (!has_cpuid()) return features;

    uint32_t eax, ebx, ecx, edx;
    // Leaf 1 exists on every processor with CPUID, so the highest basic
    // leaf is not asked for first.
    __cpuid(1, eax, ebx, ecx, edx);
    features.sse = (edx & kLeaf1EdxSse) != 0;

    __cpuid(0x80000000u, eax, ebx, ecx, edx);
    if (eax >= 0x80000001u) {
        __cpuid(0x80000001u, eax, ebx, ecx, edx);
        features.amd_3dnow = (edx & kExtendedLeafEdx3DNow) != 0;
    }
    return features;
}

KernelVariant choose_variant() {
    const ProcessorFeatures features = read_processor_features();
    if (features.sse) return kVariantSse;
    if (features.amd_3dnow) return kVariant3DNow;
    return kVariantX87;
}

}  // namespace zeverive

namespace zeverive {
namespace {

// XORPS xmm0, xmm0: clears a register nobody relies on across the call.
__attribute__((naked, noinline)) void xorps_trial() {
    __asm__("xorps %xmm0, %xmm0\n\tret");
}

}  // namespace

bool sse_runs() {
    return instruction_runs(xorps_trial);
}

}  // namespace zeverive
