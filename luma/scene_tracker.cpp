#include "luma/scene_tracker.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace zeverive::luma {
namespace {

constexpr int kCell = 8;
// Cells the block means are shifted each way when two pictures are
// compared: motion of up to 16 samples between pictures.
constexpr int kShiftCells = 2;
// Mean difference of the block means, in codes, from which two pictures
// belong to different scenes. Within the development clips' scenes (pans,
// moving test patterns, noise of up to 20 codes) consecutive pictures
// differ by at most 6; between their photographs by 20 and more.
constexpr double kCutDifference = 12;
// A change of the band's reading by more than this factor either way is a
// change of noise; noise from 3 to 5 codes reads about 1.6. Near a clean
// picture's reading of zero the floor keeps rounding from counting.
constexpr double kLevelFactor = 1.5;
constexpr double kLevelFloor = 0.3;

struct Features {
    std::vector<float> means;
    int width;
    int height;
    double level;
};

Features features_of(const LumaPlane& plane) {
    const Window window = noise_window(plane.width, plane.height);
    const int width = window.width / kCell;
    const int height = window.height / kCell;
    const int left = window.left;
    const int top = window.top;
    Features f{std::vector<float>(static_cast<size_t>(width) * height), width, height, 0};
    std::vector<float> bands;
    bands.reserve(f.means.size());
    for (int cy = 0; cy < height; ++cy) {
        for (int cx = 0; cx < width; ++cx) {
            const float* corner = plane.samples + static_cast<size_t>(top + cy * kCell) * plane.width + left + cx * kCell;
            float sum = 0, band = 0;
            bool clipped = false;
            for (int y = 0; y < kCell; y += 2) {
                const float* row = corner + static_cast<size_t>(y) * plane.width;
                const float* next = row + plane.width;
                for (int x = 0; x < kCell; x += 2) {
                    sum += row[x] + row[x + 1] + next[x] + next[x + 1];
                    band += std::fabs(row[x] - row[x + 1] - next[x] + next[x + 1]);
                    for (float v : {row[x], row[x + 1], next[x], next[x + 1]})
                        clipped |= v <= plane.lowest || v >= plane.highest;
                }
            }
            f.means[static_cast<size_t>(cy) * width + cx] = sum / (kCell * kCell);
            if (!clipped) bands.push_back(band / (2 * 16));
        }
    }
    if (!bands.empty()) {
        const size_t tenth = std::max<size_t>(1, bands.size() / 10);
        std::nth_element(bands.begin(), bands.begin() + (tenth - 1), bands.end());
        double sum = 0;
        for (size_t i = 0; i < tenth; ++i) sum += bands[i];
        f.level = sum / tenth;
    }
    return f;
}

// The mean difference of the block means at the best shift.
double difference(const std::vector<float>& a, const std::vector<float>& b, int width, int height) {
    double best = std::numeric_limits<double>::infinity();
    for (int dy = -kShiftCells; dy <= kShiftCells; ++dy) {
        for (int dx = -kShiftCells; dx <= kShiftCells; ++dx) {
            double sum = 0;
            size_t count = 0;
            for (int y = std::max(0, -dy); y < std::min(height, height - dy); ++y) {
                const float* ra = a.data() + static_cast<size_t>(y) * width;
                const float* rb = b.data() + static_cast<size_t>(y + dy) * width;
                for (int x = std::max(0, -dx); x < std::min(width, width - dx); ++x) sum += std::fabs(ra[x] - rb[x + dx]);
                count += static_cast<size_t>(std::max(0, std::min(width, width - dx) - std::max(0, -dx)));
            }
            if (count) best = std::min(best, sum / count);
        }
    }
    return best;
}

bool departs(double level, const std::vector<double>& levels) {
    std::vector<double> sorted = levels;
    std::sort(sorted.begin(), sorted.end());
    const double scene = sorted[sorted.size() / 2];
    const double ratio = (level + kLevelFloor) / (scene + kLevelFloor);
    return ratio > kLevelFactor || ratio < 1 / kLevelFactor;
}

}  // namespace

ScenePlacement SceneTracker::start_scene(Thumbnail thumbnail, double level, int stream, bool previous_moves) {
    Scene scene{scenes_++, {}, {level}};
    scene.last[stream] = std::move(thumbnail);
    recent_.push_front(std::move(scene));
    if (recent_.size() > kRecentScenes) recent_.pop_back();
    return {recent_.front().id, true, previous_moves};
}

ScenePlacement SceneTracker::add_picture(const LumaPlane& picture, int stream) {
    const long long number = pictures_++;
    Features f = features_of(picture);
    Thumbnail thumbnail{f.width, f.height, std::move(f.means)};
    // Held against the scene's last picture of the same stream, or of
    // another where the stream has none yet.
    auto matches = [&](const Scene& scene) {
        auto last = scene.last.find(stream);
        if (last == scene.last.end()) last = scene.last.begin();
        return last != scene.last.end() && last->second.width == thumbnail.width &&
               last->second.height == thumbnail.height &&
               difference(last->second.means, thumbnail.means, thumbnail.width, thumbnail.height) <= kCutDifference;
    };
    if (recent_.empty()) return start_scene(std::move(thumbnail), f.level, stream, false);

    Scene& current = recent_.front();
    if (matches(current)) {
        const bool away = departs(f.level, current.levels);
        if (away && current.departed && current.departed_at == number - 1) {
            const double before = current.departed_level;
            current.departed = false;
            ScenePlacement placed = start_scene(std::move(thumbnail), f.level, stream, true);
            recent_.front().levels = {before, f.level};
            return placed;
        }
        current.departed = away;
        current.departed_level = f.level;
        current.departed_at = number;
        if (!away && current.levels.size() < static_cast<size_t>(kNoiseSamplePictures))
            current.levels.push_back(f.level);
        current.last[stream] = std::move(thumbnail);
        return {current.id, false, false};
    }
    for (size_t i = 1; i < recent_.size(); ++i) {
        Scene& scene = recent_[i];
        if (!matches(scene) || departs(f.level, scene.levels)) continue;
        scene.last[stream] = std::move(thumbnail);
        scene.departed = false;
        Scene returning = std::move(scene);
        recent_.erase(recent_.begin() + static_cast<std::ptrdiff_t>(i));
        recent_.push_front(std::move(returning));
        return {recent_.front().id, false, false};
    }
    return start_scene(std::move(thumbnail), f.level, stream, false);
}

}  // namespace zeverive::luma
