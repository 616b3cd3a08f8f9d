// Raw host frames (.yc): nothing but YcPixel after YcPixel, row 0 first,
// each sample a signed 16-bit little-endian number. The frame size is not
// in the file; the user gives it (--size WxH).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "formats/byte_input.h"
#include "formats/byte_sink.h"
#include "formats/picture.h"
#include "formats/video_stream.h"

namespace zeverive::cli {

// The format of a .yc stream of frames `width` x `height`.
PictureFormat yc_format(int width, int height);

class YcReader : public VideoReader {
public:
    YcReader(ByteInput& input, int width, int height);

    const PictureFormat& format() const override { return format_; }
    // Frames have no parameters; an input that ends inside a frame throws
    // Failure naming the input and the frame.
    bool read(uint8_t* bytes, std::string& frame_parameters) override;
    bool read(Picture& picture) override;
    bool skip() override;
    size_t frame_bytes() const override { return frame_bytes_; }
    // Raw host frames say nothing of interlacing.
    luma::Scan scan_of(const std::string&) const override { return luma::Scan::kProgressive; }
    std::optional<int64_t> frame_count() const override;
    std::optional<int64_t> exact_frame_count() const override;
    std::unique_ptr<VideoWriter> make_writer(ByteSink& sink) const override;

private:
    // Whether a frame came whole: false for none at all; throws for part.
    bool whole(uint64_t got) const;

    ByteInput& input_;
    PictureFormat format_;
    size_t frame_bytes_;
    int64_t frames_read_ = 0;
    std::vector<uint8_t> raw_;
};

class YcWriter : public VideoWriter {
public:
    YcWriter(ByteSink& sink, PictureFormat format) : sink_(sink), format_(format) {}
    // A frame of frame_bytes(format) bytes; raw host frames have no frame
    // parameters.
    void write(const std::string& frame_parameters, const uint8_t* bytes) override;

private:
    ByteSink& sink_;
    PictureFormat format_;
};

}  // namespace zeverive::cli
