// The kernel table: nothing can rewrite it.

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <sstream>
#include <string>

#include "cpu/kernel_table.h"

namespace {

using namespace zeverive;

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
