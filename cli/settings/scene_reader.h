// The frames of a run, read a few ahead of it so that each scene's noise
// is known before its first frame is processed: from files and pipes
// alike, reading every frame once.
//
// Every frame read goes through the scene tracker; the first frames of
// each scene (kNoiseSamplePictures, or fewer where the read-ahead is
// shorter) go to that scene's noise estimate and, through it, to the
// scene's noise profile (its level by brightness and correlation). A frame joins its scene's
// estimate only once the next frame has shown that it belongs there (a
// change of noise is confirmed by the frame after it). When a scene's
// first frame leaves the read-ahead its estimate is final.
//
// A progressive frame is one picture; an interlaced one (as `fields` and
// the stream decide) is its two fields in the order they were taken, each
// a picture of its own in the stream of its parity: the estimate and the
// tracker compare a field only with fields of the same parity, and motion
// between the fields is no structure to them.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "formats/field_choice.h"
#include "formats/video_stream.h"
#include "luma/frame_pictures.h"
#include "luma/noise_estimator.h"
#include "luma/noise_model.h"
#include "luma/noise_profile.h"
#include "luma/result_check.h"
#include "luma/scene_tracker.h"
#include "run/mapped_memory.h"

namespace zeverive::cli {

struct SceneStart {
    int64_t frame;  // the scene's first frame, from 0
    luma::NoiseEstimate estimate;
    // What the settings are chosen for: the estimate after the stabilising
    // curve where the noise grows with brightness, and its correlation.
    luma::NoiseModel model;
    // Measures trial results for the first frame against the scene's next
    // frame; none when the read-ahead holds no other frame of the scene.
    std::shared_ptr<const luma::ResultCheck> check;
    // The picture of the first frame the check reads (its first field
    // where it has two), to be read alike from a trial's result.
    luma::FramePicture check_picture{luma::Parity::kFrame, 0, 1, 0};
};

// The scene a frame belongs to (numbered from 0 as they appear; a scene
// the clip cuts back to keeps its number), and at its first frame the
// scene's estimate.
struct SceneFrame {
    int scene = 0;
    std::optional<SceneStart> start;
};

// Frames held ahead for `format`: seven, fewer for frames so large that
// they would take more than 64 MB (at least 2).
int read_ahead_frames(const PictureFormat& format);

// Whether the reader keeps every scene's blocks for one figure over the
// whole input: a few hundred kilobytes a scene, which a long film with
// many cuts would pile up for nothing in a run.
enum class WholeInput { kDropped, kKept };

class SceneReader {
public:
    // `lanes`: the threads the estimate may read a picture on.
    SceneReader(VideoReader& reader, int read_ahead, FieldChoice fields = FieldChoice::kAsTheStreamSays,
                WholeInput whole = WholeInput::kDropped, int lanes = 1);

    // The next frame's samples (frame_bytes() bytes) and marker-line
    // parameters, as VideoReader::read gives them, and its scene. False at
    // the end. Throws as the reader does.
    bool read(uint8_t* bytes, std::string& frame_parameters, SceneFrame& scene);

    // All scenes' samples as one, once every frame has been read (with
    // WholeInput::kKept).
    luma::NoiseEstimate whole_input() const { return whole_.estimate(); }
    // Their noise by brightness and correlation, and what the settings
    // would be chosen for.
    const luma::NoiseProfile& whole_profile() const { return whole_profile_; }
    luma::NoiseModel whole_model() const;

    // Frames read from the input so far, the read-ahead included: the
    // number of the frame being read when reading fails.
    int64_t frames_read() const { return next_number_; }

private:
    struct Frame {
        std::optional<MappedMemory> bytes;
        luma::Scan scan = luma::Scan::kProgressive;
        std::string parameters;
        int64_t number;
        int scene = 0;
        bool begins = false;  // the first frame of its scene
        bool placed = false;  // its scene is final
    };

    void read_ahead();
    void place(Frame& frame);
    luma::FramePictures pictures_of(const Frame& frame) const;

    VideoReader& reader_;
    size_t read_ahead_;
    FieldChoice fields_;
    WholeInput whole_input_;
    int lanes_;
    bool ended_ = false;
    int64_t next_number_ = 0;
    std::deque<Frame> ahead_;
    std::vector<MappedMemory> spare_;
    std::vector<float> luma_;
    std::vector<float> next_luma_;
    luma::SceneTracker tracker_;
    // Scenes whose estimate is still open: their estimator and how many of
    // their frames it read.
    struct OpenScene {
        luma::NoiseEstimator estimator;
        luma::NoiseProfile profile;
        int frames = 0;
    };
    luma::NoiseModel model_of(const luma::NoiseEstimator& estimator, const luma::NoiseProfile& profile) const;

    std::map<int, OpenScene> open_;
    luma::NoiseEstimator whole_;
    luma::NoiseProfile whole_profile_;
};

// The part of a picture's luma plane the estimate and the scene tracker
// read (luma::noise_window), in 8-bit codes, and the codes where it clips:
// of the whole frame, or of one of its fields.
luma::LumaPlane luma_in_codes(const PictureFormat& format, const uint8_t* bytes, std::vector<float>& luma,
                              const luma::FramePicture& picture);
luma::LumaPlane luma_in_codes(const PictureFormat& format, const uint8_t* bytes, std::vector<float>& luma);

}  // namespace zeverive::cli
