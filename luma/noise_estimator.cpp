#include "luma/noise_estimator.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

#include "luma/noise_blocks.h"
#include "luma/shared_work.h"

namespace zeverive::luma {
namespace {

// The reading takes the quietest tenth of the blocks that look like
// noise, and needs at least kFewestBlocks of them. Only the quietest
// blocks are tested for looking like noise: those of each picture from
// the quietest up, until kTestedShare of its blocks passed (the others are
// counted as passing, since the reading never reaches them).
constexpr double kQuietShare = 0.1;
constexpr size_t kFewestBlocks = 16;
constexpr double kTestedShare = 0.3;
// Pictures of a stream whose change is read (from the first to the
// second, and around the second), and whose spread is read: more add
// little to a figure read on thousands of blocks, and cost matching and
// fitting.
constexpr int kChangePictures = 3;
constexpr int kSpreadPictures = 2;
// For pure noise, over the quietest tenth of 8x8 blocks: the root of the
// mean spread, and the finest band's mean magnitude over that root, each
// per unit deviation; white noise, and white noise after a 3x3 box blur.
// (Simulated on a million samples of each; the spread is read after the
// cubic fit, which takes much of the smoothed noise's coarse grain.)
constexpr double kWhiteSpread = 0.832;
constexpr double kSmoothedSpread = 0.499;
constexpr double kWhiteShare = 0.803;
constexpr double kSmoothedShare = 0.471;
// Blocks whose change is measured: every other one each way, which keeps
// the matching to a small share of the run and still leaves hundreds of
// blocks at standard definition; every one in pictures smaller than
// kSmallPicture, where every other one would leave too few for a steady
// figure.
constexpr int kChangeStep = 16;
constexpr int kSmallPicture = 100000;

struct Reading {
    double sigma;
    double smoothing;
    size_t blocks;
};

std::optional<Reading> read_quietest(const std::vector<float>& variances, const std::vector<float>& fines,
                                     size_t untested) {
    if (variances.empty() || variances.size() + untested < kFewestBlocks) return std::nullopt;
    std::vector<size_t> order(variances.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    const size_t taken = std::clamp<size_t>(static_cast<size_t>(kQuietShare * (variances.size() + untested)), 1,
                                            variances.size());
    std::nth_element(order.begin(), order.begin() + (taken - 1), order.end(),
                     [&](size_t a, size_t b) { return variances[a] < variances[b]; });
    double spread = 0, fine = 0;
    for (size_t i = 0; i < taken; ++i) {
        spread += variances[order[i]];
        fine += fines[order[i]];
    }
    spread = std::sqrt(spread / taken);
    fine /= taken;
    if (spread <= 0) return Reading{0, 0, taken};
    const double share = fine / spread;
    const double smoothing = std::clamp((kWhiteShare - share) / (kWhiteShare - kSmoothedShare), 0.0, 1.0);
    const double per_deviation =
        std::exp((1 - smoothing) * std::log(kWhiteSpread) + smoothing * std::log(kSmoothedSpread));
    return Reading{spread / per_deviation, smoothing, taken};
}

bool clipped(const float* block, float lowest, float highest) {
    for (int i = 0; i < kNoiseBlockSamples; ++i)
        if (block[i] <= lowest || block[i] >= highest) return true;
    return false;
}

void copy_block(const MatchPicture& picture, int left, int top, float* block) {
    for (int y = 0; y < kNoiseBlock; ++y)
        std::copy_n(picture.row(top + y) + left, kNoiseBlock, block + y * kNoiseBlock);
}

uint8_t brightness_of(const float* block) {
    double sum = 0;
    for (int i = 0; i < kNoiseBlockSamples; ++i) sum += block[i];
    return static_cast<uint8_t>(std::clamp(std::lround(sum / kNoiseBlockSamples), 0L, 255L));
}

}  // namespace

Window noise_window(int width, int height) {
    const int w = std::min(width, kNoiseWindow);
    const int h = std::min(height, kNoiseWindow);
    return {(width - w) / 2 / kNoiseBlock * kNoiseBlock, (height - h) / 2 / kNoiseBlock * kNoiseBlock, w, h};
}

MatchPicture window_picture(const LumaPlane& plane) {
    const Window window = noise_window(plane.width, plane.height);
    return MatchPicture(plane.samples + static_cast<size_t>(window.top) * plane.width + window.left, window.width,
                        window.height, plane.width);
}

const char* basis_text(NoiseBasis basis) {
    switch (basis) {
        case NoiseBasis::kFrames: return "high: read from the change between frames";
        case NoiseBasis::kPictures: return "medium: the frames change more than their own spread (motion not followed)";
        case NoiseBasis::kOnePicture: return "low: one picture alone, taken low (texture or grain may read as noise)";
        case NoiseBasis::kNothing: return "high: nothing in the picture looks like noise";
    }
    return "";
}

void NoiseEstimator::add_picture(const LumaPlane& plane, int stream, FlatBlockReader* also, int lanes) {
    ++pictures_;
    MatchPicture picture = window_picture(plane);

    Stream& history = streams_[stream];
    if (history.pictures > 0 && picture.same_as(history.last)) return;
    // The two readings fill readings of their own (picture_, and between_
    // or around_), so they may run at once.
    const bool spread = history.pictures < kSpreadPictures;
    const bool change = history.pictures >= 1 && history.pictures < kChangePictures;
    const auto read_spread = [&] { read_picture(picture, plane.lowest, plane.highest, also); };
    const auto read_change_of = [&] {
        read_change(history.last, picture, history.pictures >= 2 ? &history.before : nullptr, plane.lowest,
                    plane.highest);
    };
    if (spread && change && lanes > 1) {
        share_work(2, 2, 1, [&](size_t part, size_t, size_t) { part == 0 ? read_change_of() : read_spread(); });
    } else {
        if (spread) read_spread();
        if (change) read_change_of();
    }
    history.before = std::move(history.last);
    history.last = std::move(picture);
    ++history.pictures;
}

std::vector<BlockReading> NoiseEstimator::keep(const std::vector<float>& samples, const std::vector<uint8_t>& brightness,
                                               Readings& into, std::vector<bool>* left_out) {
    const size_t blocks = samples.size() / kNoiseBlockSamples;
    std::vector<BlockReading> readings(blocks);
    std::vector<size_t> order(blocks);
    for (size_t b = 0; b < blocks; ++b) {
        readings[b] = measure_block(samples.data() + b * kNoiseBlockSamples);
        order[b] = b;
    }
    std::sort(order.begin(), order.end(),
              [&](size_t a, size_t b) { return readings[a].variance < readings[b].variance; });
    if (left_out) left_out->assign(blocks, false);
    const size_t wanted = static_cast<size_t>(std::ceil(kTestedShare * static_cast<double>(blocks)));
    size_t tested = 0, passed = 0;
    for (; tested < blocks && passed < wanted; ++tested) {
        const size_t b = order[tested];
        if (!looks_like_noise(samples.data() + b * kNoiseBlockSamples)) {
            ++into.structure;
            if (left_out) (*left_out)[b] = true;
            continue;
        }
        into.variances.push_back(readings[b].variance);
        into.fines.push_back(readings[b].fine);
        into.brightness.push_back(brightness[b]);
        ++passed;
    }
    into.untested += blocks - tested;
    return readings;
}

void NoiseEstimator::read_picture(const MatchPicture& picture, float lowest, float highest, FlatBlockReader* also) {
    // Room for every block at once: growing by doubling would hold up to
    // twice the picture at the end.
    const size_t most = static_cast<size_t>(picture.width() / kNoiseBlock) * (picture.height() / kNoiseBlock);
    std::vector<float> blocks;
    blocks.reserve(most * kNoiseBlockSamples);
    std::vector<uint8_t> brightness;
    brightness.reserve(most);
    std::vector<FlatBlock> places;
    if (also) places.reserve(most);
    float block[kNoiseBlockSamples];
    for (int top = 0; top + kNoiseBlock <= picture.height(); top += kNoiseBlock) {
        for (int left = 0; left + kNoiseBlock <= picture.width(); left += kNoiseBlock) {
            copy_block(picture, left, top, block);
            if (clipped(block, lowest, highest)) continue;
            blocks.insert(blocks.end(), block, block + kNoiseBlockSamples);
            brightness.push_back(brightness_of(block));
            if (also) places.push_back({picture.row(top) + left, picture.width(), top / kNoiseBlock, left / kNoiseBlock, 0});
        }
    }
    std::vector<bool> left_out;
    const std::vector<BlockReading> readings = keep(blocks, brightness, picture_, also ? &left_out : nullptr);
    if (!also) return;
    size_t kept = 0;
    for (size_t b = 0; b < places.size(); ++b) {
        if (left_out[b]) continue;
        places[kept] = places[b];
        places[kept].spread = readings[b].variance;
        ++kept;
    }
    also->read_frame(places.data(), kept);
}

// Each block of `centre` less its match in `next`, or less the mean of its
// matches in `before` and `next`; scaled to the deviation of one picture's
// noise (the difference of two holds twice its variance, the other one and
// a half times).
void NoiseEstimator::read_change(const MatchPicture& centre, const MatchPicture& next, const MatchPicture* before,
                                 float lowest, float highest) {
    const float scale = static_cast<float>(1 / std::sqrt(before ? 1.5 : 2.0));
    float own[kNoiseBlockSamples], after[kNoiseBlockSamples], earlier[kNoiseBlockSamples];
    float change[kNoiseBlockSamples];
    std::vector<float> blocks;
    std::vector<uint8_t> brightness;
    const int room = centre.width() - 2 * kMatchMargin - kNoiseBlock;
    const int step = centre.width() * centre.height() < kSmallPicture ? kNoiseBlock : kChangeStep;
    const int columns = room >= 0 ? room / step + 1 : 0;
    const int rows = centre.height() >= 2 * kMatchMargin + kNoiseBlock
                         ? (centre.height() - 2 * kMatchMargin - kNoiseBlock) / step + 1
                         : 0;
    blocks.reserve(static_cast<size_t>(rows) * columns * kNoiseBlockSamples);
    brightness.reserve(static_cast<size_t>(rows) * columns);
    GridMatcher forward(centre, next, columns);
    std::optional<GridMatcher> backward;
    if (before) backward.emplace(centre, *before, columns);
    for (int top = kMatchMargin; top + kNoiseBlock + kMatchMargin <= centre.height(); top += step) {
        for (int column = 0; column < columns; ++column) {
            const int left = kMatchMargin + column * step;
            const std::optional<Offset> to_next = forward.match(column, left, top);
            const std::optional<Offset> to_before = backward ? backward->match(column, left, top) : std::nullopt;
            if (!to_next || (before && !to_before)) continue;
            copy_block(centre, left, top, own);
            copy_block(next, left + to_next->dx, top + to_next->dy, after);
            if (clipped(own, lowest, highest) || clipped(after, lowest, highest)) continue;
            if (before) {
                copy_block(*before, left + to_before->dx, top + to_before->dy, earlier);
                if (clipped(earlier, lowest, highest)) continue;
                for (int i = 0; i < kNoiseBlockSamples; ++i)
                    change[i] = (own[i] - (earlier[i] + after[i]) / 2) * scale;
            } else {
                for (int i = 0; i < kNoiseBlockSamples; ++i) change[i] = (own[i] - after[i]) * scale;
            }
            blocks.insert(blocks.end(), change, change + kNoiseBlockSamples);
            brightness.push_back(brightness_of(own));
        }
    }
    keep(blocks, brightness, before ? around_ : between_);
}

NoiseEstimate NoiseEstimator::estimate() const {
    return estimate(nullptr);
}

NoiseEstimate NoiseEstimator::estimate(const std::array<float, 256>& gain_by_brightness) const {
    return estimate(&gain_by_brightness);
}

NoiseEstimate NoiseEstimator::estimate(const std::array<float, 256>* gain_by_brightness) const {
    const auto quietest = [&](const Readings& readings) {
        if (!gain_by_brightness) return read_quietest(readings.variances, readings.fines, readings.untested);
        std::vector<float> variances = readings.variances;
        std::vector<float> fines = readings.fines;
        for (size_t i = 0; i < variances.size(); ++i) {
            const float gain = (*gain_by_brightness)[readings.brightness[i]];
            variances[i] *= gain * gain;
            fines[i] *= gain;
        }
        return read_quietest(variances, fines, readings.untested);
    };
    NoiseEstimate result;
    result.pictures = pictures_;
    result.structure = picture_.structure;
    const std::optional<Reading> picture = quietest(picture_);
    // The change around a picture cancels motion by a fraction of a pixel
    // to first order, the change to the next one does not: the first is
    // read wherever the scene has three pictures.
    std::optional<Reading> frames = quietest(around_);
    if (!frames) frames = quietest(between_);
    if (picture) result.picture_sigma = picture->sigma;
    if (frames) result.frames_sigma = frames->sigma;
    // Structure throughout (or clipping): nothing reads as noise.
    if (!picture) return result;

    const Reading* chosen = &*picture;
    if (frames && frames->sigma <= picture->sigma) {
        chosen = &*frames;
        result.basis = NoiseBasis::kFrames;
    } else if (frames) {
        result.basis = NoiseBasis::kPictures;
    } else {
        result.basis = NoiseBasis::kOnePicture;
    }
    result.sigma = chosen->sigma * (result.basis == NoiseBasis::kOnePicture ? kOnePictureShare : 1.0);
    result.smoothing = chosen->smoothing;
    result.blocks = chosen->blocks;
    return result;
}

void NoiseEstimator::merge(const NoiseEstimator& other) {
    for (auto [mine, theirs] : {std::pair<Readings*, const Readings*>{&picture_, &other.picture_},
                                {&between_, &other.between_},
                                {&around_, &other.around_}}) {
        mine->variances.insert(mine->variances.end(), theirs->variances.begin(), theirs->variances.end());
        mine->fines.insert(mine->fines.end(), theirs->fines.begin(), theirs->fines.end());
        mine->brightness.insert(mine->brightness.end(), theirs->brightness.begin(), theirs->brightness.end());
        mine->structure += theirs->structure;
        mine->untested += theirs->untested;
    }
    pictures_ += other.pictures_;
}

}  // namespace zeverive::luma
