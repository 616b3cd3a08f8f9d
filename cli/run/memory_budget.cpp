#include "run/memory_budget.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <vector>

#include "failure.h"
#include "formats/frame_bytes.h"
#include "whole_number.h"

namespace zeverive::cli {
namespace {

std::string mebibytes(uint64_t bytes) {
    return std::to_string((bytes + (1u << 20) - 1) >> 20) + " MiB";
}

// What a 32-bit process can map beside its program and stacks, of the 4 GiB
// its addresses reach at best.
constexpr uint64_t kAddressSpace32 = uint64_t{3} << 30;

std::string described(const MemoryLimit& limit) {
    switch (limit.source) {
    case MemorySource::kControlGroup: return "its control group's limit of " + mebibytes(limit.bytes);
    case MemorySource::kAddressSpace:
        return "the " + mebibytes(limit.bytes) + " of address space its limit (ulimit -v) leaves";
    case MemorySource::kMachine: break;
    }
    return "this machine's " + mebibytes(limit.bytes);
}

uint64_t physical_memory() {
    const long pages = sysconf(_SC_PHYS_PAGES);
    const long page_size = sysconf(_SC_PAGESIZE);
    if (pages <= 0 || page_size <= 0) return UINT64_MAX;
    return static_cast<uint64_t>(pages) * static_cast<uint64_t>(page_size);
}

// RLIMIT_AS counts every mapping of the process, the program and its
// libraries included, so what is mapped now is already spent.
std::optional<uint64_t> address_space_left() {
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return std::nullopt;
    uint64_t mapped_pages = 0;
    std::ifstream("/proc/self/statm") >> mapped_pages;
    const uint64_t mapped = mapped_pages * static_cast<uint64_t>(sysconf(_SC_PAGESIZE));
    return limit.rlim_cur > mapped ? limit.rlim_cur - mapped : 0;
}

std::vector<std::string> lines_of(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::vector<std::string> fields_of(const std::string& line, char separator) {
    std::vector<std::string> fields;
    std::istringstream in(line);
    for (std::string field; std::getline(in, field, separator);) fields.push_back(field);
    return fields;
}

// The lowest of the limits in `file` from `directory` up to `top`, the
// mount point of the hierarchy: a group's limit binds its members too.
std::optional<uint64_t> lowest_limit_up(std::string directory, const std::string& top, const std::string& file) {
    std::optional<uint64_t> lowest;
    for (;;) {
        std::string text;
        std::ifstream(directory + "/" + file) >> text;
        // "max" (cgroup v2) and an unreadable file mean no limit here.
        if (const std::optional<uint64_t> bytes = whole_number<uint64_t>(text))
            lowest = lowest ? std::min(*lowest, *bytes) : *bytes;
        if (directory.size() <= top.size()) return lowest;
        directory.erase(directory.rfind('/'));
    }
}

}  // namespace

std::optional<uint64_t> control_group_limit(const std::string& root) {
    // /proc/self/cgroup: "ID:CONTROLLERS:PATH", "0::PATH" for cgroup v2.
    std::string unified_path, memory_path;
    for (const std::string& line : lines_of(root + "/proc/self/cgroup")) {
        const size_t first = line.find(':'), second = line.find(':', first + 1);
        if (second == std::string::npos) continue;
        const std::string controllers = line.substr(first + 1, second - first - 1);
        const std::string path = line.substr(second + 1);
        if (line.compare(0, first, "0") == 0 && controllers.empty()) unified_path = path;
        for (const std::string& controller : fields_of(controllers, ','))
            if (controller == "memory") memory_path = path;
    }
    // /proc/self/mountinfo: "ID PARENT DEV ROOT MOUNT-POINT OPTIONS ... - TYPE SOURCE SUPER-OPTIONS".
    std::optional<uint64_t> lowest;
    for (const std::string& line : lines_of(root + "/proc/self/mountinfo")) {
        const std::vector<std::string> fields = fields_of(line, ' ');
        size_t dash = 0;
        while (dash < fields.size() && fields[dash] != "-") ++dash;
        if (dash < 5 || dash + 3 >= fields.size()) continue;
        const std::string& type = fields[dash + 1];
        std::string path, file;
        if (type == "cgroup2" && !unified_path.empty()) {
            path = unified_path, file = "memory.max";
        } else if (type == "cgroup" && !memory_path.empty()) {
            const std::vector<std::string> options = fields_of(fields[dash + 3], ',');
            if (std::find(options.begin(), options.end(), "memory") == options.end()) continue;
            path = memory_path, file = "memory.limit_in_bytes";
        } else {
            continue;
        }
        // The group's path is seen from the hierarchy's root; the mount
        // shows the part of it from ROOT on.
        const std::string& mounted_root = fields[3];
        const std::string below = mounted_root == "/" ? path : path.compare(0, mounted_root.size(), mounted_root) == 0
                                                                   ? path.substr(mounted_root.size())
                                                                   : std::string("/..");
        if (below.find("/..") != std::string::npos) continue;
        const std::string top = root + fields[4];
        const std::string directory = below == "/" ? top : top + below;
        if (const std::optional<uint64_t> limit = lowest_limit_up(directory, top, file))
            lowest = lowest ? std::min(*lowest, *limit) : *limit;
    }
    return lowest;
}

MemoryLimit memory_limit() {
    MemoryLimit limit(physical_memory(), MemorySource::kMachine);
    if (const std::optional<uint64_t> group = control_group_limit(""); group && *group < limit.bytes)
        limit = MemoryLimit(*group, MemorySource::kControlGroup);
    if (const std::optional<uint64_t> left = address_space_left(); left && *left < limit.bytes)
        limit = MemoryLimit(*left, MemorySource::kAddressSpace);
    return limit;
}

int jobs_within_memory(const PictureFormat& format, int jobs, bool jobs_chosen, uint64_t other_bytes,
                       MemoryLimit available, const std::string& input_name) {
    const bool address_bound = sizeof(void*) == 4 && available.bytes > kAddressSpace32;
    if (address_bound) available.bytes = kAddressSpace32;
    auto fits = [&](int count) { return frame_memory(format, count) + other_bytes <= available.bytes; };
    if (!jobs_chosen) {
        while (jobs > 1 && !fits(jobs)) --jobs;
    }
    if (fits(jobs)) return jobs;
    const std::string size = size_text(format.width, format.height);
    const std::string limit =
        address_bound ? "a 32-bit process can map, " + mebibytes(available.bytes) : described(available);
    std::string message = input_name + ": frames of " + size + " need " +
                          mebibytes(frame_memory(format, jobs) + other_bytes) + " of memory" +
                          (jobs > 1 ? " with -j " + std::to_string(jobs) : "") + ", more than " + limit;
    int fewer = jobs - 1;
    while (fewer >= 1 && !fits(fewer)) --fewer;
    if (fewer >= 1) message += "; -j " + std::to_string(fewer) + " fits";
    throw Failure(message);
}

}  // namespace zeverive::cli
