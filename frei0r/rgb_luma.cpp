#include "rgb_luma.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "luma/levels_avx2.h"
#include "luma/shared_work.h"
#include "rgb_luma_avx2.h"

namespace zeverive::frei0r {
namespace {

constexpr int kHdMinLines = 577;
constexpr int32_t kVideoBlack = 16;
constexpr int32_t kVideoRange = 219;
constexpr int32_t kFullRange = 255;
// Pixels a thread takes at least: fewer are not worth starting one.
constexpr size_t kLeastShare = size_t{1} << 15;

uint8_t clamp_code(double value) {
    return static_cast<uint8_t>(std::clamp(std::lround(value), 0L, 255L));
}

}  // namespace

LumaWeights luma_weights(int height) {
    // Kr, Kb 0.299, 0.114 (BT.601) and 0.2126, 0.0722 (BT.709), times 65536.
    if (height >= kHdMinLines) return {13933, 46871, 4732};
    return {19595, 38470, 7471};
}

int32_t video_luma(const uint8_t* rgba, LumaWeights weights) {
    const int64_t full = int64_t{weights.r} * rgba[0] + int64_t{weights.g} * rgba[1] + int64_t{weights.b} * rgba[2];
    // kVideoBlack + full * 219 / (255 * 65536), rounded; never negative.
    const int64_t denominator = int64_t{kFullRange} << 16;
    return kVideoBlack + static_cast<int32_t>((2 * full * kVideoRange + denominator) / (2 * denominator));
}

void RgbLuma::read(const uint32_t* rgba, size_t pixels, LumaWeights weights) {
    codes_.resize(pixels);
    const bool wide = luma::wide_loops_run();
    luma::share_work(lanes_, pixels, kLeastShare, [&](size_t, size_t from, size_t to) {
        size_t i = from;
#if defined(__x86_64__)
        if (wide) i += video_lumas_avx2(rgba + from, to - from, weights, codes_.data() + from);
#endif
        for (; i < to; ++i)
            codes_[i] = static_cast<float>(video_luma(reinterpret_cast<const uint8_t*>(rgba + i), weights));
    });
}

void RgbLuma::to_host(luma::LevelScale scale, YcPixel* host) {
    // Every code is a byte's: one division each, not one per pixel.
    std::vector<int16_t> host_by_code(kFullRange + 1);
    for (int32_t code = 0; code <= kFullRange; ++code) host_by_code[code] = luma::code_to_host(scale, code);
    to_host(host_by_code, host);
}

void RgbLuma::to_host(const std::vector<int16_t>& host_by_code, YcPixel* host) {
    before_.resize(codes_.size());
    luma::share_work(lanes_, codes_.size(), kLeastShare, [&](size_t, size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            before_[i] = host_by_code[static_cast<size_t>(codes_[i])];
            host[i] = {before_[i], 0, 0};
        }
    });
}

void RgbLuma::to_rgba(const uint32_t* in, const YcPixel* host, luma::LevelScale scale, bool grey,
                      uint32_t* out) const {
    // One host step in 0..255 codes: the level mapping's line, stretched
    // from the video range to the full one.
    const double per_host = static_cast<double>(scale.span) * luma::kGainUnity * kFullRange /
                            (static_cast<double>(luma::kHostSpan) * scale.gain * kVideoRange);
    const bool wide = !grey && luma::wide_loops_run();
    luma::share_work(lanes_, before_.size(), kLeastShare, [&](size_t, size_t from, size_t to) {
        size_t i = from;
#if defined(__x86_64__)
        if (wide) i += changed_rgba_avx2(in + from, host + from, before_.data() + from, to - from, per_host, out + from);
#endif
        for (; i < to; ++i) {
            const int32_t change = host[i].y - before_[i];
            uint8_t pixel[4];
            std::memcpy(pixel, in + i, 4);
            if (grey) {
                const double level = static_cast<double>(host[i].y) * per_host;
                pixel[0] = pixel[1] = pixel[2] = clamp_code(level);
            } else if (change != 0) {
                const double delta = change * per_host;
                for (int c = 0; c < 3; ++c) pixel[c] = clamp_code(pixel[c] + delta);
            }
            std::memcpy(out + i, pixel, 4);
        }
    });
}

void RgbLuma::to_rgba(const uint32_t* in, const YcPixel* host, const std::vector<double>& code_by_host,
                      uint32_t* out) const {
    constexpr double kPerCode = static_cast<double>(kFullRange) / kVideoRange;
    constexpr size_t kOffset = 32768;
    luma::share_work(lanes_, before_.size(), kLeastShare, [&](size_t, size_t from, size_t to) {
        for (size_t i = from; i < to; ++i) {
            uint8_t pixel[4];
            std::memcpy(pixel, in + i, 4);
            if (host[i].y != before_[i]) {
                const double delta = (code_by_host[static_cast<size_t>(host[i].y + kOffset)] -
                                      code_by_host[static_cast<size_t>(before_[i] + kOffset)]) *
                                     kPerCode;
                for (int c = 0; c < 3; ++c) pixel[c] = clamp_code(pixel[c] + delta);
            }
            std::memcpy(out + i, pixel, 4);
        }
    });
}

}  // namespace zeverive::frei0r
