#include "support/forced_variant.h"

#include <cstdlib>
#include <stdexcept>

#include "host/callbacks.h"
#include "host/working_state.h"

namespace zeverive_test {
namespace {

using namespace zeverive;

// A processor that runs only the one variant.
template <KernelVariant v>
UsableVariants only() {
    return {variant_bit(v), v};
}

const LifecycleServices services_for[kVariantCount] = {
    {only<kVariantX87>, std::malloc, std::free},
    {only<kVariant3DNow>, std::malloc, std::free},
    {only<kVariantSse>, std::malloc, std::free},
#if defined(__x86_64__)
    {only<kVariantAvx2>, std::malloc, std::free},
#endif
};

}  // namespace

ForcedVariant::ForcedVariant(KernelVariant variant) {
    if (initialise_with(services_for[variant]) != 1) throw std::runtime_error("initialise failed");
}

ForcedVariant::~ForcedVariant() {
    finalise();
}

}  // namespace zeverive_test
