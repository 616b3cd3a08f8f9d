#include "formats/video_io.h"

#include "failure.h"
#include "formats/y4m.h"
#include "formats/yc_format.h"

namespace zeverive::cli {
namespace {

class Y4mVideoReader : public VideoReader {
public:
    explicit Y4mVideoReader(ByteInput& input) : reader(input) {}
    const PictureFormat& format() const override { return reader.format(); }
    bool read(uint8_t* bytes, std::string& frame_parameters) override { return reader.read(bytes, frame_parameters); }
    bool read(Picture& picture) override { return reader.read(picture); }
    bool skip() override { return reader.skip(); }
    size_t frame_bytes() const override { return reader.frame_bytes(); }
    std::optional<int64_t> frame_count() const override { return reader.estimated_frame_count(); }
    std::optional<int64_t> exact_frame_count() const override { return reader.exact_frame_count(); }
    Y4mReader reader;
};

class YcVideoReader : public VideoReader {
public:
    YcVideoReader(ByteInput& input, FrameSize size) : reader(input, size.width, size.height) {}
    const PictureFormat& format() const override { return reader.format(); }
    bool read(uint8_t* bytes, std::string& frame_parameters) override { return reader.read(bytes, frame_parameters); }
    bool read(Picture& picture) override { return reader.read(picture); }
    bool skip() override { return reader.skip(); }
    size_t frame_bytes() const override { return reader.frame_bytes(); }
    std::optional<int64_t> frame_count() const override { return reader.frame_count(); }
    std::optional<int64_t> exact_frame_count() const override { return reader.exact_frame_count(); }
    YcReader reader;
};

class Y4mVideoWriter : public VideoWriter {
public:
    Y4mVideoWriter(ByteSink& sink, const Y4mReader& reader)
        : writer(sink, reader.format(), reader.header_parameters()) {
        writer.write_header();
    }
    void write(const std::string& frame_parameters, const uint8_t* bytes) override {
        writer.write(frame_parameters, bytes);
    }
    Y4mWriter writer;
};

class YcVideoWriter : public VideoWriter {
public:
    YcVideoWriter(ByteSink& sink, const PictureFormat& format) : writer(sink, format) {}
    // Raw host frames have no frame parameters.
    void write(const std::string&, const uint8_t* bytes) override { writer.write(bytes); }
    YcWriter writer;
};

std::string size_text(int width, int height) {
    return std::to_string(width) + "x" + std::to_string(height);
}

}  // namespace

std::unique_ptr<VideoReader> open_reader(ByteInput& input, std::optional<FrameSize> size) {
    std::string head;
    try {
        head = std::string(input.peek(9));
    } catch (const IoError& error) {
        throw Failure(input.name() + ": " + error.what());
    }
    const std::string& name = input.name();
    const bool named_y4m = name.size() > 4 && name.compare(name.size() - 4, 4, ".y4m") == 0;
    const bool named_yc = name.size() > 3 && name.compare(name.size() - 3, 3, ".yc") == 0;
    if (named_y4m || (head == "YUV4MPEG2" && !named_yc)) {
        auto reader = std::make_unique<Y4mVideoReader>(input);
        const PictureFormat& format = reader->format();
        if (size && (size->width != format.width || size->height != format.height)) {
            throw Failure(input.name() + ": stream header: the frames are " + size_text(format.width, format.height) +
                          ", not " + size_text(size->width, size->height) + " as --size says");
        }
        return reader;
    }
    if (!size) {
        throw Failure(name + (named_yc ? ": raw host frames need their size: give --size WxH"
                                       : ": not a YUV4MPEG2 stream; for raw host frames (.yc) give their size with "
                                         "--size WxH"));
    }
    return std::make_unique<YcVideoReader>(input, *size);
}

std::unique_ptr<VideoWriter> make_writer(const VideoReader& reader, ByteSink& sink) {
    if (const auto* y4m = dynamic_cast<const Y4mVideoReader*>(&reader))
        return std::make_unique<Y4mVideoWriter>(sink, y4m->reader);
    return std::make_unique<YcVideoWriter>(sink, reader.format());
}

}  // namespace zeverive::cli
