#include "app.h"

#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <deque>
#include <iostream>

#include "failure.h"
#include "frame_bytes.h"
#include "levels.h"
#include "listing.h"
#include "noise_sample.h"
#include "output_file.h"
#include "preview.h"
#include "progress.h"
#include "psnr.h"
#include "run_settings.h"
#include "tiling.h"
#include "video_io.h"
#include "workers.h"

namespace zeverive::cli {
namespace {

constexpr int kDisplaySlider = 11;

std::string size_text(const PictureFormat& format) {
    return std::to_string(format.width) + "x" + std::to_string(format.height);
}

std::string decimal(double value, int places) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", places, value);
    return text;
}

void report_noise(const NoiseSample& sample, std::ostream& out) {
    out << "frames read: " << sample.frames << "\nflat blocks: " << sample.estimate.blocks
        << "\nfinest band over flat-block spread: " << decimal(sample.estimate.fine_share, 2)
        << "\nsmoothing: " << decimal(sample.estimate.smoothing, 2) << " (0 white noise, 1 as after a 3x3 blur)\n"
        << decimal(sample.estimate.sigma, 2) << "\n";
}

// The plug-in's result at the files' scale, for the preview.
void undo_gain(std::vector<YcPixel>& host, int32_t gain) {
    if (gain == kGainUnity) return;
    for (YcPixel& pixel : host)
        pixel.y = static_cast<int16_t>(std::clamp<int64_t>(int64_t{pixel.y} * kGainUnity / gain, -32768, 32767));
}

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

}  // namespace

int run(const Options& options, const PluginLibrary& library) {
    if (options.list) {
        print_record(library, std::cout);
        return 0;
    }
    remove_temporaries_on_signals();
    // A reader that goes away (a closed pipe, a dead worker) shows up as a
    // write error with a message rather than a silent death.
    signal(SIGPIPE, SIG_IGN);

    if (options.reference == "-" && options.input == "-")
        throw Failure("the input and the reference cannot both be standard input");
    if (options.preview == "-") throw Failure("--preview needs a file name");

    std::unique_ptr<ByteInput> input = ByteInput::open(options.input);
    std::unique_ptr<VideoReader> reader = open_reader(*input, options.size);
    const PictureFormat format = reader->format();
    if (options.estimate) {
        report_noise(sample_noise(options.input, options.size, reader), std::cout);
        return 0;
    }
    if (!options.tile && (format.width > kPluginMaxSide || format.height > kPluginMaxSide)) {
        throw Failure(input->name() + ": frame size " + size_text(format) + " is larger than the plug-in's limit of " +
                      std::to_string(kPluginMaxSide) + "x" + std::to_string(kPluginMaxSide) +
                      "; use --tile to process it in overlapping tiles");
    }
    const bool host_frames = format.sampling == Sampling::kHost;
    if ((host_frames && ends_with(options.output, ".y4m")) || (!host_frames && ends_with(options.output, ".yc"))) {
        throw Failure(options.output + ": the output has the input's format, " +
                      (host_frames ? "raw host frames: name it .yc" : "YUV4MPEG2: name it .y4m"));
    }

    std::optional<ReferenceClip> reference;
    if (!options.reference.empty()) reference.emplace(options.reference, options.size, format);

    std::vector<std::string> inputs = {options.input};
    if (!options.reference.empty()) inputs.push_back(options.reference);
    if (!options.plugin.empty()) inputs.push_back(options.plugin);
    if (!options.preview.empty() && (options.preview == options.output || same_file(options.preview, options.output)))
        throw Failure(options.preview + ": the preview and the output need different names");
    OutputFile output(options.output, inputs);
    std::unique_ptr<VideoWriter> writer = make_writer(*reader, output);

    const RunSettings run = choose_settings(options, library.table(),
                                            [&] { return sample_noise(options.input, options.size, reader); });
    if (options.auto_settings && !options.quiet) {
        std::cerr << "zeverive: noise " << decimal(run.noise ? run.noise->estimate.sigma : *options.sigma, 2)
                  << (run.noise ? " codes, estimated on " + std::to_string(run.noise->frames) + " frames"
                                : std::string(" codes, as given"))
                  << "; settings: " << settings_as_options(run) << "\n";
    }
    // Remote messages never set the display slider, so the command line
    // decides whether the output shows coefficients.
    const FrameWork work{format, options.tile, run.settings.sliders[kDisplaySlider] != 0, run.gain};
    std::unique_ptr<FrameProcessor> processor =
        make_frame_processor(library, run.settings, options.jobs, work, input->name());
    const bool want_preview = !options.preview.empty();

    Progress progress(!options.quiet && isatty(STDERR_FILENO), reader->frame_count());
    struct InFlight {
        int64_t number;
        std::string frame_parameters;
    };
    std::deque<InFlight> in_flight;
    // Decoded pictures only for the reference comparison; the frames
    // themselves stay in the processor's buffers.
    Picture original, result;
    std::vector<YcPixel> preview_before, preview_after;
    const size_t pixels = static_cast<size_t>(format.width) * static_cast<size_t>(format.height);
    int64_t frames_done = 0;

    auto finish_oldest = [&] {
        const InFlight& oldest = in_flight.front();
        const ProcessedFrame frame = processor->take();
        writer->write(oldest.frame_parameters, frame.output);
        if (reference) {
            decode_frame(format, frame.input, original);
            decode_frame(format, frame.output, result);
            reference->compare(oldest.number, original, result);
        }
        if (want_preview && oldest.number == options.preview_frame) {
            preview_before.resize(pixels);
            LevelMapping(format).to_host(frame.input, preview_before.data());
            preview_after.assign(frame.host, frame.host + pixels);
            undo_gain(preview_after, run.gain);
        }
        in_flight.pop_front();
        progress.update(++frames_done);
    };

    for (int64_t number = 0;; ++number) {
        if (processor->in_flight() == processor->capacity()) finish_oldest();
        std::string frame_parameters;
        if (!reader->read(processor->next_frame(), frame_parameters)) break;
        in_flight.push_back({number, std::move(frame_parameters)});
        processor->submit(number, want_preview && number == options.preview_frame);
    }
    while (!in_flight.empty()) finish_oldest();
    processor->finish();
    progress.finish(frames_done);

    std::unique_ptr<OutputFile> preview;
    if (want_preview) {
        if (options.preview_frame >= frames_done) {
            throw Failure("--preview-frame " + std::to_string(options.preview_frame) + ": " + input->name() +
                          " has only " + std::to_string(frames_done) + " frames (numbered from 0)");
        }
        preview = write_preview(options.preview, preview_before, preview_after, format.width, format.height, inputs);
    }
    output.commit();
    if (preview) preview->commit();
    if (reference) reference->report(frames_done, std::cerr);
    return 0;
}

}  // namespace zeverive::cli
