#include "luma/tiling.h"

#include <algorithm>
#include <cstring>

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

// std::lround, inline: the library call took a sixth of a tiled run. The
// truncation and the remainder are exact for sums of this size, and a
// remainder of a half rounds away from zero, as lround does.
int16_t round_to_nearest(double x) {
    const long long whole = static_cast<long long>(x);
    const double rest = x - static_cast<double>(whole);
    return static_cast<int16_t>(rest >= 0.5 ? whole + 1 : rest <= -0.5 ? whole - 1 : whole);
}

// Adds weight * pixel to the sums of one pixel, or starts them for the
// first tile that covers it (0.0 + v is v, so the sums come out as if
// cleared first).
inline void accumulate(double* sum, double weight, const YcPixel& pixel, bool first) {
    if (first) {
        sum[0] = weight * pixel.y;
        sum[1] = weight * pixel.cb;
        sum[2] = weight * pixel.cr;
    } else {
        sum[0] += weight * pixel.y;
        sum[1] += weight * pixel.cb;
        sum[2] += weight * pixel.cr;
    }
}

void store_sums(const double* sum, YcPixel* out, int count) {
    for (int x = 0; x < count; ++x) {
        out[x].y = round_to_nearest(sum[3 * x]);
        out[x].cb = round_to_nearest(sum[3 * x + 1]);
        out[x].cr = round_to_nearest(sum[3 * x + 2]);
    }
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

}  // namespace

void process_in_tiles(YcPixel* frame, int width, int height, int pitch, int max_tile, int overlap,
                      const std::function<void(FrameInfo&)>& process, TileBuffers& buffers) {
    if (width <= max_tile && height <= max_tile) {
        FrameInfo info{0, frame, 0, width, height, pitch};
        process(info);
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
    double* const sums = buffers.sums.get();
    std::vector<YcPixel>& tile = buffers.tile;
    std::vector<double>& column_weights = buffers.column_weights;

    for (size_t r = 0; r < rows.size(); ++r) {
        const Span& down = rows[r];
        const Sharing rows_shared = sharing_of(rows, r);
        // Row y of this row of tiles has its sums at (y - down.start) * width.
        const auto sums_of = [&](int y, int x) {
            return sums + (static_cast<size_t>(y - down.start) * width + x) * 3;
        };
        for (size_t c = 0; c < columns.size(); ++c) {
            const Span& across = columns[c];
            const Sharing columns_shared = sharing_of(columns, c);
            tile.resize(static_cast<size_t>(across.length) * down.length);
            for (int y = 0; y < down.length; ++y) {
                const YcPixel* source = frame + static_cast<size_t>(down.start + y) * pitch + across.start;
                std::copy(source, source + across.length, &tile[static_cast<size_t>(y) * across.length]);
            }
            FrameInfo info{0, tile.data(), 0, across.length, down.length, across.length};
            process(info);

            column_weights.resize(across.length);
            for (int x = 0; x < across.length; ++x) column_weights[x] = span_weight(columns, c, across.start + x);
            for (int y = down.start; y < down.end(); ++y) {
                const YcPixel* result = &tile[static_cast<size_t>(y - down.start) * across.length] - across.start;
                const double row_weight = span_weight(rows, r, y);
                const bool row_first = y >= rows_shared.after_previous;
                const auto blend = [&](int x) {
                    const bool first = row_first && x >= columns_shared.after_previous;
                    accumulate(sums_of(y, x), row_weight * column_weights[x - across.start], result[x], first);
                };
                // What only this tile covers is final, and no later tile
                // reads it: straight into the frame.
                const bool row_alone = y >= rows_shared.after_previous && y < rows_shared.before_next;
                const int alone_from = row_alone ? columns_shared.after_previous : across.end();
                const int alone_to = row_alone ? columns_shared.before_next : across.end();
                for (int x = across.start; x < alone_from; ++x) blend(x);
                std::copy(result + alone_from, result + alone_to, frame + static_cast<size_t>(y) * pitch + alone_from);
                for (int x = alone_to; x < across.end(); ++x) blend(x);
            }
            // The overlap with the previous tile of this row is complete
            // where no other row of tiles shares it: to the frame while its
            // sums are still in the cache.
            if (c > 0) {
                for (int y = rows_shared.after_previous; y < rows_shared.before_next; ++y) {
                    const int from = across.start, to = columns_shared.after_previous;
                    store_sums(sums_of(y, from), frame + static_cast<size_t>(y) * pitch + from, to - from);
                }
            }
        }
        // The rows shared with the previous row of tiles are complete too.
        for (int y = down.start; y < rows_shared.after_previous; ++y)
            store_sums(sums_of(y, 0), frame + static_cast<size_t>(y) * pitch, width);
        // The rows shared with the next row of tiles keep their sums, moved
        // to where that row of tiles looks for them.
        if (rows_shared.before_next < down.end()) {
            std::memmove(sums, sums_of(rows_shared.before_next, 0),
                         sizeof(double) * 3 * static_cast<size_t>(down.end() - rows_shared.before_next) * width);
        }
    }
}

}  // namespace zeverive::luma
