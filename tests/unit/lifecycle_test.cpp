// initialise and finalise: variant choice, buffers, and what happens when
// memory runs out.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "host/callbacks.h"
#include "host/working_state.h"
#include "kernels/sse_scratch.h"
#include "support/test_host.h"

namespace {

using namespace zeverive;

// An allocator that hands out blocks at a chosen misalignment and can be
// told to fail on the n-th request; it keeps what it handed out and freed.
struct TestHeap {
    int fail_at = -1;
    int requests = 0;
    std::vector<void*> handed_out;
    std::vector<void*> released;
};
TestHeap heap;

void* test_allocate(size_t bytes) {
    if (heap.requests++ == heap.fail_at) return nullptr;
    // One byte past a malloc'ed block: never 16-byte aligned.
    auto* raw = static_cast<unsigned char*>(std::malloc(bytes + 1));
    void* block = raw + 1;
    heap.handed_out.push_back(block);
    return block;
}

void test_release(void* block) {
    heap.released.push_back(block);
    if (block) std::free(static_cast<unsigned char*>(block) - 1);
}

UsableVariants with_sse() { return {variant_bit(kVariantX87) | variant_bit(kVariantSse), kVariantSse}; }
UsableVariants x87_only() { return {variant_bit(kVariantX87), kVariantX87}; }

class Lifecycle : public ::testing::Test {
  protected:
    void SetUp() override { heap = TestHeap{}; }
    void TearDown() override {
        request_variant(kNoVariantRequest);
        finalise();
    }
};

TEST_F(Lifecycle, ViewsAreAlignedInsideTheirBlocks) {
    const LifecycleServices services = {with_sse, test_allocate, test_release};
    ASSERT_EQ(initialise_with(services), 1);
    ASSERT_EQ(heap.handed_out.size(), 7u);  // six lines and the SSE scratch
    const float* views[6] = {working_state.lines.scratch, working_state.lines.shift0, working_state.lines.shift1,
                             working_state.lines.shift2,  working_state.lines.shift3, working_state.lines.mask};
    for (int i = 0; i < 6; ++i) {
        const auto block = reinterpret_cast<uintptr_t>(heap.handed_out[i]);
        const auto view = reinterpret_cast<uintptr_t>(views[i]);
        EXPECT_EQ(view % 16, 0u) << i;
        EXPECT_LE(block, view);
        EXPECT_LE(view - block, 15u);
        EXPECT_LE(view + 832 * sizeof(float), block + 3343);  // 3328 bytes fit
    }
    const auto scratch_block = reinterpret_cast<uintptr_t>(heap.handed_out[6]);
    const auto scratch_view = reinterpret_cast<uintptr_t>(sse_scratch);
    EXPECT_EQ(scratch_view % 16, 0u);
    EXPECT_LE(scratch_view + 16, scratch_block + 31);
}

TEST_F(Lifecycle, FinaliseFreesTheBlocksNotTheViewsInAllocationOrder) {
    const LifecycleServices services = {with_sse, test_allocate, test_release};
    ASSERT_EQ(initialise_with(services), 1);
    const std::vector<void*> allocated = heap.handed_out;
    finalise();
    EXPECT_EQ(heap.released, allocated);
    EXPECT_FALSE(working_state.ready);
    EXPECT_EQ(sse_scratch, nullptr);
}

TEST_F(Lifecycle, WithoutSseNoScratchIsAllocated) {
    const LifecycleServices x87 = {x87_only, test_allocate, test_release};
    ASSERT_EQ(initialise_with(x87), 1);
    EXPECT_EQ(working_state.variant, kVariantX87);
    EXPECT_EQ(heap.handed_out.size(), 6u);
    EXPECT_EQ(sse_scratch, nullptr);
    finalise();
    EXPECT_EQ(heap.released.size(), 6u);
}

// The front ends' request: taken where the processor runs the variant,
// the processor's own choice where it does not, and given back.
TEST_F(Lifecycle, ARequestedVariantIsTakenOnlyWhereItRuns) {
    const LifecycleServices services = {with_sse, test_allocate, test_release};
    request_variant(kVariantX87);
    ASSERT_EQ(initialise_with(services), 1);
    EXPECT_EQ(working_state.variant, kVariantX87);
    EXPECT_EQ(sse_scratch, nullptr);
    request_variant(kVariant3DNow);
    ASSERT_EQ(initialise_with(services), 1);
    EXPECT_EQ(working_state.variant, kVariantSse);
    const LifecycleServices x87 = {x87_only, test_allocate, test_release};
    request_variant(kVariantSse);
    ASSERT_EQ(initialise_with(x87), 1);
    EXPECT_EQ(working_state.variant, kVariantX87);
    request_variant(kNoVariantRequest);
    ASSERT_EQ(initialise_with(services), 1);
    EXPECT_EQ(working_state.variant, kVariantSse);
}

TEST_F(Lifecycle, AMissingBlockReleasesEverythingAndReportsFailure) {
    for (int failing = 0; failing < 7; ++failing) {
        heap = TestHeap{};
        heap.fail_at = failing;
        const LifecycleServices services = {with_sse, test_allocate, test_release};
        EXPECT_EQ(initialise_with(services), 0) << "allocation " << failing;
        EXPECT_FALSE(working_state.ready);
        for (void* block : heap.handed_out) {
            EXPECT_NE(std::find(heap.released.begin(), heap.released.end(), block), heap.released.end())
                << "allocation " << failing << " leaked a block";
        }
        EXPECT_EQ(working_state.lines.shift0, nullptr);
    }
}

TEST_F(Lifecycle, FramesPassUntouchedUntilTheBuffersExist) {
    heap.fail_at = 3;
    const LifecycleServices services = {x87_only, test_allocate, test_release};
    ASSERT_EQ(initialise_with(services), 0);
    zeverive_test::TestHost host;
    zeverive_test::TestFrame frame(64, 48);
    for (size_t i = 0; i < frame.pixels.size(); ++i) frame.pixels[i].y = static_cast<int16_t>((i * 37) % 4096);
    const auto before = frame.pixels;
    EXPECT_EQ(process_frame(&host.filter, &frame.info), 1);
    for (size_t i = 0; i < before.size(); ++i) ASSERT_EQ(frame.pixels[i].y, before[i].y) << i;
}

TEST_F(Lifecycle, ASecondInitialiseReleasesTheFirstsBuffers) {
    const LifecycleServices services = {with_sse, test_allocate, test_release};
    ASSERT_EQ(initialise_with(services), 1);
    const std::vector<void*> first = heap.handed_out;
    ASSERT_EQ(initialise_with(services), 1);
    EXPECT_EQ(heap.released, first);
    EXPECT_TRUE(working_state.ready);
    finalise();
    EXPECT_EQ(heap.released.size(), heap.handed_out.size());
}

// A host may finalise twice; the second call must not free a block again.
TEST_F(Lifecycle, ASecondFinaliseFreesNothingTwice) {
    const LifecycleServices services = {with_sse, test_allocate, test_release};
    ASSERT_EQ(initialise_with(services), 1);
    finalise();
    finalise();
    for (void* block : heap.handed_out)
        EXPECT_EQ(std::count(heap.released.begin(), heap.released.end(), block), 1);
}

}  // namespace
