// initialise and finalise: the kernel variant and the working buffers.

#include <cstdlib>

#include "host/callbacks.h"
#include "host/working_state.h"
#include "kernels/sse_scratch.h"

namespace zeverive {

// Each block leaves room to slide the view to a 16-byte boundary.
constexpr size_t kLineBlockBytes = kMaxLineLength * sizeof(float) + 15;  // 3343
constexpr size_t kSseScratchBytes = 16 + 15;

const LifecycleServices default_lifecycle_services = {usable_variants, std::malloc, std::free};

WorkingState working_state = {};
float* sse_scratch = nullptr;

namespace {

KernelVariant requested_variant = kNoVariantRequest;

// Allocation order of the line buffers.
float* LineBuffers::*const kLineOrder[kLineBufferCount] = {
    &LineBuffers::scratch, &LineBuffers::shift0, &LineBuffers::shift1,
    &LineBuffers::shift2,  &LineBuffers::shift3, &LineBuffers::mask,
};

void release_all() {
    WorkingState& s = working_state;
    void (*release)(void*) = s.services.release ? s.services.release : default_lifecycle_services.release;
    for (void*& block : s.line_blocks) {
        release(block);
        block = nullptr;
    }
    if (s.variant == kVariantSse) release(s.sse_scratch_block);
    s.sse_scratch_block = nullptr;
    sse_scratch = nullptr;
    s.lines = LineBuffers{};
    s.ready = false;
}

}  // namespace

int32_t initialise_with(const LifecycleServices& services) {
    WorkingState& s = working_state;
    // A host may initialise again without finalising; the buffers of the
    // first call go back with the services that allocated them.
    if (s.ready) release_all();
    s.services = services;

    s.variant = variant_taken(services.usable_variants());

    bool complete = true;
    for (int i = 0; i < kLineBufferCount; ++i) {
        s.line_blocks[i] = services.allocate(kLineBlockBytes);
        complete = complete && s.line_blocks[i] != nullptr;
        s.lines.*kLineOrder[i] = s.line_blocks[i] ? align16<float>(s.line_blocks[i]) : nullptr;
    }
    if (s.variant == kVariantSse) {
        s.sse_scratch_block = services.allocate(kSseScratchBytes);
        complete = complete && s.sse_scratch_block != nullptr;
        sse_scratch = s.sse_scratch_block ? align16<float>(s.sse_scratch_block) : nullptr;
    }

    if (!complete) {
        // Frames would need every buffer; hold nothing rather than half.
        release_all();
        return 0;
    }
    s.ready = true;
    return 1;
}

void request_variant(KernelVariant variant) {
    requested_variant = variant >= 0 && variant < kVariantCount ? variant : kNoVariantRequest;
}

KernelVariant variant_taken(const UsableVariants& usable) {
    const bool requested_runs =
        requested_variant != kNoVariantRequest && (usable.runs & variant_bit(requested_variant)) != 0;
    return requested_runs ? requested_variant : usable.chosen;
}

}  // namespace zeverive

extern "C" int32_t ZEVERIVE_CDECL initialise(void) {
    return zeverive::initialise_with(zeverive::default_lifecycle_services);
}

extern "C" int32_t ZEVERIVE_CDECL finalise(void) {
    zeverive::release_all();
    return 1;
}
