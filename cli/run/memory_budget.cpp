#include "run/memory_budget.h"

#include <unistd.h>

#include "failure.h"
#include "formats/frame_bytes.h"

namespace zeverive::cli {
namespace {

std::string mebibytes(uint64_t bytes) {
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

// What a 32-bit process can map beside its program and stacks, of the 4 GiB
// its addresses reach at best.
constexpr uint64_t kAddressSpace32 = uint64_t{3} << 30;

}  // namespace

uint64_t machine_memory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return UINT64_MAX;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
}

int jobs_within_memory(const PictureFormat& format, int jobs, bool jobs_chosen, uint64_t other_bytes,
                       uint64_t available, const std::string& input_name) {
    const bool address_bound = sizeof(void*) == 4 && available > kAddressSpace32;
    if (address_bound) available = kAddressSpace32;
    auto fits = [&](int count) { return frame_memory(format, count) + other_bytes <= available; };
    if (!jobs_chosen) {
        while (jobs > 1 && !fits(jobs)) --jobs;
    }
    if (fits(jobs)) return jobs;
    const std::string size = size_text(format.width, format.height);
    std::string message = input_name + ": frames of " + size + " need " +
                          mebibytes(frame_memory(format, jobs) + other_bytes) + " of memory" +
                          (jobs > 1 ? " with -j " + std::to_string(jobs) : "") + ", more than " +
                          (address_bound ? "a 32-bit process can map, " : "this machine's ") + mebibytes(available);
    int fewer = jobs - 1;
    while (fewer >= 1 && !fits(fewer)) --fewer;
    if (fewer >= 1) message += "; -j " + std::to_string(fewer) + " fits";
    throw Failure(message);
}

}  // namespace zeverive::cli
