#include "run/frame_memory.h"

#include <string>

#include "failure.h"
#include "formats/frame_bytes.h"
#include "host/records.h"

namespace zeverive::cli {

uint64_t whole_lines(uint64_t bytes) {
    return (bytes + 63) & ~uint64_t{63};
}

uint64_t host_frame_bytes(const PictureFormat& format) {
    return uint64_t{format.plane_samples(0)} * sizeof(YcPixel);
}

uint64_t worker_shared_bytes(const PictureFormat& format) {
    return kSlotsPerWorker * 2 * whole_lines(frame_bytes(format)) + host_frame_bytes(format);
}

uint64_t frame_memory(const PictureFormat& format, int jobs) {
    if (jobs <= 1) return 2 * whole_lines(frame_bytes(format)) + host_frame_bytes(format);
    // Each worker's shared memory, and its own host frame.
    return static_cast<uint64_t>(jobs) * (worker_shared_bytes(format) + host_frame_bytes(format));
}

size_t addressable(uint64_t bytes) {
    if (bytes > SIZE_MAX)
        throw Failure("frames need " + std::to_string(bytes) + " bytes, more than this system's address space holds");
    return static_cast<size_t>(bytes);
}

}  // namespace zeverive::cli
