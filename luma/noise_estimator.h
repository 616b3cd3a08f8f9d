// The noise in a scene's luma, as a standard deviation in 8-bit codes,
// from a few of its pictures.
//
// Noise is what differs from picture to picture of a scene and has no
// direction or period; texture, text, halftone, stripes and grain that
// moves with the picture stay the same from one picture to the next. So
// the estimate has two readings, each from the quietest tenth of the 8x8
// blocks that look like noise (noise_blocks.h):
//
// - the frames: each block of a picture less the same place in the
//   pictures before and after it (block_match.h), which takes away
//   whatever the scene holds still or moves, and leaves the noise of
//   three pictures (of two, where a scene has only two);
// - the picture: each block's spread around its best fitting cubic
//   surface, which is noise plus the texture the surface cannot follow.
//
// Both readings only ever add something to the noise (texture, or motion
// the match did not follow), so the estimate is the lower of the two.
// (Motion by a fraction of a pixel over fine texture leaves some of the
// texture in the change: gravel panned by 0.6 pixel a frame reads as noise
// of 1.7 codes when clean.)
// Blocks that read no noise at all (a clean picture, a still part of a
// clean scene) count as such. The finest diagonal band of the same
// blocks, against their spread, tells white noise from noise smoothed by a
// camera or a codec (3x3 blur: smoothing 1), and the spread is read for
// that kind. Measured on pure noise of either kind the reading is
// unbiased; on pans across six photographs (bench/estimates.py) it reads
// white noise of 2 to 20 codes and smoothed noise of 5 and 10 within -3 %
// and +7 %.
//
// With one picture alone (a still, a scene of one frame, or the first
// frame a filter is given) texture and grain cannot be told from noise; the
// estimate then takes the picture's reading at kOnePictureShare of its
// value, so that a wrong reading does less harm.
//
// No files and no options here: it takes planes and gives numbers.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

#include "luma/block_match.h"
#include "luma/flat_blocks.h"
#include "luma/noise_blocks.h"

namespace zeverive::luma {

// Pictures of a scene the estimate reads: the first ones of each scene.
// The spread is read on the first two, the change from the first to the
// second and around the second: thousands of blocks at any usual size,
// which is a steady figure, for the cost of a few frames' processing.
constexpr int kNoiseSamplePictures = 3;
// What a picture alone is trusted with.
constexpr double kOnePictureShare = 0.75;

// One luma plane in 8-bit codes (any depth scaled to them); samples at or
// beyond `lowest` and `highest` count as clipped, and blocks holding one
// are left out, since clipping hides noise.
struct LumaPlane {
    const float* samples;
    int width;
    int height;
    float lowest;
    float highest;
};

// What the estimate rests on, from most to least sure.
enum class NoiseBasis {
    kFrames,      // the change between pictures, no more than the pictures' own spread
    kPictures,    // the pictures' spread, below the change between them (motion not followed)
    kOnePicture,  // one picture, no other to compare it with: taken low
    kNothing,     // no block looks like noise (structure or clipping throughout): read as none
};

struct NoiseEstimate {
    double sigma = 0;      // 8-bit codes
    double smoothing = 0;  // 0 white noise, 1 noise as smooth as after a 3x3 blur
    NoiseBasis basis = NoiseBasis::kNothing;
    double picture_sigma = -1;  // the pictures' reading, or -1 for none
    double frames_sigma = -1;   // the frames' reading, or -1 for none
    size_t blocks = 0;          // blocks the chosen reading rests on
    size_t structure = 0;       // blocks left out as structure
    int pictures = 0;           // pictures read
};

// The part of a picture the estimate and the scene tracker read: all of
// it, or for large pictures a central window of at most kNoiseWindow
// samples each way, its corner on whole 8x8 blocks.
constexpr int kNoiseWindow = 1024;
struct Window {
    int left;
    int top;
    int width;
    int height;
};
Window noise_window(int width, int height);
// That part of a plane, for matching.
MatchPicture window_picture(const LumaPlane& plane);

// How sure the estimate is, in a few words for reports.
const char* basis_text(NoiseBasis basis);

class NoiseEstimator {
public:
    // Pictures in time order. `stream` names the pictures that can be
    // compared with each other: one stream for progressive video, one per
    // field parity for fields (the caller's to say), which keeps the
    // change between pictures from reading the offset between fields as
    // noise. A picture identical to the previous one of its stream is a
    // repeat and adds nothing. Large pictures are read in their
    // noise_window. `also`, when given, reads the picture's blocks that
    // are not left out as structure (flat_blocks.h). With `lanes` above 1
    // the picture's own blocks and its change from the picture before are
    // read on two threads at once (the same figures).
    void add_picture(const LumaPlane& picture, int stream = 0, FlatBlockReader* also = nullptr, int lanes = 1);
    NoiseEstimate estimate() const;
    // The noise as it would read after a mapping of the levels that
    // stretches every block by the gain for its brightness (its mean, as
    // an 8-bit code; the brightness of the picture's block where the
    // change between pictures is read).
    NoiseEstimate estimate(const std::array<float, 256>& gain_by_brightness) const;
    // Adds `other`'s blocks, for one figure over several scenes.
    void merge(const NoiseEstimator& other);

private:
    struct Stream {
        int pictures = 0;    // distinct pictures seen
        MatchPicture before; // the picture before `last`
        MatchPicture last;
    };
    struct Readings {
        std::vector<float> variances;
        std::vector<float> fines;
        std::vector<uint8_t> brightness;
        size_t structure = 0;  // tested and left out
        size_t untested = 0;   // quieter blocks passed before them
    };

    // Measures blocks (64 samples each, one after the other) and keeps
    // the quietest of those that look like noise; `left_out`, when given,
    // marks the blocks left out as structure. Returns every block's
    // reading.
    static std::vector<BlockReading> keep(const std::vector<float>& blocks, const std::vector<uint8_t>& brightness,
                                          Readings& into, std::vector<bool>* left_out = nullptr);
    NoiseEstimate estimate(const std::array<float, 256>* gain_by_brightness) const;

    void read_picture(const MatchPicture& picture, float lowest, float highest, FlatBlockReader* also);
    void read_change(const MatchPicture& centre, const MatchPicture& next, const MatchPicture* before,
                     float lowest, float highest);

    std::map<int, Stream> streams_;
    Readings picture_;
    Readings between_;  // the change from a stream's first picture to its second
    Readings around_;   // the change around a picture, from the one before to the one after
    int pictures_ = 0;
};

}  // namespace zeverive::luma
