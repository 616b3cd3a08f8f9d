// Whether a run's frames fit in the memory the program may use, decided
// from the stream header before the first frame is read.
//
// Frame memory is mapped without reserving anything and taken only as
// data arrives, so a header alone costs nothing; but a clip that really
// holds frames of the size its header gives needs that memory for each
// frame in flight, and a machine without it would kill the program
// midway. Such a run is refused up front instead.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "formats/picture.h"
#include "run/frame_memory.h"

namespace zeverive::cli {

// What bounds the memory a run may use.
enum class MemorySource {
    kMachine,       // physical memory
    kControlGroup,  // the control group's limit (memory.max, memory.limit_in_bytes)
    kAddressSpace,  // what RLIMIT_AS (ulimit -v) leaves of the address space
};

struct MemoryLimit {
    MemoryLimit(uint64_t bytes, MemorySource source = MemorySource::kMachine) : bytes(bytes), source(source) {}
    uint64_t bytes;
    MemorySource source;
};

// The lowest of the machine's physical memory, the limit of the control
// group this process runs in, and the address space RLIMIT_AS leaves
// beside what the process has mapped already.
MemoryLimit memory_limit();

// The memory limit of the control group this process is in, the lowest
// along its path up (cgroup v2 memory.max, or the v1 memory controller's
// memory.limit_in_bytes), read below `root` ("" for this system's
// /proc and mount points); nothing when there is none.
std::optional<uint64_t> control_group_limit(const std::string& root);

// The number of jobs to run: `jobs` when the frames fit in `available`
// beside `other_bytes`; when `jobs` was only the default, as many as fit.
// A 32-bit process counts no more than its address space can map. Throws
// Failure naming `input_name` and the limit when the frames do not fit.
int jobs_within_memory(const PictureFormat& format, int jobs, bool jobs_chosen, uint64_t other_bytes,
                       MemoryLimit available, const std::string& input_name);

}  // namespace zeverive::cli
