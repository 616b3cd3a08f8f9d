// Where an 8x8 block of one picture went in another picture of the same
// scene, to whole pixels, and the fraction of a pixel beyond.
//
// The displacement is chosen on a ring of samples around the block, never
// on the block itself: a choice made on the block would pick, among
// displacements that fit equally, the one whose noise happens to agree
// best, and the block's difference would read the noise low. The ring
// lies a pixel clear of the block, past the reach of noise smoothed by a
// 3x3 blur. A quarter-size search first finds motion up to 16 pixels, then
// a full-size search refines it by up to 3.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

namespace zeverive::luma {

// A picture kept for matching: its samples and their 4x4 means.
class MatchPicture {
public:
    MatchPicture() = default;
    MatchPicture(const float* samples, int width, int height);
    // Rows `stride` samples apart.
    MatchPicture(const float* samples, int width, int height, ptrdiff_t stride);

    int width() const { return width_; }
    int height() const { return height_; }
    const float* row(int y) const { return samples_.data() + static_cast<size_t>(y) * width_; }
    // The 4x4 means, (width / 4) x (height / 4).
    int coarse_width() const { return coarse_width_; }
    int coarse_height() const { return coarse_height_; }
    const float* coarse_row(int y) const { return coarse_.data() + static_cast<size_t>(y) * coarse_width_; }
    // Whether every sample equals `other`'s (a repeated picture).
    bool same_as(const MatchPicture& other) const { return samples_ == other.samples_; }

private:
    int width_ = 0;
    int height_ = 0;
    std::vector<float> samples_;
    int coarse_width_ = 0;
    int coarse_height_ = 0;
    std::vector<float> coarse_;
};

struct Offset {
    int dx;
    int dy;
    // The mean absolute difference over the ring at this displacement:
    // how well the surroundings agree (for noise alone, 2 / sqrt(pi) times
    // its deviation).
    float ring = 0;
};

// Blocks whose top left corner lies this far inside the picture can be
// matched; nearer the edges the search would leave the picture.
constexpr int kMatchMargin = 24;

// The displacement of the block at (left, top) of `picture` into `other`
// (pictures of one size), `neighbours` those of blocks matched before it;
// nothing when the block lies too near an edge.
std::optional<Offset> match_block(const MatchPicture& picture, const MatchPicture& other, int left, int top,
                                  const std::vector<Offset>& neighbours = {});

// The rest of a whole-pixel match's motion, a fraction of a pixel each
// way, as the ring tells it: the other picture's gradient times the
// fraction is, to first order, what the whole-pixel match left out. Over
// fine texture moving by fractions of a pixel that left-over texture is
// larger than light noise.
struct Fraction {
    double dx = 0;
    double dy = 0;
    // The ring's mean absolute difference once moved on by the fraction.
    float ring = 0;
    // `other`'s sample at (x, y), moved on by the fraction.
    float sample(const MatchPicture& other, int x, int y) const;
};

// The fraction beyond `to`, the block at (left, top)'s whole-pixel match
// into `other`; nothing where it explains less than kFractionEvidence of
// the ring's difference (noise alone explains about 2 of the ring's 156
// samples' share: whole-pixel motion and still scenes keep their match).
constexpr double kFractionEvidence = 0.1;
std::optional<Fraction> fraction_of_pixel(const MatchPicture& picture, const MatchPicture& other, int left, int top,
                                          const Offset& to);

// Matches a grid of blocks row by row, left to right, each with the
// displacements of its left and upper neighbours to start from.
class GridMatcher {
public:
    GridMatcher(const MatchPicture& picture, const MatchPicture& other, int columns)
        : picture_(picture), other_(other), above_(static_cast<size_t>(columns)), row_(above_.size()) {}

    // The block at (left, top) in grid column `column`; a column of 0
    // starts a new row.
    std::optional<Offset> match(int column, int left, int top);

private:
    const MatchPicture& picture_;
    const MatchPicture& other_;
    std::vector<std::optional<Offset>> above_;
    std::vector<std::optional<Offset>> row_;
    bool first_row_ = true;
};

}  // namespace zeverive::luma
