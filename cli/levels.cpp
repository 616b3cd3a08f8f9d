#include "levels.h"

#include <algorithm>
#include <cstdlib>
#include <limits>

namespace zeverive::cli {
namespace {

// numerator / denominator rounded to nearest, ties away from zero;
// denominator > 0.
int64_t divide_rounded(int64_t numerator, int64_t denominator) {
    const int64_t magnitude = (2 * std::llabs(numerator) + denominator) / (2 * denominator);
    return numerator < 0 ? -magnitude : magnitude;
}

}  // namespace

LevelScale luma_scale(int bit_depth) {
    const int shift = bit_depth - 8;
    return {16 << shift, 219 << shift};
}

LevelScale chroma_scale(int bit_depth) {
    const int shift = bit_depth - 8;
    return {128 << shift, 224 << shift};
}

int16_t code_to_host(LevelScale scale, int32_t code) {
    const int64_t host = divide_rounded(static_cast<int64_t>(code - scale.origin) * kHostSpan, scale.span);
    return static_cast<int16_t>(std::clamp<int64_t>(host, std::numeric_limits<int16_t>::min(),
                                                    std::numeric_limits<int16_t>::max()));
}

int32_t host_change_to_code(LevelScale scale, int32_t original, int32_t host_before, int32_t host_after,
                            int32_t max_code) {
    if (host_after == host_before) return original;
    int64_t code;
    if (scale.span <= kHostSpan) {
        code = scale.origin + divide_rounded(static_cast<int64_t>(host_after) * scale.span, kHostSpan);
    } else {
        code = original + divide_rounded(static_cast<int64_t>(host_after - host_before) * scale.span, kHostSpan);
    }
    return static_cast<int32_t>(std::clamp<int64_t>(code, 0, std::max(max_code, original)));
}

void picture_to_host(const PictureFormat& format, const Picture& picture, std::vector<YcPixel>& host) {
    const size_t width = static_cast<size_t>(format.width);
    const size_t height = static_cast<size_t>(format.height);
    host.resize(width * height);
    if (format.sampling == Sampling::kHost) {
        for (size_t i = 0; i < host.size(); ++i) {
            host[i] = {static_cast<int16_t>(picture.planes[0][i]), static_cast<int16_t>(picture.planes[1][i]),
                       static_cast<int16_t>(picture.planes[2][i])};
        }
        return;
    }
    const LevelScale luma = luma_scale(format.bit_depth);
    const LevelScale chroma = chroma_scale(format.bit_depth);
    const bool has_chroma = format.sampling != Sampling::kMono;
    const size_t chroma_width = static_cast<size_t>(format.plane_width(1));
    const int shift_x = format.plane_width(1) == format.width ? 0 : 1;
    const int shift_y = format.plane_height(1) == format.height ? 0 : 1;
    for (size_t y = 0; y < height; ++y) {
        for (size_t x = 0; x < width; ++x) {
            YcPixel& pixel = host[y * width + x];
            pixel.y = code_to_host(luma, picture.planes[0][y * width + x]);
            if (has_chroma) {
                const size_t c = (y >> shift_y) * chroma_width + (x >> shift_x);
                pixel.cb = code_to_host(chroma, picture.planes[1][c]);
                pixel.cr = code_to_host(chroma, picture.planes[2][c]);
            } else {
                pixel.cb = pixel.cr = 0;
            }
        }
    }
}

void host_to_picture(const PictureFormat& format, const Picture& original, const std::vector<YcPixel>& host_after,
                     bool neutral_chroma, Picture& result) {
    result.frame_parameters = original.frame_parameters;
    if (format.sampling == Sampling::kHost) {
        for (auto& plane : result.planes) plane.resize(host_after.size());
        for (size_t i = 0; i < host_after.size(); ++i) {
            result.planes[0][i] = host_after[i].y;
            result.planes[1][i] = host_after[i].cb;
            result.planes[2][i] = host_after[i].cr;
        }
        return;
    }
    const LevelScale luma = luma_scale(format.bit_depth);
    const int32_t max_code = format.max_code();
    const std::vector<int32_t>& source = original.planes[0];
    std::vector<int32_t>& target = result.planes[0];
    target.resize(source.size());
    for (size_t i = 0; i < source.size(); ++i) {
        const int32_t code = source[i];
        target[i] = host_change_to_code(luma, code, code_to_host(luma, code), host_after[i].y, max_code);
    }
    for (int plane = 1; plane < 3; ++plane) {
        if (plane >= format.plane_count()) {
            result.planes[plane].clear();
        } else if (neutral_chroma) {
            result.planes[plane].assign(original.planes[plane].size(), chroma_scale(format.bit_depth).origin);
        } else {
            result.planes[plane] = original.planes[plane];
        }
    }
}

}  // namespace zeverive::cli
