// The noise estimate for an input: which frames it reads and how a pipe
// still gets them to the run.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "formats/field_choice.h"
#include "formats/video_io.h"
#include "luma/noise_estimator.h"
#include "luma/noise_model.h"
#include "luma/noise_profile.h"

namespace zeverive::cli {

struct NoiseSample {
    luma::NoiseEstimate estimate;
    luma::NoiseProfile profile;  // the noise by brightness, its correlation
    luma::NoiseModel model;      // what the settings are chosen for
    int frames = 0;              // frames read for it
};

// From an input whose length is known (a file), frames spread evenly over
// the clip, read through a reader of their own; `reader` is left as it was.
// From a pipe, its first frames, read through `reader`, which is then
// replaced by one that gives them again before the rest. Interlaced
// frames (as `fields` decides) count as their two fields. Throws Failure
// as the readers do.
NoiseSample sample_noise(const std::string& path, std::optional<FrameSize> size, FieldChoice fields,
                         std::unique_ptr<VideoReader>& reader);

// Whether sample_noise reads the first frames through `reader` and holds
// them until the run takes them again.
bool sample_replayed(const std::string& path, const VideoReader& reader);

}  // namespace zeverive::cli
