// The shrinks: every form in place on one, two or four phase lines, judged
// against the x87 form, which keeps a band of coefficients at exactly the
// threshold where the SIMD forms clear it.

#include <cmath>

#include "cpu/kernel_table.h"
#include "families.h"

namespace zeverive {
namespace check {
namespace {

// Thresholds: zero, the pipeline's band thresholds at default settings, and
// random ones with fractional bits.
float shrink_threshold(Random& random, int round) {
    static const float kTypical[] = {0.0f, 16.384f, 24.576f, 32.768f, 40.96f};
    return round < 5 ? kTypical[round] : std::fabs(random.fixed(10, 3)) + 0.125f;
}

// Coefficients around the threshold, a quarter of them exactly at plus or
// minus it and some zeros of either sign.
float shrink_value(Random& random, float t) {
    switch (random.below(8)) {
        case 0: return t;
        case 1: return -t;
        case 2: return random.chance(2) ? 0.0f : -0.0f;
        case 3: return std::nextafter(t, random.chance(2) ? 0.0f : 1e30f);
        default: return random.fixed(9, 2);
    }
}

// How a SIMD result at one index relates to x87's.
enum class ShrinkOutcome { kAgree, kAtThreshold, kOtherMask, kWrong };

// The forms must agree as numbers, with two defined exceptions: where the
// mask is 0.0, every coefficient lies within [-t, t] and one equals +-t,
// x87 keeps them all and SIMD must clear them all; where the mask is
// neither 0.0 nor 1.0, SIMD keeps the coefficients if it is positive and
// clears them otherwise, whatever x87 made of them. Anything SIMD changes
// becomes +0.0.
ShrinkOutcome classify_shrink(const Lines& in, const Lines& simd, const Lines& x87, float t, float m, int i) {
    bool all_at_most = true, any_at = false;
    for (const auto& x : in) {
        all_at_most = all_at_most && std::fabs((*x)[i]) <= t;
        any_at = any_at || std::fabs((*x)[i]) == t;
    }
    bool agree = true, cleared = true, unchanged = true, x87_kept = true;
    for (size_t k = 0; k < in.size(); ++k) {
        agree = agree && (*simd[k])[i] == (*x87[k])[i];
        cleared = cleared && bits_of((*simd[k])[i]) == 0;
        unchanged = unchanged && bits_of((*simd[k])[i]) == bits_of((*in[k])[i]);
        x87_kept = x87_kept && bits_of((*x87[k])[i]) == bits_of((*in[k])[i]);
    }
    if (!cleared && !unchanged) return ShrinkOutcome::kWrong;
    if (m != 0.0f && m != 1.0f) {
        const bool right = (m > 0.0f || !all_at_most) ? unchanged : cleared;
        if (!right) return ShrinkOutcome::kWrong;
        return agree ? ShrinkOutcome::kAgree : ShrinkOutcome::kOtherMask;
    }
    if (m == 0.0f && all_at_most && any_at)
        return cleared && x87_kept ? ShrinkOutcome::kAtThreshold : ShrinkOutcome::kWrong;
    return agree ? ShrinkOutcome::kAgree : ShrinkOutcome::kWrong;
}

struct ShrinkCase {
    Band band;
    float threshold;
    const Lines& input;
    const GuardedLine& mask;
};

// The x87 form by its definition, so that a processor without SIMD checks
// it too: where every line's coefficient lies strictly within the
// threshold, each becomes mask times itself, rounded to single once (the
// product of two singles is exact in double); elsewhere all stay.
void judge_x87_shrink(KernelCase& k, const Lines& got, const ShrinkCase& s) {
    for (int i = s.band.start; i < s.band.end; ++i) {
        bool small = true;
        for (const auto& x : s.input) small = small && std::fabs((*x)[i]) < s.threshold;
        for (size_t line = 0; line < got.size(); ++line) {
            const float x = (*s.input[line])[i];
            const float wanted = small ? static_cast<float>(double(s.mask[i]) * x) : x;
            if (bits_of((*got[line])[i]) != bits_of(wanted)) {
                char what[200];
                std::snprintf(what, sizeof what, "line %zu index %d: %.9g -> %.9g, by definition %.9g (threshold %.9g, mask %g)",
                              line, i, x, (*got[line])[i], wanted, s.threshold, s.mask[i]);
                k.fail(kVariantX87, what);
                return;
            }
        }
    }
}

void judge_shrink(KernelCase& k, KernelVariant v, const Lines& got, const ShrinkCase& s) {
    long bad = 0;
    // Outside the band nothing moves, in any form.
    for (size_t line = 0; line < got.size(); ++line) {
        for (int i = 0; i < kLineLength; ++i) {
            if (i >= s.band.start && i < s.band.end) continue;
            if (bits_of((*got[line])[i]) != bits_of((*s.input[line])[i]) && bad++ < 3)
                k.fail(v, "wrote outside the band, line " + std::to_string(line) + " index " + std::to_string(i));
        }
    }
    if (v == kVariantX87) {
        judge_x87_shrink(k, got, s);
        return;
    }
    const Lines& x87 = k.outputs(kVariantX87);
    for (int i = s.band.start; i < s.band.end; ++i) {
        switch (classify_shrink(s.input, got, x87, s.threshold, s.mask[i], i)) {
            case ShrinkOutcome::kAgree: break;
            case ShrinkOutcome::kAtThreshold: ++k.tally(v).at_threshold; break;
            case ShrinkOutcome::kOtherMask: ++k.tally(v).other_mask; break;
            case ShrinkOutcome::kWrong:
                if (bad++ < 3) {
                    char what[200];
                    std::snprintf(what, sizeof what, "index %d: line0 %.9g -> %.9g, x87 %.9g, threshold %.9g, mask %g",
                                  i, (*s.input[0])[i], (*got[0])[i], (*x87[0])[i], s.threshold, s.mask[i]);
                    k.fail(v, what);
                }
                break;
        }
    }
}

template <class FormOf, class Call>
void check_shrink(Checker& c, const char* op, int lines, Band band, FormOf form_of, Call call) {
    for (int round = 0; round < c.rounds(); ++round) {
        KernelCase k(c, op, band.start, round, lines * (band.end - band.start));
        const float t = shrink_threshold(k.random(), round);
        Lines input;
        for (int line = 0; line < lines; ++line) {
            input.push_back(std::make_unique<GuardedLine>(kLineLength));
            for (int i = 0; i < kLineLength; ++i) (*input[line])[i] = shrink_value(k.random(), t);
            k.writes(kLineLength, input[line]->data());
        }
        // Mostly the masks the edge masks build; every third round also
        // other values, where the forms are defined to differ.
        GuardedLine mask(kLineLength);
        static const float kOdd[] = {0.5f, -1.0f, -0.0f, 2.0f};
        for (int i = 0; i < kLineLength; ++i)
            mask[i] = round % 3 == 2 && k.random().chance(4) ? kOdd[k.random().below(4)] : float(k.random().below(2));
        k.reads(mask);
        const ShrinkCase s{band, t, input, mask};
        // The SSE forms keep a scratch block that initialise would set up.
        ScratchScope scratch;
        k.run(form_of, [&](auto shrink, float* const* out) { call(shrink, out, band, t, mask.data()); },
              [&](KernelVariant v, const Lines& got) { judge_shrink(k, v, got, s); });
    }
}

}  // namespace

void check_shrinks(Checker& c) {
    if (c.selected("shrink_band"))
        for (const Band& b : kBands)
            check_shrink(c, "shrink_band", 1, b, [](KernelVariant v) { return shrink_kernels(v).shrink_band; },
                         [](auto shrink, float* const* l, Band band, float t, const float* mask) {
                             shrink(l[0], band.start, band.end, t, mask);
                         });
    if (c.selected("shrink_band_2phase"))
        for (const Band& b : kBands)
            check_shrink(c, "shrink_band_2phase", 2, b, [](KernelVariant v) { return shrink_kernels(v).shrink_band_2phase; },
                         [](auto shrink, float* const* l, Band band, float t, const float* mask) {
                             shrink(l[0], l[1], band.start, band.end, t, mask);
                         });
    if (c.selected("shrink_band_4phase"))
        for (const Band& b : kBands)
            check_shrink(c, "shrink_band_4phase", 4, b, [](KernelVariant v) { return shrink_kernels(v).shrink_band_4phase; },
                         [](auto shrink, float* const* l, Band band, float t, const float* mask) {
                             shrink(l[0], l[1], l[2], l[3], band.start, band.end, t, mask);
                         });
}

}  // namespace check
}  // namespace zeverive
