#include "tiling.h"

#include <cmath>

namespace zeverive::cli {

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

void process_in_tiles(YcPixel* frame, int width, int height, int max_tile, int overlap,
                      const std::function<void(FrameInfo&)>& process, TileBuffers& buffers) {
    if (width <= max_tile && height <= max_tile) {
        FrameInfo info{0, frame, 0, width, height, width};
        process(info);
        return;
    }
    const std::vector<Span> columns = split_axis(width, max_tile, overlap);
    const std::vector<Span> rows = split_axis(height, max_tile, overlap);
    const size_t pixels = static_cast<size_t>(width) * static_cast<size_t>(height);
    std::vector<YcPixel>& original = buffers.original;
    original.assign(frame, frame + pixels);
    std::vector<double>& sums = buffers.sums;
    sums.assign(pixels * 3, 0.0);
    std::vector<YcPixel>& tile = buffers.tile;
    std::vector<double>& column_weights = buffers.column_weights;

    for (size_t r = 0; r < rows.size(); ++r) {
        for (size_t c = 0; c < columns.size(); ++c) {
            const Span& across = columns[c];
            const Span& down = rows[r];
            tile.resize(static_cast<size_t>(across.length) * down.length);
            for (int y = 0; y < down.length; ++y) {
                const YcPixel* source = &original[static_cast<size_t>(down.start + y) * width + across.start];
                std::copy(source, source + across.length, &tile[static_cast<size_t>(y) * across.length]);
            }
            FrameInfo info{0, tile.data(), 0, across.length, down.length, across.length};
            process(info);

            column_weights.resize(across.length);
            for (int x = 0; x < across.length; ++x) column_weights[x] = span_weight(columns, c, across.start + x);
            for (int y = 0; y < down.length; ++y) {
                const double row_weight = span_weight(rows, r, down.start + y);
                double* sum = &sums[(static_cast<size_t>(down.start + y) * width + across.start) * 3];
                const YcPixel* result = &tile[static_cast<size_t>(y) * across.length];
                for (int x = 0; x < across.length; ++x) {
                    const double weight = row_weight * column_weights[x];
                    sum[3 * x] += weight * result[x].y;
                    sum[3 * x + 1] += weight * result[x].cb;
                    sum[3 * x + 2] += weight * result[x].cr;
                }
            }
        }
    }
    // The weights add up to 1 only up to rounding, so round to nearest: a
    // sample every tile left alone comes back exactly.
    for (size_t i = 0; i < pixels; ++i) {
        frame[i].y = static_cast<int16_t>(std::lround(sums[3 * i]));
        frame[i].cb = static_cast<int16_t>(std::lround(sums[3 * i + 1]));
        frame[i].cr = static_cast<int16_t>(std::lround(sums[3 * i + 2]));
    }
}

}  // namespace zeverive::cli
