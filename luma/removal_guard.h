// The do-no-harm guard: what a run takes out of a frame's luma must look
// like noise of the level the settings were chosen for.
//
// The frame is cut into regions of 16x16 samples, and in each the change
// the plug-in made (before less after) is read:
//
// - its spread: removing noise of deviation s takes out at most about s
//   (on the development clips at the right settings, 1.3 s in the worst
//   region of a frame); a region that lost more than kMostRemoved times
//   the level lost picture, and its change is scaled down to that;
// - its period: what is taken out of noise has no period (its correlation
//   at two and four samples along rows or columns stays within 0.5 on the
//   development clips). A change alike every other sample with neighbours
//   opposite (correlations above kMostPeriodic at two, below zero at one),
//   or opposite at two samples, or alike every fourth and opposite at two,
//   took out a checkerboard, stripes, a screen: the region keeps its input.
//   (The correlations come from every other row.)
//
// Each region's share of the change is spread bilinearly between region
// centres, so that backing off leaves no seams; where every share is one
// the frame is left exactly as the plug-in made it. A change is read as at
// most 128 codes (at 14 and 16 bits in sixteenths of a code), which keeps
// a region's sums within 32 bits.
#pragma once

#include <cstddef>
#include <cstdint>

#include "luma/guard_regions.h"

namespace zeverive::luma {

constexpr double kMostRemoved = 1.6;
constexpr double kMostPeriodic = 0.7;

// One luma plane of a frame before and after the plug-in, sample by
// sample: `step` samples from one to the next in a row, rows one after the
// other (width * step samples each). `units_per_code` converts the
// samples to 8-bit codes' size, `sigma` is the noise level in codes the
// settings were chosen for. Returns the number of regions that kept less
// than all of their change.
int guard_change(const uint8_t* before, uint8_t* after, int width, int height, double units_per_code,
                 double sigma);
int guard_change(const uint16_t* before, uint16_t* after, int width, int height, double units_per_code,
                 double sigma);
// Host samples, each side with its own step (3 for the Y of YcPixels, 1
// for a plane); the frame's regions read by up to `lanes` threads.
int guard_change(const int16_t* before, ptrdiff_t before_step, int16_t* after, ptrdiff_t after_step, int width,
                 int height, double units_per_code, double sigma, int lanes = 1);

}  // namespace zeverive::luma
