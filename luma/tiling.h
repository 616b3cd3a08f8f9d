// Frames larger than the plug-in holds, cut into overlapping tiles.
//
// The plug-in leaves frames wider or taller than kMaxLineLength unchanged.
// Each tile goes through the plug-in as a frame of its own; where tiles
// overlap, their results are blended with weights that fall linearly from
// one tile to the next, which hides the seam that the zero padding at each
// tile's border would otherwise leave.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "common/size_class.h"
#include "host/records.h"

namespace zeverive::luma {

constexpr int kTileOverlap = 64;

struct Span {
    int start;
    int length;
    int end() const { return start + length; }
};

// Spans of at most `max_tile` covering [0, length), as few as possible,
// all of about the same length, each overlapping the next by at least
// `overlap` samples. One span when the axis fits. Needs
// max_tile >= 4 * overlap, which keeps a tile's two overlaps apart.
std::vector<Span> split_axis(int length, int max_tile, int overlap);

// How many tiles a frame takes: 1 when it fits.
size_t tile_count(int width, int height, int max_tile, int overlap);

// The blending weight of span `index` at `position` (inside the span):
// 1 where no other span covers it, rising or falling linearly across an
// overlap so that the weights of the spans covering a position add up to 1.
double span_weight(const std::vector<Span>& spans, size_t index, int position);

// Working memory for process_in_tiles, kept from frame to frame, so nothing
// is allocated per frame or per tile once the first frame is through.
struct TileBuffers {
    std::vector<std::vector<YcPixel>> tiles;  // one per lane
    // Blend sums (Y, Cb, Cr) for the rows of one row of tiles, of which only
    // the overlaps are ever written: pages elsewhere are never touched, so
    // they cost address space, not memory.
    std::unique_ptr<double[]> sums;
    size_t sums_size = 0;
    std::vector<double> column_weights;
};

// Runs `process` over every tile of `frame` (width x height pixels, row y
// at frame + y * pitch) and blends the results back into it. Each tile is a
// frame of its own, copied from the original picture, so no tile sees
// another's result. A frame that fits is processed in place as it is.
//
// Tiles go row by row. A pixel only one tile covers takes that tile's
// result as it is; a pixel in an overlap gets the weighted sum of its
// tiles' results, added in tile order and rounded to nearest. A row of the
// frame is written once no later tile reads it, so besides the frame the
// work needs one tile and the overlaps' sums, never a copy of the frame.
void process_in_tiles(YcPixel* frame, int width, int height, int pitch, int max_tile, int overlap,
                      const std::function<void(FrameInfo&)>& process, TileBuffers& buffers);

// The same with the tiles shared among up to `lanes` threads, this one
// among them: `process` gets the lane it runs on (0 to lanes - 1), never
// two tiles on one lane at once, and a frame that fits goes to lane 0.
// The results are blended in the same order, so the frame comes out bit
// for bit as with one lane; the work needs one tile per lane. What
// `process` throws comes out of here once every lane has stopped, with
// the frame partly blended.
void process_in_tiles(YcPixel* frame, int width, int height, int pitch, int max_tile, int overlap, int lanes,
                      const std::function<void(int lane, FrameInfo&)>& process, TileBuffers& buffers);

}  // namespace zeverive::luma
