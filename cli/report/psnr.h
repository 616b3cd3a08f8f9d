// Luma PSNR against a clean version of the same video, summed over all
// frames (one mean squared error for the whole clip, not a mean of
// per-frame PSNRs, so a few perfect frames cannot dominate).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "formats/byte_input.h"
#include "formats/picture.h"
#include "formats/video_io.h"

namespace zeverive::cli {

class PsnrMeter {
public:
    void add(const std::vector<int32_t>& clean, const std::vector<int32_t>& test);
    // In dB for samples whose full scale is `peak`; infinity when
    // identical. Needs at least one sample added.
    double decibels(double peak) const;
    uint64_t samples() const { return samples_; }

private:
    double squared_error_ = 0.0;
    uint64_t samples_ = 0;
};

// A clean version of the input, read frame by frame alongside it, and the
// PSNR of input and output against it.
class ReferenceClip {
public:
    // Throws Failure when the clip cannot be read or its frames differ from
    // the input's in size, depth or kind.
    ReferenceClip(const std::string& path, std::optional<FrameSize> size, const PictureFormat& input_format);
    // Frames in the clean clip, when its file's size tells them exactly.
    std::optional<int64_t> exact_frame_count() const { return reader_->exact_frame_count(); }
    // Adds frame `frame` of the input before and after the plug-in; once
    // the clean clip has ended, nothing more is compared.
    void compare(int64_t frame, const Picture& before, const Picture& after);
    // After the input's `frames` frames: why the clean clip does not match
    // the input in length, if it does not. Reads ahead in the clean clip.
    std::optional<std::string> length_mismatch(int64_t frames);
    // "luma PSNR against NAME over N frames: input X dB, output Y dB (+Z dB)"
    void report(int64_t frames, std::ostream& out) const;

private:
    std::unique_ptr<ByteInput> input_;
    std::unique_ptr<VideoReader> reader_;
    Picture clean_;
    PsnrMeter input_meter_;
    PsnrMeter output_meter_;
    double peak_;
    std::optional<int64_t> ended_at_;  // the first input frame without a clean one
};

}  // namespace zeverive::cli
