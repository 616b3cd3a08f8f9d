// The plug-in as the module that host programs load several times over,
// one copy per thread (luma/plugin_copies.h). Each copy keeps working
// state of its own, so the product and its one-state contract stay as
// they are. Besides GetFilterTable a copy exports one hook: initialise
// with a chosen kernel variant, so that a host can run every copy with the
// variant it forces on its built-in plug-in.

#include "host/callbacks.h"
#include "host/working_state.h"

namespace {

zeverive::KernelVariant chosen_variant = zeverive::kVariantX87;

zeverive::KernelVariant report_chosen() {
    return chosen_variant;
}

}  // namespace

// initialise as on a processor whose detection chose `variant`: 1 when
// every buffer exists, 0 when one could not be allocated or the variant
// does not exist in this build. Whether the processor runs it is the
// caller's to know.
extern "C" __attribute__((visibility("default"))) int32_t zeverive_initialise_variant(int32_t variant) {
    using namespace zeverive;
    if (variant < 0 || variant >= kVariantCount) return 0;
    chosen_variant = variant;
    LifecycleServices services = default_lifecycle_services;
    services.choose_variant = report_chosen;
    return initialise_with(services);
}
