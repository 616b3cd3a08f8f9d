// Tiling of frames larger than the plug-in holds: the cut, the weights and
// the blend.

#include <gtest/gtest.h>
#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <functional>
#include <random>
#include <stdexcept>
#include <string>

#include "luma/tile_blend.h"
#include "luma/tiling.h"
#include "luma/noise_estimator.h"
#include "settings/scene_reader.h"
#include "test_support.h"

namespace zeverive::cli {
namespace {

TEST(Tiling, SpansCoverTheAxisWithinTheLimitAndOverlapEnough) {
    for (int length = 1; length <= 5000; length += (length < 900 ? 1 : 7)) {
        SCOPED_TRACE(length);
        const std::vector<luma::Span> spans = luma::split_axis(length, kMaxLineLength, luma::kTileOverlap);
        ASSERT_FALSE(spans.empty());
        EXPECT_EQ(spans.front().start, 0);
        EXPECT_EQ(spans.back().end(), length);
        // As few tiles as the limit and the overlap allow.
        const size_t fewest =
            length <= kMaxLineLength
                ? 1
                : static_cast<size_t>(std::ceil(double(length - luma::kTileOverlap) / (kMaxLineLength - luma::kTileOverlap)));
        EXPECT_EQ(spans.size(), fewest);
        for (size_t i = 0; i < spans.size(); ++i) {
            EXPECT_LE(spans[i].length, kMaxLineLength);
            EXPECT_GE(spans[i].start, 0);
            if (i > 0) {
                EXPECT_GE(spans[i - 1].end() - spans[i].start, luma::kTileOverlap);
                // Neighbours' overlaps never meet inside a tile.
                if (i + 1 < spans.size()) {
                    EXPECT_LT(spans[i - 1].end(), spans[i + 1].start);
                }
            }
        }
    }
}

TEST(Tiling, WeightsAddUpToOneAndFadeAcrossEachOverlap) {
    for (int length : {833, 1080, 1920, 3840}) {
        const std::vector<luma::Span> spans = luma::split_axis(length, kMaxLineLength, luma::kTileOverlap);
        for (int position = 0; position < length; ++position) {
            double sum = 0;
            for (size_t i = 0; i < spans.size(); ++i) {
                if (position < spans[i].start || position >= spans[i].end()) continue;
                const double weight = luma::span_weight(spans, i, position);
                EXPECT_GT(weight, 0.0);
                EXPECT_LE(weight, 1.0);
                sum += weight;
            }
            EXPECT_NEAR(sum, 1.0, 1e-12) << length << " at " << position;
        }
        // Within an overlap the earlier tile's weight falls steadily.
        const luma::Span& second = spans[1];
        double previous = 2.0;
        for (int position = second.start; position < spans[0].end(); ++position) {
            const double weight = luma::span_weight(spans, 0, position);
            EXPECT_LT(weight, previous);
            previous = weight;
        }
    }
}

std::vector<YcPixel> gradient_frame(int width, int height) {
    std::vector<YcPixel> frame(static_cast<size_t>(width) * height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            frame[static_cast<size_t>(y) * width + x] = {static_cast<int16_t>((x * 7 + y * 3) % 4000),
                                                         static_cast<int16_t>(x % 100 - 50),
                                                         static_cast<int16_t>(y % 100 - 50)};
    return frame;
}

TEST(Tiling, EachTileIsAFreshCopyOfTheOriginalWithinTheLimit) {
    const int width = 1920, height = 1080;
    const std::vector<YcPixel> original = gradient_frame(width, height);
    const std::vector<luma::Span> columns = luma::split_axis(width, kMaxLineLength, luma::kTileOverlap);
    const std::vector<luma::Span> rows = luma::split_axis(height, kMaxLineLength, luma::kTileOverlap);
    std::vector<YcPixel> frame = original;
    luma::TileBuffers buffers;
    size_t tile = 0;
    luma::process_in_tiles(frame.data(), width, height, width, kMaxLineLength, luma::kTileOverlap, [&](FrameInfo& info) {
        const luma::Span& across = columns[tile % columns.size()];
        const luma::Span& down = rows[tile / columns.size()];
        ++tile;
        EXPECT_EQ(info.width, across.length);
        EXPECT_EQ(info.height, down.length);
        // Rows a little apart, where a pitch of the width would put them
        // (nearly) a multiple of 4 KiB apart.
        EXPECT_GE(info.row_pitch, info.width);
        EXPECT_LT(info.row_pitch, info.width + 64);
        // A tile shows the input, never a neighbour's result (which would
        // be -1 in the overlap).
        for (int y = 0; y < info.height; ++y) {
            for (int x = 0; x < info.width; ++x) {
                const YcPixel& pixel = info.frame_pixels[y * info.row_pitch + x];
                const YcPixel& expected = original[static_cast<size_t>(down.start + y) * width + across.start + x];
                ASSERT_EQ(pixel.y, expected.y) << "tile " << tile - 1 << " at " << x << "," << y;
                ASSERT_EQ(pixel.cb, expected.cb);
            }
        }
        for (int y = 0; y < info.height; ++y)
            for (int x = 0; x < info.width; ++x) info.frame_pixels[y * info.row_pitch + x].y = -1;
    }, buffers);
    EXPECT_EQ(tile, 3u * 2u);
    // Every tile said -1 everywhere, so the blend is -1 everywhere, and the
    // chroma no tile touched comes back exactly.
    for (size_t i = 0; i < frame.size(); ++i) {
        ASSERT_EQ(frame[i].y, -1);
        ASSERT_EQ(frame[i].cb, original[i].cb);
        ASSERT_EQ(frame[i].cr, original[i].cr);
    }
}

TEST(Tiling, UntouchedTilesBlendBackToTheExactFrame) {
    // One set of buffers for frames of every size, as a worker keeps it.
    luma::TileBuffers buffers;
    for (auto [width, height] : {std::pair{833, 600}, std::pair{1920, 1080}, std::pair{900, 2000}}) {
        const std::vector<YcPixel> original = gradient_frame(width, height);
        std::vector<YcPixel> frame = original;
        luma::process_in_tiles(frame.data(), width, height, width, kMaxLineLength, luma::kTileOverlap, [](FrameInfo&) {}, buffers);
        for (size_t i = 0; i < frame.size(); ++i) {
            ASSERT_EQ(frame[i].y, original[i].y) << width << "x" << height << " at " << i;
            ASSERT_EQ(frame[i].cb, original[i].cb);
        }
    }
}

TEST(Tiling, OverlapsFadeLinearlyBetweenTileResults) {
    // Tile k sets Y to 1000 * k: away from the overlaps the frame shows its
    // tile's value, and across an overlap it moves from one to the next.
    const int width = 1920, height = 100;
    std::vector<YcPixel> frame(static_cast<size_t>(width) * height, YcPixel{0, 0, 0});
    luma::TileBuffers buffers;
    int tile = 0;
    luma::process_in_tiles(frame.data(), width, height, width, kMaxLineLength, luma::kTileOverlap, [&](FrameInfo& info) {
        for (int i = 0; i < info.width * info.height; ++i) info.frame_pixels[i].y = static_cast<int16_t>(1000 * tile);
        ++tile;
    }, buffers);
    const std::vector<luma::Span> spans = luma::split_axis(width, kMaxLineLength, luma::kTileOverlap);
    EXPECT_EQ(frame[10].y, 0);
    EXPECT_EQ(frame[(spans[0].end() + spans[2].start) / 2].y, 1000);
    EXPECT_EQ(frame[width - 1].y, 2000);
    const int overlap_start = spans[1].start, overlap_end = spans[0].end();
    for (int x = overlap_start; x < overlap_end; ++x) {
        const double expected = 1000.0 * (x - overlap_start + 0.5) / (overlap_end - overlap_start);
        EXPECT_NEAR(frame[x].y, expected, 0.5);
        EXPECT_EQ(frame[50 * width + x].y, frame[x].y);
    }
}

// The blend done the plain way, with a copy of the frame and sums for every
// pixel: what process_in_tiles must give bit for bit while holding neither.
void reference_blend(std::vector<YcPixel>& frame, int width, int height,
                     const std::function<void(FrameInfo&, const luma::Span&, const luma::Span&)>& process) {
    const std::vector<luma::Span> columns = luma::split_axis(width, kMaxLineLength, luma::kTileOverlap);
    const std::vector<luma::Span> rows = luma::split_axis(height, kMaxLineLength, luma::kTileOverlap);
    const std::vector<YcPixel> original = frame;
    std::vector<double> sums(frame.size() * 3, 0.0);
    for (size_t r = 0; r < rows.size(); ++r) {
        for (size_t c = 0; c < columns.size(); ++c) {
            const luma::Span &across = columns[c], &down = rows[r];
            std::vector<YcPixel> tile;
            for (int y = down.start; y < down.end(); ++y)
                for (int x = across.start; x < across.end(); ++x) tile.push_back(original[size_t(y) * width + x]);
            FrameInfo info{0, tile.data(), 0, across.length, down.length, across.length};
            process(info, across, down);
            for (int y = down.start; y < down.end(); ++y) {
                for (int x = across.start; x < across.end(); ++x) {
                    const double weight = luma::span_weight(rows, r, y) * luma::span_weight(columns, c, x);
                    const YcPixel& p = tile[size_t(y - down.start) * across.length + (x - across.start)];
                    double* sum = &sums[(size_t(y) * width + x) * 3];
                    sum[0] += weight * p.y;
                    sum[1] += weight * p.cb;
                    sum[2] += weight * p.cr;
                }
            }
        }
    }
    for (size_t i = 0; i < frame.size(); ++i) {
        frame[i] = {static_cast<int16_t>(std::lround(sums[3 * i])), static_cast<int16_t>(std::lround(sums[3 * i + 1])),
                    static_cast<int16_t>(std::lround(sums[3 * i + 2]))};
    }
}

// Tiles whose results depend on where they lie, with odd values that put
// the overlaps' sums on every side of a half.
void shift_by_place(FrameInfo& info, const luma::Span& across, const luma::Span& down) {
    for (int y = 0; y < info.height; ++y) {
        for (int x = 0; x < info.width; ++x) {
            YcPixel& p = info.frame_pixels[y * info.row_pitch + x];
            const int seed = (across.start + x) * 7919 + (down.start + y) * 104729 + across.start * 31 + down.start * 17;
            p.y = static_cast<int16_t>(p.y + seed % 2001 - 1000);
            p.cb = static_cast<int16_t>(-p.cb + seed % 7);
        }
    }
}

// `frame` holds `expected` at every `step`th row from `first_row`, and
// `other` everywhere else.
void expect_rows(const std::vector<YcPixel>& frame, const std::vector<YcPixel>& expected, int width, int first_row,
                 int step, const YcPixel& other) {
    for (size_t i = 0; i < frame.size(); ++i) {
        const int row = static_cast<int>(i / width);
        const bool ours = row >= first_row && (row - first_row) % step == 0;
        const YcPixel& want = ours ? expected[size_t((row - first_row) / step) * width + i % width] : other;
        ASSERT_EQ(frame[i].y, want.y) << "pixel " << i % width << "," << row;
        ASSERT_EQ(frame[i].cb, want.cb) << "pixel " << i % width << "," << row;
        ASSERT_EQ(frame[i].cr, want.cr) << "pixel " << i % width << "," << row;
    }
}

// Layouts of one row, one column, two by two and three by three tiles (the
// corners where four tiles meet, and sums carried from one row of tiles to
// the next). One lane takes the tiles row by row; several lanes take them
// in whatever order their threads come, each tile found by where its
// first pixel lies in the original, and must blend to the same frame. The
// same picture as a field, every other row of a frame, must come out the
// same with the other field untouched.
TEST(Tiling, BlendsExactlyAsSumsOverTheWholeFrameWouldOnAnyNumberOfThreads) {
    luma::TileBuffers buffers;
    for (auto [width, height] : {std::pair{1920, 400}, std::pair{500, 1700}, std::pair{1100, 1300},
                                 std::pair{2200, 2100}, std::pair{1920, 1080}}) {
        SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
        const std::vector<YcPixel> original = gradient_frame(width, height);
        std::vector<YcPixel> expected = original;
        reference_blend(expected, width, height, shift_by_place);
        const std::vector<luma::Span> columns = luma::split_axis(width, kMaxLineLength, luma::kTileOverlap);
        const std::vector<luma::Span> rows = luma::split_axis(height, kMaxLineLength, luma::kTileOverlap);
        std::vector<YcPixel> frame = original;
        size_t tile = 0;
        luma::process_in_tiles(frame.data(), width, height, width, kMaxLineLength, luma::kTileOverlap,
                               [&](FrameInfo& info) {
                                   shift_by_place(info, columns[tile % columns.size()], rows[tile / columns.size()]);
                                   ++tile;
                               },
                               buffers);
        expect_rows(frame, expected, width, 0, 1, {});

        const auto place_of = [&](const FrameInfo& info) {
            std::vector<std::pair<luma::Span, luma::Span>> found;
            for (const luma::Span& down : rows) {
                for (const luma::Span& across : columns) {
                    const YcPixel& first = original[static_cast<size_t>(down.start) * width + across.start];
                    if (first.y == info.frame_pixels[0].y && first.cb == info.frame_pixels[0].cb &&
                        first.cr == info.frame_pixels[0].cr)
                        found.emplace_back(across, down);
                }
            }
            if (found.size() != 1) throw std::logic_error("no tile or several tiles start like this one");
            return found[0];
        };
        // The picture in place of the whole frame (row pitch = width), or
        // as the bottom field of a frame twice as tall (row y at 2y + 1).
        const YcPixel other_field{-7, 7, -7};
        for (int lanes : {2, 3, 7}) {
            for (int step : {1, 2}) {
                SCOPED_TRACE(std::to_string(lanes) + " lanes, row step " + std::to_string(step));
                frame.assign(original.size() * step, other_field);
                for (int y = 0; y < height; ++y)
                    std::copy_n(&original[size_t(y) * width], width, &frame[size_t(y * step + step - 1) * width]);
                std::vector<int> busy(static_cast<size_t>(lanes), 0);
                std::atomic<int> overlapping{0};
                luma::process_in_tiles(
                    frame.data() + size_t(step - 1) * width, width, height, step * width, kMaxLineLength,
                    luma::kTileOverlap, lanes,
                    [&](int lane, FrameInfo& info) {
                        if (busy[lane]++ != 0) ++overlapping;
                        const auto [across, down] = place_of(info);
                        shift_by_place(info, across, down);
                        --busy[lane];
                    },
                    buffers);
                EXPECT_EQ(overlapping, 0) << "a lane got two tiles at once";
                expect_rows(frame, expected, width, step - 1, step, other_field);
            }
        }
    }
}

// The blend's AVX2 loops give the plain ones' bits: sums started and
// added to, over runs of pixels from whole groups of four and eight to a
// rest, and sums that land on halves, on both sides of zero.
#if defined(__x86_64__)
TEST(Tiling, TheWideBlendLoopsGiveThePlainOnesBits) {
    SKIP_WITHOUT_WIDE_LOOPS();
    std::mt19937 random(13);
    std::uniform_int_distribution<int> sample(-32768, 32767);
    // Two passes of weights up to a half keep every sum within the samples'
    // range, as the blend's weights, which add up to one, do.
    std::uniform_real_distribution<double> weight(0.0, 0.5);
    constexpr int kPixels = 83;
    std::vector<YcPixel> result(kPixels);
    std::vector<double> weights(kPixels + 5);
    for (int round = 0; round < 20; ++round) {
        for (YcPixel& pixel : result)
            pixel = {static_cast<int16_t>(sample(random)), static_cast<int16_t>(sample(random) / 8),
                     static_cast<int16_t>(round % 2 ? 0 : sample(random))};
        for (double& w : weights) w = round % 4 == 0 ? 0.5 : weight(random);
        const double row_weight = round % 4 == 0 ? 1.0 : 2 * weight(random);
        const int from = round % 7, to = kPixels - round % 5;
        std::vector<double> plain(3 * kPixels, 0.25), wide = plain;
        for (bool first : {true, false}) {
            luma::blend_row(plain.data(), weights.data(), -3, row_weight, result.data(), from, to, first);
            luma::blend_row_avx2(wide.data(), weights.data(), -3, row_weight, result.data(), from, to, first);
            ASSERT_EQ(std::memcmp(plain.data(), wide.data(), plain.size() * sizeof(double)), 0) << "round " << round;
            std::vector<YcPixel> stored_plain(kPixels), stored_wide(kPixels);
            for (int count : {kPixels, kPixels - from, 1}) {
                luma::store_sums(plain.data(), stored_plain.data(), count);
                luma::store_sums_avx2(plain.data(), stored_wide.data(), count);
                for (int x = 0; x < count; ++x) {
                    ASSERT_EQ(stored_plain[x].y, stored_wide[x].y) << "round " << round << ", pixel " << x;
                    ASSERT_EQ(stored_plain[x].cb, stored_wide[x].cb) << "round " << round << ", pixel " << x;
                    ASSERT_EQ(stored_plain[x].cr, stored_wide[x].cr) << "round " << round << ", pixel " << x;
                }
            }
        }
    }
}
#endif

TEST(Tiling, AFrameThatFitsIsProcessedInPlaceAsOneFrame) {
    std::vector<YcPixel> frame = gradient_frame(832, 832);
    luma::TileBuffers buffers;
    int calls = 0;
    luma::process_in_tiles(frame.data(), 832, 832, 832, kMaxLineLength, luma::kTileOverlap, [&](FrameInfo& info) {
        ++calls;
        EXPECT_EQ(info.frame_pixels, frame.data());
        EXPECT_EQ(info.width, 832);
        EXPECT_EQ(info.height, 832);
    }, buffers);
    EXPECT_EQ(calls, 1);
}

// The bound the README states: with --tile the program holds the frame the
// plug-in sees (6 bytes per pixel), the file's frame as read and as
// written, one tile and the sums of the overlaps of one row of tiles, which
// stays within one and a half times the first three plus 16 MB. Blending
// over sums and a copy of the whole frame took 647 MB here. The run is as
// users run it, with the noise estimated: on top come the frames read
// ahead for the scenes, as the file stores them, and what the estimate
// keeps of its window (luma and the pictures it compares, within 32 MB).
TEST(Tiling, ALargeFrameNeedsLittleMoreThanTheFrameItself) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "AddressSanitizer's shadow memory and quarantine make resident sizes meaningless";
#endif
    const int side = 4096;
    const size_t pixels = size_t(side) * side;
    testing::TempDir dir;
    {
        std::string frame = "FRAME\n";
        frame.reserve(frame.size() + pixels);
        for (size_t i = 0; i < pixels; ++i) frame.push_back(static_cast<char>(16 + (i * 2654435761u >> 24) % 200));
        std::string clip = "YUV4MPEG2 W4096 H4096 F25:1 Ip A1:1 Cmono\n";
        for (int copy = 0; copy < luma::kNoiseSamplePictures + 2; ++copy) clip += frame;
        testing::write_file(dir.path("large.y4m"), clip);
    }
    // A child's peak counts what this process held when it forked: the
    // clip just written and the frames of the tests before are freed but
    // may still be held here.
    malloc_trim(0);
    const testing::RunResult result =
        testing::run(testing::zeverive_binary(), {"--tile", "-j", "1", "-q", dir.path("large.y4m"), dir.path("out.y4m")});
    ASSERT_EQ(result.status, 0) << result.err;
    const double frame_bytes = pixels * (sizeof(YcPixel) + 2.0);
    PictureFormat format;
    format.width = format.height = side;
    format.sampling = luma::Sampling::kMono;
    const double read_ahead = read_ahead_frames(format) * static_cast<double>(pixels);
    EXPECT_LE(result.peak_kib * 1024.0, 1.5 * frame_bytes + 16.0 * 1024 * 1024 + read_ahead + 32.0 * 1024 * 1024)
        << "peak " << result.peak_kib / 1024 << " MiB for a frame of " << frame_bytes / (1024 * 1024) << " MiB";
}

}  // namespace
}  // namespace zeverive::cli
