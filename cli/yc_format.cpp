#include "yc_format.h"

#include "failure.h"

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
      frame_bytes_(static_cast<size_t>(width) * static_cast<size_t>(height) * kYcPixelBytes) {}

bool YcReader::read(Picture& picture) {
    raw_.resize(frame_bytes_);
    size_t got = 0;
    try {
        got = input_.read(raw_.data(), frame_bytes_);
    } catch (const IoError& error) {
        throw frame_failure(input_.name(), frames_read_, error.what());
    }
    if (got == 0) return false;
    if (got < frame_bytes_) {
        throw frame_failure(input_.name(), frames_read_,
                            "truncated: " + std::to_string(got) + " of " + std::to_string(frame_bytes_) +
                                " bytes; the input does not hold whole " + std::to_string(format_.width) + "x" +
                                std::to_string(format_.height) + " frames (check --size)");
    }
    const size_t pixels = static_cast<size_t>(format_.width) * static_cast<size_t>(format_.height);
    for (auto& plane : picture.planes) plane.resize(pixels);
    const uint8_t* source = raw_.data();
    for (size_t i = 0; i < pixels; ++i) {
        for (auto& plane : picture.planes) {
            plane[i] = static_cast<int16_t>(source[0] | (source[1] << 8));
            source += 2;
        }
    }
    picture.frame_parameters.clear();
    ++frames_read_;
    return true;
}

std::optional<int64_t> YcReader::frame_count() const {
    const std::optional<uint64_t> total = input_.total_size();
    if (!total) return std::nullopt;
    return static_cast<int64_t>(*total / frame_bytes_);
}

void YcWriter::write(const Picture& picture) {
    const size_t pixels = picture.planes[0].size();
    raw_.resize(pixels * kYcPixelBytes);
    uint8_t* target = raw_.data();
    for (size_t i = 0; i < pixels; ++i) {
        for (const auto& plane : picture.planes) {
            const auto sample = static_cast<uint16_t>(plane[i]);
            *target++ = static_cast<uint8_t>(sample);
            *target++ = static_cast<uint8_t>(sample >> 8);
        }
    }
    sink_.write(raw_.data(), raw_.size());
}

}  // namespace zeverive::cli
