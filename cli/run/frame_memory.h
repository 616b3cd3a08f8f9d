// The memory the frames in flight take, and how it is laid out.
//
// Sizes are counted in 64 bits whatever the build: on a 32-bit system the
// frames of a large clip with a few workers add up to more than size_t
// holds, and a sum that wrapped would pass the memory check and map far
// less than the frames are then written into.
#pragma once

#include <cstddef>
#include <cstdint>

#include "formats/picture.h"

namespace zeverive::cli {

// Each worker owns this many frame slots in memory shared with the parent.
constexpr int kSlotsPerWorker = 3;

// Sizes rounded up to a cache line, so that buffers laid out one after the
// other share none.
uint64_t whole_lines(uint64_t bytes);

// One frame on the host's scale.
uint64_t host_frame_bytes(const PictureFormat& format);

// What one worker shares with the parent: its slots, each the frame's
// samples as read and as to be written, then one host frame.
uint64_t worker_shared_bytes(const PictureFormat& format);

// The memory the frames in flight take with `jobs` worker processes (1:
// this process alone), not counting tiles.
uint64_t frame_memory(const PictureFormat& format, int jobs);

// `bytes` as a size this process can map; throws Failure when its address
// space cannot hold them.
size_t addressable(uint64_t bytes);

}  // namespace zeverive::cli
