// The plug-in as the module that host programs load several times over,
// one copy per thread (luma/plugin_copies.h). Each copy keeps working
// state of its own, so the product and its one-state contract stay as
// they are. Besides GetFilterTable a copy exports one hook: initialise
// with a chosen kernel variant, so that a host can run every copy with the
// variant its built-in plug-in runs, whether detected or forced.

#include "host/callbacks.h"
#include "host/working_state.h"

// initialise with `variant` where this processor runs it (as
// request_variant takes it), else with the copy's own choice: 1 when every
// buffer exists, 0 when one could not be allocated or the variant does
// not exist in this build.
extern "C" __attribute__((visibility("default"))) int32_t zeverive_initialise_variant(int32_t variant) {
    using namespace zeverive;
    if (variant < 0 || variant >= kVariantCount) return 0;
    request_variant(variant);
    return initialise_with(default_lifecycle_services);
}
