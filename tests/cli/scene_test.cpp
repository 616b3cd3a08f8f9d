// Scenes: where the tracker starts one (a cut, a change of noise) and
// where it returns to one, and the program giving each scene of a clip the
// settings for its own noise.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <regex>
#include <vector>

#include "luma/scene_cells.h"
#include "luma/scene_tracker.h"
#include "test_support.h"

namespace zeverive::cli {
namespace {

constexpr int kWidth = 256;
constexpr int kHeight = 192;

double landscape(int x, int y) {
    return 110 + 50 * std::sin(x / 17.0) * std::cos(y / 13.0) + 12 * std::sin(x / 2.1 + y / 3.3) + (x > 140 ? 25 : 0);
}
double portrait(int x, int y) {
    return 150 - 60 * std::cos(x / 23.0 + y / 29.0) + 10 * std::sin(x / 1.7) * std::sin(y / 2.3);
}

// Frame `frame` of a picture panned 2 pixels right per frame, with noise
// of `sigma` codes (fresh in every frame), rounded to codes.
std::vector<uint8_t> frame_of(double (*picture)(int, int), int frame, double sigma, testing::Noise& noise) {
    std::vector<uint8_t> luma(static_cast<size_t>(kWidth) * kHeight);
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x)
            luma[static_cast<size_t>(y) * kWidth + x] = static_cast<uint8_t>(
                std::clamp(std::lround(picture(x + 2 * frame, y) + sigma * noise.gaussian()), 0L, 255L));
    return luma;
}

luma::ScenePlacement place(luma::SceneTracker& tracker, const std::vector<uint8_t>& luma) {
    const std::vector<float> codes(luma.begin(), luma.end());
    return tracker.add_picture({codes.data(), kWidth, kHeight, 0, 255});
}

// A clip that cuts from one picture to another and back: the return is
// the first scene again, and so is the picture after a single flash.
// The AVX2 loop reads the tracker's cells as the plain one does, to the
// bit: rows of whole groups of eight cells and a rest, codes as files give
// them and host levels with fractions, zeros of both signs.
#if defined(__x86_64__)
TEST(Scenes, TheWideLoopReadsEveryCellAsThePlainOne) {
    SKIP_WITHOUT_WIDE_LOOPS();
    std::mt19937 random(3);
    std::uniform_real_distribution<float> level(-300.0f, 300.0f);
    std::uniform_int_distribution<int> code(0, 255);
    for (int cells : {1, 7, 8, 9, 23, 90, 240}) {
        const size_t samples = static_cast<size_t>(cells) * luma::kSceneCell;
        for (int kind = 0; kind < 3; ++kind) {
            SCOPED_TRACE(::testing::Message() << cells << " cells, kind " << kind);
            std::vector<float> rows(4 * samples);
            for (float& v : rows) v = kind == 0 ? static_cast<float>(code(random)) : kind == 1 ? level(random) : 0.0f;
            if (kind == 2)
                for (size_t i = 0; i < rows.size(); i += 3) rows[i] = -0.0f;
            std::vector<float> figures[2][4];
            for (auto& run : figures) {
                for (auto& figure : run) figure.assign(static_cast<size_t>(cells), 0.0f);
                run[2].assign(static_cast<size_t>(cells), 1e9f);
                run[3].assign(static_cast<size_t>(cells), -1e9f);
            }
            for (int pair = 0; pair < 2; ++pair) {
                const float* row = rows.data() + 2 * pair * samples;
                luma::add_cell_rows(row, row + samples, cells, figures[0][0].data(), figures[0][1].data(),
                                    figures[0][2].data(), figures[0][3].data());
                luma::add_cell_rows_avx2(row, row + samples, cells, figures[1][0].data(), figures[1][1].data(),
                                         figures[1][2].data(), figures[1][3].data());
            }
            for (int figure = 0; figure < 4; ++figure)
                for (int cx = 0; cx < cells; ++cx)
                    ASSERT_EQ(std::memcmp(&figures[0][figure][cx], &figures[1][figure][cx], sizeof(float)), 0)
                        << "figure " << figure << ", cell " << cx << ": " << figures[0][figure][cx] << " against "
                        << figures[1][figure][cx];
        }
    }
}
#endif

TEST(Scenes, CutsStartScenesAndCuttingBackReturnsToOne) {
    testing::Noise noise(1);
    luma::SceneTracker tracker;
    const std::vector<std::pair<double (*)(int, int), int>> frames = {
        {landscape, 0}, {landscape, 1}, {portrait, 0}, {landscape, 2}, {portrait, 1}, {landscape, 3}};
    const int expected[] = {0, 0, 1, 0, 1, 0};
    const bool first[] = {true, false, true, false, false, false};
    for (size_t i = 0; i < frames.size(); ++i) {
        const luma::ScenePlacement placed = place(tracker, frame_of(frames[i].first, frames[i].second, 2, noise));
        EXPECT_EQ(placed.scene, expected[i]) << "frame " << i;
        EXPECT_EQ(placed.first, first[i]) << "frame " << i;
    }
    std::vector<uint8_t> flash = frame_of(landscape, 4, 2, noise);
    for (uint8_t& v : flash) v = static_cast<uint8_t>(std::min(255, v + 60));
    EXPECT_TRUE(place(tracker, flash).first);
    EXPECT_EQ(place(tracker, frame_of(landscape, 5, 2, noise)).scene, 0);
}

// Noise that changes level without a cut begins a scene at the first
// frame of the new level, once the next frame confirms it.
TEST(Scenes, ANewNoiseLevelBeginsAScene) {
    testing::Noise noise(2);
    luma::SceneTracker tracker;
    for (int f = 0; f < 4; ++f) EXPECT_EQ(place(tracker, frame_of(landscape, f, 0, noise)).scene, 0);
    const luma::ScenePlacement departed = place(tracker, frame_of(landscape, 4, 5, noise));
    EXPECT_EQ(departed.scene, 0);
    const luma::ScenePlacement confirmed = place(tracker, frame_of(landscape, 5, 5, noise));
    EXPECT_EQ(confirmed.scene, 1);
    EXPECT_TRUE(confirmed.previous_moves);
    EXPECT_EQ(place(tracker, frame_of(landscape, 6, 5, noise)).scene, 1);
}

struct Denoised {
    testing::RunResult result;
    std::vector<std::vector<uint8_t>> luma;
};

Denoised denoise(const std::string& input, const std::string& output, const std::string& jobs,
                 const std::string& plugin = "") {
    Denoised run;
    std::vector<std::string> args = {"-j", jobs, input, output};
    if (!plugin.empty()) args.insert(args.begin(), {"--plugin", plugin});
    run.result = testing::zeverive(args);
    run.luma = testing::luma_of_y4m(testing::read_file(output), kWidth, kHeight);
    return run;
}

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
    return sum == 0 ? 99 : 10 * std::log10(255.0 * 255 * a.size() / sum);
}

// The noises the run reported, scene by scene.
std::vector<double> reported_noises(const std::string& err) {
    std::vector<double> noises;
    const std::regex noise("noise ([0-9.]+) codes");
    for (auto i = std::sregex_iterator(err.begin(), err.end(), noise); i != std::sregex_iterator(); ++i)
        noises.push_back(std::stod((*i)[1]));
    return noises;
}

// A clip whose second half is noisy: the clean half comes out as it went
// in, the noisy half is denoised for its own noise (one estimate for the
// whole clip left it untouched). Two levels of noise likewise get one
// setting each. Threads on copies of the built-in plug-in and worker
// processes for a plug-in file give the same bytes: each copy and each
// worker takes the second scene's settings before its first frame in it.
TEST(Scenes, EachSceneIsDenoisedForItsOwnNoise) {
    testing::TempDir dir;
    testing::Noise noise(3);
    std::vector<std::vector<uint8_t>> clean, half_noisy, two_levels;
    for (int f = 0; f < 12; ++f) {
        clean.push_back(frame_of(landscape, f, 0, noise));
        half_noisy.push_back(f < 6 ? clean.back() : frame_of(landscape, f, 5, noise));
        two_levels.push_back(frame_of(landscape, f, f < 6 ? 2 : 8, noise));
    }
    testing::write_file(dir.path("half.y4m"), testing::y4m_from_luma(kWidth, kHeight, half_noisy));
    const Denoised half = denoise(dir.path("half.y4m"), dir.path("half-out.y4m"), "1");
    ASSERT_EQ(half.result.status, 0) << half.result.err;
    ASSERT_EQ(reported_noises(half.result.err).size(), 2u) << half.result.err;
    for (int f = 0; f < 6; ++f) EXPECT_GE(psnr(half.luma[f], clean[f]), 45) << "frame " << f;
    for (int f = 6; f < 12; ++f)
        EXPECT_GT(psnr(half.luma[f], clean[f]), psnr(half_noisy[f], clean[f]) + 2) << "frame " << f;

    testing::write_file(dir.path("two.y4m"), testing::y4m_from_luma(kWidth, kHeight, two_levels));
    const Denoised two = denoise(dir.path("two.y4m"), dir.path("two-out.y4m"), "1");
    ASSERT_EQ(two.result.status, 0) << two.result.err;
    const std::vector<double> noises = reported_noises(two.result.err);
    ASSERT_EQ(noises.size(), 2u) << two.result.err;
    EXPECT_NEAR(noises[0], 2, 0.3);
    EXPECT_NEAR(noises[1], 8, 1.0);
    for (int f = 0; f < 12; ++f)
        EXPECT_GT(psnr(two.luma[f], clean[f]), psnr(two_levels[f], clean[f]) + 1) << "frame " << f;

    for (const std::string& plugin : {std::string(), testing::shared_plugin()}) {
        for (const char* jobs : {"2", "3"}) {
            const Denoised run = denoise(dir.path("two.y4m"), dir.path("two-jobs.y4m"), jobs, plugin);
            ASSERT_EQ(run.result.status, 0) << run.result.err;
            EXPECT_TRUE(testing::read_file(dir.path("two-jobs.y4m")) == testing::read_file(dir.path("two-out.y4m")))
                << "-j " << jobs << (plugin.empty() ? "" : " --plugin");
        }
    }
}

// A cut from white noise to noise growing with brightness: only the second
// scene's levels are stabilised, and under --preset best both scenes get
// the second pass. Every copy and every worker takes the curve and the
// pass with the second scene's settings: threads and worker processes give
// the bytes of one.
TEST(Scenes, TheStabiliserAndTheSecondPassFollowTheScene) {
    testing::TempDir dir;
    testing::Noise noise(5);
    std::vector<std::vector<uint8_t>> frames;
    for (int f = 0; f < 6; ++f) frames.push_back(frame_of(landscape, f, 2, noise));
    for (int f = 0; f < 6; ++f) {
        std::vector<uint8_t> luma(static_cast<size_t>(kWidth) * kHeight);
        for (int y = 0; y < kHeight; ++y)
            for (int x = 0; x < kWidth; ++x) {
                const double level = 24 + 200.0 * x / kWidth + 10 * std::sin((y + 3 * f) / 19.0);
                const double deviation = std::sqrt(72.0 / 219 * level + 9 - 16 * 72.0 / 219);
                luma[static_cast<size_t>(y) * kWidth + x] =
                    static_cast<uint8_t>(std::clamp(std::lround(level + deviation * noise.gaussian()), 0L, 255L));
            }
        frames.push_back(std::move(luma));
    }
    testing::write_file(dir.path("cut.y4m"), testing::y4m_from_luma(kWidth, kHeight, frames));
    const testing::RunResult one = testing::zeverive({"--preset", "best", "-j", "1", dir.path("cut.y4m"), dir.path("one.y4m")});
    ASSERT_EQ(one.status, 0) << one.err;
    const size_t second = one.err.find("a new scene");
    ASSERT_NE(second, std::string::npos) << one.err;
    EXPECT_EQ(one.err.find("levels stabilised"), one.err.find("levels stabilised", second)) << one.err;
    EXPECT_NE(one.err.find("levels stabilised", second), std::string::npos) << one.err;
    for (const std::string& plugin : {std::string(), testing::shared_plugin()}) {
        for (const char* jobs : {"2", "3"}) {
            std::vector<std::string> args = {"--preset", "best", "-j", jobs, dir.path("cut.y4m"), dir.path("jobs.y4m")};
            if (!plugin.empty()) args.insert(args.begin(), {"--plugin", plugin});
            const testing::RunResult run = testing::zeverive(args);
            ASSERT_EQ(run.status, 0) << run.err;
            EXPECT_TRUE(testing::read_file(dir.path("jobs.y4m")) == testing::read_file(dir.path("one.y4m")))
                << "-j " << jobs << (plugin.empty() ? "" : " --plugin");
        }
    }
}

}  // namespace
}  // namespace zeverive::cli
