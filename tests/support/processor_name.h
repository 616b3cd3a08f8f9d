// The processor's own name (CPUID brand string), for the heads of the
// benchmark reports.
#pragma once

#include <cpuid.h>

#include <cstring>
#include <string>

namespace zeverive_test {

inline std::string processor_name() {
    unsigned regs[12] = {};
    unsigned max = 0, ebx, ecx, edx;
    __cpuid(0x80000000u, max, ebx, ecx, edx);
    if (max < 0x80000004u) return "unknown processor";
    for (unsigned leaf = 0; leaf < 3; ++leaf)
        __cpuid(0x80000002u + leaf, regs[4 * leaf], regs[4 * leaf + 1], regs[4 * leaf + 2], regs[4 * leaf + 3]);
    char name[49] = {};
    std::memcpy(name, regs, 48);
    std::string text(name);
    text.erase(0, text.find_first_not_of(' '));
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

}  // namespace zeverive_test
