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

// The pipeline indexes the table as one array: element kVariantCount *
// slot + variant; x86-64 has the AVX2 forms after the SSE ones.
TEST(KernelTable, IsSlotMajorWithTheFormsInVariantOrder) {
    const AnyKernel expected[] = {
        erase(forward_transform_x87),  erase(forward_transform_3dnow),  erase(forward_transform_sse),
#if defined(__x86_64__)
        erase(forward_transform_avx2),
#endif
        erase(inverse_transform_x87),  erase(inverse_transform_3dnow),  erase(inverse_transform_sse),
#if defined(__x86_64__)
        erase(inverse_transform_avx2),
#endif
        erase(shrink_band_x87),        erase(shrink_band_3dnow),        erase(shrink_band_sse),
#if defined(__x86_64__)
        erase(shrink_band_avx2),
#endif
        erase(shrink_band_4phase_x87), erase(shrink_band_4phase_3dnow), erase(shrink_band_4phase_sse),
#if defined(__x86_64__)
        erase(shrink_band_4phase_avx2),
#endif
        erase(shrink_band_2phase_x87), erase(shrink_band_2phase_3dnow), erase(shrink_band_2phase_sse),
#if defined(__x86_64__)
        erase(shrink_band_2phase_avx2),
#endif
        erase(edge_mask_x87),          erase(edge_mask_3dnow),          erase(edge_mask_sse),
#if defined(__x86_64__)
        erase(edge_mask_avx2),
#endif
    };
    AnyKernel entries[6 * kVariantCount];
    static_assert(sizeof entries == sizeof kernel_table, "six slots of every variant");
    static_assert(sizeof expected == sizeof entries, "one expected entry per pointer");
    std::memcpy(entries, &kernel_table, sizeof entries);
    for (int slot = 0; slot < 6; ++slot)
        for (int variant = 0; variant < kVariantCount; ++variant)
            EXPECT_EQ(entries[kVariantCount * slot + variant], expected[kVariantCount * slot + variant])
                << "slot " << slot << " variant " << variant;
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
