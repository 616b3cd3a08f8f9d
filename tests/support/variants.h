// The kernel variants by name, and the one answer to whether this
// processor runs each: the kernel checker, the unit tests, frame_dump and
// the benchmarks all skip by it.
#pragma once

#include "cpu/detect.h"

namespace zeverive_test {

#if defined(__x86_64__)
constexpr const char* kVariantNames[zeverive::kVariantCount] = {"x87", "3dnow", "sse", "avx2"};
#else
constexpr const char* kVariantNames[zeverive::kVariantCount] = {"x87", "3dnow", "sse"};
#endif

// The x87 form runs everywhere. On x86-64 the 3DNow! form runs over the
// portable two-lane layer and SSE is part of the architecture, while AVX2
// follows CPUID and the operating system's saving of its registers. On
// i386 3DNow! follows CPUID, and SSE follows CPUID and a trial instruction:
// a processor may report SSE to an operating system that does not save
// its registers, and initialise then falls back to x87 as well.
inline bool variant_runs(zeverive::KernelVariant v) {
    using namespace zeverive;
    if (v < 0 || v >= kVariantCount) return false;
#if defined(__x86_64__)
    if (v == kVariantAvx2) return read_processor_features().avx2;
#else
    static const ProcessorFeatures features = read_processor_features();
    static const bool sse = features.sse && sse_runs();
    if (v == kVariant3DNow) return features.amd_3dnow;
    if (v == kVariantSse) return sse;
#endif
    return true;
}

}  // namespace zeverive_test
