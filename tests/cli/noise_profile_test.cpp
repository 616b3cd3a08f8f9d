// The noise beyond one figure, on frames of known noise: its level by
// brightness, its correlation, the noise it puts into the plug-in's bands
// (against the plug-in's own transform) and the noise thresholds chosen
// from them.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "common/size_class.h"
#include "host/slider_index.h"
#include "kernels/transform.h"
#include "luma/noise_estimator.h"
#include "luma/noise_model.h"
#include "luma/noise_profile.h"
#include "luma/noise_spectrum.h"
#include "luma/treatment.h"
#include "test_support.h"

namespace zeverive::cli {
namespace {

constexpr int kWidth = 320;
constexpr int kHeight = 240;

// Deviation at 8-bit code Y: constant, or growing as sqrt(a Y + b) from
// 3 at black (16) to 9 at white (235).
enum class Level { kFlat, kGrowing };
// White, after a 3x3 box blur, or after a blur along rows only; scaled
// back to unit deviation.
enum class Grain { kWhite, kBlurred, kBlurredAlongRows };

double deviation_at(Level level, double code) {
    if (level == Level::kFlat) return 6.0;
    const double a = (81.0 - 9.0) / 219.0;
    return std::sqrt(a * code + 9.0 - 16 * a);
}

// Unit noise, blurred as asked.
std::vector<double> grain(Grain kind, int width, int height, uint32_t seed) {
    testing::Noise noise(seed);
    std::vector<double> field(static_cast<size_t>(width) * height);
    for (double& v : field) v = noise.gaussian();
    if (kind == Grain::kWhite) return field;
    const int reach_y = kind == Grain::kBlurred ? 1 : 0;
    const double scale = kind == Grain::kBlurred ? 3.0 : std::sqrt(3.0);
    std::vector<double> blurred(field.size());
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            double sum = 0;
            for (int dy = -reach_y; dy <= reach_y; ++dy)
                for (int dx = -1; dx <= 1; ++dx)
                    sum += field[static_cast<size_t>((y + dy + height) % height) * width + (x + dx + width) % width];
            blurred[static_cast<size_t>(y) * width + x] = sum / scale;
        }
    return blurred;
}

// Gentle ramps over the whole video range, with noise; unrounded, so that
// rounding to codes does not add to the noise being read.
std::vector<float> frame(Level level, Grain kind, uint32_t seed) {
    const std::vector<double> noise = grain(kind, kWidth, kHeight, seed);
    std::vector<float> luma(noise.size());
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < kWidth; ++x) {
            const double clean = 20 + 210.0 * x / kWidth + 6 * std::sin(y / 23.0);
            const size_t i = static_cast<size_t>(y) * kWidth + x;
            luma[i] = static_cast<float>(clean + deviation_at(level, clean) * noise[i]);
        }
    return luma;
}

struct Reading {
    luma::NoiseEstimator estimator;
    luma::NoiseProfile profile;
};

void read(Reading& reading, Level level, Grain kind, int frames = 2) {
    for (int f = 0; f < frames; ++f) {
        const std::vector<float> luma = frame(level, kind, 17u + static_cast<uint32_t>(f) + 100 * static_cast<uint32_t>(kind));
        reading.estimator.add_picture({luma.data(), kWidth, kHeight, -1000, 1000}, 0, &reading.profile);
    }
}

// Flat noise reads flat in every bin and needs no stabilising; noise
// growing with brightness reads its own line, within its error.
TEST(NoiseProfile, TheLevelFollowsBrightnessAndOnlyGrowingNoiseIsStabilised) {
    Reading flat;
    read(flat, Level::kFlat, Grain::kWhite);
    EXPECT_FALSE(flat.profile.rising_level());
    for (const luma::BrightnessBin& bin : flat.profile.bins()) {
        SCOPED_TRACE(bin.brightness);
        ASSERT_GT(bin.blocks, 100u);
        EXPECT_NEAR(std::sqrt(bin.variance), 6.0, 0.6);
    }
    EXPECT_FALSE(luma::model_noise(flat.estimator, flat.profile).stabiliser);

    Reading growing;
    read(growing, Level::kGrowing, Grain::kWhite);
    for (const luma::BrightnessBin& bin : growing.profile.bins()) {
        SCOPED_TRACE(bin.brightness);
        EXPECT_NEAR(std::sqrt(bin.variance), deviation_at(Level::kGrowing, bin.brightness), 0.1 * deviation_at(Level::kGrowing, bin.brightness));
    }
    const std::optional<luma::NoiseLevelFunction> level = growing.profile.rising_level();
    ASSERT_TRUE(level);
    for (double code : {40.0, 125.0, 210.0})
        EXPECT_NEAR(std::sqrt(level->variance(code)), deviation_at(Level::kGrowing, code), 0.08 * deviation_at(Level::kGrowing, code)) << code;
    // After stabilising, the estimate reads one noise for the whole frame:
    // the deviation at mid-grey, where the mapping keeps its scale.
    const luma::NoiseModel model = luma::model_noise(growing.estimator, growing.profile);
    ASSERT_TRUE(model.stabiliser);
    const double middle = std::sqrt(level->variance((level->darkest + level->brightest) / 2));
    EXPECT_NEAR(model.estimate.sigma, middle, 0.1 * middle);
}

// The correlation at distances 1 to 3: none for white noise, 2/3 and 1/3
// after a 3x3 box blur, and along rows only for a blur along rows.
TEST(NoiseProfile, TheCorrelationOfKnownNoiseReadsAsMade) {
    struct Case {
        Grain kind;
        std::array<double, 3> rows;
        std::array<double, 3> columns;
    };
    for (const Case& c : {Case{Grain::kWhite, {0, 0, 0}, {0, 0, 0}},
                          Case{Grain::kBlurred, {2.0 / 3, 1.0 / 3, 0}, {2.0 / 3, 1.0 / 3, 0}},
                          Case{Grain::kBlurredAlongRows, {2.0 / 3, 1.0 / 3, 0}, {0, 0, 0}}}) {
        for (Level level : {Level::kFlat, Level::kGrowing}) {
            SCOPED_TRACE(::testing::Message() << "grain " << static_cast<int>(c.kind) << ", level " << static_cast<int>(level));
            Reading reading;
            read(reading, level, c.kind);
            const luma::Correlation rows = reading.profile.along_rows();
            const luma::Correlation columns = reading.profile.along_columns();
            for (size_t d = 1; d < 4; ++d) {
                EXPECT_NEAR(rows.at[d], c.rows[d - 1], 0.06) << "rows, distance " << d;
                EXPECT_NEAR(columns.at[d], c.columns[d - 1], 0.06) << "columns, distance " << d;
            }
        }
    }
}

// The noise in each of the plug-in's bands, measured through its own
// forward transform on long lines of blurred noise, against what the
// correlation read from frames of that noise predicts; and the noise
// thresholds chosen for it, in proportion.
TEST(NoiseProfile, BandNoiseFromTheCorrelationMatchesThePluginsTransform) {
    Reading reading;
    read(reading, Level::kFlat, Grain::kBlurred, 4);
    const luma::Correlation rows = reading.profile.along_rows();

    // Band k of a decomposed 832-sample line, coarsest first, as the
    // noise thresholds go.
    const std::vector<double> lines = grain(Grain::kBlurredAlongRows, kMaxLineLength, 400, 5);
    std::array<double, kBandCount> sums{};
    std::vector<float> line(kMaxLineLength), out(kMaxLineLength);
    for (int row = 0; row < 400; ++row) {
        for (int x = 0; x < kMaxLineLength; ++x) line[static_cast<size_t>(x)] = static_cast<float>(lines[static_cast<size_t>(row) * kMaxLineLength + x]);
        for (int length = kMaxLineLength; length >= kBandStart[0] * 2; length /= 2) {
            forward_transform_x87(line.data(), length, out.data());
            std::copy(out.begin(), out.begin() + length, line.begin());
        }
        for (int band = 0; band < kBandCount; ++band)
            for (int i = kBandStart[band]; i < 2 * kBandStart[band]; ++i)
                sums[static_cast<size_t>(band)] += line[static_cast<size_t>(i)] * line[static_cast<size_t>(i)];
    }
    const std::array<double, kShrinkSliderCount> predicted = luma::band_deviations(rows, kMaxLineLength);
    std::array<double, kBandCount> measured{};
    for (int band = 0; band < kBandCount; ++band) {
        measured[static_cast<size_t>(band)] = std::sqrt(sums[static_cast<size_t>(band)] / (400.0 * kBandStart[band]));
        EXPECT_NEAR(predicted[static_cast<size_t>(band)], measured[static_cast<size_t>(band)], 0.06) << "band " << band;
    }
    // Far from white: the finest band holds about half the noise, the
    // coarsest more than one and a half times.
    EXPECT_LT(measured[3], 0.6);
    EXPECT_GT(measured[0], 1.5);

    const luma::NoiseModel model = luma::model_noise(reading.estimator, reading.profile);
    ASSERT_GT(model.estimate.smoothing, 0.9);
    const luma::Treatment chosen = luma::treatment_for(model, 720, 480, luma::Preset::kDefault);
    const int32_t* thresholds = chosen.settings.sliders.data() + kSliderShrinkFirst;
    const int32_t white[kShrinkSliderCount] = {40, 60, 80, 100};
    const double most = std::max({measured[0], measured[1], measured[2], measured[3]});
    for (int band = 0; band < kShrinkSliderCount; ++band)
        EXPECT_NEAR(thresholds[band], white[band] * measured[static_cast<size_t>(band)] / most, 4) << "band " << band;
}

}  // namespace
}  // namespace zeverive::cli
