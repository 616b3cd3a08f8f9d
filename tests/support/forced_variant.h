// Runs the plug-in with a chosen kernel variant, as initialise would on a
// processor that reports it.
#pragma once

#include "cpu/detect.h"

namespace zeverive_test {

// initialise with the variant forced; finalise when it goes out of scope.
class ForcedVariant {
  public:
    explicit ForcedVariant(zeverive::KernelVariant variant);
    ~ForcedVariant();
    ForcedVariant(const ForcedVariant&) = delete;
    ForcedVariant& operator=(const ForcedVariant&) = delete;
};

}  // namespace zeverive_test
