// The two line lengths the plug-in works with, and the detail bands of a
// decomposed line. A line up to kSmallLineLength samples is padded to that
// length and decomposed over three levels; a longer one is padded to
// kMaxLineLength and decomposed over four. A frame with a side above
// kMaxLineLength is left untouched, which is why the host program tiles
// larger frames.
#pragma once

namespace zeverive {

constexpr int kSmallLineLength = 416;
constexpr int kMaxLineLength = 832;

// Every level halves the approximation, so after four levels of a
// kMaxLineLength line detail band k spans [kBandStart[k], 2 kBandStart[k]),
// coarsest first, and [0, kBandStart[0]) is the approximation. A small line
// ends at kBandStart[3]: its finest band would lie outside it.
constexpr int kBandCount = 4;
constexpr int kBandStart[kBandCount] = {kMaxLineLength / 16, kMaxLineLength / 8, kMaxLineLength / 4,
                                        kMaxLineLength / 2};
static_assert(kBandStart[kBandCount - 1] == kSmallLineLength, "a small line holds the three coarser bands");

}  // namespace zeverive
