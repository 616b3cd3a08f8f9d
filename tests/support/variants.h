// Whether this processor runs a kernel variant: the kernel checker, the
// unit tests, frame_dump and the benchmarks all skip by it.
#pragma once

#include "cpu/detect.h"

namespace zeverive_test {

using zeverive::kVariantNames;

// What initialise itself finds, asked once per program.
inline bool variant_runs(zeverive::KernelVariant v) {
    static const zeverive::VariantSet runs = zeverive::usable_variants().runs;
    return v >= 0 && v < zeverive::kVariantCount && (runs & zeverive::variant_bit(v)) != 0;
}

}  // namespace zeverive_test
