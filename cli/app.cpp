#include "app.h"

#include <signal.h>
#include <unistd.h>

#include <deque>
#include <iostream>

#include "failure.h"
#include "levels.h"
#include "listing.h"
#include "output_file.h"
#include "preview.h"
#include "progress.h"
#include "psnr.h"
#include "tiling.h"
#include "video_io.h"
#include "workers.h"

namespace zeverive::cli {
namespace {

constexpr int kDisplaySlider = 11;

std::string size_text(const PictureFormat& format) {
    return std::to_string(format.width) + "x" + std::to_string(format.height);
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

    std::unique_ptr<FrameProcessor> processor =
        make_frame_processor(library, options.settings, options.jobs, options.tile, input->name(), format.width,
                             format.height);
    // Remote messages never set the display slider, so the command line
    // decides whether the output shows coefficients.
    const bool neutral_chroma = options.settings.sliders[kDisplaySlider] != 0;
    const bool want_preview = !options.preview.empty();

    Progress progress(!options.quiet && isatty(STDERR_FILENO), reader->frame_count());
    struct InFlight {
        Picture original;
        int64_t number;
    };
    std::deque<InFlight> in_flight;
    std::vector<YcPixel> host, processed;
    std::vector<YcPixel> preview_before, preview_after;
    Picture result;
    int64_t frames_done = 0;

    auto finish_oldest = [&] {
        InFlight& oldest = in_flight.front();
        processor->take(processed);
        host_to_picture(format, oldest.original, processed, neutral_chroma, result);
        writer->write(result);
        if (reference) reference->compare(oldest.number, oldest.original, result);
        if (want_preview && oldest.number == options.preview_frame) preview_after = processed;
        in_flight.pop_front();
        progress.update(++frames_done);
    };

    for (int64_t number = 0;; ++number) {
        Picture picture;
        if (!reader->read(picture)) break;
        picture_to_host(format, picture, host);
        if (want_preview && number == options.preview_frame) preview_before = host;
        if (processor->in_flight() == processor->capacity()) finish_oldest();
        in_flight.push_back({std::move(picture), number});
        processor->submit(host, format.width, format.height, number);
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
