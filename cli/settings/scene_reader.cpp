#include "settings/scene_reader.h"

#include <algorithm>

#include "formats/frame_bytes.h"
#include "luma/levels.h"

namespace zeverive::cli {
namespace {

constexpr size_t kMostReadAheadBytes = size_t{64} << 20;
// A scene's sample, one frame to confirm it, and room for a clip that cuts
// back and forth between scenes (every third frame one scene's) to show
// each scene twice.
constexpr size_t kMostReadAhead = 2 * luma::kNoiseSamplePictures + 1;

}  // namespace

luma::LumaPlane luma_in_codes(const PictureFormat& format, const uint8_t* bytes, std::vector<float>& luma) {
    const luma::Window window = luma::noise_window(format.width, format.height);
    luma.resize(static_cast<size_t>(window.width) * window.height);
    float* out = luma.data();
    if (format.sampling == Sampling::kHost) {
        // Host frames hold Y 0..4096 for codes 16..235 and are not clipped
        // short of the 16-bit limits.
        const float per_unit = 219.0f / luma::kHostSpan;
        for (int y = 0; y < window.height; ++y) {
            const uint8_t* in = bytes + (static_cast<size_t>(window.top + y) * format.width + window.left) * 6;
            for (int x = 0; x < window.width; ++x, in += 6)
                *out++ = static_cast<float>(static_cast<int16_t>(in[0] | (in[1] << 8))) * per_unit;
        }
        return {luma.data(), window.width, window.height, -1e9f, 1e9f};
    }
    const float per_unit = 1.0f / static_cast<float>(1 << (format.bit_depth - 8));
    const size_t bytes_per_sample = format.bit_depth > 8 ? 2 : 1;
    for (int y = 0; y < window.height; ++y) {
        const uint8_t* in =
            bytes + (static_cast<size_t>(window.top + y) * format.width + window.left) * bytes_per_sample;
        if (bytes_per_sample == 2) {
            for (int x = 0; x < window.width; ++x, in += 2) *out++ = static_cast<float>(in[0] | (in[1] << 8)) * per_unit;
        } else {
            for (int x = 0; x < window.width; ++x) *out++ = static_cast<float>(in[x]);
        }
    }
    return {luma.data(), window.width, window.height, 0.0f, static_cast<float>(format.max_code()) * per_unit};
}

int read_ahead_frames(const PictureFormat& format) {
    const size_t frames = kMostReadAheadBytes / std::max<size_t>(1, frame_bytes(format));
    return static_cast<int>(std::clamp<size_t>(frames, 2, kMostReadAhead));
}

SceneReader::SceneReader(VideoReader& reader, int read_ahead)
    : reader_(reader), read_ahead_(static_cast<size_t>(std::max(2, read_ahead))) {}

void SceneReader::read_ahead() {
    while (!ended_ && ahead_.size() < read_ahead_) {
        Frame frame;
        if (!spare_.empty()) {
            frame.bytes = std::move(spare_.back());
            spare_.pop_back();
        }
        frame.bytes.resize(reader_.frame_bytes());
        if (!reader_.read(frame.bytes.data(), frame.parameters)) {
            ended_ = true;
            spare_.push_back(std::move(frame.bytes));
            break;
        }
        frame.number = next_number_++;
        const luma::ScenePlacement placement =
            tracker_.add_picture(luma_in_codes(reader_.format(), frame.bytes.data(), luma_));
        Frame* before = ahead_.empty() ? nullptr : &ahead_.back();
        frame.scene = placement.scene;
        frame.begins = placement.first && !placement.previous_moves;
        if (placement.previous_moves && before) {
            // The frame before began the new scene; it was not placed yet.
            before->scene = placement.scene;
            before->begins = true;
        }
        if (before && !before->placed) place(*before);
        ahead_.push_back(std::move(frame));
    }
    if (ended_)
        for (Frame& frame : ahead_)
            if (!frame.placed) place(frame);
}

void SceneReader::place(Frame& frame) {
    frame.placed = true;
    if (frame.begins) open_.emplace(frame.scene, OpenScene{});
    const auto open = open_.find(frame.scene);
    if (open == open_.end() || open->second.frames >= luma::kNoiseSamplePictures) return;
    open->second.estimator.add_picture(luma_in_codes(reader_.format(), frame.bytes.data(), luma_));
    ++open->second.frames;
}

bool SceneReader::read(uint8_t* bytes, std::string& frame_parameters, SceneFrame& scene) {
    read_ahead();
    if (ahead_.empty()) return false;
    Frame& frame = ahead_.front();
    scene.scene = frame.scene;
    scene.start.reset();
    if (frame.begins) {
        const auto open = open_.find(frame.scene);
        scene.start = SceneStart{frame.number, open->second.estimator.estimate(), nullptr};
        // A repeated frame is no second look at the scene.
        for (size_t i = 1; i < ahead_.size(); ++i) {
            if (ahead_[i].scene != frame.scene || ahead_[i].bytes == frame.bytes) continue;
            const PictureFormat& format = reader_.format();
            auto check = std::make_shared<luma::ResultCheck>(luma_in_codes(format, frame.bytes.data(), luma_),
                                                             luma_in_codes(format, ahead_[i].bytes.data(), next_luma_),
                                                             scene.start->estimate.sigma);
            if (check->usable() || check->misregistered()) scene.start->check = std::move(check);
            break;
        }
        whole_.merge(open->second.estimator);
        open_.erase(open);
    }
    std::copy(frame.bytes.begin(), frame.bytes.end(), bytes);
    frame_parameters = std::move(frame.parameters);
    spare_.push_back(std::move(frame.bytes));
    ahead_.pop_front();
    return true;
}

}  // namespace zeverive::cli
