// The line pipeline's loops between samples and float lines: the plain
// forms, compiled for every build's baseline processor, and on x86-64
// their AVX2 forms.

#include "kernels/line_io.h"

#include <cstring>

#include "common/sample_store.h"
#include "kernels/avx2_target.h"
#include "kernels/pixel_lanes.h"

namespace zeverive {

// -------------------------------------------------------------- plain ---

namespace {

// Sample k of a line from its phases; every form's loop ends in this for
// the samples it does not take in full vectors.
ZEVERIVE_KERNEL_BODY int16_t stored_sample(const PhaseLines& phases, int k, int padded_length) {
    if (phases.count == 1) return to_sample(phases.line[0][k]);
    double sum = 0.0;
    for (int p = 0; p < phases.count; ++p) {
        int at = k - phases.rotation[p];
        if (at < 0) at += padded_length;
        sum += phases.line[p][at];
    }
    return to_sample(sum * (1.0 / phases.count));  // 0.5 or 0.25: exact
}

}  // namespace

void load_line(const int16_t* samples, int stride, int n, int padded_length, float* dst) {
    for (int k = 0; k < n; ++k) dst[k] = samples[static_cast<ptrdiff_t>(k) * stride];
    std::memset(dst + n, 0, sizeof(float) * (padded_length - n));
}

void store_line(const PhaseLines& phases, int n, int padded_length, int16_t* samples, int stride) {
    for (int k = 0; k < n; ++k) samples[static_cast<ptrdiff_t>(k) * stride] = stored_sample(phases, k, padded_length);
}

void fill_mask(float* mask, int length) {
    for (int j = 0; j < length; ++j) mask[j] = 1.0f;
}

void gather_columns(const int16_t* y, ptrdiff_t pitch, int n, int columns, ColumnSamples* block) {
    for (int k = 0; k < n; ++k, y += pitch) {
        for (int c = 0; c < columns; ++c) block[c][k] = y[c * kPixelStride];
    }
}

void scatter_columns(const ColumnSamples* block, int n, int columns, ptrdiff_t pitch, int16_t* y) {
    for (int k = 0; k < n; ++k, y += pitch) {
        for (int c = 0; c < columns; ++c) y[c * kPixelStride] = block[c][k];
    }
}

// --------------------------------------------------------------- AVX2 ---

#if defined(__x86_64__)

namespace {

template <int kStride>
ZEVERIVE_AVX2_HELPER __m128i load_eight(const int16_t* samples) {
    if (kStride == 1) return _mm_loadu_si128(reinterpret_cast<const __m128i*>(samples));
    return eight_y(samples);
}

template <int kStride>
ZEVERIVE_AVX2_HELPER void store_eight(__m128i values, int16_t* samples) {
    if (kStride == 1) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(samples), values);
    } else {
        put_eight_y(values, samples);
    }
}

// Samples 0 .. n - 1 in whole groups of eight; returns where it stopped.
template <int kStride>
ZEVERIVE_AVX2_HELPER int load_groups(const int16_t* samples, int n, float* dst) {
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        const __m128i eight = load_eight<kStride>(samples + static_cast<ptrdiff_t>(k) * kStride);
        _mm256_storeu_ps(dst + k, _mm256_cvtepi32_ps(_mm256_cvtepi16_epi32(eight)));
    }
    return k;
}

// to_sample for eight floats: clamped to the 16-bit range (both ends are
// floats exactly), truncated, and packed (nothing left to saturate).
ZEVERIVE_AVX2_HELPER __m128i samples_of(__m256 values) {
    const __m256 clamped = _mm256_max_ps(_mm256_min_ps(values, _mm256_set1_ps(32767.0f)), _mm256_set1_ps(-32768.0f));
    const __m256i whole = _mm256_cvttps_epi32(clamped);
    return _mm_packs_epi32(_mm256_castsi256_si128(whole), _mm256_extracti128_si256(whole, 1));
}

// The average of the phases for samples k .. k+3, in double: a sum from
// 0.0 in phase order, times 1/count, clamped, truncated.
template <int kCount>
ZEVERIVE_AVX2_HELPER __m128i four_averaged(const PhaseLines& phases, int k) {
    __m256d sum = _mm256_setzero_pd();
    for (int p = 0; p < kCount; ++p)
        sum = _mm256_add_pd(sum, _mm256_cvtps_pd(_mm_loadu_ps(phases.line[p] + k - phases.rotation[p])));
    const __m256d average = _mm256_mul_pd(sum, _mm256_set1_pd(1.0 / kCount));
    const __m256d clamped =
        _mm256_max_pd(_mm256_min_pd(average, _mm256_set1_pd(32767.0)), _mm256_set1_pd(-32768.0));
    return _mm256_cvttpd_epi32(clamped);
}

// Samples k .. n - 1 in whole groups of eight, from a k at or past every
// phase's rotation; returns where it stopped.
template <int kCount, int kStride>
ZEVERIVE_AVX2_HELPER int store_groups(const PhaseLines& phases, int k, int n, int16_t* samples) {
    for (; k + 8 <= n; k += 8) {
        const __m128i eight = kCount == 1 ? samples_of(_mm256_loadu_ps(phases.line[0] + k))
                                          : _mm_packs_epi32(four_averaged<kCount>(phases, k),
                                                            four_averaged<kCount>(phases, k + 4));
        store_eight<kStride>(eight, samples + static_cast<ptrdiff_t>(k) * kStride);
    }
    return k;
}

template <int kStride>
ZEVERIVE_AVX2_HELPER int store_groups(const PhaseLines& phases, int k, int n, int16_t* samples) {
    switch (phases.count) {
        case 1: return store_groups<1, kStride>(phases, k, n, samples);
        case 2: return store_groups<2, kStride>(phases, k, n, samples);
        default: return store_groups<4, kStride>(phases, k, n, samples);
    }
}

// An 8x8 block of 16-bit values turned over: row i of the result holds
// element i of every input row.
ZEVERIVE_AVX2_HELPER void transpose8(__m128i r[8]) {
    __m128i a[8], b[8];
    for (int i = 0; i < 4; ++i) {
        a[2 * i] = _mm_unpacklo_epi16(r[2 * i], r[2 * i + 1]);
        a[2 * i + 1] = _mm_unpackhi_epi16(r[2 * i], r[2 * i + 1]);
    }
    for (int i = 0; i < 2; ++i) {
        b[4 * i] = _mm_unpacklo_epi32(a[4 * i], a[4 * i + 2]);
        b[4 * i + 1] = _mm_unpackhi_epi32(a[4 * i], a[4 * i + 2]);
        b[4 * i + 2] = _mm_unpacklo_epi32(a[4 * i + 1], a[4 * i + 3]);
        b[4 * i + 3] = _mm_unpackhi_epi32(a[4 * i + 1], a[4 * i + 3]);
    }
    for (int i = 0; i < 4; ++i) {
        r[2 * i] = _mm_unpacklo_epi64(b[i], b[i + 4]);
        r[2 * i + 1] = _mm_unpackhi_epi64(b[i], b[i + 4]);
    }
}

}  // namespace

ZEVERIVE_TARGET_AVX2 void load_line_avx2(const int16_t* samples, int stride, int n, int padded_length, float* dst) {
    int k = stride == 1 ? load_groups<1>(samples, n, dst) : load_groups<kPixelStride>(samples, n, dst);
    for (; k < n; ++k) dst[k] = samples[static_cast<ptrdiff_t>(k) * stride];
    for (; k + 8 <= padded_length; k += 8) _mm256_storeu_ps(dst + k, _mm256_setzero_ps());
    for (; k < padded_length; ++k) dst[k] = 0.0f;
}

ZEVERIVE_TARGET_AVX2 void store_line_avx2(const PhaseLines& phases, int n, int padded_length, int16_t* samples,
                                          int stride) {
    // Below the largest rotation a phase's sample wraps round to the line's
    // end; from there on every phase reads consecutive values.
    int first = 0;
    for (int p = 0; p < phases.count; ++p) first = phases.rotation[p] > first ? phases.rotation[p] : first;
    int k = 0;
    for (; k < first && k < n; ++k)
        samples[static_cast<ptrdiff_t>(k) * stride] = stored_sample(phases, k, padded_length);
    k = stride == 1 ? store_groups<1>(phases, k, n, samples) : store_groups<kPixelStride>(phases, k, n, samples);
    for (; k < n; ++k) samples[static_cast<ptrdiff_t>(k) * stride] = stored_sample(phases, k, padded_length);
}

ZEVERIVE_TARGET_AVX2 void fill_mask_avx2(float* mask, int length) {
    int j = 0;
    for (; j + 8 <= length; j += 8) _mm256_storeu_ps(mask + j, _mm256_set1_ps(1.0f));
    for (; j < length; ++j) mask[j] = 1.0f;
}

// Eight rows and eight columns at a time, turned over in registers; the
// rows and columns beyond whole blocks of eight one sample at a time.
ZEVERIVE_TARGET_AVX2 void gather_columns_avx2(const int16_t* y, ptrdiff_t pitch, int n, int columns,
                                              ColumnSamples* block) {
    const int whole_columns = columns & ~7;
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        for (int c = 0; c < whole_columns; c += 8) {
            __m128i r[8];
            for (int i = 0; i < 8; ++i) r[i] = eight_y(y + (k + i) * pitch + c * kPixelStride);
            transpose8(r);
            for (int i = 0; i < 8; ++i) _mm_storeu_si128(reinterpret_cast<__m128i*>(&block[c + i][k]), r[i]);
        }
        for (int i = 0; i < 8; ++i) {
            for (int c = whole_columns; c < columns; ++c) block[c][k + i] = y[(k + i) * pitch + c * kPixelStride];
        }
    }
    for (; k < n; ++k) {
        for (int c = 0; c < columns; ++c) block[c][k] = y[k * pitch + c * kPixelStride];
    }
}

ZEVERIVE_TARGET_AVX2 void scatter_columns_avx2(const ColumnSamples* block, int n, int columns, ptrdiff_t pitch,
                                               int16_t* y) {
    const int whole_columns = columns & ~7;
    int k = 0;
    for (; k + 8 <= n; k += 8) {
        for (int c = 0; c < whole_columns; c += 8) {
            __m128i r[8];
            for (int i = 0; i < 8; ++i) r[i] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(&block[c + i][k]));
            transpose8(r);
            for (int i = 0; i < 8; ++i) put_eight_y(r[i], y + (k + i) * pitch + c * kPixelStride);
        }
        for (int i = 0; i < 8; ++i) {
            for (int c = whole_columns; c < columns; ++c) y[(k + i) * pitch + c * kPixelStride] = block[c][k + i];
        }
    }
    for (; k < n; ++k) {
        for (int c = 0; c < columns; ++c) y[k * pitch + c * kPixelStride] = block[c][k];
    }
}

#endif

}  // namespace zeverive
