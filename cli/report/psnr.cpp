#include "report/psnr.h"

#include <cmath>
#include <cstdio>
#include <limits>

#include "failure.h"
#include "luma/levels.h"

namespace zeverive::cli {

void PsnrMeter::add(const std::vector<int32_t>& clean, const std::vector<int32_t>& test) {
    // Integer sums per frame are exact; only the total is a double.
    int64_t sum = 0;
    for (size_t i = 0; i < clean.size(); ++i) {
        const int64_t difference = static_cast<int64_t>(test[i]) - clean[i];
        sum += difference * difference;
    }
    squared_error_ += static_cast<double>(sum);
    samples_ += clean.size();
}

double PsnrMeter::decibels(double peak) const {
    if (squared_error_ == 0.0) return std::numeric_limits<double>::infinity();
    const double mean = squared_error_ / static_cast<double>(samples_);
    return 10.0 * std::log10(peak * peak / mean);
}

namespace {

std::string describe(const PictureFormat& format) {
    const std::string size = size_text(format.width, format.height);
    if (format.sampling == Sampling::kHost) return size + " raw host frames";
    return size + " " + std::to_string(format.bit_depth) + "-bit";
}

}  // namespace

ReferenceClip::ReferenceClip(const std::string& path, std::optional<FrameSize> size,
                             const PictureFormat& input_format)
    : input_(ByteInput::open(path)), reader_(open_reader(*input_, size)) {
    const PictureFormat& format = reader_->format();
    if (format.width != input_format.width || format.height != input_format.height ||
        format.bit_depth != input_format.bit_depth ||
        (format.sampling == Sampling::kHost) != (input_format.sampling == Sampling::kHost)) {
        throw Failure(input_->name() + ": the reference holds " + describe(format) + " frames, the input " +
                      describe(input_format) + " frames");
    }
    // Host frames are compared on the host's scale, video on its codes.
    peak_ = format.sampling == Sampling::kHost ? luma::kHostSpan : format.max_code();
}

void ReferenceClip::compare(int64_t frame, const Picture& before, const Picture& after) {
    if (ended_at_) return;
    if (!reader_->read(clean_)) {
        ended_at_ = frame;
        return;
    }
    input_meter_.add(clean_.planes[0], before.planes[0]);
    output_meter_.add(clean_.planes[0], after.planes[0]);
}

std::optional<std::string> ReferenceClip::length_mismatch(int64_t frames) {
    const std::string input_frames = std::to_string(frames) + " frame" + (frames == 1 ? "" : "s");
    if (ended_at_) {
        return input_->name() + ": the reference has only " + std::to_string(*ended_at_) + " frames, the input " +
               input_frames + "; no PSNR";
    }
    if (reader_->read(clean_)) {
        return input_->name() + ": the reference has more frames than the input's " + input_frames +
               "; the clips do not match, no PSNR";
    }
    return std::nullopt;
}

void ReferenceClip::report(int64_t frames, std::ostream& out) const {
    if (frames == 0) {
        out << "zeverive: no frames to compare with " << input_->name() << "\n";
        return;
    }
    const double before = input_meter_.decibels(peak_);
    const double after = output_meter_.decibels(peak_);
    char text[160];
    std::snprintf(text, sizeof text, "input %.2f dB, output %.2f dB (%+.2f dB)", before, after, after - before);
    out << "luma PSNR against " << input_->name() << " over " << frames << " frame" << (frames == 1 ? "" : "s")
        << ": " << text << "\n";
}

}  // namespace zeverive::cli
