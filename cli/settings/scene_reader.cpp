#include "settings/scene_reader.h"

#include <algorithm>

#include "formats/frame_bytes.h"
#include "run/frame_memory.h"
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
    return luma_in_codes(format, bytes, luma, {luma::Parity::kFrame, 0, 1, format.height});
}

luma::LumaPlane luma_in_codes(const PictureFormat& format, const uint8_t* bytes, std::vector<float>& luma,
                              const luma::FramePicture& picture) {
    const luma::Window window = luma::noise_window(format.width, picture.rows);
    // The frame's row holding the window's row y.
    const auto row = [&](int y) { return static_cast<size_t>(picture.first_row + (window.top + y) * picture.row_step); };
    luma.resize(static_cast<size_t>(window.width) * window.height);
    float* out = luma.data();
    if (format.sampling == Sampling::kHost) {
        // Host frames hold Y 0..4096 for codes 16..235 and are not clipped
        // short of the 16-bit limits.
        const float per_unit = 219.0f / luma::kHostSpan;
        for (int y = 0; y < window.height; ++y) {
            const uint8_t* in = bytes + (row(y) * format.width + window.left) * 6;
            for (int x = 0; x < window.width; ++x, in += 6)
                *out++ = static_cast<float>(static_cast<int16_t>(in[0] | (in[1] << 8))) * per_unit;
        }
        return {luma.data(), window.width, window.height, -1e9f, 1e9f};
    }
    const float per_unit = 1.0f / static_cast<float>(1 << (format.bit_depth - 8));
    const size_t bytes_per_sample = format.bit_depth > 8 ? 2 : 1;
    for (int y = 0; y < window.height; ++y) {
        const uint8_t* in = bytes + (row(y) * format.width + window.left) * bytes_per_sample;
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

SceneReader::SceneReader(VideoReader& reader, int read_ahead, FieldChoice fields, WholeInput whole, int lanes)
    : reader_(reader),
      read_ahead_(static_cast<size_t>(std::max(2, read_ahead))),
      fields_(fields),
      whole_input_(whole),
      lanes_(lanes) {}

luma::FramePictures SceneReader::pictures_of(const Frame& frame) const {
    return luma::FramePictures(frame.scan, reader_.format().height);
}

void SceneReader::read_ahead() {
    while (!ended_ && ahead_.size() < read_ahead_) {
        Frame frame;
        // Mapped, not allocated: a header that promises huge frames costs
        // nothing until their data arrives.
        if (!spare_.empty()) {
            frame.bytes.emplace(std::move(spare_.back()));
            spare_.pop_back();
        } else {
            frame.bytes.emplace(addressable(reader_.frame_bytes()), MappedMemory::Sharing::kPrivate);
        }
        if (!reader_.read(frame.bytes->data(), frame.parameters)) {
            ended_ = true;
            spare_.push_back(std::move(*frame.bytes));
            break;
        }
        frame.number = next_number_++;
        frame.scan = chosen_scan(fields_, reader_.scan_of(frame.parameters));
        std::optional<luma::ScenePlacement> placed;
        for (const luma::FramePicture& picture : pictures_of(frame)) {
            placed = luma::frame_placement(
                placed, tracker_.add_picture(luma_in_codes(reader_.format(), frame.bytes->data(), luma_, picture),
                                             static_cast<int>(picture.parity)));
        }
        const luma::ScenePlacement placement = *placed;
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
    for (const luma::FramePicture& picture : pictures_of(frame)) {
        open->second.estimator.add_picture(luma_in_codes(reader_.format(), frame.bytes->data(), luma_, picture),
                                           static_cast<int>(picture.parity), &open->second.profile, lanes_);
    }
    ++open->second.frames;
}

luma::NoiseModel SceneReader::model_of(const luma::NoiseEstimator& estimator, const luma::NoiseProfile& profile) const {
    luma::NoiseModel model = luma::model_noise(estimator, profile);
    if (reader_.format().sampling == Sampling::kHost && model.stabiliser) {
        // Host frames come on the plug-in's own scale, with no mapping of
        // their levels to bend.
        model.stabiliser.reset();
        model.estimate = estimator.estimate();
    }
    return model;
}

luma::NoiseModel SceneReader::whole_model() const {
    return model_of(whole_, whole_profile_);
}

bool SceneReader::read(uint8_t* bytes, std::string& frame_parameters, SceneFrame& scene) {
    read_ahead();
    if (ahead_.empty()) return false;
    Frame& frame = ahead_.front();
    scene.scene = frame.scene;
    scene.start.reset();
    if (frame.begins) {
        const auto open = open_.find(frame.scene);
        scene.start = SceneStart{frame.number, open->second.estimator.estimate(),
                                 model_of(open->second.estimator, open->second.profile), nullptr};
        if (whole_input_ == WholeInput::kKept) {
            whole_.merge(open->second.estimator);
            whole_profile_.merge(open->second.profile);
        }
        // The estimate's pictures go before the check reads two more.
        open_.erase(open);
        // The first frame's first picture, against the same picture of a
        // later frame of the scene. A repeated frame is no second look at
        // the scene.
        const PictureFormat& format = reader_.format();
        const luma::FramePicture picture = *pictures_of(frame).begin();
        for (size_t i = 1; i < ahead_.size(); ++i) {
            const luma::FramePictures later = pictures_of(ahead_[i]);
            if (ahead_[i].scene != frame.scene || later.begin()->parity != picture.parity ||
                std::equal(frame.bytes->data(), frame.bytes->data() + reader_.frame_bytes(), ahead_[i].bytes->data()))
                continue;
            auto check = std::make_shared<luma::ResultCheck>(
                luma_in_codes(format, frame.bytes->data(), luma_, picture),
                luma_in_codes(format, ahead_[i].bytes->data(), next_luma_, picture), scene.start->estimate.sigma);
            if (check->usable() || check->misregistered()) {
                scene.start->check = std::move(check);
                scene.start->check_picture = picture;
            }
            break;
        }
    }
    std::copy_n(frame.bytes->data(), reader_.frame_bytes(), bytes);
    frame_parameters = std::move(frame.parameters);
    spare_.push_back(std::move(*frame.bytes));
    ahead_.pop_front();
    return true;
}

}  // namespace zeverive::cli
