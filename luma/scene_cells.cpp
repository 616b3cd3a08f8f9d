#include "luma/scene_cells.h"

#include <algorithm>
#include <cmath>

#include "kernels/avx2_target.h"

namespace zeverive::luma {
namespace {

constexpr int kCell = kSceneCell;

ZEVERIVE_KERNEL_BODY void add_cells(const float* row, const float* next, int from, int to, float* sum, float* band,
                                    float* lowest, float* highest) {
    for (int cx = from; cx < to; ++cx) {
        const float* r = row + cx * kCell;
        const float* n = next + cx * kCell;
        for (int x = 0; x < kCell; x += 2) {
            sum[cx] += r[x] + r[x + 1] + n[x] + n[x + 1];
            band[cx] += std::fabs(r[x] - r[x + 1] - n[x] + n[x + 1]);
            lowest[cx] = std::min(lowest[cx], std::min(std::min(r[x], r[x + 1]), std::min(n[x], n[x + 1])));
            highest[cx] = std::max(highest[cx], std::max(std::max(r[x], r[x + 1]), std::max(n[x], n[x + 1])));
        }
    }
}

}  // namespace

void add_cell_rows(const float* row, const float* next, int cells, float* sum, float* band, float* lowest,
                   float* highest) {
    add_cells(row, next, 0, cells, sum, band, lowest, highest);
}

#if defined(__x86_64__)

namespace {

// Eight cells' rows of eight samples (cell i at p + i * 8) turned so that
// out[j] holds sample j of every cell, cell i in lane i.
ZEVERIVE_AVX2_HELPER void eight_cells(const float* p, __m256 out[kCell]) {
    __m256 r[kCell], t[kCell];
    for (int i = 0; i < kCell; ++i) r[i] = _mm256_loadu_ps(p + i * kCell);
    for (int i = 0; i < kCell; i += 2) {
        t[i] = _mm256_unpacklo_ps(r[i], r[i + 1]);
        t[i + 1] = _mm256_unpackhi_ps(r[i], r[i + 1]);
    }
    // t[0]: 00 10 01 11 | 04 14 05 15, t[1]: 02 12 03 13 | 06 16 07 17 (cell, sample)
    for (int i = 0; i < kCell; i += 4) {
        r[i] = _mm256_shuffle_ps(t[i], t[i + 2], _MM_SHUFFLE(1, 0, 1, 0));
        r[i + 1] = _mm256_shuffle_ps(t[i], t[i + 2], _MM_SHUFFLE(3, 2, 3, 2));
        r[i + 2] = _mm256_shuffle_ps(t[i + 1], t[i + 3], _MM_SHUFFLE(1, 0, 1, 0));
        r[i + 3] = _mm256_shuffle_ps(t[i + 1], t[i + 3], _MM_SHUFFLE(3, 2, 3, 2));
    }
    // r[0..3]: samples 0..3 (low half) and 4..7 (high half) of cells 0..3;
    // r[4..7]: the same of cells 4..7.
    for (int j = 0; j < 4; ++j) {
        out[j] = _mm256_permute2f128_ps(r[j], r[j + 4], 0x20);
        out[j + 4] = _mm256_permute2f128_ps(r[j], r[j + 4], 0x31);
    }
}

}  // namespace

// std::min(a, b) is b < a ? b : a, which is _mm256_min_ps(b, a); std::max(a,
// b) is a < b ? b : a, which is _mm256_max_ps(b, a).
ZEVERIVE_TARGET_AVX2 void add_cell_rows_avx2(const float* row, const float* next, int cells, float* sum, float* band,
                                             float* lowest, float* highest) {
    const __m256 sign = _mm256_set1_ps(-0.0f);
    int cx = 0;
    for (; cx + 8 <= cells; cx += 8) {
        __m256 r[kCell], n[kCell];
        eight_cells(row + cx * kCell, r);
        eight_cells(next + cx * kCell, n);
        __m256 s = _mm256_loadu_ps(sum + cx), b = _mm256_loadu_ps(band + cx);
        __m256 lo = _mm256_loadu_ps(lowest + cx), hi = _mm256_loadu_ps(highest + cx);
        for (int x = 0; x < kCell; x += 2) {
            const __m256 four = _mm256_add_ps(_mm256_add_ps(_mm256_add_ps(r[x], r[x + 1]), n[x]), n[x + 1]);
            s = _mm256_add_ps(s, four);
            const __m256 fine = _mm256_add_ps(_mm256_sub_ps(_mm256_sub_ps(r[x], r[x + 1]), n[x]), n[x + 1]);
            b = _mm256_add_ps(b, _mm256_andnot_ps(sign, fine));
            const __m256 least = _mm256_min_ps(_mm256_min_ps(n[x + 1], n[x]), _mm256_min_ps(r[x + 1], r[x]));
            lo = _mm256_min_ps(least, lo);
            const __m256 most = _mm256_max_ps(_mm256_max_ps(n[x + 1], n[x]), _mm256_max_ps(r[x + 1], r[x]));
            hi = _mm256_max_ps(most, hi);
        }
        _mm256_storeu_ps(sum + cx, s);
        _mm256_storeu_ps(band + cx, b);
        _mm256_storeu_ps(lowest + cx, lo);
        _mm256_storeu_ps(highest + cx, hi);
    }
    add_cells(row, next, cx, cells, sum, band, lowest, highest);
}

#endif

}  // namespace zeverive::luma
