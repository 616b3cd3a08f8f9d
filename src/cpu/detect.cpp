// Processor detection through CPUID, and a guarded trial of one SSE
// instruction for operating systems that do not save the SSE registers.

#include "cpu/detect.h"

#include <cpuid.h>

namespace zeverive {
namespace {

constexpr uint32_t kEflagsId = 1u << 21;
constexpr uint32_t kLeaf1EdxSse = 1u << 25;
constexpr uint32_t kExtendedLeafEdx3DNow = 1u << 31;
constexpr uint32_t kLeaf1EcxOsxsave = 1u << 27;
constexpr uint32_t kLeaf1EcxAvx = 1u << 28;
constexpr uint32_t kLeaf7EbxAvx2 = 1u << 5;
// XCR0: the operating system saves and restores the SSE (bit 1) and the
// upper halves of the AVX registers (bit 2) on a context switch.
constexpr uint64_t kXcr0SseAndAvxState = 0x6;

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

#if defined(__x86_64__)
// XGETBV may only run once CPUID reports OSXSAVE; without it the
// instruction faults.
uint64_t extended_control_register0() {
    uint32_t low, high;
    __asm__ volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return (uint64_t{high} << 32) | low;
}

// A processor may report AVX2 while the operating system leaves the upper
// halves of the registers unsaved; every task switch would then corrupt them.
bool avx2_usable() {
    uint32_t max_leaf, ebx, ecx, edx;
    __cpuid(0, max_leaf, ebx, ecx, edx);
    if (max_leaf < 7) return false;
    uint32_t eax;
    __cpuid(1, eax, ebx, ecx, edx);
    if ((ecx & (kLeaf1EcxOsxsave | kLeaf1EcxAvx)) != (kLeaf1EcxOsxsave | kLeaf1EcxAvx)) return false;
    if ((extended_control_register0() & kXcr0SseAndAvxState) != kXcr0SseAndAvxState) return false;
    __cpuid_count(7, 0, eax, ebx, ecx, edx);
    return (ebx & kLeaf7EbxAvx2) != 0;
}
#endif

}  // namespace

ProcessorFeatures read_processor_features() {
    ProcessorFeatures features = {false, false, false};
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
#if defined(__x86_64__)
    features.avx2 = avx2_usable();
#endif
    return features;
}

UsableVariants usable_variants_for(const ProcessorFeatures& features, bool sse_trial_passed) {
    UsableVariants usable = {variant_bit(kVariantX87), kVariantX87};
#if defined(__x86_64__)
    usable.runs |= variant_bit(kVariant3DNow);
    if (features.avx2) usable.runs |= variant_bit(kVariantAvx2);
#else
    if (features.amd_3dnow) usable.runs |= variant_bit(kVariant3DNow);
#endif
    if (features.sse && sse_trial_passed) usable.runs |= variant_bit(kVariantSse);

    if (features.sse) {
        usable.chosen = sse_trial_passed ? kVariantSse : kVariantX87;
    } else if (features.amd_3dnow) {
        usable.chosen = kVariant3DNow;
    }
#if defined(__x86_64__)
    if (features.avx2) usable.chosen = kVariantAvx2;
#endif
    return usable;
}

UsableVariants usable_variants() {
    const ProcessorFeatures features = read_processor_features();
    // The trial only where CPUID reports SSE: elsewhere it would fault for
    // nothing.
    return usable_variants_for(features, features.sse && sse_runs());
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
