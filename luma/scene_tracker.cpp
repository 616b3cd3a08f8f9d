#include "luma/scene_tracker.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "luma/levels_avx2.h"
#include "luma/scene_cells.h"

namespace zeverive::luma {
namespace {

constexpr int kCell = kSceneCell;
// Cells of 16x16 the means are shifted each way when two pictures are
// compared: motion of up to 32 samples between pictures.
constexpr int kShiftCells = 2;
// Mean difference of the block means, in codes, from which two pictures
// belong to different scenes. Within the development clips' scenes (pans,
// sub-pixel pans, moving test patterns, small text; noise of up to 20
// codes, white or smoothed) consecutive pictures differ by at most 6.5
// (ffmpeg's life source, a third of whose cells change from frame to
// frame, counts as a cut at every frame); different pictures by 10 and
// mostly far more. Two that are alike on average (gravel and a grey
// checkerboard) part at the change of the band's reading instead.
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
    // Per row of cells: the sums, the band's magnitudes and the extremes of
    // each cell, from the first and third of its four pairs of rows (half
    // its samples are plenty for either figure).
    std::vector<float> sum(static_cast<size_t>(width)), band(sum.size()), lowest(sum.size()), highest(sum.size());
#if defined(__x86_64__)
    const auto add_rows = wide_loops_run() ? add_cell_rows_avx2 : add_cell_rows;
#else
    const auto add_rows = add_cell_rows;
#endif
    for (int cy = 0; cy < height; ++cy) {
        std::fill(sum.begin(), sum.end(), 0.0f);
        std::fill(band.begin(), band.end(), 0.0f);
        std::fill(lowest.begin(), lowest.end(), std::numeric_limits<float>::infinity());
        std::fill(highest.begin(), highest.end(), -std::numeric_limits<float>::infinity());
        for (int y = 0; y < kCell; y += 4) {
            const float* row = plane.samples + static_cast<size_t>(top + cy * kCell + y) * plane.width + left;
            add_rows(row, row + plane.width, width, sum.data(), band.data(), lowest.data(), highest.data());
        }
        for (int cx = 0; cx < width; ++cx) {
            f.means[static_cast<size_t>(cy) * width + cx] = sum[cx] / (kCell * kCell / 2);
            if (lowest[cx] > plane.lowest && highest[cx] < plane.highest) bands.push_back(band[cx] / (2 * 8));
        }
    }
    // The pictures are compared on means of 16x16: heavy noise, smoothed by
    // a camera, moves the means of 8x8 by close to the cut's threshold.
    const int half_width = width / 2, half_height = height / 2;
    std::vector<float> means(static_cast<size_t>(half_width) * half_height);
    for (int cy = 0; cy < half_height; ++cy)
        for (int cx = 0; cx < half_width; ++cx) {
            const float* a = f.means.data() + static_cast<size_t>(2 * cy) * width + 2 * cx;
            means[static_cast<size_t>(cy) * half_width + cx] = (a[0] + a[1] + a[width] + a[width + 1]) / 4;
        }
    f.means = std::move(means);
    f.width = half_width;
    f.height = half_height;
    if (!bands.empty()) {
        const size_t tenth = std::max<size_t>(1, bands.size() / 10);
        std::nth_element(bands.begin(), bands.begin() + (tenth - 1), bands.end());
        double total = 0;
        for (size_t i = 0; i < tenth; ++i) total += bands[i];
        f.level = total / tenth;
    }
    return f;
}

// Whether the block means agree within kCutDifference on average at some
// shift: the nearest shifts first, so that consecutive pictures of a
// scene, which agree without one or with a small one, cost little.
bool agree(const std::vector<float>& a, const std::vector<float>& b, int width, int height) {
    for (int reach = 0; reach <= kShiftCells; ++reach) {
        for (int dy = -reach; dy <= reach; ++dy) {
            for (int dx = -reach; dx <= reach; ++dx) {
                if (std::max(std::abs(dx), std::abs(dy)) != reach) continue;
                double sum = 0;
                size_t count = 0;
                for (int y = std::max(0, -dy); y < std::min(height, height - dy); ++y) {
                    const float* ra = a.data() + static_cast<size_t>(y) * width;
                    const float* rb = b.data() + static_cast<size_t>(y + dy) * width;
                    const int from = std::max(0, -dx), to = std::min(width, width - dx);
                    float row = 0;
                    for (int x = from; x < to; ++x) row += std::fabs(ra[x] - rb[x + dx]);
                    sum += row;
                    count += static_cast<size_t>(std::max(0, to - from));
                }
                if (count && sum / count <= kCutDifference) return true;
            }
        }
    }
    return false;
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
               agree(last->second.means, thumbnail.means, thumbnail.width, thumbnail.height);
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

ScenePlacement frame_placement(const std::optional<ScenePlacement>& so_far, const ScenePlacement& picture) {
    if (!so_far) return picture;
    // The earlier field was placed in the scene the noise departed from.
    if (picture.previous_moves) return {picture.scene, true, so_far->previous_moves};
    if (picture.scene != so_far->scene) return {picture.scene, picture.first, false};
    return *so_far;
}

}  // namespace zeverive::luma
