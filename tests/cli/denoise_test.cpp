// The host program with the real plug-in: what denoising does to luma and
// leaves alone, worker processes, loaded builds, remote messages, tile
// seams, fields and the coefficient display.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

#include "test_support.h"

namespace zeverive::cli {
namespace {

using testing::make_y4m;
using testing::read_file;
using testing::RunResult;
using testing::TempDir;
using testing::write_file;
using testing::ClipShape;
using testing::clip_shape;
using testing::Noise;

using testing::zeverive;

// Settings at which the plug-in clearly removes noise of a few codes.
const std::vector<std::string> kStrong = {"--strength", "200", "--nr2", "100", "--nr3",
                                          "100",        "--nr4", "100", "--nr5h", "100"};

std::vector<std::string> plus(std::vector<std::string> args, const std::vector<std::string>& more) {
    args.insert(args.end(), more.begin(), more.end());
    return args;
}

int32_t sample_at(const std::string& plane, size_t index, int depth) {
    if (depth <= 8) return static_cast<uint8_t>(plane[index]);
    return static_cast<uint8_t>(plane[2 * index]) | static_cast<uint8_t>(plane[2 * index + 1]) << 8;
}

void set_sample(std::string& plane, size_t index, int depth, int32_t value) {
    if (depth <= 8) {
        plane[index] = static_cast<char>(value);
    } else {
        plane[2 * index] = static_cast<char>(value & 0xFF);
        plane[2 * index + 1] = static_cast<char>(value >> 8);
    }
}

double mean_squared_error(const std::string& a, const std::string& b, int depth) {
    const size_t count = a.size() / (depth > 8 ? 2 : 1);
    double sum = 0;
    for (size_t i = 0; i < count; ++i) {
        const double d = sample_at(a, i, depth) - sample_at(b, i, depth);
        sum += d * d;
    }
    return sum / count;
}

TEST(Denoise, LumaIsDenoisedWhileHeaderFrameLinesAndChromaAreCarried) {
    TempDir dir;
    for (const char* colourspace : {"420jpeg", "422", "444", "mono", "420p10", "422p12", "444p16", "mono16"}) {
        SCOPED_TRACE(colourspace);
        ClipShape shape = clip_shape(colourspace, 160, 96);
        shape.frames = 2;
        shape.extra_header = " Ip A1:1 XCOLORRANGE=LIMITED";
        shape.frame_params = {" Xa=1", " Ib"};
        const int depth = shape.bit_depth;
        const double unit = std::ldexp(1.0, depth - 8);
        // Random chroma from make_y4m; luma a smooth picture, clean and
        // with Gaussian noise of 3 codes (at 8 bits) on top.
        std::string clean_bytes = make_y4m(shape);
        testing::Y4mParts clean = testing::split_y4m(clean_bytes, shape);
        std::string noisy_bytes = clean.header + "\n";
        Noise noise(7);
        for (int f = 0; f < shape.frames; ++f) {
            std::string noisy_luma = clean.luma[f];
            for (int y = 0; y < shape.height; ++y) {
                for (int x = 0; x < shape.width; ++x) {
                    const double value = 120 + 60 * std::sin(x / 9.0 + f) * std::cos(y / 7.0) + 0.3 * x;
                    const size_t i = static_cast<size_t>(y) * shape.width + x;
                    set_sample(clean.luma[f], i, depth, static_cast<int32_t>(std::lround(value * unit)));
                    set_sample(noisy_luma, i, depth,
                               static_cast<int32_t>(std::lround((value + 3 * noise.gaussian()) * unit)));
                }
            }
            noisy_bytes += clean.frame_lines[f] + "\n" + noisy_luma + clean.chroma[f];
        }
        write_file(dir.path("noisy.y4m"), noisy_bytes);

        const RunResult result = zeverive(plus({dir.path("noisy.y4m"), dir.path("out.y4m")}, kStrong));
        ASSERT_EQ(result.status, 0) << result.err;
        const testing::Y4mParts noisy = testing::split_y4m(noisy_bytes, shape);
        const testing::Y4mParts out = testing::split_y4m(read_file(dir.path("out.y4m")), shape);
        EXPECT_EQ(out.header, noisy.header);
        ASSERT_EQ(out.frame_lines, noisy.frame_lines);
        for (int f = 0; f < shape.frames; ++f) {
            EXPECT_EQ(out.chroma[f], noisy.chroma[f]) << "frame " << f;
            const double before = mean_squared_error(noisy.luma[f], clean.luma[f], depth) / (unit * unit);
            const double after = mean_squared_error(out.luma[f], clean.luma[f], depth) / (unit * unit);
            EXPECT_LT(after, 0.7 * before) << "frame " << f << ": " << before << " -> " << after;
        }
    }
}

// -j 2 and 3 run threads on copies of the built-in plug-in; a loaded
// build runs in forked workers.
TEST(Denoise, ThreadsWorkersAndLoadedBuildsGiveTheSameBytesAsOneBuiltInProcess) {
    TempDir dir;
    const std::string sample = testing::samples_dir() + "/coffee-noisy.y4m";
    ASSERT_EQ(zeverive({"-j", "1", sample, dir.path("one.y4m")}).status, 0);
    const std::string one = read_file(dir.path("one.y4m"));
    ASSERT_EQ(zeverive({"-j", "2", sample, dir.path("two.y4m")}).status, 0);
    EXPECT_EQ(read_file(dir.path("two.y4m")), one);
    ASSERT_EQ(zeverive({"-j", "3", sample, dir.path("three.y4m")}).status, 0);
    EXPECT_EQ(read_file(dir.path("three.y4m")), one);
    ASSERT_EQ(zeverive({"--plugin", testing::shared_plugin(), "-j", "2", sample, dir.path("loaded.y4m")}).status, 0);
    EXPECT_EQ(read_file(dir.path("loaded.y4m")), one);
    // And the plug-in did change the clip.
    EXPECT_NE(one, read_file(sample));

    // The preview and the comparison with a reference see the same frames
    // whether the plug-in ran on this thread or another.
    const std::string clean = testing::samples_dir() + "/coffee-clean.y4m";
    std::string reports[2], previews[2];
    for (int jobs = 1; jobs <= 2; ++jobs) {
        const std::string png = dir.path("p" + std::to_string(jobs) + ".png");
        const RunResult run = zeverive({"-j", std::to_string(jobs), "--preview", png, "--preview-frame", "7",
                                        "--reference", clean, sample, dir.path("seen.y4m")});
        ASSERT_EQ(run.status, 0) << run.err;
        reports[jobs - 1] = run.err;
        previews[jobs - 1] = read_file(png);
    }
    EXPECT_NE(reports[0].find("luma PSNR against"), std::string::npos) << reports[0];
    EXPECT_EQ(reports[1], reports[0]);
    EXPECT_EQ(previews[1], previews[0]);
}

TEST(Denoise, RemoteMessagesSetSlidersAsTheHostEditorWouldSeeThem) {
    TempDir dir;
    const std::string sample = testing::samples_dir() + "/coffee-noisy.y4m";
    auto output_of = [&](const std::vector<std::string>& options) {
        const RunResult result = zeverive(plus({sample, dir.path("out.y4m")}, options));
        EXPECT_EQ(result.status, 0) << result.err;
        return read_file(dir.path("out.y4m"));
    };
    const std::string defaults = output_of({});
    const std::string no_strength = output_of({"--strength", "0"});
    ASSERT_NE(defaults, no_strength);
    // 2031 sets the strength and makes the plug-in recompute its settings.
    EXPECT_EQ(output_of({"--message", "2031:0"}), no_strength);
    // 2030 sets it too, but nothing recomputes until a later message does.
    EXPECT_EQ(output_of({"--message", "2030:0x00000032"}), defaults);
    EXPECT_EQ(output_of({"--message", "2030:0x00000032", "--message", "2027:0x00140032"}), no_strength);
    // A strong setting through messages equals the same sliders as options.
    EXPECT_EQ(output_of({"--message", "2026:0x00280028", "--message", "2029:0x00640064", "--message",
                         "2030:0x00C80064", "--message", "2027:0x00640032", "--edge-lv2", "40"}),
              output_of({"--edge-lv2", "40", "--edge-lv3", "40", "--edge-lv4", "40", "--nr2", "100", "--nr3", "100",
                         "--nr4", "100", "--nr5h", "100", "--strength", "200"}));
}

TEST(Denoise, ErrorNearTileSeamsIsNoWorseThanAwayFromThem) {
    // A natural picture at 1920x1080: the clean sample's first frame, four
    // times larger by bilinear interpolation, with noise of 3 codes.
    const int small_width = 480, small_height = 320, width = 1920, height = 1080;
    const std::vector<uint8_t> small =
        testing::luma_of_y4m(read_file(testing::samples_dir() + "/coffee-clean.y4m"), small_width, small_height)
            .at(0);
    std::vector<uint8_t> clean(static_cast<size_t>(width) * height), noisy(clean.size());
    Noise noise(11);
    for (int y = 0; y < height; ++y) {
        const double sy = std::clamp((y + 0.5) / 4 - 0.5, 0.0, small_height - 1.0);
        const int y0 = std::min(static_cast<int>(sy), small_height - 2);
        for (int x = 0; x < width; ++x) {
            const double sx = std::clamp((x + 0.5) / 4 - 0.5, 0.0, small_width - 1.0);
            const int x0 = std::min(static_cast<int>(sx), small_width - 2);
            const double fx = sx - x0, fy = sy - y0;
            auto at = [&](int yy, int xx) { return static_cast<double>(small[yy * small_width + xx]); };
            const double value = (1 - fy) * ((1 - fx) * at(y0, x0) + fx * at(y0, x0 + 1)) +
                                 fy * ((1 - fx) * at(y0 + 1, x0) + fx * at(y0 + 1, x0 + 1));
            const size_t i = static_cast<size_t>(y) * width + x;
            clean[i] = static_cast<uint8_t>(std::lround(value));
            noisy[i] = static_cast<uint8_t>(std::clamp(std::lround(value + 3 * noise.gaussian()), 0L, 255L));
        }
    }
    TempDir dir;
    write_file(dir.path("noisy.y4m"), testing::y4m_from_luma(width, height, {noisy}));
    const RunResult result = zeverive(plus({"--tile", dir.path("noisy.y4m"), dir.path("out.y4m")}, kStrong));
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<uint8_t> out = testing::luma_of_y4m(read_file(dir.path("out.y4m")), width, height).at(0);

    // Where the tiles of 832 with at least 64 in common overlap: columns
    // 619..682 and 1237..1301, rows 508..571 (the cut of split_axis).
    auto in_overlap = [](int position, const std::vector<std::pair<int, int>>& overlaps, int margin) {
        for (auto [start, end] : overlaps)
            if (position >= start - margin && position < end + margin) return true;
        return false;
    };
    const std::vector<std::pair<int, int>> column_overlaps = {{619, 683}, {1237, 1302}};
    const std::vector<std::pair<int, int>> row_overlaps = {{508, 572}};
    double seam_sum = 0, away_sum = 0, noise_sum = 0;
    size_t seam_count = 0, away_count = 0;
    for (int y = 64; y < height - 64; ++y) {
        for (int x = 64; x < width - 64; ++x) {
            const size_t i = static_cast<size_t>(y) * width + x;
            const double error = (out[i] - clean[i]) * double(out[i] - clean[i]);
            if (in_overlap(x, column_overlaps, 0) || in_overlap(y, row_overlaps, 0)) {
                seam_sum += error;
                ++seam_count;
            } else if (!in_overlap(x, column_overlaps, 64) && !in_overlap(y, row_overlaps, 64)) {
                away_sum += error;
                ++away_count;
                noise_sum += (noisy[i] - clean[i]) * double(noisy[i] - clean[i]);
            }
        }
    }
    const double seam = seam_sum / seam_count, away = away_sum / away_count;
    // The plug-in worked (the comparison means something)...
    EXPECT_LT(away, 0.6 * noise_sum / away_count);
    // ...and the seams are no worse than the rest.
    EXPECT_LE(seam, away * 1.02) << "near seams " << seam << ", away " << away;

    // Tiled frames on several threads give the same bytes as on one.
    const RunResult one = zeverive(plus({"--tile", "-j", "1", dir.path("noisy.y4m"), dir.path("one.y4m")}, kStrong));
    ASSERT_EQ(one.status, 0);
    EXPECT_EQ(read_file(dir.path("one.y4m")), read_file(dir.path("out.y4m")));
}

// An interlaced frame is two pictures: its luma comes out as its two
// fields denoised as frames of their own (an odd height leaves the bottom
// field a row short), in one process or in workers. A frame that a mixed
// stream marks progressive, and every frame under --frames, is denoised
// whole; --fields splits frames the header calls progressive.
TEST(Denoise, InterlacedFramesAreDenoisedFieldByField) {
    const int width = 96, height = 47, top_rows = 24, bottom_rows = 23;
    std::vector<std::vector<uint8_t>> frames(2), tops(2), bottoms(2);
    Noise noise(17);
    for (size_t f = 0; f < frames.size(); ++f) {
        for (int y = 0; y < height; ++y) {
            std::vector<uint8_t>& field = y % 2 ? bottoms[f] : tops[f];
            for (int x = 0; x < width; ++x) {
                // Each field its own picture: the rows of one frame are not
                // the rows of the other field shifted.
                const double level = 60 + x + (y % 2 ? 40 : 0) + 6 * noise.gaussian();
                const uint8_t sample = static_cast<uint8_t>(std::clamp(std::lround(level), 0L, 255L));
                frames[f].push_back(sample);
                field.push_back(sample);
            }
        }
    }
    TempDir dir;
    const std::string progressive = testing::y4m_from_luma(width, height, frames);
    auto with_header = [&](const std::string& interlacing) {
        std::string clip = progressive;
        return clip.insert(clip.find('\n'), " " + interlacing);
    };
    std::string mixed = with_header("Im");
    mixed.replace(mixed.find("FRAME\n"), 6, "FRAME Ibii\n");
    mixed.replace(mixed.rfind("FRAME\n"), 6, "FRAME I1pp\n");
    write_file(dir.path("progressive.y4m"), progressive);
    write_file(dir.path("top.y4m"), with_header("It"));
    write_file(dir.path("bottom.y4m"), with_header("Ib"));
    write_file(dir.path("mixed.y4m"), mixed);
    write_file(dir.path("tops.y4m"), testing::y4m_from_luma(width, top_rows, tops));
    write_file(dir.path("bottoms.y4m"), testing::y4m_from_luma(width, bottom_rows, bottoms));

    std::vector<std::string> settings = plus({"--no-auto"}, kStrong);
    auto luma_out = [&](std::vector<std::string> args, int rows) {
        args.insert(args.end(), {dir.path("out.y4m"), "-q"});
        const RunResult result = zeverive(plus(args, settings));
        EXPECT_EQ(result.status, 0) << result.err;
        return testing::luma_of_y4m(read_file(dir.path("out.y4m")), width, rows);
    };
    // The two fields' clips denoised on their own, woven back into frames.
    auto woven_fields = [&] {
        const auto top_fields = luma_out({dir.path("tops.y4m")}, top_rows);
        const auto bottom_fields = luma_out({dir.path("bottoms.y4m")}, bottom_rows);
        std::vector<std::vector<uint8_t>> woven(frames.size());
        for (size_t f = 0; f < frames.size(); ++f) {
            for (int y = 0; y < height; ++y) {
                const std::vector<uint8_t>& field = y % 2 ? bottom_fields[f] : top_fields[f];
                const auto row = field.begin() + static_cast<std::ptrdiff_t>(y / 2 * width);
                woven[f].insert(woven[f].end(), row, row + width);
            }
        }
        return woven;
    };
    const auto whole = luma_out({dir.path("progressive.y4m")}, height);
    const auto woven = woven_fields();
    ASSERT_NE(woven, whole);

    EXPECT_EQ(luma_out({dir.path("top.y4m")}, height), woven);
    EXPECT_EQ(luma_out({"-j", "2", dir.path("bottom.y4m")}, height), woven);
    EXPECT_EQ(luma_out({"--fields", dir.path("progressive.y4m")}, height), woven);
    EXPECT_EQ(luma_out({"-j", "2", "--frames", dir.path("top.y4m")}, height), whole);
    EXPECT_EQ(luma_out({dir.path("mixed.y4m")}, height),
              (std::vector<std::vector<uint8_t>>{woven[0], whole[1]}));

    // The second pass of --preset best takes each field as a picture of
    // its own too, on one thread or frames in flight on two (the noise
    // given as white, so that nothing is estimated and the fields' clips
    // get the frames' settings).
    settings = {"--preset", "best", "--sigma", "6", "--white"};
    const auto best_woven = woven_fields();
    ASSERT_NE(best_woven, woven);
    EXPECT_EQ(luma_out({"-j", "1", dir.path("top.y4m")}, height), best_woven);
    EXPECT_EQ(luma_out({"-j", "2", dir.path("bottom.y4m")}, height), best_woven);
}

TEST(Denoise, CoefficientDisplayShowsGreyLevelsOnNeutralChroma) {
    TempDir dir;
    const std::string sample = testing::samples_dir() + "/coffee-noisy.y4m";
    const RunResult result = zeverive({"--display", "1", sample, dir.path("out.y4m")});
    ASSERT_EQ(result.status, 0) << result.err;
    const ClipShape shape = clip_shape("420jpeg", 480, 320);
    const testing::Y4mParts in = testing::split_y4m(read_file(sample), shape);
    const testing::Y4mParts out = testing::split_y4m(read_file(dir.path("out.y4m")), shape);
    ASSERT_EQ(out.luma.size(), in.luma.size());
    for (size_t f = 0; f < out.luma.size(); ++f) {
        EXPECT_EQ(out.chroma[f], std::string(in.chroma[f].size(), static_cast<char>(128)));
        // Grey levels 0, 256, ... 4095 of the host's scale, on video levels.
        std::set<int> levels;
        for (char c : out.luma[f]) levels.insert(static_cast<uint8_t>(c));
        EXPECT_GE(*levels.begin(), 16);
        EXPECT_LE(*levels.rbegin(), 235);
        EXPECT_LE(levels.size(), 17u);
        EXPECT_GE(levels.size(), 3u);
    }
}

TEST(Denoise, TheSampleCleansUp) {
    TempDir dir;
    const std::string samples = testing::samples_dir();
    // The settings scripts/demo.sh shows for the sample's noise.
    const RunResult result = zeverive(plus({"--reference", samples + "/coffee-clean.y4m",
                                            samples + "/coffee-noisy.y4m", dir.path("out.y4m")},
                                           plus(kStrong, {"--edge-lv2", "100", "--edge-lv3", "100", "--edge-lv4",
                                                          "100", "--edge-lv5", "100"})));
    ASSERT_EQ(result.status, 0) << result.err;
    double before = 0, after = 0;
    const size_t at = result.err.find("input ");
    ASSERT_NE(at, std::string::npos) << result.err;
    ASSERT_EQ(std::sscanf(result.err.c_str() + at, "input %lf dB, output %lf dB", &before, &after), 2) << result.err;
    EXPECT_GT(after, before + 1.5) << result.err;
}

double output_psnr(const RunResult& result) {
    double before = 0, after = 0;
    const size_t at = result.err.find("input ");
    if (at == std::string::npos || std::sscanf(result.err.c_str() + at, "input %lf dB, output %lf dB", &before, &after) != 2)
        ADD_FAILURE() << "no PSNR report in: " << result.err;
    return after;
}

// The second pass of --preset best gains most of a decibel on the sample
// (0.9 dB when it was written): its own sliders are the default run's.
TEST(Denoise, TheBestPresetCleansTheSampleFurtherThanTheDefault) {
    TempDir dir;
    const std::string samples = testing::samples_dir();
    const std::vector<std::string> files = {"--reference", samples + "/coffee-clean.y4m", samples + "/coffee-noisy.y4m",
                                            dir.path("out.y4m")};
    const RunResult plain = zeverive(files);
    const RunResult best = zeverive(plus({"--preset", "best"}, files));
    ASSERT_EQ(plain.status, 0) << plain.err;
    ASSERT_EQ(best.status, 0) << best.err;
    EXPECT_EQ(best.err.substr(0, best.err.find('\n')), plain.err.substr(0, plain.err.find('\n')));
    EXPECT_GT(output_psnr(best), output_psnr(plain) + 0.5) << plain.err << best.err;
}

// Noise growing with brightness, 3 codes in the shadows to 9 in the
// highlights: the default run stabilises the levels, and beats the same
// sliders given by hand, which cannot (0.8 dB when it was written).
TEST(Denoise, NoiseGrowingWithBrightnessIsStabilised) {
    TempDir dir;
    const int width = 320, height = 240;
    Noise noise(11);
    std::vector<std::vector<uint8_t>> clean(2), noisy(2);
    for (int f = 0; f < 2; ++f) {
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const double level = 24 + 200.0 * x / width + 10 * std::sin((y + 5 * f) / 19.0) +
                                     ((x / 40 + y / 30) % 2 ? 12 : -12);
                const double deviation = std::sqrt(72.0 / 219 * level + 9 - 16 * 72.0 / 219);
                clean[f].push_back(static_cast<uint8_t>(std::lround(level)));
                noisy[f].push_back(static_cast<uint8_t>(std::clamp(std::lround(level + deviation * noise.gaussian()), 0L, 255L)));
            }
    }
    write_file(dir.path("clean.y4m"), testing::y4m_from_luma(width, height, clean));
    write_file(dir.path("noisy.y4m"), testing::y4m_from_luma(width, height, noisy));
    const std::vector<std::string> files = {"--reference", dir.path("clean.y4m"), dir.path("noisy.y4m"),
                                            dir.path("out.y4m")};
    const RunResult automatic = zeverive(files);
    ASSERT_EQ(automatic.status, 0) << automatic.err;
    EXPECT_NE(automatic.err.find("growing with brightness"), std::string::npos) << automatic.err;
    const size_t at = automatic.err.find("settings: ");
    ASSERT_NE(at, std::string::npos) << automatic.err;
    std::vector<std::string> by_hand;
    const std::string settings = automatic.err.substr(at + 10, automatic.err.find('\n', at) - at - 10);
    for (size_t start = 0, end; start < settings.size(); start = end + 1) {
        end = std::min(settings.find(' ', start), settings.size());
        by_hand.push_back(settings.substr(start, end - start));
    }
    const RunResult manual = zeverive(plus(by_hand, files));
    ASSERT_EQ(manual.status, 0) << manual.err;
    EXPECT_GT(output_psnr(automatic), output_psnr(manual) + 0.5) << automatic.err << manual.err;
}

// With no options a clean clip keeps its quality: the estimate reads only
// the rounding to codes and the picture's fine texture, and the settings
// chosen for that leave it within 0.1 dB of what it was.
TEST(Denoise, AutomaticSettingsDoNoHarmToACleanClip) {
    TempDir dir;
    const int width = 256, height = 192;
    std::vector<std::vector<double>> truth(2, std::vector<double>(static_cast<size_t>(width) * height));
    std::vector<std::vector<uint8_t>> frames(2, std::vector<uint8_t>(truth[0].size()));
    for (int f = 0; f < 2; ++f)
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x) {
                const size_t i = static_cast<size_t>(y) * width + x;
                truth[f][i] = 110 + 50 * std::sin((x + 3 * f) / 17.0) * std::cos(y / 13.0) +
                              12 * std::sin(x / 2.1 + y / 3.3) + (x > width / 2 ? 25 : 0);
                frames[f][i] = static_cast<uint8_t>(std::lround(truth[f][i]));
            }
    write_file(dir.path("clean.y4m"), testing::y4m_from_luma(width, height, frames));
    const RunResult result = zeverive({dir.path("clean.y4m"), dir.path("out.y4m")});
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.err.find("settings: --gain"), std::string::npos) << result.err;
    const auto out = testing::luma_of_y4m(read_file(dir.path("out.y4m")), width, height);
    auto psnr = [&](const std::vector<std::vector<uint8_t>>& luma) {
        double sum = 0;
        for (int f = 0; f < 2; ++f)
            for (size_t i = 0; i < truth[f].size(); ++i) sum += (luma[f][i] - truth[f][i]) * (luma[f][i] - truth[f][i]);
        return 10 * std::log10(255.0 * 255.0 * 2 * truth[0].size() / sum);
    };
    EXPECT_GT(psnr(out), psnr(frames) - 0.1) << result.err;
}

}  // namespace
}  // namespace zeverive::cli
