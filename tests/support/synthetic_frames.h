// Frames made with integer arithmetic only, so that the native and the
// i386 build see exactly the same samples.
#pragma once

#include <cstdint>
#include <vector>

#include "support/test_host.h"

namespace zeverive_test {

// A smooth scene: a gentle bowl over two ramps, on the host's 0..4096 scale.
void fill_smooth(TestFrame& frame);

// A vertical edge in the middle: 1000 on the left, 3000 on the right.
void fill_edge(TestFrame& frame);

// Adds approximately Gaussian noise (a sum of twelve uniform draws) of the
// given standard deviation, from a fixed seed.
void add_noise(TestFrame& frame, int sigma, uint32_t seed);

// PSNR of the luminance against a reference frame on the 0..4096 scale.
double psnr(const TestFrame& frame, const TestFrame& reference);

}  // namespace zeverive_test
