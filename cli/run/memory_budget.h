// Whether a run's frames fit in the machine's memory, decided from the
// stream header before the first frame is read.
//
// Frame memory is mapped without reserving anything and taken only as
// data arrives, so a header alone costs nothing; but a clip that really
// holds frames of the size its header gives needs that memory for each
// frame in flight, and a machine without it would kill the program
// midway. Such a run is refused up front instead.
#pragma once

#include <cstdint>
#include <string>

#include "formats/picture.h"
#include "run/frame_memory.h"

namespace zeverive::cli {

// The machine's physical memory in bytes.
uint64_t machine_memory();

// The number of jobs to run: `jobs` when the frames fit in `available`
// bytes beside `other_bytes`; when `jobs` was only the default, as many as
// fit. A 32-bit process counts no more than its address space can map.
// Throws Failure naming `input_name` when the frames do not fit.
int jobs_within_memory(const PictureFormat& format, int jobs, bool jobs_chosen, uint64_t other_bytes,
                       uint64_t available, const std::string& input_name);

}  // namespace zeverive::cli
