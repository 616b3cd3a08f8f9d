#include "formats/frame_bytes.h"

namespace zeverive::cli {

size_t frame_bytes(const PictureFormat& format) {
    if (format.sampling == Sampling::kHost) return format.plane_samples(0) * 3 * sizeof(int16_t);
    const size_t bytes_per_sample = format.bit_depth > 8 ? 2 : 1;
    size_t total = 0;
    for (int plane = 0; plane < format.plane_count(); ++plane) total += format.plane_samples(plane) * bytes_per_sample;
    return total;
}

void decode_frame(const PictureFormat& format, const uint8_t* bytes, Picture& picture) {
    if (format.sampling == Sampling::kHost) {
        const size_t pixels = format.plane_samples(0);
        for (auto& plane : picture.planes) plane.resize(pixels);
        for (size_t i = 0; i < pixels; ++i) {
            for (auto& plane : picture.planes) {
                plane[i] = static_cast<int16_t>(bytes[0] | (bytes[1] << 8));
                bytes += 2;
            }
        }
        return;
    }
    const bool wide = format.bit_depth > 8;
    for (int plane = 0; plane < 3; ++plane) {
        std::vector<int32_t>& samples = picture.planes[plane];
        if (plane >= format.plane_count()) {
            samples.clear();
            continue;
        }
        samples.resize(format.plane_samples(plane));
        if (wide) {
            for (int32_t& sample : samples) {
                sample = bytes[0] | (bytes[1] << 8);
                bytes += 2;
            }
        } else {
            for (int32_t& sample : samples) sample = *bytes++;
        }
    }
}

void encode_frame(const PictureFormat& format, const Picture& picture, uint8_t* bytes) {
    if (format.sampling == Sampling::kHost) {
        const size_t pixels = format.plane_samples(0);
        for (size_t i = 0; i < pixels; ++i) {
            for (const auto& plane : picture.planes) {
                const auto sample = static_cast<uint16_t>(plane[i]);
                *bytes++ = static_cast<uint8_t>(sample);
                *bytes++ = static_cast<uint8_t>(sample >> 8);
            }
        }
        return;
    }
    const bool wide = format.bit_depth > 8;
    for (int plane = 0; plane < format.plane_count(); ++plane) {
        if (wide) {
            for (int32_t sample : picture.planes[plane]) {
                *bytes++ = static_cast<uint8_t>(sample);
                *bytes++ = static_cast<uint8_t>(sample >> 8);
            }
        } else {
            for (int32_t sample : picture.planes[plane]) *bytes++ = static_cast<uint8_t>(sample);
        }
    }
}

}  // namespace zeverive::cli
