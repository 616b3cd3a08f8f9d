// The scene tracker's figures of a row of 8x8 cells: each cell's running
// sum, finest-band magnitude and extremes, one pair of its rows at a time.
// The plain loop, and on x86-64 its AVX2 twin, which takes eight cells at
// once, each lane doing one cell's operations in the plain loop's order: the
// same bits.
#pragma once

namespace zeverive::luma {

constexpr int kSceneCell = 8;

// Adds rows `row` and `next` (kSceneCell * cells samples each) to the
// figures of `cells` cells: per pair of samples across, the four samples to
// `sum`, the magnitude of their finest band (row[x] - row[x + 1] - next[x] +
// next[x + 1]) to `band`, and their extremes to `lowest` and `highest`.
void add_cell_rows(const float* row, const float* next, int cells, float* sum, float* band, float* lowest,
                   float* highest);

#if defined(__x86_64__)
// The same, where the processor has AVX2 (luma::wide_loops_run()).
void add_cell_rows_avx2(const float* row, const float* next, int cells, float* sum, float* band, float* lowest,
                        float* highest);
#endif

}  // namespace zeverive::luma
