// What the kernel checker, the kernel unit tests and the kernel benchmarks
// share: the sizes the pipeline uses, a deterministic random source, lines
// inside guard bands, which variants this processor runs, and the double
// precision reference of the transforms with its tolerance.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cpu/detect.h"
#include "kernels/sse_scratch.h"
#include "kernels/transform.h"
#include "support/variants.h"

namespace zeverive_test {

// The wavelet's taps, for the references below.
using zeverive::kG0, zeverive::kG1, zeverive::kG2, zeverive::kG3;
using zeverive::kH0, zeverive::kH1, zeverive::kH2, zeverive::kH3;

// The sizes the line pipeline passes: forward lengths, inverse and edge
// mask half lengths, and the four detail bands.
constexpr int kForwardLengths[] = {832, 416, 208, 104};
constexpr int kHalfLengths[] = {416, 208, 104, 52};
struct Band {
    int start, end;
};
constexpr Band kBands[] = {{52, 104}, {104, 208}, {208, 416}, {416, 832}};
constexpr int kLineLength = 832;

// splitmix64. Only integer arithmetic, so the native and the i386 build
// draw the same numbers and build the same floats from them.
class Random {
  public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        uint64_t z = (state_ += 0x9e3779b97f4a7c15ull);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
        return z ^ (z >> 31);
    }
    // Uniform in [0, n).
    uint32_t below(uint32_t n) { return static_cast<uint32_t>((next() >> 32) % n); }
    bool chance(uint32_t one_in) { return below(one_in) == 0; }
    // A signed integer of up to `bits` bits scaled by 2^-fraction_bits: exact
    // in single precision for bits <= 24.
    float fixed(int bits, int fraction_bits) {
        const int32_t magnitude = static_cast<int32_t>(below(1u << bits));
        const int32_t value = chance(2) ? -magnitude : magnitude;
        return std::ldexp(static_cast<float>(value), -fraction_bits);
    }

  private:
    uint64_t state_;
};

inline uint32_t bits_of(float value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// `size` floats on a 16-byte boundary (or `misalign` floats past one),
// with guard bands of canaries on both sides. The canary is a NaN pattern
// written and compared as bits, so no floating-point load can alter it.
class GuardedLine {
  public:
    static constexpr int kGuard = 16;
    static constexpr uint32_t kCanary = 0x7fa5c3e1u;

    explicit GuardedLine(int size, int misalign = 0) : size_(size), storage_(size + 2 * kGuard + 8) {
        const auto base = reinterpret_cast<uintptr_t>(storage_.data());
        const size_t skip = ((16 - base % 16) % 16) / sizeof(float);
        first_ = skip + kGuard + misalign;
        for (float& f : storage_) std::memcpy(&f, &kCanary, sizeof kCanary);
    }
    GuardedLine(const GuardedLine&) = delete;
    GuardedLine& operator=(const GuardedLine&) = delete;

    float* data() { return storage_.data() + first_; }
    const float* data() const { return storage_.data() + first_; }
    float& operator[](int i) { return data()[i]; }
    float operator[](int i) const { return data()[i]; }
    int size() const { return size_; }

    void fill(float value) {
        for (int i = 0; i < size_; ++i) data()[i] = value;
    }
    void copy_from(const float* src) { std::memcpy(data(), src, sizeof(float) * size_); }
    void copy_from(const GuardedLine& other) { copy_from(other.data()); }

    // False when a guard element lost its canary; `where` then gets its
    // offset from data(), negative before the line.
    bool guards_intact(int* where = nullptr) const {
        for (int i = -kGuard; i < size_ + kGuard; ++i) {
            if (i >= 0 && i < size_) continue;
            uint32_t bits;
            std::memcpy(&bits, data() + i, sizeof bits);
            if (bits != kCanary) {
                if (where) *where = i;
                return false;
            }
        }
        return true;
    }

  private:
    int size_;
    std::vector<float> storage_;
    size_t first_;
};

// Points sse_scratch at a block of its own for as long as it lives, so SSE
// shrink kernels can run without initialise.
class ScratchScope {
  public:
    ScratchScope() : previous_(zeverive::sse_scratch) { zeverive::sse_scratch = block_; }
    ~ScratchScope() { zeverive::sse_scratch = previous_; }
    ScratchScope(const ScratchScope&) = delete;
    ScratchScope& operator=(const ScratchScope&) = delete;

  private:
    alignas(16) float block_[4];
    float* previous_;
};

// Kinds of line the checker and the benchmarks feed the transforms. Every
// value is a small integer times a power of two, so it is exact in single
// precision and the same on every build.
enum class Spread {
    kPixels,        // samples 0..4095 followed by the zero padding of a short line
    kCoefficients,  // signed, with fractional bits, like decomposed lines
    kLarge,         // around 2^60: products far from the usual scale
    kTiny,          // around 2^-130: products and sums underflow into denormals
    kSparse,        // zeros with a few impulses
};
constexpr Spread kSpreads[] = {Spread::kPixels, Spread::kCoefficients, Spread::kLarge, Spread::kTiny,
                               Spread::kSparse};

inline void fill_line(Random& random, float* x, int n, Spread spread) {
    switch (spread) {
        case Spread::kPixels: {
            const int used = n - static_cast<int>(random.below(static_cast<uint32_t>(n / 2)));
            for (int t = 0; t < n; ++t) x[t] = t < used ? float(random.below(4096)) : 0.0f;
            break;
        }
        case Spread::kCoefficients:
            for (int t = 0; t < n; ++t) x[t] = random.fixed(16, 5);
            break;
        case Spread::kLarge:
            for (int t = 0; t < n; ++t) x[t] = std::ldexp(random.fixed(20, 0), 40);
            break;
        case Spread::kTiny:
            for (int t = 0; t < n; ++t) x[t] = random.fixed(12, 140);
            break;
        case Spread::kSparse:
            for (int t = 0; t < n; ++t) x[t] = random.chance(16) ? random.fixed(12, 0) : 0.0f;
            break;
    }
}

// An output of a transform in double: its value (the four exact products
// with an error of at most 3 * 2^-53 * magnitude) and the sum of the
// magnitudes of its four products, which scales every rounding error.
struct Reference {
    std::vector<double> value;
    std::vector<double> magnitude;
};

inline void add_term(Reference& r, int k, float c, float x) {
    const double product = double(c) * x;
    r.value[k] += product;
    r.magnitude[k] += std::fabs(product);
}

// forward_transform by its formula, with every index taken modulo length.
inline Reference forward_reference(const float* x, int length) {
    const int half = length / 2;
    Reference r{std::vector<double>(length, 0.0), std::vector<double>(length, 0.0)};
    const float h[4] = {kH0, kH1, kH2, kH3};
    const float g[4] = {kG0, kG1, kG2, kG3};
    for (int i = 0; i < half; ++i) {
        for (int k = 0; k < 4; ++k) {
            const float sample = x[(2 * i + k) % length];
            add_term(r, i, h[k], sample);
            add_term(r, half + i, g[k], sample);
        }
    }
    return r;
}

// inverse_transform by its formula.
inline Reference inverse_reference(const float* approx, const float* detail, int half_length) {
    Reference r{std::vector<double>(2 * half_length, 0.0), std::vector<double>(2 * half_length, 0.0)};
    for (int j = 0; j < half_length; ++j) {
        const int p = (j + half_length - 1) % half_length;
        add_term(r, 2 * j, kH0, approx[j]);
        add_term(r, 2 * j, kH2, approx[p]);
        add_term(r, 2 * j, kG0, detail[j]);
        add_term(r, 2 * j, kG2, detail[p]);
        add_term(r, 2 * j + 1, kH1, approx[j]);
        add_term(r, 2 * j + 1, kH3, approx[p]);
        add_term(r, 2 * j + 1, kG1, detail[j]);
        add_term(r, 2 * j + 1, kG3, detail[p]);
    }
    return r;
}

// How far two variants' outputs of one transform may lie apart, given the
// magnitude sum S of the output's four products. The SIMD forms round four
// products and three partial sums to single, each error at most u = 2^-24
// times a magnitude no larger than S: 7uS. The x87 form rounds once, uS,
// after a double sum that adds at most 3 * 2^-53 * S. So two forms differ
// by at most about 8uS; 10uS leaves room for the second-order terms, and
// eight smallest denormals cover results that underflow, where a rounding
// error is absolute rather than relative.
inline double transform_tolerance(double magnitude) {
    return 10.0 * 0x1p-24 * magnitude + 8.0 * 0x1p-149;
}

}  // namespace zeverive_test
