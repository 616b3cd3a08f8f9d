// The plug-in's working state between initialise and finalise: the kernel
// variant and the line buffers. Process-wide, like the host's own view of a
// plug-in; callbacks never overlap, so nothing here is locked.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/size_class.h"
#include "cpu/detect.h"
#include "kernels/line_io.h"

namespace zeverive {

// Six lines of kMaxLineLength floats, each view on a 16-byte boundary.
struct LineBuffers {
    float* scratch;  // copy before an analysis step, output of a synthesis step
    float* shift0;   // the line as loaded, decomposed in place
    float* shift1;   // rotated left by 1 (four-phase mode)
    float* shift2;   // rotated left by 2, or mode 3's own-phase decomposition
    float* shift3;   // rotated left by 3 (four-phase mode)
    float* mask;     // edge mask: 1.0 protects a coefficient, 0.0 lets it go
};
constexpr int kLineBufferCount = 6;

// Where initialise gets its processor facts and memory from. The product
// always uses default_lifecycle_services; tests substitute a failing
// allocator or other processors.
struct LifecycleServices {
    UsableVariants (*usable_variants)();
    void* (*allocate)(size_t bytes);
    void (*release)(void* block);
};
extern const LifecycleServices default_lifecycle_services;

// The column pass gathers this many columns at a time into a block of
// samples (process/line_pipeline.cpp says why). The block is part of the
// static working state rather than a heap block: it needs no alignment
// beyond its declaration and nothing can fail to allocate it.
constexpr int kColumnBlockWidth = 16;

struct WorkingState {
    KernelVariant variant;
    LineBuffers lines;                     // aligned views, used for everything
    void* line_blocks[kLineBufferCount];   // as the heap returned them, for freeing
    void* sse_scratch_block;
    LifecycleServices services;            // what initialise used, so finalise frees alike
    bool ready;                            // every buffer exists
    alignas(64) ColumnSamples column_block[kColumnBlockWidth];
};
extern WorkingState working_state;

// initialise with the given services: 1 when every buffer exists, otherwise
// 0 with everything already released.
int32_t initialise_with(const LifecycleServices& services);

// For the front ends that carry the plug-in built in (never exported): the
// variant every later initialise takes instead of its own choice, where
// this processor runs it; kNoVariantRequest gives the choice back. The
// plug-in itself reads no environment: the front end decides.
constexpr KernelVariant kNoVariantRequest = -1;
void request_variant(KernelVariant variant);
// The variant initialise takes where `usable` variants run: the one
// requested where it is among them, else their chosen one.
KernelVariant variant_taken(const UsableVariants& usable);

// The first 16-byte boundary at or after `block`.
template <typename T>
T* align16(void* block) {
    return reinterpret_cast<T*>((reinterpret_cast<uintptr_t>(block) + 15) & ~uintptr_t{15});
}

}  // namespace zeverive
