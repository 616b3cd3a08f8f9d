// A frame as the files hold it: up to three planes of integer samples.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "luma/picture_format.h"

namespace zeverive::cli {

// Wider or taller frames are refused, in headers and in --size alike; this
// also bounds what a damaged header can make a reader allocate.
constexpr int kMaxFrameSide = 16384;

using luma::PictureFormat;
using luma::Sampling;

// "720x480", as messages give a frame size.
inline std::string size_text(int64_t width, int64_t height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

struct Picture {
    std::vector<int32_t> planes[3];
    // What followed "FRAME" on the frame's marker line, leading space
    // included, so that it can be written back unchanged.
    std::string frame_parameters;
};

}  // namespace zeverive::cli
