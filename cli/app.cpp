#include "app.h"

#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <deque>
#include <iostream>
#include <new>

#include "common/size_class.h"
#include "failure.h"
#include "formats/frame_bytes.h"
#include "formats/video_io.h"
#include "host/slider_index.h"
#include "luma/levels.h"
#include "luma/noise_spectrum.h"
#include "report/listing.h"
#include "report/preview.h"
#include "report/psnr.h"
#include "run/frame_processor.h"
#include "run/memory_budget.h"
#include "run/output_file.h"
#include "run/progress.h"
#include "settings/noise_sample.h"
#include "settings/run_settings.h"

namespace zeverive::cli {
namespace {

std::string decimal(double value, int places) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", places, value);
    return text;
}

// The figure alone on standard output, for scripts; how it was reached on
// standard error, for people.
void report_noise(const NoiseSample& sample, const PictureFormat& format) {
    std::ostream& out = std::cerr;
    out << "frames read: " << sample.frames << "\nflat blocks: " << sample.estimate.blocks
        << "\nfinest band over flat-block spread: " << decimal(sample.estimate.fine_share, 2)
        << "\nsmoothing: " << decimal(sample.estimate.smoothing, 2) << " (0 white noise, 1 as after a 3x3 blur)\n";
    out << "noise by brightness (8-bit codes: deviation, blocks):";
    for (const luma::BrightnessBin& bin : sample.profile.bins()) {
        out << " " << decimal(bin.brightness, 0) << ": "
            << (bin.variance > 0 ? decimal(std::sqrt(bin.variance), 2) : std::string("-")) << " (" << bin.blocks << ")";
    }
    out << "\n";
    if (const std::optional<luma::NoiseLevelFunction> level = sample.profile.rising_level()) {
        out << "growing with brightness: " << decimal(std::sqrt(level->variance(level->darkest)), 2) << " at "
            << decimal(level->darkest, 0) << " to " << decimal(std::sqrt(level->variance(level->brightest)), 2)
            << " at " << decimal(level->brightest, 0);
        if (sample.model.stabiliser)
            out << "; levels stabilised, noise then " << decimal(sample.model.estimate.sigma, 2) << " codes";
        out << "\n";
    }
    auto correlation = [&](const char* along, const luma::Correlation& c) {
        out << "correlation along " << along << " at distances 1, 2, 3: " << decimal(c.at[1], 2) << " "
            << decimal(c.at[2], 2) << " " << decimal(c.at[3], 2) << "\n";
    };
    correlation("rows", sample.model.rows);
    correlation("columns", sample.model.columns);
    out << "noise per band, coarsest to finest, over the picture's:";
    for (double band : luma::band_deviations(sample.model.rows, sample.model.columns, format.width, format.height))
        out << " " << decimal(band, 2);
    out << "\n";
    std::cout << decimal(sample.estimate.sigma, 2) << "\n";
}

// Once, at the first interlaced frame: what the run does with it.
void report_fields(luma::Scan scan, bool& reported) {
    if (reported || scan == luma::Scan::kProgressive) return;
    std::cerr << "zeverive: interlaced frames (" << luma::scan_name(scan)
              << "): denoising field by field (--frames denoises whole frames)\n";
    reported = true;
}

// The plug-in's result at the files' scale, for the preview.
void undo_gain(std::vector<YcPixel>& host, int32_t gain) {
    if (gain == luma::kGainUnity) return;
    for (YcPixel& pixel : host)
        pixel.y = static_cast<int16_t>(std::clamp<int64_t>(int64_t{pixel.y} * luma::kGainUnity / gain, -32768, 32767));
}

bool ends_with(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

std::string past_the_end(int64_t frame, const std::string& input_name, int64_t frames, const std::string& has) {
    return "--preview-frame " + std::to_string(frame) + ": " + input_name + " " + has + " " + std::to_string(frames) +
           " frame" + (frames == 1 ? "" : "s") + " (numbered from 0)";
}

// What the file sizes already tell before the first frame: a preview frame
// past the clip's end, a clean clip of another length.
void check_lengths(const Options& options, const VideoReader& reader, const std::string& input_name,
                   const std::optional<ReferenceClip>& reference) {
    const std::optional<int64_t> at_most = reader.frame_count();
    const std::optional<int64_t> exact = reader.exact_frame_count();
    if (!options.preview.empty() && at_most && options.preview_frame >= *at_most)
        throw Failure(past_the_end(options.preview_frame, input_name, *at_most, exact ? "has only" : "holds at most"));
    if (!reference || !exact) return;
    const std::optional<int64_t> clean = reference->exact_frame_count();
    if (clean && *clean != *exact) {
        throw Failure(options.reference + ": the reference has " + std::to_string(*clean) + " frames, the input " +
                      std::to_string(*exact) + "; the clips do not match");
    }
}

// Memory beside the frames in flight: the decoded pictures of the PSNR
// comparison, the preview's two host frames and a pipe's frames read for
// the noise estimate, held until the run takes them again. (The estimate's
// own working memory is given back before the first frame is processed.)
uint64_t side_memory(const PictureFormat& format, bool reference, bool preview, bool replayed_sample) {
    uint64_t samples = 0;
    for (int plane = 0; plane < format.plane_count(); ++plane) samples += format.plane_samples(plane);
    const uint64_t pixels = format.plane_samples(0);
    return (reference ? 3 * samples * sizeof(int32_t) + frame_bytes(format) : 0) +
           (preview ? 2 * pixels * sizeof(YcPixel) : 0) +
           (replayed_sample ? uint64_t{luma::kNoiseSampleFrames} * frame_bytes(format) : 0);
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
        report_noise(sample_noise(options.input, options.size, options.fields, reader), format);
        return 0;
    }
    const bool host_frames = format.sampling == Sampling::kHost;
    if ((host_frames && ends_with(options.output, ".y4m")) || (!host_frames && ends_with(options.output, ".yc"))) {
        throw Failure(options.output + ": the output has the input's format, " +
                      (host_frames ? "raw host frames: name it .yc" : "YUV4MPEG2: name it .y4m"));
    }

    std::optional<ReferenceClip> reference;
    if (!options.reference.empty()) reference.emplace(options.reference, options.size, format);
    const bool want_preview = !options.preview.empty();
    check_lengths(options, *reader, input->name(), reference);

    const size_t pixels = static_cast<size_t>(format.width) * static_cast<size_t>(format.height);
    const bool replayed_sample = options.auto_settings && !options.sigma && sample_replayed(options.input, *reader);
    // Threads on the tiles of one frame need the memory of one frame in
    // flight, so large frames that do not fit once per processor still get
    // a thread per processor. A -j given is kept or refused as it stands.
    const bool tiled = format.width > kMaxLineLength || format.height > kMaxLineLength;
    const bool tile_threads = tiled && !options.jobs_chosen && library.built_in_plugin() && plugin_copies_available();
    const int jobs = jobs_within_memory(format, options.jobs, options.jobs_chosen,
                                        side_memory(format, reference.has_value(), want_preview, replayed_sample),
                                        memory_limit(), input->name());

    std::vector<std::string> inputs = {options.input};
    if (!options.reference.empty()) inputs.push_back(options.reference);
    if (!options.plugin.empty()) inputs.push_back(options.plugin);
    if (want_preview && (options.preview == options.output || same_file(options.preview, options.output)))
        throw Failure(options.preview + ": the preview and the output need different names");
    std::optional<OutputFile> preview;
    if (want_preview) preview.emplace(options.preview, inputs, "preview");
    OutputFile output(options.output, inputs);
    // A link may lead the preview's name to an output not written yet.
    if (preview && preview->same_target(output))
        throw Failure(options.preview + ": the preview and the output need different names");
    std::unique_ptr<VideoWriter> writer = reader->make_writer(output);

    const RunSettings run = choose_settings(options, library.table(), format, [&] {
        return sample_noise(options.input, options.size, options.fields, reader);
    });
    if (options.auto_settings && !options.quiet) {
        std::cerr << "zeverive: noise " << decimal(run.noise ? run.noise->estimate.sigma : *options.sigma, 2)
                  << (run.noise ? " codes, estimated on " + std::to_string(run.noise->frames) + " frames"
                                : std::string(" codes, as given"))
                  << (run.stabiliser ? ", growing with brightness: levels stabilised to " + decimal(run.sigma, 2) + " codes"
                                     : std::string())
                  << "; settings: " << settings_as_options(run) << "\n";
    }
    // Remote messages never set the display slider, so the command line
    // decides whether the output shows coefficients.
    const FrameWork work{format,
                         run.settings.sliders[kSliderDisplay] != 0,
                         run.gain,
                         !library.built_in_plugin(),
                         run.stabiliser,
                         run.second_pass};
    std::unique_ptr<FrameProcessor> processor;
    try {
        processor = make_frame_processor(library, run.settings, jobs, tile_threads ? options.jobs : jobs, work,
                                         input->name());
    } catch (const std::bad_alloc&) {
        throw Failure(input->name() + ": out of memory for the frames in flight" +
                      (jobs > 1 ? " with -j " + std::to_string(jobs) : std::string()));
    }

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
    int64_t frames_done = 0;
    bool fields_reported = false;
    int64_t frame_at = 0;  // the frame being read or finished

    auto finish_oldest = [&] {
        const InFlight& oldest = in_flight.front();
        frame_at = oldest.number;
        const ProcessedFrame frame = processor->take();
        try {
            writer->write(oldest.frame_parameters, frame.output);
        } catch (const IoError& error) {
            throw frame_failure(output.name(), oldest.number, error.what());
        }
        if (reference) {
            decode_frame(format, frame.input, original);
            decode_frame(format, frame.output, result);
            reference->compare(oldest.number, original, result);
        }
        if (want_preview && oldest.number == options.preview_frame) {
            preview_before.resize(pixels);
            luma::LevelMapping(format).to_host(frame.input, preview_before.data());
            if (run.stabiliser) {
                // The host frame is on the bent scale: show what was written.
                preview_after.resize(pixels);
                luma::LevelMapping(format).to_host(frame.output, preview_after.data());
            } else {
                preview_after.assign(frame.host, frame.host + pixels);
                undo_gain(preview_after, run.gain);
            }
        }
        in_flight.pop_front();
        progress.update(++frames_done);
    };

    try {
        for (int64_t number = 0;; ++number) {
            if (processor->in_flight() == processor->capacity()) finish_oldest();
            frame_at = number;
            std::string frame_parameters;
            if (!reader->read(processor->next_frame(), frame_parameters)) break;
            in_flight.push_back({number, std::move(frame_parameters)});
            const luma::Scan scan = chosen_scan(options.fields, reader->scan_of(in_flight.back().frame_parameters));
            if (!options.quiet) report_fields(scan, fields_reported);
            processor->submit(number, want_preview && number == options.preview_frame, scan);
        }
        while (!in_flight.empty()) finish_oldest();
    } catch (const std::bad_alloc&) {
        throw frame_failure(input->name(), frame_at, "out of memory");
    }
    processor->finish();
    progress.finish(frames_done);
    try {
        output.flush();
    } catch (const IoError& error) {
        throw frame_failure(output.name(), frames_done - 1, error.what());
    }
    output.commit();

    // The output is finished and stays; what fails from here on is
    // reported and makes the exit status 1.
    int status = 0;
    auto report = [&](const std::string& problem) {
        std::cerr << "zeverive: " << problem << "\n";
        status = 1;
    };
    if (preview) {
        try {
            if (options.preview_frame >= frames_done) throw Failure(past_the_end(options.preview_frame, input->name(), frames_done, "has only"));
            write_preview(*preview, preview_before, preview_after, format.width, format.height);
            preview->commit();
        } catch (const Failure& failure) {
            report(failure.what());
        }
    }
    if (reference) {
        std::optional<std::string> mismatch;
        try {
            mismatch = reference->length_mismatch(frames_done);
        } catch (const Failure& failure) {
            mismatch = failure.what();
        }
        if (mismatch) report(*mismatch);
        else reference->report(frames_done, std::cerr);
    }
    return status;
}

}  // namespace zeverive::cli
