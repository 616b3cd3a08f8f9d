#include "support/forced_variant.h"

#include <cstdlib>
#include <stdexcept>

#include "host/callbacks.h"
#include "host/working_state.h"

namespace zeverive_test {
namespace {

using namespace zeverive;

KernelVariant report_x87() { return kVariantX87; }
KernelVariant report_3dnow() { return kVariant3DNow; }
KernelVariant report_sse() { return kVariantSse; }
#if defined(__x86_64__)
KernelVariant report_avx2() { return kVariantAvx2; }
#endif
bool sse_accepted() { return true; }

const LifecycleServices services_for[kVariantCount] = {
    {report_x87, sse_accepted, std::malloc, std::free},
    {report_3dnow, sse_accepted, std::malloc, std::free},
    {report_sse, sse_accepted, std::malloc, std::free},
#if defined(__x86_64__)
    {report_avx2, sse_accepted, std::malloc, std::free},
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
