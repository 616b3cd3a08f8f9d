// A PNG of one frame before and after, side by side, for a quick look at
// what the settings do.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/records.h"
#include "run/output_file.h"

namespace zeverive::cli {

// One host pixel as 8-bit RGB: the host's scale is already normalised
// (Y 0..4096, Cb and Cr +-2048), so this holds for every bit depth.
// BT.601 coefficients.
void host_to_rgb(const YcPixel& pixel, uint8_t rgb[3]);

// An 8-bit RGB PNG of `rgb` (width * height * 3 bytes, rows top first).
// Throws Failure if the encoder fails.
std::string encode_png(const std::vector<uint8_t>& rgb, int width, int height);

// `before` on the left and `after` on the right as a PNG, written to
// `file` (opened before the run, so that a path that cannot be written
// is known early). Throws Failure naming the file.
void write_preview(OutputFile& file, const std::vector<YcPixel>& before, const std::vector<YcPixel>& after, int width,
                   int height);

}  // namespace zeverive::cli
