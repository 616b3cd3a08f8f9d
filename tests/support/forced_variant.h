// Runs the plug-in with a chosen kernel variant, as initialise would on a
// processor that reports it.
#pragma once

#include "cpu/detect.h"

namespace zeverive_test {

// Whether this processor can execute the variant's instructions (the
// 3DNow! form runs everywhere on x86-64, over its two-lane layer).
bool variant_runs_here(zeverive::KernelVariant variant);

// initialise with the variant forced; finalise when it goes out of scope.
class ForcedVariant {
  public:
    explicit ForcedVariant(zeverive::KernelVariant variant);
    ~ForcedVariant();
    ForcedVariant(const ForcedVariant&) = delete;
    ForcedVariant& operator=(const ForcedVariant&) = delete;
};

}  // namespace zeverive_test
