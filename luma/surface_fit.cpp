#include "luma/surface_fit.h"

#include <array>
#include <cmath>

#include "kernels/avx2_target.h"

namespace zeverive::luma {
namespace {

constexpr int kB = kNoiseBlock;
constexpr int kN = kNoiseBlockSamples;
// The terms side by side for the AVX2 loop: three registers of four.
constexpr int kTermLanes = 12;

struct Surface {
    // Ten orthonormal terms x^i y^j (i + j <= 3) over the block, from
    // polynomials orthogonal over the offsets -3.5 .. 3.5 ...
    std::array<std::array<double, kN>, kSurfaceTerms> terms;
    // ... and the same by sample, the last two lanes zero.
    std::array<std::array<double, kTermLanes>, kN> by_sample;
};

Surface make_surface() {
    double values[4][kB];
    for (int i = 0; i < kB; ++i) {
        const double x = i - 3.5;
        // 5.25 and 9.25: the mean of x^2, and sum x^4 / sum x^2, over the offsets.
        values[0][i] = 1.0;
        values[1][i] = x;
        values[2][i] = x * x - 5.25;
        values[3][i] = x * x * x - 9.25 * x;
    }
    Surface s{};
    int term = 0;
    for (int i = 0; i <= 3; ++i) {
        for (int j = 0; i + j <= 3; ++j, ++term) {
            double norm = 0;
            for (int y = 0; y < kB; ++y)
                for (int x = 0; x < kB; ++x) norm += std::pow(values[i][x] * values[j][y], 2);
            norm = std::sqrt(norm);
            for (int y = 0; y < kB; ++y)
                for (int x = 0; x < kB; ++x) s.terms[term][y * kB + x] = values[i][x] * values[j][y] / norm;
        }
    }
    for (int t = 0; t < kSurfaceTerms; ++t)
        for (int i = 0; i < kN; ++i) s.by_sample[i][t] = s.terms[t][i];
    return s;
}

const Surface kSurface = make_surface();

// The samples less each term times its projection, in term order, and
// the energy of what is left.
ZEVERIVE_KERNEL_BODY double subtract_terms(const float* samples, const double* projections, double* r) {
    for (int i = 0; i < kN; ++i) r[i] = samples[i];
    for (int t = 0; t < kSurfaceTerms; ++t)
        for (int i = 0; i < kN; ++i) r[i] -= projections[t] * kSurface.terms[t][i];
    double energy = 0;
    for (int i = 0; i < kN; ++i) energy += r[i] * r[i];
    return energy;
}

}  // namespace

double surface_residual(const float* samples, double* r) {
    double projections[kSurfaceTerms];
    for (int t = 0; t < kSurfaceTerms; ++t) {
        double projection = 0;
        for (int i = 0; i < kN; ++i) projection += kSurface.terms[t][i] * samples[i];
        projections[t] = projection;
    }
    return subtract_terms(samples, projections, r);
}

#if defined(__x86_64__)

ZEVERIVE_TARGET_AVX2 double surface_residual_avx2(const float* samples, double* r) {
    __m256d sums[3] = {_mm256_setzero_pd(), _mm256_setzero_pd(), _mm256_setzero_pd()};
    for (int i = 0; i < kN; ++i) {
        const __m256d sample = _mm256_set1_pd(samples[i]);
        for (int k = 0; k < 3; ++k)
            sums[k] = _mm256_add_pd(sums[k], _mm256_mul_pd(_mm256_loadu_pd(&kSurface.by_sample[i][4 * k]), sample));
    }
    double projections[kTermLanes];
    for (int k = 0; k < 3; ++k) _mm256_storeu_pd(projections + 4 * k, sums[k]);
    return subtract_terms(samples, projections, r);
}

#endif

}  // namespace zeverive::luma
