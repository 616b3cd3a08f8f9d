// The kernel table: where the pipeline finds each form, and that nothing
// can rewrite it.

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "cpu/kernel_table.h"
#include "kernels/edge_mask.h"
#include "kernels/shrink_band.h"
#include "kernels/transform.h"

namespace {

using namespace zeverive;

using AnyKernel = void (*)();

template <typename F>
AnyKernel erase(F f) {
    return reinterpret_cast<AnyKernel>(f);
}

// The pipeline indexes the table as one array: element 3 * slot + variant.
TEST(KernelTable, IsSlotMajorWithTheFormsInVariantOrder) {
    const AnyKernel expected[18] = {
        erase(forward_transform_x87),  erase(forward_transform_3dnow),  erase(forward_transform_sse),
        erase(inverse_transform_x87),  erase(inverse_transform_3dnow),  erase(inverse_transform_sse),
        erase(shrink_band_x87),        erase(shrink_band_3dnow),        erase(shrink_band_sse),
        erase(shrink_band_4phase_x87), erase(shrink_band_4phase_3dnow), erase(shrink_band_4phase_sse),
        erase(shrink_band_2phase_x87), erase(shrink_band_2phase_3dnow), erase(shrink_band_2phase_sse),
        erase(edge_mask_x87),          erase(edge_mask_3dnow),          erase(edge_mask_sse),
    };
    AnyKernel entries[18];
    static_assert(sizeof entries == sizeof kernel_table, "18 pointers");
    std::memcpy(entries, &kernel_table, sizeof entries);
    for (int slot = 0; slot < 6; ++slot)
        for (int variant = 0; variant < 3; ++variant)
            EXPECT_EQ(entries[3 * slot + variant], expected[3 * slot + variant]) << "slot " << slot << " variant " << variant;
}

#if defined(__linux__)
// The mapping that holds the table, as the kernel reports it.
TEST(KernelTable, LivesInMemoryThatCannotBeWritten) {
    const auto address = reinterpret_cast<uintptr_t>(&kernel_table);
    std::ifstream maps("/proc/self/maps");
    ASSERT_TRUE(maps.good());
    std::string entry;
    bool found = false;
    while (std::getline(maps, entry)) {
        std::istringstream fields(entry);
        std::string range, permissions;
        fields >> range >> permissions;
        const auto dash = range.find('-');
        const uintptr_t first = std::stoull(range.substr(0, dash), nullptr, 16);
        const uintptr_t last = std::stoull(range.substr(dash + 1), nullptr, 16);
        if (address >= first && address + sizeof kernel_table <= last) {
            found = true;
            EXPECT_EQ(permissions[1], '-') << entry;
        }
    }
    EXPECT_TRUE(found);
}
#endif

}  // namespace
