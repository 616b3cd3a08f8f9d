// The two line lengths the plug-in works with. A line up to
// kSmallLineLength samples is padded to that length and decomposed over
// three levels; a longer one is padded to kMaxLineLength and decomposed over
// four. A frame with a side above kMaxLineLength is left untouched, which
// is why the host program tiles larger frames.
#pragma once

namespace zeverive {

constexpr int kSmallLineLength = 416;
constexpr int kMaxLineLength = 832;

}  // namespace zeverive
