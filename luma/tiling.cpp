#include "luma/tiling.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>

#include "luma/levels_avx2.h"
#include "luma/tile_blend.h"

namespace zeverive::luma {

std::vector<Span> split_axis(int length, int max_tile, int overlap) {
    if (length <= max_tile) return {{0, length}};
    // n tiles of max_tile with overlaps `overlap` cover n*max_tile - (n-1)*overlap.
    const int step = max_tile - overlap;
    const int count = (length - overlap + step - 1) / step;
    // Equal lengths, rounded up; starts spread evenly, so every overlap is
    // at least the requested one.
    const int tile = (length + (count - 1) * overlap + count - 1) / count;
    std::vector<Span> spans;
    for (int i = 0; i < count; ++i) {
        const int start = static_cast<int>((static_cast<int64_t>(length - tile) * i + (count - 1) / 2) / (count - 1));
        spans.push_back({start, tile});
    }
    return spans;
}

size_t tile_count(int width, int height, int max_tile, int overlap) {
    return split_axis(width, max_tile, overlap).size() * split_axis(height, max_tile, overlap).size();
}

double span_weight(const std::vector<Span>& spans, size_t index, int position) {
    const Span& span = spans[index];
    // Pixel centres: the weight is measured at position + 0.5.
    if (index > 0) {
        const Span& previous = spans[index - 1];
        if (position < previous.end()) return (position - span.start + 0.5) / (previous.end() - span.start);
    }
    if (index + 1 < spans.size()) {
        const Span& next = spans[index + 1];
        if (position >= next.start) return 1.0 - (position - next.start + 0.5) / (span.end() - next.start);
    }
    return 1.0;
}

namespace {

// The blend's loops, by the AVX2 forms where they run.
struct BlendLoops {
    void (*row)(double*, const double*, int, double, const YcPixel*, int, int, bool);
    void (*store)(const double*, YcPixel*, int);
};

BlendLoops blend_loops() {
#if defined(__x86_64__)
    if (wide_loops_run()) return {blend_row_avx2, store_sums_avx2};
#endif
    return {blend_row, store_sums};
}

// Where span `index` shares samples with its neighbours: [start, after_previous)
// with the previous span, [before_next, end) with the next one.
struct Sharing {
    int after_previous, before_next;
};

Sharing sharing_of(const std::vector<Span>& spans, size_t index) {
    const Span& span = spans[index];
    return {index > 0 ? spans[index - 1].end() : span.start,
            index + 1 < spans.size() ? spans[index + 1].start : span.end()};
}

// The row pitch of a tile `width` pixels wide, in pixels: a little more
// than its width where rows would lie a multiple of 4 KiB apart, or nearly
// so. The plug-in's passes along columns read and write eight rows at once,
// and rows that far apart share the cache's sets: at 1920x1080 (tiles 683
// wide, rows 4098 bytes apart) its column scatter took a tenth of the run.
int pitch_of(int width) {
    constexpr int kPage = 4096, kNear = 256, kStep = 16;
    int pitch = width;
    const auto offset = [](int pixels) { return static_cast<int>(pixels * sizeof(YcPixel)) % kPage; };
    while (offset(pitch) < kNear || offset(pitch) > kPage - kNear) pitch += kStep;
    return pitch;
}

// What blending the tiles needs besides the tiles: the frame, its spans,
// and the sums of the overlaps.
struct Blend {
    YcPixel* frame;
    int width;
    int pitch;
    const std::vector<Span>& columns;
    const std::vector<Span>& rows;
    double* sums;
    std::vector<double>& column_weights;
    BlendLoops loops;

    // Tile `index` (row by row) as its frame of the original picture.
    FrameInfo tile_frame(size_t index, std::vector<YcPixel>& tile) const {
        const Span& down = rows[index / columns.size()];
        const Span& across = columns[index % columns.size()];
        const int tile_pitch = pitch_of(across.length);
        tile.resize(static_cast<size_t>(tile_pitch) * down.length);
        for (int y = 0; y < down.length; ++y) {
            const YcPixel* source = frame + static_cast<size_t>(down.start + y) * pitch + across.start;
            std::copy(source, source + across.length, &tile[static_cast<size_t>(y) * tile_pitch]);
        }
        return FrameInfo{0, tile.data(), 0, across.length, down.length, tile_pitch};
    }

    // Tile `index`'s result into the sums and the frame; the tiles before
    // it must have been blended. Writes only pixels that no later tile
    // reads.
    void tile(size_t index, const std::vector<YcPixel>& tile) {
        const size_t r = index / columns.size(), c = index % columns.size();
        const Span& down = rows[r];
        const Span& across = columns[c];
        const Sharing rows_shared = sharing_of(rows, r);
        const Sharing columns_shared = sharing_of(columns, c);
        // Row y of this row of tiles has its sums at (y - down.start) * width.
        const auto sums_of = [&](int y, int x) {
            return sums + (static_cast<size_t>(y - down.start) * width + x) * 3;
        };
        column_weights.resize(across.length);
        for (int x = 0; x < across.length; ++x) column_weights[x] = span_weight(columns, c, across.start + x);
        for (int y = down.start; y < down.end(); ++y) {
            const YcPixel* result = &tile[static_cast<size_t>(y - down.start) * pitch_of(across.length)] - across.start;
            const double row_weight = span_weight(rows, r, y);
            const bool row_first = y >= rows_shared.after_previous;
            // Pixels left of the previous tile's end add to its sums; from
            // there on, in a row no tile above covers, they start them.
            double* row_sums = sums_of(y, 0);
            const auto blend = [&](int from, int to) {
                const int split = std::clamp(columns_shared.after_previous, from, to);
                loops.row(row_sums, column_weights.data(), across.start, row_weight, result, from, split, false);
                loops.row(row_sums, column_weights.data(), across.start, row_weight, result, split, to, row_first);
            };
            // What only this tile covers is final, and no later tile
            // reads it: straight into the frame.
            const bool row_alone = y >= rows_shared.after_previous && y < rows_shared.before_next;
            const int alone_from = row_alone ? columns_shared.after_previous : across.end();
            const int alone_to = row_alone ? columns_shared.before_next : across.end();
            blend(across.start, alone_from);
            std::copy(result + alone_from, result + alone_to, frame + static_cast<size_t>(y) * pitch + alone_from);
            blend(alone_to, across.end());
        }
        // The overlap with the previous tile of this row is complete
        // where no other row of tiles shares it: to the frame while its
        // sums are still in the cache.
        if (c > 0) {
            for (int y = rows_shared.after_previous; y < rows_shared.before_next; ++y) {
                const int from = across.start, to = columns_shared.after_previous;
                loops.store(sums_of(y, from), frame + static_cast<size_t>(y) * pitch + from, to - from);
            }
        }
        if (c + 1 < columns.size()) return;
        // The row of tiles is done. The rows shared with the previous row
        // of tiles are complete too.
        for (int y = down.start; y < rows_shared.after_previous; ++y)
            loops.store(sums_of(y, 0), frame + static_cast<size_t>(y) * pitch, width);
        // The rows shared with the next row of tiles keep their sums, moved
        // to where that row of tiles looks for them.
        if (rows_shared.before_next < down.end()) {
            std::memmove(sums, sums_of(rows_shared.before_next, 0),
                         sizeof(double) * 3 * static_cast<size_t>(down.end() - rows_shared.before_next) * width);
        }
    }
};

// The tiles shared among `lanes` threads, the caller's the first: each
// takes the next tile not taken, copies it out of the frame and processes
// it on its own, then waits for the tile's turn to blend it. A tile reads
// only pixels that the blends of the tiles before it leave alone, so it
// may be taken while they are still being blended.
void tiles_on_lanes(Blend& blend, size_t count, int lanes, const std::function<void(int, FrameInfo&)>& process,
                    std::vector<std::vector<YcPixel>>& tiles) {
    std::atomic<size_t> next{0};
    std::mutex turn_mutex;
    std::condition_variable turn_changed;
    size_t turn = 0;
    bool failed = false;
    std::exception_ptr error;
    const auto lane_work = [&](int lane) {
        try {
            for (size_t index = next++; index < count; index = next++) {
                FrameInfo info = blend.tile_frame(index, tiles[lane]);
                process(lane, info);
                {
                    std::unique_lock<std::mutex> lock(turn_mutex);
                    turn_changed.wait(lock, [&] { return turn == index || failed; });
                    if (failed) return;
                }
                blend.tile(index, tiles[lane]);
                {
                    std::lock_guard<std::mutex> lock(turn_mutex);
                    ++turn;
                }
                turn_changed.notify_all();
            }
        } catch (...) {
            std::lock_guard<std::mutex> lock(turn_mutex);
            if (!error) error = std::current_exception();
            failed = true;
            turn_changed.notify_all();
        }
    };
    std::vector<std::thread> helpers;
    for (int lane = 1; lane < lanes; ++lane) {
        try {
            helpers.emplace_back(lane_work, lane);
        } catch (const std::system_error&) {
            break;  // the lanes running take every tile between them
        }
    }
    lane_work(0);
    for (std::thread& helper : helpers) helper.join();
    if (error) std::rethrow_exception(error);
}

}  // namespace

void process_in_tiles(YcPixel* frame, int width, int height, int pitch, int max_tile, int overlap, int lanes,
                      const std::function<void(int, FrameInfo&)>& process, TileBuffers& buffers) {
    if (width <= max_tile && height <= max_tile) {
        FrameInfo info{0, frame, 0, width, height, pitch};
        process(0, info);
        return;
    }
    const std::vector<Span> columns = split_axis(width, max_tile, overlap);
    const std::vector<Span> rows = split_axis(height, max_tile, overlap);

    // Every span of an axis has the same length, so one row of tiles needs
    // sums for rows[0].length rows.
    const size_t sums_size = static_cast<size_t>(rows[0].length) * static_cast<size_t>(width) * 3;
    if (buffers.sums_size < sums_size) {
        buffers.sums.reset(new double[sums_size]);
        buffers.sums_size = sums_size;
    }
    const size_t count = rows.size() * columns.size();
    lanes = static_cast<int>(std::clamp<size_t>(static_cast<size_t>(std::max(lanes, 1)), 1, count));
    if (buffers.tiles.size() < static_cast<size_t>(lanes)) buffers.tiles.resize(static_cast<size_t>(lanes));

    Blend blend{frame, width, pitch, columns, rows, buffers.sums.get(), buffers.column_weights, blend_loops()};
    if (lanes == 1) {
        for (size_t index = 0; index < count; ++index) {
            FrameInfo info = blend.tile_frame(index, buffers.tiles[0]);
            process(0, info);
            blend.tile(index, buffers.tiles[0]);
        }
        return;
    }
    tiles_on_lanes(blend, count, lanes, process, buffers.tiles);
}

void process_in_tiles(YcPixel* frame, int width, int height, int pitch, int max_tile, int overlap,
                      const std::function<void(FrameInfo&)>& process, TileBuffers& buffers) {
    process_in_tiles(frame, width, height, pitch, max_tile, overlap, 1, [&](int, FrameInfo& info) { process(info); },
                     buffers);
}

}  // namespace zeverive::luma
