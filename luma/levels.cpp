#include "luma/levels.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>

#include "luma/levels_avx2.h"

namespace zeverive::luma {
namespace {

// numerator / denominator rounded to nearest, ties away from zero;
// denominator > 0.
int64_t divide_rounded(int64_t numerator, int64_t denominator) {
    const int64_t magnitude = (2 * std::llabs(numerator) + denominator) / (2 * denominator);
    return numerator < 0 ? -magnitude : magnitude;
}

// Codes of `bit_depth` go through a stabiliser as 8-bit codes (fractions
// of them).
double code_unit(int bit_depth) {
    return static_cast<double>(1 << (bit_depth - 8));
}

}  // namespace

LevelScale luma_scale(int bit_depth, int32_t gain) {
    const int shift = bit_depth - 8;
    return {16 << shift, 219 << shift, gain};
}

LevelScale chroma_scale(int bit_depth) {
    const int shift = bit_depth - 8;
    return {128 << shift, 224 << shift};
}

int16_t code_to_host(LevelScale scale, int32_t code) {
    const int64_t host = divide_rounded(static_cast<int64_t>(code - scale.origin) * kHostSpan * scale.gain,
                                        int64_t{scale.span} * kGainUnity);
    return static_cast<int16_t>(std::clamp<int64_t>(host, std::numeric_limits<int16_t>::min(),
                                                    std::numeric_limits<int16_t>::max()));
}

int32_t host_change_to_code(LevelScale scale, int32_t original, int32_t host_before, int32_t host_after,
                            int32_t max_code) {
    if (host_after == host_before) return original;
    const int64_t code_span = int64_t{scale.span} * kGainUnity;
    const int64_t host_span = int64_t{kHostSpan} * scale.gain;
    int64_t code;
    if (scale.host_finer()) {
        code = scale.origin + divide_rounded(host_after * code_span, host_span);
    } else {
        code = original + divide_rounded((host_after - host_before) * code_span, host_span);
    }
    return static_cast<int32_t>(std::clamp<int64_t>(code, 0, std::max(max_code, original)));
}

int16_t stabilised_code_to_host(LevelScale scale, const Stabiliser& stabiliser, int bit_depth, int32_t code) {
    const double unit = code_unit(bit_depth);
    const double host = (stabiliser.forward(code / unit) - scale.origin / unit) * host_units_per_code(scale) * unit;
    return static_cast<int16_t>(std::clamp<double>(std::round(host), std::numeric_limits<int16_t>::min(),
                                                   std::numeric_limits<int16_t>::max()));
}

double stabilised_host_to_code(LevelScale scale, const Stabiliser& stabiliser, int bit_depth, int32_t host) {
    const double unit = code_unit(bit_depth);
    return stabiliser.unbiased_inverse(host / (host_units_per_code(scale) * unit) + scale.origin / unit) * unit;
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
    if (!scale.host_finer()) return {};
    // One entry more: the AVX2 loop reads two at a time (luma/levels_avx2.h).
    std::vector<uint16_t> table(kHostValues + 1);
    for (int32_t host = 0; host < kHostValues; ++host) {
        const int32_t value = host - kHostOffset;
        table[static_cast<size_t>(host)] =
            static_cast<uint16_t>(host_change_to_code(scale, 0, value + 1, value, max_code));
    }
    return table;
}

// The code for every host value, where every code within the depth has a
// host value of its own, which then leads back to it; empty otherwise.
std::vector<uint16_t> stabilised_code_by_host(LevelScale scale, const Stabiliser& stabiliser, int bit_depth,
                                              const std::vector<int16_t>& host_by_code, int32_t max_code) {
    // One entry more, as in code_by_host.
    std::vector<uint16_t> table(kHostValues + 1);
    for (int32_t host = 0; host < kHostValues; ++host) {
        const double code = std::round(stabilised_host_to_code(scale, stabiliser, bit_depth, host - kHostOffset));
        table[static_cast<size_t>(host)] = static_cast<uint16_t>(std::clamp<double>(code, 0, max_code));
    }
    for (int32_t code = 1; code <= max_code; ++code)
        if (host_by_code[static_cast<size_t>(code)] <= host_by_code[static_cast<size_t>(code - 1)]) return {};
    for (int32_t code = 0; code <= max_code; ++code)
        table[static_cast<size_t>(host_by_code[static_cast<size_t>(code)] + kHostOffset)] = static_cast<uint16_t>(code);
    return table;
}

// One sample of a plane as the file stores it.
struct Bytes8 {
    static constexpr size_t kSize = 1;
    static int32_t get(const uint8_t* plane, size_t i) { return plane[i]; }
    static void put(uint8_t* plane, size_t i, int32_t code) { plane[i] = static_cast<uint8_t>(code); }
};
struct Bytes16 {
    static constexpr size_t kSize = 2;
    static int32_t get(const uint8_t* plane, size_t i) { return plane[2 * i] | plane[2 * i + 1] << 8; }
    static void put(uint8_t* plane, size_t i, int32_t code) {
        plane[2 * i] = static_cast<uint8_t>(code);
        plane[2 * i + 1] = static_cast<uint8_t>(code >> 8);
    }
};

int16_t host_sample(const uint8_t* bytes) {
    return static_cast<int16_t>(bytes[0] | bytes[1] << 8);
}

void put_host_sample(uint8_t* bytes, int16_t value) {
    const auto bits = static_cast<uint16_t>(value);
    bytes[0] = static_cast<uint8_t>(bits);
    bytes[1] = static_cast<uint8_t>(bits >> 8);
}

}  // namespace

LevelMapping::LevelMapping(const PictureFormat& format, int32_t gain, const Stabiliser* stabiliser)
    : format_(format),
      luma_(luma_scale(format.bit_depth, gain)),
      chroma_(chroma_scale(format.bit_depth)),
      wide_(wide_loops_run()) {
    if (format.sampling == Sampling::kHost) return;
    if (format.sampling != Sampling::kMono) chroma_host_ = host_by_code(chroma_, format.bit_depth);
    if (!stabiliser) {
        luma_host_ = host_by_code(luma_, format.bit_depth);
        luma_code_ = code_by_host(luma_, format.max_code());
        return;
    }
    luma_host_.resize(size_t{1} << (format.bit_depth > 8 ? 16 : 8));
    for (size_t code = 0; code < luma_host_.size(); ++code)
        luma_host_[code] = stabilised_code_to_host(luma_, *stabiliser, format.bit_depth, static_cast<int32_t>(code));
    luma_code_ = stabilised_code_by_host(luma_, *stabiliser, format.bit_depth, luma_host_, format.max_code());
    luma_level_.resize(kHostValues);
    for (int32_t host = 0; host < kHostValues; ++host)
        luma_level_[static_cast<size_t>(host)] =
            stabilised_host_to_code(luma_, *stabiliser, format.bit_depth, host - kHostOffset);
}

void LevelMapping::to_host(const uint8_t* samples, YcPixel* host, bool chroma) const {
    if (format_.sampling == Sampling::kHost) {
        for (size_t i = 0; i < format_.plane_samples(0); ++i, samples += 6)
            host[i] = {host_sample(samples), host_sample(samples + 2), host_sample(samples + 4)};
    } else if (format_.bit_depth > 8) {
        video_to_host<Bytes16>(samples, host, chroma);
    } else {
        video_to_host<Bytes8>(samples, host, chroma);
    }
}

void LevelMapping::to_samples(const uint8_t* original, const YcPixel* host_after, bool neutral_chroma,
                              uint8_t* samples) const {
    if (format_.sampling == Sampling::kHost) {
        for (size_t i = 0; i < format_.plane_samples(0); ++i, samples += 6) {
            put_host_sample(samples, host_after[i].y);
            put_host_sample(samples + 2, host_after[i].cb);
            put_host_sample(samples + 4, host_after[i].cr);
        }
    } else if (format_.bit_depth > 8) {
        video_to_samples<Bytes16>(original, host_after, neutral_chroma, samples);
    } else {
        video_to_samples<Bytes8>(original, host_after, neutral_chroma, samples);
    }
}

// The AVX2 forms, where wide_ says they run (never on i386).
void LevelMapping::wide_row([[maybe_unused]] const uint8_t* luma, [[maybe_unused]] const uint8_t* cb,
                            [[maybe_unused]] const uint8_t* cr, [[maybe_unused]] size_t width,
                            [[maybe_unused]] int shift_x, [[maybe_unused]] YcPixel* row) const {
#if defined(__x86_64__)
    host_row_from_8bit_avx2(luma, cb, cr, width, shift_x, luma_, chroma_, row);
#endif
}

void LevelMapping::wide_codes([[maybe_unused]] const YcPixel* host_after, [[maybe_unused]] size_t pixels,
                              [[maybe_unused]] uint8_t* codes) const {
#if defined(__x86_64__)
    codes_from_host_8bit_avx2(host_after, pixels, luma_code_.data(), codes);
#endif
}

// Codes come from 8 or 16 bits of storage, so each is in its table.
template <typename Storage>
void LevelMapping::video_to_host(const uint8_t* samples, YcPixel* host, bool chroma) const {
    const size_t width = static_cast<size_t>(format_.width);
    const size_t height = static_cast<size_t>(format_.height);
    const int16_t* luma_host = luma_host_.data();
    // The AVX2 form computes the scale's straight line; a stabiliser's
    // bent one is read from the table.
    const bool wide = Storage::kSize == 1 && wide_ && luma_level_.empty();
    if (format_.sampling == Sampling::kMono || !chroma) {
        if (wide) {
            wide_row(samples, nullptr, nullptr, width * height, 0, host);
            return;
        }
        for (size_t i = 0; i < width * height; ++i) host[i] = {luma_host[Storage::get(samples, i)], 0, 0};
        return;
    }
    const int16_t* chroma_host = chroma_host_.data();
    const size_t chroma_width = static_cast<size_t>(format_.plane_width(1));
    const uint8_t* cb_plane = samples + format_.plane_samples(0) * Storage::kSize;
    const uint8_t* cr_plane = cb_plane + format_.plane_samples(1) * Storage::kSize;
    const int shift_x = format_.plane_width(1) == format_.width ? 0 : 1;
    const int shift_y = format_.plane_height(1) == format_.height ? 0 : 1;
    for (size_t y = 0; y < height; ++y) {
        const uint8_t* luma = samples + y * width * Storage::kSize;
        const uint8_t* cb = cb_plane + (y >> shift_y) * chroma_width * Storage::kSize;
        const uint8_t* cr = cr_plane + (y >> shift_y) * chroma_width * Storage::kSize;
        YcPixel* row = host + y * width;
        if (wide) {
            wide_row(luma, cb, cr, width, shift_x, row);
            continue;
        }
        for (size_t x = 0; x < width; ++x) {
            row[x] = {luma_host[Storage::get(luma, x)], chroma_host[Storage::get(cb, x >> shift_x)],
                      chroma_host[Storage::get(cr, x >> shift_x)]};
        }
    }
}

template <typename Storage>
void LevelMapping::video_to_samples(const uint8_t* original, const YcPixel* host_after, bool neutral_chroma,
                                    uint8_t* samples) const {
    const size_t pixels = format_.plane_samples(0);
    const int32_t max_code = format_.max_code();
    const int16_t* luma_host = luma_host_.data();
    // Through a stabiliser, a change added to the original code as a
    // difference of the inverse.
    auto stabilised_change = [&](int32_t code, int32_t after) {
        const int32_t before = luma_host[code];
        if (after == before) return code;
        const double change = luma_level_[static_cast<size_t>(after + kHostOffset)] -
                              luma_level_[static_cast<size_t>(before + kHostOffset)];
        return std::clamp(code + static_cast<int32_t>(std::lround(change)), 0, std::max(max_code, code));
    };
    if (luma_code_.empty() && !luma_level_.empty()) {
        for (size_t i = 0; i < pixels; ++i)
            Storage::put(samples, i, stabilised_change(Storage::get(original, i), host_after[i].y));
    } else if (luma_code_.empty()) {
        for (size_t i = 0; i < pixels; ++i) {
            const int32_t code = Storage::get(original, i);
            Storage::put(samples, i, host_change_to_code(luma_, code, luma_host[code], host_after[i].y, max_code));
        }
    } else {
        // Within the depth the host's scale is finer than the codes, so a
        // code mapped there and back is itself: an untouched sample finds
        // its own code in the table too, and only codes above the depth
        // need their original.
        const uint16_t* luma_code = luma_code_.data();
        if (Storage::kSize == 1 && wide_) {
            // 8-bit codes are never above the depth.
            wide_codes(host_after, pixels, samples);
        } else {
            for (size_t i = 0; i < pixels; ++i) {
                const int32_t code = Storage::get(original, i);
                const int32_t after = host_after[i].y;
                if (code > max_code) {
                    const int32_t changed = luma_level_.empty()
                                                ? host_change_to_code(luma_, code, luma_host[code], after, max_code)
                                                : stabilised_change(code, after);
                    Storage::put(samples, i, changed);
                } else {
                    Storage::put(samples, i, luma_code[after + kHostOffset]);
                }
            }
        }
    }
    if (format_.sampling == Sampling::kMono) return;
    const size_t luma_bytes = pixels * Storage::kSize;
    const size_t chroma_samples = 2 * format_.plane_samples(1);
    if (neutral_chroma) {
        for (size_t i = 0; i < chroma_samples; ++i) Storage::put(samples + luma_bytes, i, chroma_.origin);
    } else {
        std::memcpy(samples + luma_bytes, original + luma_bytes, chroma_samples * Storage::kSize);
    }
}

}  // namespace zeverive::luma
