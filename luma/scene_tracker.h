// Which scene each picture belongs to, from pictures in time order,
// cheaply enough for every picture of a run.
//
// A scene ends at a cut, or where its noise changes level. A cut shows in
// the pictures' 16x16 block means: after the best shift of up to 32
// samples each way, consecutive pictures of a scene differ there by a few codes
// (motion, light), pictures of different scenes by tens. After a cut the
// picture is also held against the last pictures of the few scenes before:
// edits that cut back and forth between two cameras, or a clip that
// interleaves several, return to a scene rather than start one, and the
// returning scene keeps its estimate and settings. A change of noise shows
// in the finest diagonal band of the quietest tenth of the blocks, which
// texture moves only slowly as a scene pans: a picture whose band departs
// from its scene's by more than half, right after another that did,
// begins a new scene with the one before it; one alone (a flash, a
// damaged frame) does not.
#pragma once

#include <deque>
#include <map>
#include <optional>
#include <vector>

#include "luma/noise_estimator.h"

namespace zeverive::luma {

struct ScenePlacement {
    int scene;            // numbered from 0 in order of first appearance
    bool first;           // the scene's first picture
    // The noise changed at the picture before, which was placed in the
    // scene it departed from: it begins this new scene instead.
    bool previous_moves;
};

// Where a frame of several pictures (its two fields) belongs, from the
// placement of its pictures so far (none before the first) and that of its
// next picture: the scene of its last picture, and a scene that begins at
// either picture begins at the frame.
ScenePlacement frame_placement(const std::optional<ScenePlacement>& so_far, const ScenePlacement& picture);

class SceneTracker {
public:
    // The next picture, with the stream it can be compared in (as
    // NoiseEstimator takes it).
    ScenePlacement add_picture(const LumaPlane& picture, int stream = 0);

    // Scenes a picture is held against after a cut.
    static constexpr size_t kRecentScenes = 4;

private:
    struct Thumbnail {
        int width = 0;
        int height = 0;
        std::vector<float> means;
    };
    struct Scene {
        int id;
        std::map<int, Thumbnail> last;  // by stream
        std::vector<double> levels;     // its first pictures' band readings
        bool departed = false;          // its last picture departed from them ...
        double departed_level = 0;
        long long departed_at = -1;     // ... and was this picture
    };

    ScenePlacement start_scene(Thumbnail thumbnail, double level, int stream, bool previous_moves);

    std::deque<Scene> recent_;  // the latest first
    int scenes_ = 0;
    long long pictures_ = 0;
};

}  // namespace zeverive::luma
