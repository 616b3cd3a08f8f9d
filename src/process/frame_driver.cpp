// process_frame: a pass along the columns (when the vertical factor is on),
// then a pass along the rows, each with its size class.

#include "process/frame_driver.h"

#include "host/callbacks.h"
#include "host/filter_params.h"
#include "host/slider_index.h"
#include "host/working_state.h"
#include "process/line_pipeline.h"

namespace zeverive {
namespace {

void run_pass(bool along_rows, const FrameInfo& frame, const float derived[kBandCount], int32_t display_value) {
    const SizeClass size = size_class_of(along_rows ? frame.width : frame.height, derived);
    denoise_lines(along_rows, working_state.variant, frame, size.thresholds, size.levels, size.padded_length,
                  display_value);
}

}  // namespace

SizeClass size_class_of(int line_length, const float derived[kBandCount]) {
    // Every level adds one detail band.
    SizeClass size = {kMaxLineLength, kBandCount, {derived[0], derived[1], derived[2], derived[3]}};
    if (line_length <= kSmallLineLength) {
        size.padded_length = kSmallLineLength;
        size.levels = kBandCount - 1;
        size.thresholds[3] = 0.0f;
    }
    return size;
}

}  // namespace zeverive

extern "C" int32_t ZEVERIVE_CDECL process_frame(HostFilter* filter, FrameInfo* frame) {
    using namespace zeverive;
    // Without the working buffers, for frames longer than a line buffer
    // holds, or with no pixels at all, the frame goes back untouched. So
    // does a frame the plug-in cannot read safely: records or arrays
    // missing, or rows that overlap or run backwards. The result is the
    // same as for any frame left alone, so a host sees nothing new.
    if (!working_state.ready) return 1;
    if (!filter || !frame || !filter->slider_values) return 1;
    if (frame->width > kMaxLineLength || frame->height > kMaxLineLength) return 1;
    if (frame->width <= 0 || frame->height <= 0) return 1;
    if (!frame->frame_pixels || frame->row_pitch < frame->width) return 1;

    const int32_t* sliders = filter->slider_values;
    if (sliders[kSliderVertical] > 0) run_pass(false, *frame, filter_params.column_thresholds, 0);
    run_pass(true, *frame, filter_params.row_thresholds, sliders[kSliderDisplay]);
    return 1;
}
