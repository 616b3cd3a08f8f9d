// The line pipeline's own loops: a line's Y samples into a float line and
// back, the edge mask's start, and the columns' way into and out of the
// column block. They only move and convert, so every form gives the same
// bits; the AVX2 forms exist because these loops, compiled for the
// baseline processor, took a fifth of a four-phase frame.
//
// Samples are 16-bit Y values `stride` apart: kPixelStride in a row of
// host pixels (Y, Cb, Cr), 1 in a gathered column. Cb and Cr are never
// written.
//
// load_line(samples, stride, n, padded_length, dst)
//   dst[k] = sample k as a float for k < n, 0.0 up to padded_length.
//
// store_line(phases, n, padded_length, samples, stride)
//   sample k = the phases' values of sample k averaged and truncated:
//   phase p holds it at (k - rotation[p]) mod padded_length. One phase is
//   truncated from the float itself; two or four are summed in double from
//   0.0 in phase order and multiplied by 1/count (exact). Values beyond
//   the 16-bit range give its nearest end.
//
// fill_mask(mask, length)
//   mask[0 .. length) = 1.0.
//
// gather_columns(y, pitch, n, columns, block)
//   block[c][k] = the Y of pixel c of row k, for c < columns and k < n;
//   `y` is the first pixel's Y, rows are `pitch` 16-bit values apart.
// scatter_columns(block, n, columns, pitch, y)
//   the reverse: every Y from the block, Cb and Cr kept.
//
// Contract: stride kPixelStride or 1; n <= padded_length <=
// kMaxLineLength; phase count 1, 2 or 4, rotations below kMaxPhaseLines;
// no alignment needed; nothing overlaps.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/size_class.h"

namespace zeverive {

constexpr int kPixelStride = 3;
constexpr int kMaxPhaseLines = 4;

// One column of the column block.
typedef int16_t ColumnSamples[kMaxLineLength];

struct PhaseLines {
    const float* line[kMaxPhaseLines];
    int rotation[kMaxPhaseLines];
    int count;
};

void load_line(const int16_t* samples, int stride, int n, int padded_length, float* dst);
void store_line(const PhaseLines& phases, int n, int padded_length, int16_t* samples, int stride);
void fill_mask(float* mask, int length);
void gather_columns(const int16_t* y, ptrdiff_t pitch, int n, int columns, ColumnSamples* block);
void scatter_columns(const ColumnSamples* block, int n, int columns, ptrdiff_t pitch, int16_t* y);

#if defined(__x86_64__)
void load_line_avx2(const int16_t* samples, int stride, int n, int padded_length, float* dst);
void store_line_avx2(const PhaseLines& phases, int n, int padded_length, int16_t* samples, int stride);
void fill_mask_avx2(float* mask, int length);
void gather_columns_avx2(const int16_t* y, ptrdiff_t pitch, int n, int columns, ColumnSamples* block);
void scatter_columns_avx2(const ColumnSamples* block, int n, int columns, ptrdiff_t pitch, int16_t* y);
#endif

}  // namespace zeverive
