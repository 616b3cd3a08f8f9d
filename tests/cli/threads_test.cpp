// Frames through several copies of the built-in plug-in in this process:
// frames in flight on threads, and a large frame's tiles on threads, give
// the bytes one plug-in gives frame after frame, with the plain level
// mapping and with the work of noise that grows with brightness under
// --preset best (the bent mapping and the second pass, which each thread
// does for its own frames). (The program's own runs with -j compare the
// files; these make sure the threads, not forked workers standing in for
// them, did the work.)

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <random>
#include <vector>

#include "formats/frame_bytes.h"
#include "host/slider_index.h"
#include "luma/noise_spectrum.h"
#include "run/in_process.h"
#include "run/threaded_frames.h"

namespace zeverive::cli {
namespace {

// Noisy 8-bit 4:2:0 frames, each its own.
std::vector<std::vector<uint8_t>> noisy_frames(const PictureFormat& format, int count) {
    std::mt19937 random(99);
    std::normal_distribution<double> noise(0.0, 8.0);
    std::vector<std::vector<uint8_t>> frames;
    for (int f = 0; f < count; ++f) {
        std::vector<uint8_t> frame(frame_bytes(format));
        for (size_t i = 0; i < frame.size(); ++i) {
            const double level = 60.0 + (i * 7 + f * 13) % 120;
            frame[i] = static_cast<uint8_t>(std::clamp(level + noise(random), 0.0, 255.0));
        }
        frames.push_back(std::move(frame));
    }
    return frames;
}

// Every frame through the processor, read into its buffers and taken back
// in order as the program does; the outputs.
std::vector<std::vector<uint8_t>> run_through(FrameProcessor& processor, const PictureFormat& format,
                                              const std::vector<std::vector<uint8_t>>& frames,
                                              luma::Scan scan = luma::Scan::kProgressive,
                                              const std::map<size_t, FrameSettings>& changes = {}) {
    std::vector<std::vector<uint8_t>> outputs;
    const size_t bytes = frame_bytes(format);
    const auto take = [&] {
        const ProcessedFrame frame = processor.take();
        outputs.emplace_back(frame.output, frame.output + bytes);
    };
    for (size_t f = 0; f < frames.size(); ++f) {
        if (processor.in_flight() == processor.capacity()) take();
        if (const auto change = changes.find(f); change != changes.end()) processor.change_settings(change->second);
        std::memcpy(processor.next_frame(), frames[f].data(), bytes);
        processor.submit(static_cast<int64_t>(f), false, scan);
    }
    while (outputs.size() < frames.size()) take();
    processor.finish();
    return outputs;
}

FrameSettings mode(const PluginLibrary& library, int32_t value, int32_t gain = luma::kGainUnity) {
    FrameSettings settings{default_settings(library.table()), gain, std::nullopt};
    settings.host.sliders[kSliderMode] = value;
    return settings;
}

// The settings with a stabiliser and the second pass besides.
FrameSettings treated(FrameSettings settings) {
    settings.stabiliser = luma::Stabiliser(luma::NoiseLevelFunction{72.0 / 219, 9 - 16 * 72.0 / 219, 30, 222});
    settings.second_pass = luma::block_noise(luma::Correlation{}, luma::Correlation{},
                                             8 * luma::host_units_per_code(luma::luma_scale(8, settings.gain)));
    return settings;
}

TEST(Threads, FramesInFlightOnCopiesGiveTheBytesOfOnePlugin) {
    const PluginLibrary library = PluginLibrary::built_in();
    const PictureFormat format{353, 241, luma::Sampling::k420, 8};
    const FrameWork work{format, false, false};
    const auto frames = noisy_frames(format, 11);
    for (bool treat : {false, true}) {
        for (int32_t m : {2, 3}) {
            SCOPED_TRACE("mode " + std::to_string(m) + (treat ? ", treated" : ""));
            const FrameSettings settings = treat ? treated(mode(library, m, 700)) : mode(library, m, 700);
            const auto one = run_through(*process_here(library, settings, work), format, frames);
            ASSERT_NE(one[0], frames[0]);
            for (int jobs : {2, 3}) {
                const auto threaded = run_threads(library, settings, jobs, work, "in.y4m");
                EXPECT_EQ(run_through(*threaded, format, frames), one) << jobs << " threads";
            }
        }
    }
}

// Scenes change the settings while earlier frames are still in flight:
// each frame is processed in the settings current when it was submitted,
// on whichever copy takes it, and a trial between frames leaves them so.
TEST(Threads, SettingsChangedBetweenFramesReachEveryCopy) {
    const PluginLibrary library = PluginLibrary::built_in();
    const PictureFormat format{353, 241, luma::Sampling::k420, 8};
    const FrameWork work{format, false, false};
    const auto frames = noisy_frames(format, 11);
    FrameSettings guarded = treated(mode(library, 2, 600));
    guarded.guard_sigma = 2.0;
    const std::map<size_t, FrameSettings> changes = {
        {3, mode(library, 3, 800)}, {7, guarded}, {9, mode(library, 3, 600)}};
    const auto one = run_through(*process_here(library, mode(library, 2), work), format, frames,
                                 luma::Scan::kProgressive, changes);
    ASSERT_NE(one[2], run_through(*process_here(library, mode(library, 3, 800), work), format, frames)[2]);
    ASSERT_NE(one[4], run_through(*process_here(library, mode(library, 2), work), format, frames)[4]);
    ASSERT_NE(one[8], run_through(*process_here(library, mode(library, 2, 600), work), format, frames)[8]);
    ASSERT_EQ(one[10], run_through(*process_here(library, mode(library, 3, 600), work), format, frames)[10]);
    for (int jobs : {2, 3}) {
        EXPECT_EQ(run_through(*run_threads(library, mode(library, 2), jobs, work, "in.y4m"), format, frames,
                              luma::Scan::kProgressive, changes),
                  one)
            << jobs << " threads";
    }

    // Trials, with no frame in flight, give each its own settings' result,
    // in order, however many threads run them and however many more trials
    // than slots there are, and leave every thread in the run's settings.
    const size_t bytes = frame_bytes(format);
    const std::vector<FrameSettings> tried = {mode(library, 3, 800), mode(library, 1), mode(library, 2, 600),
                                              mode(library, 3, 600), mode(library, 0), mode(library, 3, 800)};
    std::vector<std::vector<uint8_t>> alone;
    for (const FrameSettings& settings : tried)
        alone.push_back(run_through(*process_here(library, settings, work), format, {frames[5]})[0]);
    ASSERT_NE(alone[0], alone[1]);
    const std::vector<uint8_t> in_mode_2 =
        run_through(*process_here(library, mode(library, 2), work), format, {frames[5]})[0];
    for (int jobs : {1, 2, 3}) {
        const std::unique_ptr<FrameProcessor> threads = run_threads(library, mode(library, 2), jobs, work, "in.y4m");
        std::memcpy(threads->next_frame(), frames[5].data(), bytes);
        size_t next = 0;
        threads->trials(tried, luma::Scan::kProgressive, [&](size_t trial, const uint8_t* samples) {
            EXPECT_EQ(trial, next++);
            EXPECT_TRUE(std::equal(alone[trial].begin(), alone[trial].end(), samples)) << "trial " << trial;
        });
        EXPECT_EQ(next, tried.size());
        EXPECT_EQ(run_through(*threads, format, {frames[5], frames[0], frames[1], frames[2]}),
                  (std::vector<std::vector<uint8_t>>{in_mode_2, one[0], one[1], one[2]}))
            << jobs << " threads";
    }
}

// The frame as 3 x 2 tiles, or as two fields of 3 x 1 tiles each, read
// through the row pitch.
TEST(Threads, TilesOnCopiesGiveTheBytesOfOnePlugin) {
    const PluginLibrary library = PluginLibrary::built_in();
    const PictureFormat format{1733, 901, luma::Sampling::k420, 8};
    const FrameWork work{format, false, false};
    const auto frames = noisy_frames(format, 2);
    for (bool treat : {false, true}) {
        const FrameSettings settings = treat ? treated(mode(library, 2)) : mode(library, 2);
        for (luma::Scan scan : {luma::Scan::kProgressive, luma::Scan::kBottomFieldFirst}) {
            SCOPED_TRACE(std::string(luma::scan_name(scan)) + (treat ? ", treated" : ""));
            const auto one = run_through(*process_here(library, settings, work), format, frames, scan);
            EXPECT_EQ(run_through(*process_here(library, settings, work, 3), format, frames, scan), one);
            const auto threaded = run_threads(library, settings, 2, work, "in.y4m");
            EXPECT_EQ(run_through(*threaded, format, frames, scan), one);
        }
    }
}

}  // namespace
}  // namespace zeverive::cli
