// Which of the two file formats a stream is.
#pragma once

#include <memory>
#include <optional>

#include "formats/byte_input.h"
#include "formats/video_stream.h"

namespace zeverive::cli {

struct FrameSize {
    int width;
    int height;
};

// Files named .y4m are YUV4MPEG2 and files named .yc raw host frames, which
// need `size`; other names and pipes are YUV4MPEG2 when they start like
// it and raw host frames otherwise. A YUV4MPEG2 stream must agree with
// `size` if one is given. Throws Failure naming the input.
std::unique_ptr<VideoReader> open_reader(ByteInput& input, std::optional<FrameSize> size);

}  // namespace zeverive::cli
