// What the two file formats have in common, as the run uses them: a reader
// of frames, and a writer of the same kind for the output.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "formats/byte_sink.h"
#include "formats/picture.h"
#include "luma/frame_pictures.h"

namespace zeverive::cli {

class VideoWriter {
public:
    virtual ~VideoWriter() = default;
    // A frame as read: its marker line's parameters and its samples.
    virtual void write(const std::string& frame_parameters, const uint8_t* bytes) = 0;
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
    // What the stream says of a frame read with these marker parameters:
    // progressive, or interlaced with its field order.
    virtual luma::Scan scan_of(const std::string& frame_parameters) const = 0;
    // At most this many frames, when the input's length is known.
    virtual std::optional<int64_t> frame_count() const = 0;
    // Exactly this many, when the length is known and whole frames fill it.
    virtual std::optional<int64_t> exact_frame_count() const = 0;
    // A writer of the same format to `sink`; a YUV4MPEG2 writer starts by
    // writing the stream header, carried over unchanged.
    virtual std::unique_ptr<VideoWriter> make_writer(ByteSink& sink) const = 0;
};

}  // namespace zeverive::cli
