// Memory sizing of the largest frames, in every build: with 32-bit sizes a
// few workers' frames add up past 4 GiB and must neither wrap nor be
// mapped.
#include <gtest/gtest.h>

#include <cstdint>

#include "failure.h"
#include "run/memory_budget.h"

namespace zeverive::cli {
namespace {

PictureFormat largest_422() {
    PictureFormat format;
    format.width = kMaxFrameSide;
    format.height = kMaxFrameSide;
    format.sampling = Sampling::k422;
    return format;
}

TEST(FrameMemory, MoreThanTheAddressSpaceIsRefused) {
    const PictureFormat format = largest_422();
    const uint64_t plenty = uint64_t{1} << 40;
    if (sizeof(void*) == 4) {
        EXPECT_THROW(jobs_within_memory(format, 2, true, 0, plenty, "in.y4m"), Failure);
        EXPECT_THROW(addressable(frame_memory(format, 2)), Failure);
    } else {
        EXPECT_EQ(jobs_within_memory(format, 2, true, 0, plenty, "in.y4m"), 2);
        EXPECT_EQ(addressable(frame_memory(format, 2)), frame_memory(format, 2));
    }
}

}  // namespace
}  // namespace zeverive::cli
