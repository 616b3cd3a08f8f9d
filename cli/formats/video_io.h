// The two file formats behind one face, and which one a stream is.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "formats/byte_input.h"
#include "formats/byte_sink.h"
#include "formats/picture.h"

namespace zeverive::cli {

struct FrameSize {
    int width;
    int height;
};

class VideoReader {
public:
    virtual ~VideoReader() = default;
    virtual const PictureFormat& format() const = 0;
    // The next frame as the file stores its samples (frame_bytes() bytes)
    // and the parameters of its marker line; false at the end. Throws
    // Failure naming the input and the frame. The previous frame's samples
    // must still be where they were read to.
    virtual bool read(uint8_t* bytes, std::string& frame_parameters) = 0;
    // The same, decoded.
    virtual bool read(Picture& picture) = 0;
    // Passes over the next frame, reading as little as the input allows;
    // false at the end. Throws as read() does.
    virtual bool skip() = 0;
    virtual size_t frame_bytes() const = 0;
    // At most this many frames, when the input's length is known.
    virtual std::optional<int64_t> frame_count() const = 0;
    // Exactly this many, when the length is known and whole frames fill it.
    virtual std::optional<int64_t> exact_frame_count() const = 0;
};

class VideoWriter {
public:
    virtual ~VideoWriter() = default;
    // A frame as read: its marker line's parameters and its samples.
    virtual void write(const std::string& frame_parameters, const uint8_t* bytes) = 0;
};

// Files named .y4m are YUV4MPEG2 and files named .yc raw host frames, which
// need `size`; other names and pipes are YUV4MPEG2 when they start like
// it and raw host frames otherwise. A YUV4MPEG2 stream must agree with
// `size` if one is given. Throws Failure naming the input.
std::unique_ptr<VideoReader> open_reader(ByteInput& input, std::optional<FrameSize> size);

// A writer of the same kind as `reader`; a YUV4MPEG2 writer starts by
// writing the stream header, carried over unchanged.
std::unique_ptr<VideoWriter> make_writer(const VideoReader& reader, ByteSink& sink);

}  // namespace zeverive::cli
