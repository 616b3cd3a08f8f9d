#include "settings/noise_sample.h"

#include <algorithm>
#include <new>
#include <vector>

#include "failure.h"
#include "formats/frame_bytes.h"
#include "luma/levels.h"
#include "run/frame_memory.h"
#include "run/mapped_memory.h"

namespace zeverive::cli {
namespace {

// Memory for one frame as the file stores it, taken as its data arrives:
// a header that promises huge frames costs nothing until they come.
MappedMemory frame_memory_for(const VideoReader& reader) {
    return MappedMemory(addressable(reader.frame_bytes()), MappedMemory::Sharing::kPrivate);
}

// The frames read ahead from a pipe, then the pipe. The pipe's reader
// looks back into the last frame it read when the next one is damaged, so
// that frame stays where it was read to until the pipe is read again.
class ReplayingReader : public VideoReader {
public:
    struct Frame {
        std::optional<MappedMemory> bytes;
        std::string parameters;
    };

    ReplayingReader(std::unique_ptr<VideoReader> rest, std::vector<Frame> first)
        : rest_(std::move(rest)), first_(std::move(first)) {}

    const PictureFormat& format() const override { return rest_->format(); }
    size_t frame_bytes() const override { return rest_->frame_bytes(); }
    luma::Scan scan_of(const std::string& frame_parameters) const override { return rest_->scan_of(frame_parameters); }
    std::optional<int64_t> frame_count() const override { return rest_->frame_count(); }
    std::optional<int64_t> exact_frame_count() const override { return rest_->exact_frame_count(); }
    std::unique_ptr<VideoWriter> make_writer(ByteSink& sink) const override { return rest_->make_writer(sink); }

    bool read(uint8_t* bytes, std::string& frame_parameters) override {
        if (next_ == first_.size()) return rest_->read(bytes, frame_parameters);
        std::copy_n(first_[next_].bytes->data(), frame_bytes(), bytes);
        frame_parameters = std::move(first_[next_].parameters);
        pass();
        return true;
    }

    bool read(Picture& picture) override {
        if (next_ == first_.size()) return rest_->read(picture);
        decode_frame(format(), first_[next_].bytes->data(), picture);
        picture.frame_parameters = std::move(first_[next_].parameters);
        pass();
        return true;
    }

    bool skip() override {
        if (next_ == first_.size()) return rest_->skip();
        pass();
        return true;
    }

private:
    // Frees a replayed frame, except the last.
    void pass() {
        if (next_ + 1 < first_.size()) first_[next_].bytes.reset();
        ++next_;
    }

    std::unique_ptr<VideoReader> rest_;
    std::vector<Frame> first_;
    size_t next_ = 0;
};

// Luma in 8-bit codes, and the codes where clipping shows.
struct LumaScale {
    float per_unit;
    float lowest;
    float highest;
};

LumaScale luma_in_codes(const PictureFormat& format) {
    if (format.sampling == Sampling::kHost) {
        // Host frames hold Y 0..4096 for codes 16..235 and are not clipped
        // short of the 16-bit limits.
        return {219.0f / luma::kHostSpan, -1e9f, 1e9f};
    }
    const float per_unit = 1.0f / static_cast<float>(1 << (format.bit_depth - 8));
    return {per_unit, 0.0f, static_cast<float>(format.max_code()) * per_unit};
}

// The luma plane in 8-bit codes, straight from the frame's bytes: a
// decoded picture would take four bytes for every sample of every plane.
void luma_of(const PictureFormat& format, const uint8_t* bytes, float per_unit, std::vector<float>& luma) {
    luma.resize(format.plane_samples(0));
    if (format.sampling == Sampling::kHost) {
        for (size_t i = 0; i < luma.size(); ++i, bytes += 3 * sizeof(int16_t))
            luma[i] = static_cast<float>(static_cast<int16_t>(bytes[0] | (bytes[1] << 8))) * per_unit;
    } else if (format.bit_depth > 8) {
        for (size_t i = 0; i < luma.size(); ++i, bytes += 2) luma[i] = static_cast<float>(bytes[0] | (bytes[1] << 8)) * per_unit;
    } else {
        for (size_t i = 0; i < luma.size(); ++i) luma[i] = static_cast<float>(bytes[i]) * per_unit;
    }
}

// Each of the frame's pictures: a field's rows are next to each other only
// in the frame, and read as one picture would show motion as structure.
void add_frame(luma::NoiseEstimator& estimator, luma::NoiseProfile& profile, const PictureFormat& format,
               const uint8_t* bytes, luma::Scan scan, std::vector<float>& luma, std::vector<float>& field) {
    const LumaScale scale = luma_in_codes(format);
    luma_of(format, bytes, scale.per_unit, luma);
    luma::for_each_picture(luma.data(), format.width, luma::FramePictures(scan, format.height), field,
                           [&](const float* picture, int rows) {
                               estimator.add_frame(picture, format.width, rows, scale.lowest, scale.highest, &profile);
                           });
}

}  // namespace

bool sample_replayed(const std::string& path, const VideoReader& reader) {
    return path == "-" || !reader.frame_count();
}

NoiseSample sample_noise(const std::string& path, std::optional<FrameSize> size, FieldChoice fields,
                         std::unique_ptr<VideoReader>& reader) {
    luma::NoiseEstimator estimator;
    NoiseSample sample;
    const PictureFormat format = reader->format();
    std::vector<float> luma, field;
    int64_t number = 0;  // the frame being read
    try {
        if (!sample_replayed(path, *reader)) {
            const int64_t frames = *reader->frame_count();
            std::unique_ptr<ByteInput> input = ByteInput::open(path);
            std::unique_ptr<VideoReader> own = open_reader(*input, size);
            const MappedMemory bytes = frame_memory_for(*own);
            std::string parameters;
            const int64_t taken = std::min<int64_t>(frames, luma::kNoiseSampleFrames);
            // Frame k of the sample is the middle of the k-th of `taken`
            // equal stretches of the clip.
            int64_t next = 0;
            for (; next < taken; ++number) {
                if (number != (2 * next + 1) * frames / (2 * taken)) {
                    if (!own->skip()) break;
                    continue;
                }
                if (!own->read(bytes.data(), parameters)) break;
                const luma::Scan scan = chosen_scan(fields, own->scan_of(parameters));
                add_frame(estimator, sample.profile, format, bytes.data(), scan, luma, field);
                ++next;
            }
            sample.frames = static_cast<int>(next);
        } else {
            std::vector<ReplayingReader::Frame> first;
            first.reserve(luma::kNoiseSampleFrames);
            for (; number < luma::kNoiseSampleFrames; ++number) {
                ReplayingReader::Frame& frame = first.emplace_back();
                frame.bytes.emplace(frame_memory_for(*reader));
                if (!reader->read(frame.bytes->data(), frame.parameters)) {
                    first.pop_back();
                    break;
                }
                add_frame(estimator, sample.profile, format, frame.bytes->data(),
                          chosen_scan(fields, reader->scan_of(frame.parameters)), luma, field);
            }
            sample.frames = static_cast<int>(first.size());
            reader = std::make_unique<ReplayingReader>(std::move(reader), std::move(first));
        }
        sample.estimate = estimator.estimate();
        sample.model = luma::model_noise(estimator, sample.profile);
        if (format.sampling == Sampling::kHost) {
            // Host frames come on the plug-in's own scale, with no mapping
            // of their levels to bend.
            sample.model.stabiliser.reset();
            sample.model.estimate = sample.estimate;
        }
    } catch (const std::bad_alloc&) {
        throw frame_failure(path == "-" ? "standard input" : path, number, "out of memory while estimating the noise");
    }
    return sample;
}

}  // namespace zeverive::cli
