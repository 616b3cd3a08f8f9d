#include "formats/yc_format.h"

#include "failure.h"
#include "formats/frame_bytes.h"

namespace zeverive::cli {

PictureFormat yc_format(int width, int height) {
    PictureFormat format;
    format.width = width;
    format.height = height;
    format.sampling = Sampling::kHost;
    format.bit_depth = 16;
    return format;
}

YcReader::YcReader(ByteInput& input, int width, int height)
    : input_(input),
      format_(yc_format(width, height)),
      frame_bytes_(cli::frame_bytes(format_)) {}

bool YcReader::read(uint8_t* bytes, std::string& frame_parameters) {
    size_t got = 0;
    try {
        got = input_.read(bytes, frame_bytes_);
    } catch (const IoError& error) {
        throw frame_failure(input_.name(), frames_read_, error.what());
    }
    if (!whole(got)) return false;
    frame_parameters.clear();
    ++frames_read_;
    return true;
}

bool YcReader::skip() {
    uint64_t got = 0;
    try {
        got = input_.skip(frame_bytes_);
    } catch (const IoError& error) {
        throw frame_failure(input_.name(), frames_read_, error.what());
    }
    if (!whole(got)) return false;
    ++frames_read_;
    return true;
}

bool YcReader::whole(uint64_t got) const {
    if (got == 0) return false;
    if (got < frame_bytes_) {
        throw frame_failure(input_.name(), frames_read_,
                            "truncated: " + std::to_string(got) + " of " + std::to_string(frame_bytes_) +
                                " bytes; the input does not hold whole " +
                                size_text(format_.width, format_.height) + " frames (check --size)");
    }
    return true;
}

bool YcReader::read(Picture& picture) {
    raw_.resize(frame_bytes_);
    if (!read(raw_.data(), picture.frame_parameters)) return false;
    decode_frame(format_, raw_.data(), picture);
    return true;
}

std::optional<int64_t> YcReader::frame_count() const {
    const std::optional<uint64_t> total = input_.total_size();
    if (!total) return std::nullopt;
    return static_cast<int64_t>(*total / frame_bytes_);
}

std::optional<int64_t> YcReader::exact_frame_count() const {
    const std::optional<uint64_t> total = input_.total_size();
    if (!total || *total % frame_bytes_ != 0) return std::nullopt;
    return frame_count();
}

std::unique_ptr<VideoWriter> YcReader::make_writer(ByteSink& sink) const {
    return std::make_unique<YcWriter>(sink, format_);
}

void YcWriter::write(const std::string&, const uint8_t* bytes) {
    sink_.write(bytes, frame_bytes(format_));
}

}  // namespace zeverive::cli
