#include "app.h"

#include <signal.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <deque>
#include <iostream>
#include <map>
#include <new>

#include "common/size_class.h"
#include "failure.h"
#include "formats/field_choice.h"
#include "formats/frame_bytes.h"
#include "formats/video_io.h"
#include "host/slider_index.h"
#include "luma/levels.h"
#include "luma/noise_spectrum.h"
#include "luma/scene_tracker.h"
#include "report/listing.h"
#include "report/preview.h"
#include "report/psnr.h"
#include "run/frame_memory.h"
#include "run/frame_processor.h"
#include "run/mapped_memory.h"
#include "run/memory_budget.h"
#include "run/output_file.h"
#include "run/progress.h"
#include "settings/run_settings.h"
#include "settings/scene_reader.h"

namespace zeverive::cli {
namespace {

std::string decimal(double value, int places) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", places, value);
    return text;
}

std::string confidence(const luma::NoiseEstimate& estimate) {
    return std::string("confidence ") + luma::basis_text(estimate.basis);
}

std::string reading(double sigma) {
    return sigma < 0 ? "none" : decimal(sigma, 2);
}

// --estimate: every frame through the scene tracker; a line per scene and
// how the whole input was measured on standard error, for people, and the
// whole input's noise alone on standard output, for scripts.
// The noise by brightness and its correlation, as the settings read them.
void report_profile(std::ostream& out, const luma::NoiseProfile& profile, const luma::NoiseModel& model,
                    const PictureFormat& format) {
    out << "noise by brightness (8-bit codes: deviation, blocks):";
    for (const luma::BrightnessBin& bin : profile.bins()) {
        out << " " << decimal(bin.brightness, 0) << ": "
            << (bin.variance > 0 ? decimal(std::sqrt(bin.variance), 2) : std::string("-")) << " (" << bin.blocks << ")";
    }
    out << "\n";
    if (const std::optional<luma::NoiseLevelFunction> level = profile.rising_level()) {
        out << "growing with brightness: " << decimal(std::sqrt(level->variance(level->darkest)), 2) << " at "
            << decimal(level->darkest, 0) << " to " << decimal(std::sqrt(level->variance(level->brightest)), 2)
            << " at " << decimal(level->brightest, 0);
        if (model.stabiliser) out << "; levels stabilised, noise then " << decimal(model.estimate.sigma, 2) << " codes";
        out << "\n";
    }
    auto correlation = [&](const char* along, const luma::Correlation& c) {
        out << "correlation along " << along << " at distances 1, 2, 3: " << decimal(c.at[1], 2) << " "
            << decimal(c.at[2], 2) << " " << decimal(c.at[3], 2) << "\n";
    };
    correlation("rows", model.rows);
    correlation("columns", model.columns);
    out << "noise per band, coarsest to finest, over the picture's:";
    for (double band : luma::band_deviations(model.rows, model.columns, format.width, format.height))
        out << " " << decimal(band, 2);
    out << "\n";
}

void report_noise(VideoReader& reader, FieldChoice fields, const std::string& input_name) {
    SceneReader scenes(reader, read_ahead_frames(reader.format()), fields, WholeInput::kKept);
    std::ostream& out = std::cerr;
    int64_t frames = 0;
    try {
        const MappedMemory bytes(addressable(reader.frame_bytes()), MappedMemory::Sharing::kPrivate);
        std::string parameters;
        SceneFrame scene;
        while (scenes.read(bytes.data(), parameters, scene)) {
            ++frames;
            if (!scene.start) continue;
            const luma::NoiseEstimate& e = scene.start->estimate;
            out << "scene " << scene.scene << " from frame " << scene.start->frame << ": noise " << decimal(e.sigma, 2)
                << ", smoothing " << decimal(e.smoothing, 2) << " (" << e.pictures << " pictures read; "
                << confidence(e) << ")\n";
        }
    } catch (const std::bad_alloc&) {
        throw frame_failure(input_name, scenes.frames_read(), "out of memory while estimating the noise");
    }
    const luma::NoiseEstimate whole = scenes.whole_input();
    out << "frames: " << frames << ", pictures read for the estimate: " << whole.pictures
        << "\nthe change between frames reads: " << reading(whole.frames_sigma)
        << "\nthe pictures' spread reads: " << reading(whole.picture_sigma) << "\nblocks read: " << whole.blocks
        << ", left out as structure: " << whole.structure << "\nsmoothing: " << decimal(whole.smoothing, 2)
        << " (0 white noise, 1 as after a 3x3 blur)\n"
        << confidence(whole) << "\n";
    report_profile(out, scenes.whole_profile(), scenes.whole_model(), reader.format());
    std::cout << decimal(whole.sigma, 2) << "\n";
}

// The scene check: the settings for the scene's noise and for less of it,
// each tried on the scene's first frame and held against the next frame
// (luma::ResultCheck). The nearest result wins if it comes nearer than the
// input by kLeastNearer of the input's distance (the check's own scatter);
// none does, and the scene stays as it is. A scene whose motion the
// matching does not follow cannot be checked, and gets kUncheckedShare of
// its level untried. `share` tells which won.
constexpr double kTrialShares[] = {1.0, 0.7, 0.5, 0.35};
constexpr double kLeastNearer = 0.01;
constexpr double kUncheckedShare = 0.35;

SceneSettings checked_settings(const Options& options, const FilterTable& table, const SceneStart& start,
                               FrameProcessor& processor, const PictureFormat& format, luma::Scan scan,
                               double& share) {
    const luma::ResultCheck& check = *start.check;
    if (check.misregistered()) {
        share = kUncheckedShare;
        return choose_settings(options, table, format, start.model, share);
    }
    std::vector<SceneSettings> trials;
    std::vector<FrameSettings> frames;
    for (double trial_share : kTrialShares) {
        trials.push_back(choose_settings(options, table, format, start.model, trial_share));
        frames.push_back(trials.back().frame);
    }
    std::vector<float> luma;
    std::optional<size_t> best;
    double nearest = -kLeastNearer * check.input_distance();
    processor.trials(frames, scan, [&](size_t trial, const uint8_t* result) {
        const double change = check.change_from_input(luma_in_codes(format, result, luma, start.check_picture));
        if (change < nearest) {
            nearest = change;
            best = trial;
        }
    });
    if (best) {
        share = kTrialShares[*best];
        return trials[*best];
    }
    share = 0;
    return choose_settings(options, table, format, start.model, 0.0);
}

// The stderr line for a scene's settings.
std::string scene_report(const Options& options, const SceneSettings& chosen, const std::optional<SceneStart>& scene,
                         double share = 1) {
    std::string text = "zeverive: ";
    if (scene && scene->frame > 0) text += "from frame " + std::to_string(scene->frame) + ", a new scene: ";
    const double given = options.sigma ? *options.sigma : scene ? scene->estimate.sigma : 0.0;
    text += "noise " + decimal(given, 2) + " codes";
    if (options.sigma) {
        text += ", as given";
        if (scene) text += " (smoothing " + decimal(chosen.smoothing, 2) + " from the estimate)";
    } else if (scene) {
        const luma::NoiseEstimate& e = scene->estimate;
        text += ", estimated on " + std::to_string(e.pictures) + " picture" + (e.pictures == 1 ? "" : "s") +
                " (smoothing " + decimal(chosen.smoothing, 2) + "; " + confidence(e) + ")";
    }
    if (chosen.frame.stabiliser && scene) {
        text += ", growing with brightness: levels stabilised to " + decimal(scene->model.estimate.sigma, 2) +
                " codes";
    }
    if (share == 0) {
        text += ", left as it is: no trial came nearer the next frame than the input";
    } else if (scene && scene->check && scene->check->misregistered()) {
        text += ", settings for " + decimal(*chosen.sigma, 2) + " (" + decimal(share, 2) +
                " of it: motion the check against the next frame cannot follow)";
    } else if (share != 1 || options.amount != 1) {
        text += ", settings for " + decimal(*chosen.sigma, 2);
        if (options.amount != 1) text += " (--amount " + decimal(options.amount, 2) + ")";
        if (share != 1) text += " (" + decimal(share, 2) + " of it came nearest the next frame)";
    }
    return text + "; settings: " + settings_as_options(chosen.frame) + "\n";
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

uint64_t estimate_bytes(const PictureFormat& format) {
    const luma::Window window = luma::noise_window(format.width, format.height);
    return 4 * uint64_t(window.width) * uint64_t(window.height) * sizeof(float);
}

// Memory beside the frames in flight: the decoded pictures of the PSNR
// comparison, the preview's two host frames, and the frames read ahead for
// the scenes' noise with what the estimate keeps (the luma it reads and two
// pictures of a scene, in its window).
uint64_t side_memory(const PictureFormat& format, bool reference, bool preview, int read_ahead) {
    uint64_t samples = 0;
    for (int plane = 0; plane < format.plane_count(); ++plane) samples += format.plane_samples(plane);
    const uint64_t pixels = format.plane_samples(0);
    return (reference ? 3 * samples * sizeof(int32_t) + frame_bytes(format) : 0) +
           (preview ? 2 * pixels * sizeof(YcPixel) : 0) +
           (read_ahead ? uint64_t(read_ahead) * frame_bytes(format) + estimate_bytes(format) : 0);
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
        report_noise(*reader, options.fields, input->name());
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
    const int read_ahead = estimates_noise(options) ? read_ahead_frames(format) : 0;
    // Threads on the tiles of one frame need the memory of one frame in
    // flight, so large frames that do not fit once per processor still get
    // a thread per processor. A -j given is kept or refused as it stands.
    const bool tiled = format.width > kMaxLineLength || format.height > kMaxLineLength;
    const bool tile_threads = tiled && !options.jobs_chosen && library.built_in_plugin() && plugin_copies_available();
    const int jobs = jobs_within_memory(format, options.jobs, options.jobs_chosen,
                                        side_memory(format, reference.has_value(), want_preview, read_ahead),
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

    // Without an estimate the settings hold for the whole run; with one,
    // each scene's first frame brings its own.
    SceneSettings current = choose_settings(options, library.table(), format, std::nullopt);
    if (options.auto_settings && !read_ahead && !options.quiet) std::cerr << scene_report(options, current, std::nullopt);
    std::optional<SceneReader> scenes;
    // The estimate reads on two threads where the run has them.
    if (read_ahead) scenes.emplace(*reader, read_ahead, options.fields, WholeInput::kDropped, tile_threads ? options.jobs : jobs);
    // Each scene's settings, kept for a clip that cuts back to it: the
    // tracker returns only to its few latest scenes, so the least lately
    // used beyond twice as many go.
    struct KeptScene {
        SceneSettings settings;
        int64_t last_frame;
    };
    std::map<int, KeptScene> scene_settings;
    int current_scene = -1;
    // Remote messages never set the display slider, so the command line
    // decides whether the output shows coefficients.
    const FrameWork work{format, current.frame.host.sliders[kSliderDisplay] != 0, !library.built_in_plugin()};
    std::unique_ptr<FrameProcessor> processor;
    try {
        processor = make_frame_processor(library, current.frame, jobs, tile_threads ? options.jobs : jobs, work,
                                         input->name());
    } catch (const std::bad_alloc&) {
        throw Failure(input->name() + ": out of memory for the frames in flight" +
                      (jobs > 1 ? " with -j " + std::to_string(jobs) : std::string()));
    }

    Progress progress(!options.quiet && isatty(STDERR_FILENO), reader->frame_count());
    struct InFlight {
        int64_t number;
        std::string frame_parameters;
        int32_t gain;
        bool bent;  // through a stabilising curve: the host frame is on its scale
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
            if (oldest.bent) {
                // Show what was written.
                preview_after.resize(pixels);
                luma::LevelMapping(format).to_host(frame.output, preview_after.data());
            } else {
                preview_after.assign(frame.host, frame.host + pixels);
                undo_gain(preview_after, oldest.gain);
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
            SceneFrame scene;
            if (scenes ? !scenes->read(processor->next_frame(), frame_parameters, scene)
                       : !reader->read(processor->next_frame(), frame_parameters))
                break;
            const luma::Scan scan = chosen_scan(options.fields, reader->scan_of(frame_parameters));
            if (!options.quiet) report_fields(scan, fields_reported);
            if (scenes && scene.start) {
                SceneSettings chosen = choose_settings(options, library.table(), format, scene.start->model);
                double share = 1;
                if (scene.start->check && chosen.frame.host.sliders[kSliderStrength] > 0) {
                    while (!in_flight.empty()) finish_oldest();
                    chosen = checked_settings(options, library.table(), *scene.start, *processor, format, scan, share);
                    current_scene = -1;  // the trials changed the processor's settings
                }
                if (!options.quiet) std::cerr << scene_report(options, chosen, scene.start, share);
                scene_settings[scene.scene] = {std::move(chosen), number};
                if (scene_settings.size() > 2 * luma::SceneTracker::kRecentScenes) {
                    auto oldest = scene_settings.begin();
                    for (auto i = scene_settings.begin(); i != scene_settings.end(); ++i)
                        if (i->second.last_frame < oldest->second.last_frame) oldest = i;
                    scene_settings.erase(oldest);
                }
            }
            if (scenes) {
                KeptScene& kept = scene_settings.at(scene.scene);
                kept.last_frame = number;
                if (scene.scene != current_scene) {
                    current_scene = scene.scene;
                    current = kept.settings;
                    processor->change_settings(current.frame);
                }
            }
            in_flight.push_back(
                {number, std::move(frame_parameters), current.frame.gain, current.frame.stabiliser.has_value()});
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
