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

namespace {

constexpr int32_t kHostValues = 65536;
constexpr int32_t kHostOffset = 32768;

std::vector<int16_t> host_by_code(LevelScale scale, int bit_depth) {
    std::vector<int16_t> table(size_t{1} << (bit_depth > 8 ? 16 : 8));
    for (size_t code = 0; code < table.size(); ++code) table[code] = code_to_host(scale, static_cast<int32_t>(code));
    return table;
}

// Within the depth and with the host's scale at least as fine as the
// codes, the original only decides whether a sample changed.
std::vector<uint16_t> code_by_host(LevelScale scale, int32_t max_code) {
    if (scale.span > kHostSpan) return {};
    std::vector<uint16_t> table(kHostValues);
    for (int32_t host = 0; host < kHostValues; ++host) {
        const int32_t value = host - kHostOffset;
        table[static_cast<size_t>(host)] =
            static_cast<uint16_t>(host_change_to_code(scale, 0, value + 1, value, max_code));
    }
    return table;
}

}  // namespace

LevelMapping::LevelMapping(const PictureFormat& format)
    : format_(format), luma_(luma_scale(format.bit_depth)), chroma_(chroma_scale(format.bit_depth)) {
    if (format.sampling == Sampling::kHost) return;
    luma_host_ = host_by_code(luma_, format.bit_depth);
    if (format.sampling != Sampling::kMono) chroma_host_ = host_by_code(chroma_, format.bit_depth);
    luma_code_ = code_by_host(luma_, format.max_code());
}

int16_t LevelMapping::luma_to_host(int32_t code) const {
    return static_cast<uint32_t>(code) < luma_host_.size() ? luma_host_[static_cast<uint32_t>(code)]
                                                            : code_to_host(luma_, code);
}

int16_t LevelMapping::chroma_to_host(int32_t code) const {
    return static_cast<uint32_t>(code) < chroma_host_.size() ? chroma_host_[static_cast<uint32_t>(code)]
                                                              : code_to_host(chroma_, code);
}

void LevelMapping::to_host(const Picture& picture, YcPixel* host) const {
    const size_t width = static_cast<size_t>(format_.width);
    const size_t height = static_cast<size_t>(format_.height);
    if (format_.sampling == Sampling::kHost) {
        for (size_t i = 0; i < width * height; ++i) {
            host[i] = {static_cast<int16_t>(picture.planes[0][i]), static_cast<int16_t>(picture.planes[1][i]),
                       static_cast<int16_t>(picture.planes[2][i])};
        }
        return;
    }
    const bool has_chroma = format_.sampling != Sampling::kMono;
    const size_t chroma_width = static_cast<size_t>(format_.plane_width(1));
    const int shift_x = format_.plane_width(1) == format_.width ? 0 : 1;
    const int shift_y = format_.plane_height(1) == format_.height ? 0 : 1;
    for (size_t y = 0; y < height; ++y) {
        const int32_t* luma = picture.planes[0].data() + y * width;
        YcPixel* row = host + y * width;
        if (!has_chroma) {
            for (size_t x = 0; x < width; ++x) row[x] = {luma_to_host(luma[x]), 0, 0};
            continue;
        }
        const size_t chroma_row = (y >> shift_y) * chroma_width;
        const int32_t* cb = picture.planes[1].data() + chroma_row;
        const int32_t* cr = picture.planes[2].data() + chroma_row;
        for (size_t x = 0; x < width; ++x)
            row[x] = {luma_to_host(luma[x]), chroma_to_host(cb[x >> shift_x]), chroma_to_host(cr[x >> shift_x])};
    }
}

void LevelMapping::to_picture(const Picture& original, const YcPixel* host_after, bool neutral_chroma,
                              Picture& result) const {
    result.frame_parameters = original.frame_parameters;
    const size_t pixels = static_cast<size_t>(format_.width) * static_cast<size_t>(format_.height);
    if (format_.sampling == Sampling::kHost) {
        for (auto& plane : result.planes) plane.resize(pixels);
        for (size_t i = 0; i < pixels; ++i) {
            result.planes[0][i] = host_after[i].y;
            result.planes[1][i] = host_after[i].cb;
            result.planes[2][i] = host_after[i].cr;
        }
        return;
    }
    const int32_t max_code = format_.max_code();
    const int32_t* source = original.planes[0].data();
    std::vector<int32_t>& target = result.planes[0];
    target.resize(pixels);
    if (luma_code_.empty()) {
        for (size_t i = 0; i < pixels; ++i)
            target[i] = host_change_to_code(luma_, source[i], luma_to_host(source[i]), host_after[i].y, max_code);
    } else {
        for (size_t i = 0; i < pixels; ++i) {
            const int32_t code = source[i];
            const int32_t before = luma_to_host(code);
            const int32_t after = host_after[i].y;
            if (code > max_code) {
                target[i] = host_change_to_code(luma_, code, before, after, max_code);
                continue;
            }
            // Whether the plug-in changed a sample of a noisy picture is
            // as good as random: chosen by masks, not by a branch.
            const int32_t changed = luma_code_[static_cast<size_t>(after + kHostOffset)];
            const int32_t kept = -static_cast<int32_t>(after == before);
            target[i] = (code & kept) | (changed & ~kept);
        }
    }
    for (int plane = 1; plane < 3; ++plane) {
        if (plane >= format_.plane_count()) {
            result.planes[plane].clear();
        } else if (neutral_chroma) {
            result.planes[plane].assign(original.planes[plane].size(), chroma_.origin);
        } else {
            result.planes[plane] = original.planes[plane];
        }
    }
}

}  // namespace zeverive::cli
