// The kernel checker: every variant of every kernel-table slot against the
// x87 form, on seeded random lines at every size the pipeline uses, inside
// guard bands, with the processor state checked around every call. The
// mode-3 kernels, which have one form only, are checked against the x87
// transforms they are defined by. On x86-64 the AVX2 forms, and the mode-3
// kernels' AVX2 twins, must also give every bit of the SSE (or plain) form.
// With --bench it also times every case.
//
//   kernel_check [--seed N] [--rounds N] [--function NAME|PREFIX*]
//                [--require x87,3dnow,sse,avx2] [--force] [--dump FILE]
//                [--bench] [--list]

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <csignal>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <cpuid.h>

#include "cpu/kernel_table.h"
#include "support/kernel_cases.h"
#include "kernels/edge_mask.h"
#include "kernels/odd_lowpass.h"
#include "kernels/sse_target.h"
#include "kernels/transform.h"
#include "platform/x87_precision.h"
#include "support/processor_name.h"

namespace zeverive {
namespace check {
namespace {

// ------------------------------------------------------ processor state ---

// FNSTENV masks every exception as a side effect; FLDENV puts the
// environment back. The tag word is 0xffff when all eight registers are
// empty, which is what FEMMS leaves and what the next x87 code expects.
uint16_t x87_tag_word() {
    struct {
        unsigned char bytes[28];
    } env;
    __asm__ volatile("fnstenv %0\n\tfldenv %0" : "+m"(env));
    uint16_t tag;
    std::memcpy(&tag, env.bytes + 8, sizeof tag);
    return tag;
}

// The control part of MXCSR: rounding, exception masks, flush and
// denormals-are-zero. The low six bits are sticky exception flags that any
// floating-point code may set.
ZEVERIVE_TARGET_SSE uint32_t read_mxcsr_control() { return _mm_getcsr() & ~0x3fu; }
ZEVERIVE_TARGET_SSE void write_mxcsr(uint32_t value) { _mm_setcsr(value); }

// ------------------------------------------------------- guarded calls ---
// A SIGILL inside a kernel is that variant's failure, not the end of the
// run.

sigjmp_buf landing;
volatile sig_atomic_t armed = 0;

void on_illegal_instruction(int signal_number) {
    if (armed) siglongjmp(landing, 1);
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
}

bool run_guarded(const std::function<void()>& call) {
    armed = 1;
    if (sigsetjmp(landing, 1) != 0) {
        armed = 0;
        return false;
    }
    call();
    armed = 0;
    return true;
}

// ------------------------------------------------------------- results ---

struct Options {
    uint64_t seed = 0;
    int rounds = 12;
    std::string function;
    std::string require;
    std::string dump_path;
    bool force = false;
    bool bench = false;
    bool list = false;
};

// What one variant (or the scalar mode-3 kernels, index kVariantCount) has
// been through.
struct Tally {
    long cases = 0;
    long failed_cases = 0;
    long failures = 0;
    // Places where a SIMD form differs from x87 by definition, by reason.
    long at_threshold = 0;  // a value exactly at +-threshold: x87 keeps, SIMD clears
    long other_mask = 0;    // a mask other than 0.0 or 1.0: x87 scales, SIMD decides
    long rounding = 0;      // an edge decision within rounding of the threshold
    bool crashed = false;
};

constexpr int kScalarOnly = kVariantCount;
#if defined(__x86_64__)
const char* const kTallyNames[kVariantCount + 1] = {"x87", "3dnow", "sse", "avx2", "mode-3 scalar kernels"};
#else
const char* const kTallyNames[kVariantCount + 1] = {"x87", "3dnow", "sse", "mode-3 scalar kernels"};
#endif

// Whether `v` is a variant whose every output must equal the SSE form's.
bool copies_sse(int v) {
#if defined(__x86_64__)
    return v == kVariantAvx2;
#else
    (void)v;
    return false;
#endif
}

class Checker {
  public:
    explicit Checker(const Options& options) : options_(options) {
        for (int v = 0; v < kVariantCount; ++v) runs_[v] = options.force || variant_runs(v);
        sse_state_readable_ = variant_runs(kVariantSse);
        if (!options.dump_path.empty()) {
            dump_ = std::fopen(options.dump_path.c_str(), "wb");
            if (!dump_) std::fprintf(stderr, "cannot write %s\n", options.dump_path.c_str());
        }
    }
    ~Checker() {
        if (dump_) std::fclose(dump_);
    }

    bool selected(const char* op) const {
        const std::string& f = options_.function;
        if (f.empty()) return true;
        if (f.back() == '*') return std::string(op).compare(0, f.size() - 1, f, 0, f.size() - 1) == 0;
        return f == op;
    }
    bool runs(KernelVariant v) const { return runs_[v] && !tally_[v].crashed; }
    bool dump_ok() const { return options_.dump_path.empty() || dump_ != nullptr; }

    // Calls a kernel of variant `v` (kScalarOnly for the mode-3 kernels) and
    // checks what it left behind in the processor. False when it faulted.
    bool call(const std::string& name, int v, const std::function<void()>& kernel) {
        const uint16_t control = x87_control_word();
        const uint32_t mxcsr = sse_state_readable_ ? read_mxcsr_control() : 0;
        if (!run_guarded(kernel)) {
            // The signal handler ran with a fresh floating-point state and
            // jumped out instead of returning, so that state is still in
            // force: put back the precision control the x87 forms rely on.
            set_x87_control_word(control);
            if (sse_state_readable_) write_mxcsr(mxcsr);
            fail(v, name, "illegal instruction (SIGILL) inside the kernel");
            tally_[v].crashed = true;
            ++tally_[v].cases;
            ++tally_[v].failed_cases;
            return false;
        }
        const uint16_t tag = x87_tag_word();
        if (tag != 0xffff) fail(v, name, "x87 registers left in use (tag word " + hex(tag) + "): FEMMS missing?");
        if (x87_control_word() != control) fail(v, name, "x87 control word changed");
        if (sse_state_readable_ && read_mxcsr_control() != mxcsr) fail(v, name, "MXCSR changed");
        return true;
    }

    void fail(int v, const std::string& name, const std::string& what) {
        ++tally_[v].failures;
        if (++printed_ <= 60) std::printf("FAIL %s (seed %llu): %s\n", name.c_str(), seed(), what.c_str());
    }
    // A case counts as failed when anything in it failed: values, memory or
    // processor state.
    long failures_so_far(int v) const { return tally_[v].failures; }
    void finish_case(int v, long failures_before) {
        ++tally_[v].cases;
        if (tally_[v].failures != failures_before) ++tally_[v].failed_cases;
    }
    Tally& tally(int v) { return tally_[v]; }

    // The AVX2 cases are left out: the i386 build has no such form to
    // compare with, and they must equal SSE (or plain) results, which are in.
    void dump(const std::string& name, const float* data, int count) {
        if (!dump_ || name.find("_avx2#") != std::string::npos) return;
        std::fprintf(dump_, "%s %d\n", name.c_str(), count);
        std::fwrite(data, sizeof(float), static_cast<size_t>(count), dump_);
    }
    void dump_untested(const std::string& name) {
        if (dump_ && name.find("_avx2#") == std::string::npos) std::fprintf(dump_, "%s UNTESTED\n", name.c_str());
    }

    // Every bit of `got` equals `wanted`, the form it must copy.
    void expect_same_bits(int v, const std::string& name, const float* got, const float* wanted, int n,
                          const char* form) {
        for (int i = 0; i < n; ++i) {
            if (bits_of(got[i]) != bits_of(wanted[i])) {
                char what[160];
                std::snprintf(what, sizeof what, "index %d: got %.9g, %s form %.9g (must be the same bits)", i, got[i],
                              form, wanted[i]);
                fail(v, name, what);
                return;
            }
        }
    }

    unsigned long long seed() const { return static_cast<unsigned long long>(options_.seed); }
    int rounds() const { return options_.rounds; }

    // A random source of its own for every case, so --function does not
    // change the data of the cases it keeps.
    Random random_for(const char* op, int size, int round) const {
        uint64_t h = options_.seed * 0x100000001b3ull;
        for (const char* c = op; *c; ++c) h = (h ^ static_cast<unsigned char>(*c)) * 0x100000001b3ull;
        h = (h ^ static_cast<uint64_t>(size)) * 0x100000001b3ull;
        h = (h ^ static_cast<uint64_t>(round)) * 0x100000001b3ull;
        return Random(h);
    }

    int report() const {
        bool ok = true;
        std::printf("\n");
        for (int v = 0; v <= kVariantCount; ++v) {
            const Tally& t = tally_[v];
            if (v < kVariantCount && !runs_[v]) {
                std::printf("%-22s UNTESTED (processor lacks it)\n", kTallyNames[v]);
                continue;
            }
            std::printf("%-22s %ld cases checked, %ld failed", kTallyNames[v], t.cases, t.failed_cases);
            if (t.at_threshold || t.other_mask || t.rounding)
                std::printf("; differs from x87 as defined: %ld at +-threshold, %ld other masks, %ld rounding",
                            t.at_threshold, t.other_mask, t.rounding);
            std::printf("%s\n", t.crashed ? ", stopped after SIGILL" : "");
            if (t.failures) ok = false;
        }
        for (size_t start = 0; start < options_.require.size();) {
            size_t comma = options_.require.find(',', start);
            if (comma == std::string::npos) comma = options_.require.size();
            const std::string name = options_.require.substr(start, comma - start);
            int v = 0;
            while (v < kVariantCount && name != kVariantNames[v]) ++v;
            if (v == kVariantCount) {
                std::printf("unknown variant %s in --require\n", name.c_str());
                ok = false;
            } else if (!runs_[v] || tally_[v].cases == 0) {
                std::printf("required variant %s was not tested\n", name.c_str());
                ok = false;
            }
            start = comma + 1;
        }
        if (!dump_ok()) ok = false;
        std::printf("%s\n", ok ? "kernel_check: all checks passed" : "kernel_check: FAILED");
        return ok ? 0 : 1;
    }

  private:
    static std::string hex(unsigned value) {
        char text[16];
        std::snprintf(text, sizeof text, "0x%04x", value);
        return text;
    }

    Options options_;
    bool runs_[kVariantCount] = {};
    bool sse_state_readable_ = false;
    Tally tally_[kVariantCount + 1];
    long printed_ = 0;
    FILE* dump_ = nullptr;
};

std::string case_name(const char* op, int size, int v) {
    return std::string(op) + "_" + std::to_string(size) + "_" + kTallyNames[v == kScalarOnly ? 0 : v];
}

std::string describe(int index, float got, double expected, double bound) {
    char text[160];
    std::snprintf(text, sizeof text, "index %d: got %.9g, x87 %.9g, difference %.3g, bound %.3g", index, got,
                  expected, std::fabs(got - expected), bound);
    return text;
}

bool same_bits(const float* a, const float* b, int n, int* where) {
    for (int i = 0; i < n; ++i) {
        if (bits_of(a[i]) != bits_of(b[i])) {
            *where = i;
            return false;
        }
    }
    return true;
}

// Guard bands intact and the read-only inputs untouched.
void check_memory(Checker& c, int v, const std::string& name, const std::vector<const GuardedLine*>& outputs,
                  const std::vector<std::pair<const GuardedLine*, const GuardedLine*>>& inputs) {
    for (const GuardedLine* out : outputs) {
        int where = 0;
        if (!out->guards_intact(&where)) c.fail(v, name, "wrote outside its output, at offset " + std::to_string(where));
    }
    for (const auto& in : inputs) {
        int where = 0;
        if (!same_bits(in.first->data(), in.second->data(), in.first->size(), &where) || !in.first->guards_intact())
            c.fail(v, name, "changed its input at " + std::to_string(where));
    }
}

// ---------------------------------------------------------- transforms ---

// Compares one variant's transform output with x87's, within the bound of
// the header (10u times the magnitude sum of the four products).
long compare_transform(Checker& c, int v, const std::string& name, const float* got, const float* x87,
                       const Reference& ref, int n) {
    long failures = 0;
    for (int i = 0; i < n; ++i) {
        const double bound = transform_tolerance(ref.magnitude[i]);
        if (!(std::fabs(double(got[i]) - x87[i]) <= bound)) {
            if (failures++ < 3) c.fail(v, name, describe(i, got[i], x87[i], bound));
        }
    }
    return failures;
}

// The x87 form itself against the formula in double: one rounding, so
// within u times the magnitude, and the double sum's 3 * 2^-53.
long compare_with_formula(Checker& c, const std::string& name, const float* got, const Reference& ref, int n) {
    long failures = 0;
    for (int i = 0; i < n; ++i) {
        const double bound = 0x1p-24 * std::fabs(ref.value[i]) + 0x1p-51 * ref.magnitude[i] + 0x1p-150;
        if (!(std::fabs(double(got[i]) - ref.value[i]) <= bound)) {
            if (failures++ < 3) c.fail(kVariantX87, name, describe(i, got[i], ref.value[i], bound) + " (formula)");
        }
    }
    return failures;
}

void check_forward(Checker& c, int length) {
    for (int round = 0; round < c.rounds(); ++round) {
        Random random = c.random_for("forward_transform", length, round);
        GuardedLine src(length), src_copy(length), x87(length), sse(length);
        fill_line(random, src.data(), length, kSpreads[round % 5]);
        src_copy.copy_from(src);
        const Reference ref = forward_reference(src.data(), length);
        for (int v = 0; v < kVariantCount; ++v) {
            const std::string name = case_name("forward_transform", length, v) + "#" + std::to_string(round);
            if (!c.runs(v)) {
                c.dump_untested(name);
                continue;
            }
            const long before = c.failures_so_far(v);
            GuardedLine dst(length);
            if (!c.call(name, v, [&] { kernel_table.forward_transform[v](src.data(), length, dst.data()); })) continue;
            if (v == kVariantX87) {
                compare_with_formula(c, name, dst.data(), ref, length);
            } else {
                compare_transform(c, v, name, dst.data(), x87.data(), ref, length);
            }
            check_memory(c, v, name, {&dst}, {{&src, &src_copy}});
            if (v == kVariantX87) x87.copy_from(dst);
            if (v == kVariantSse) sse.copy_from(dst);
            if (copies_sse(v)) c.expect_same_bits(v, name, dst.data(), sse.data(), length, "sse");
            c.dump(name, dst.data(), length);
            c.finish_case(v, before);
        }
    }
}

void check_inverse(Checker& c, int half) {
    for (int round = 0; round < c.rounds(); ++round) {
        Random random = c.random_for("inverse_transform", half, round);
        // Both halves in one line, as the pipeline passes them.
        GuardedLine coefficients(2 * half), copy(2 * half), x87(2 * half), sse(2 * half);
        fill_line(random, coefficients.data(), 2 * half, kSpreads[round % 5]);
        copy.copy_from(coefficients);
        const float* approx = coefficients.data();
        const float* detail = coefficients.data() + half;
        const Reference ref = inverse_reference(approx, detail, half);
        for (int v = 0; v < kVariantCount; ++v) {
            const std::string name = case_name("inverse_transform", half, v) + "#" + std::to_string(round);
            if (!c.runs(v)) {
                c.dump_untested(name);
                continue;
            }
            const long before = c.failures_so_far(v);
            GuardedLine dst(2 * half);
            if (!c.call(name, v, [&] { kernel_table.inverse_transform[v](approx, detail, half, dst.data()); }))
                continue;
            if (v == kVariantX87) {
                compare_with_formula(c, name, dst.data(), ref, 2 * half);
            } else {
                compare_transform(c, v, name, dst.data(), x87.data(), ref, 2 * half);
            }
            check_memory(c, v, name, {&dst}, {{&coefficients, &copy}});
            if (v == kVariantX87) x87.copy_from(dst);
            if (v == kVariantSse) sse.copy_from(dst);
            if (copies_sse(v)) c.expect_same_bits(v, name, dst.data(), sse.data(), 2 * half, "sse");
            c.dump(name, dst.data(), 2 * half);
            c.finish_case(v, before);
        }
    }
}

// -------------------------------------------------------------- shrink ---

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
ShrinkOutcome classify_shrink(const std::vector<const float*>& in, const std::vector<const float*>& simd,
                              const std::vector<const float*>& x87, float t, float m, int i) {
    bool all_at_most = true, any_at = false;
    for (const float* x : in) {
        all_at_most = all_at_most && std::fabs(x[i]) <= t;
        any_at = any_at || std::fabs(x[i]) == t;
    }
    bool agree = true, cleared = true, unchanged = true, x87_kept = true;
    for (size_t k = 0; k < in.size(); ++k) {
        agree = agree && simd[k][i] == x87[k][i];
        cleared = cleared && bits_of(simd[k][i]) == 0;
        unchanged = unchanged && bits_of(simd[k][i]) == bits_of(in[k][i]);
        x87_kept = x87_kept && bits_of(x87[k][i]) == bits_of(in[k][i]);
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

void check_shrink(Checker& c, const char* op, int lines, Band band) {
    const int slot_lines = lines;
    for (int round = 0; round < c.rounds(); ++round) {
        Random random = c.random_for(op, band.start, round);
        const float t = shrink_threshold(random, round);
        std::vector<std::unique_ptr<GuardedLine>> input;
        for (int k = 0; k < slot_lines; ++k) {
            input.push_back(std::make_unique<GuardedLine>(kLineLength));
            for (int i = 0; i < kLineLength; ++i) (*input[k])[i] = shrink_value(random, t);
        }
        // Mostly the masks the edge masks build; every third round also
        // other values, where the forms are defined to differ.
        GuardedLine mask(kLineLength), mask_copy(kLineLength);
        static const float kOdd[] = {0.5f, -1.0f, -0.0f, 2.0f};
        for (int i = 0; i < kLineLength; ++i)
            mask[i] = round % 3 == 2 && random.chance(4) ? kOdd[random.below(4)] : float(random.below(2));
        mask_copy.copy_from(mask);

        std::vector<std::unique_ptr<GuardedLine>> x87, sse;
        for (int v = 0; v < kVariantCount; ++v) {
            const std::string name = case_name(op, band.start, v) + "#" + std::to_string(round);
            if (!c.runs(v)) {
                c.dump_untested(name);
                continue;
            }
            const long before = c.failures_so_far(v);
            std::vector<std::unique_ptr<GuardedLine>> out;
            float* l[4] = {};
            for (int k = 0; k < slot_lines; ++k) {
                out.push_back(std::make_unique<GuardedLine>(kLineLength));
                out[k]->copy_from(*input[k]);
                l[k] = out[k]->data();
            }
            ScratchScope scratch;
            const bool ran = c.call(name, v, [&] {
                if (slot_lines == 1) kernel_table.shrink_band[v](l[0], band.start, band.end, t, mask.data());
                if (slot_lines == 2)
                    kernel_table.shrink_band_2phase[v](l[0], l[1], band.start, band.end, t, mask.data());
                if (slot_lines == 4)
                    kernel_table.shrink_band_4phase[v](l[0], l[1], l[2], l[3], band.start, band.end, t, mask.data());
            });
            if (!ran) continue;

            long bad = 0;
            std::vector<const GuardedLine*> outputs;
            for (const auto& line : out) outputs.push_back(line.get());
            check_memory(c, v, name, outputs, {{&mask, &mask_copy}});
            // Outside the band nothing moves, in any form.
            for (int k = 0; k < slot_lines; ++k) {
                for (int i = 0; i < kLineLength; ++i) {
                    if (i >= band.start && i < band.end) continue;
                    if (bits_of((*out[k])[i]) != bits_of((*input[k])[i])) {
                        if (bad++ < 3) c.fail(v, name, "wrote outside the band, line " + std::to_string(k) +
                                                            " index " + std::to_string(i));
                    }
                }
            }
            if (v == kVariantX87) {
                x87 = std::move(out);
            } else if (!x87.empty()) {
                std::vector<const float*> in_p, simd_p, x87_p;
                for (int k = 0; k < slot_lines; ++k) {
                    in_p.push_back(input[k]->data());
                    simd_p.push_back(out[k]->data());
                    x87_p.push_back(x87[k]->data());
                }
                for (int i = band.start; i < band.end; ++i) {
                    switch (classify_shrink(in_p, simd_p, x87_p, t, mask[i], i)) {
                        case ShrinkOutcome::kAgree: break;
                        case ShrinkOutcome::kAtThreshold: ++c.tally(v).at_threshold; break;
                        case ShrinkOutcome::kOtherMask: ++c.tally(v).other_mask; break;
                        case ShrinkOutcome::kWrong:
                            if (bad++ < 3) {
                                char what[200];
                                std::snprintf(what, sizeof what,
                                              "index %d: line0 %.9g -> %.9g, x87 %.9g, threshold %.9g, mask %g", i,
                                              in_p[0][i], simd_p[0][i], x87_p[0][i], t, mask[i]);
                                c.fail(v, name, what);
                            }
                            break;
                    }
                }
            }
            for (size_t k = 0; copies_sse(v) && k < sse.size(); ++k)
                c.expect_same_bits(v, name, out[k]->data(), sse[k]->data(), kLineLength, "sse");
            const std::vector<std::unique_ptr<GuardedLine>>& shown = v == kVariantX87 ? x87 : out;
            for (const auto& line : shown) c.dump(name, line->data(), kLineLength);
            if (v == kVariantSse) sse = std::move(out);
            c.finish_case(v, before);
        }
    }
}

// ----------------------------------------------------------- edge mask ---

float edge_threshold(Random& random, int round) {
    static const float kTypical[] = {0.0f, 150.0f, 120.0f, 90.0f, 60.0f, 16.384f};
    return round < 6 ? kTypical[round] : std::fabs(random.fixed(9, 2));
}

// Approximation coefficients with flat stretches (d = 0), spikes, and
// centres whose second difference is exactly +-threshold.
void fill_edge_line(Random& random, float* line, int half, float t, bool fractional) {
    for (int j = 0; j < half; ++j) {
        if (j > 0 && random.chance(3)) {
            line[j] = line[j - 1];
        } else {
            line[j] = fractional ? random.fixed(14, 6) : float(random.below(4096));
        }
    }
    for (int j = 1; j + 1 < half; ++j) {
        if (!random.chance(4)) continue;
        const double wanted = random.chance(2) ? t : -t;
        const double next = 2.0 * line[j] - line[j - 1] - wanted;
        const float rounded = static_cast<float>(next);
        if (2.0 * line[j] - line[j - 1] - rounded == wanted) line[j + 1] = rounded;
    }
}

// How x87 and SIMD decide at centre j. When every single-precision step of
// SIMD is exact and |d| equals the threshold, x87 must keep the entry and
// SIMD must clear it. Otherwise they may differ only where |d| is so close
// to the threshold that the SIMD steps ((2a - b) rounded, then - c rounded:
// at most 2u(2|a| + |b| + |c|)) and x87's one rounding (u|d|) land on
// different sides; everywhere else they must agree.
enum class EdgeCentre { kMustAgree, kAtThreshold, kNearThreshold };

EdgeCentre classify_centre(const float* line, int j, float t) {
    const double a = line[j], b = line[j - 1], c = line[j + 1];
    const double first = 2.0 * a - b;
    const double d = first - c;
    const bool exact_in_single = double(float(first)) == first && double(float(d)) == d;
    if (exact_in_single && std::fabs(d) == t) return EdgeCentre::kAtThreshold;
    const double slack = 3.0 * 0x1p-24 * (2.0 * std::fabs(a) + std::fabs(b) + std::fabs(c)) + 0x1p-149;
    return std::fabs(std::fabs(d) - t) <= slack ? EdgeCentre::kNearThreshold : EdgeCentre::kMustAgree;
}

void check_edge_mask(Checker& c, int half) {
    for (int round = 0; round < c.rounds(); ++round) {
        Random random = c.random_for("edge_mask", half, round);
        const float t = edge_threshold(random, round);
        GuardedLine line(half), line_copy(half), start(2 * half + 16);
        fill_edge_line(random, line.data(), half, t, round % 2 == 1);
        line_copy.copy_from(line);
        // Earlier phase lines of the level may already have cleared entries.
        for (int i = 0; i < start.size(); ++i) start[i] = random.chance(5) ? 0.0f : 1.0f;
        GuardedLine x87(2 * half + 16), sse(2 * half + 16);
        for (int v = 0; v < kVariantCount; ++v) {
            const std::string name = case_name("edge_mask", half, v) + "#" + std::to_string(round);
            if (!c.runs(v)) {
                c.dump_untested(name);
                continue;
            }
            const long before = c.failures_so_far(v);
            GuardedLine mask(start.size());
            mask.copy_from(start);
            if (!c.call(name, v, [&] { kernel_table.edge_mask[v](mask.data(), half, line.data(), t); })) continue;
            long bad = 0;
            check_memory(c, v, name, {&mask}, {{&line, &line_copy}});
            for (int i = 0; i < mask.size(); ++i) {
                const bool inner = i > half && i < 2 * half - 1;
                const bool lowered_or_kept = mask[i] == start[i] || (inner && mask[i] == 0.0f);
                if (!lowered_or_kept) {
                    if (bad++ < 3)
                        c.fail(v, name, "entry " + std::to_string(i) + " changed from " + std::to_string(start[i]) +
                                            " to " + std::to_string(mask[i]));
                }
            }
            if (v == kVariantX87) {
                x87.copy_from(mask);
            } else {
                for (int j = 1; j < half - 1; ++j) {
                    const int i = half + j;
                    const bool same = bits_of(mask[i]) == bits_of(x87[i]);
                    bool right = same;
                    switch (classify_centre(line.data(), j, t)) {
                        case EdgeCentre::kMustAgree: break;
                        case EdgeCentre::kAtThreshold:
                            right = x87[i] == start[i] && mask[i] == 0.0f;
                            if (right && !same) ++c.tally(v).at_threshold;
                            break;
                        case EdgeCentre::kNearThreshold:
                            right = true;
                            if (!same) ++c.tally(v).rounding;
                            break;
                    }
                    if (!right && bad++ < 3) {
                        c.fail(v, name, "centre " + std::to_string(j) + ": entry " + std::to_string(mask[i]) +
                                            ", x87 " + std::to_string(x87[i]) + ", threshold " + std::to_string(t));
                    }
                }
            }
            if (v == kVariantSse) sse.copy_from(mask);
            if (copies_sse(v)) c.expect_same_bits(v, name, mask.data(), sse.data(), mask.size(), "sse");
            c.dump(name, mask.data(), mask.size());
            c.finish_case(v, before);
        }
    }
}

// ---------------------------------------------------- mode-3 kernels ---
// One form each, defined through the x87 transforms: the analysis is the
// forward transform of the line moved left by one sample, the synthesis
// the inverse transform with zero details moved right by one, and the
// pair mask clears what both single-line x87 masks clear.

// The AVX2 twin of a mode-3 kernel, run into an output that starts as the
// plain form's did (`initial`, or the canaries), must leave every bit the
// plain form left, inputs unchanged and guards intact. Counted as an AVX2
// case; without AVX2 nothing runs.
#if defined(__x86_64__)
void check_twin(Checker& c, const char* op, int size, int round, const GuardedLine& plain, const float* initial,
                const std::vector<std::pair<const GuardedLine*, const GuardedLine*>>& inputs,
                const std::function<void(float*)>& twin) {
    const int v = kVariantAvx2;
    if (!c.runs(v)) return;
    const std::string name = case_name(op, size, v) + "#" + std::to_string(round);
    const long before = c.failures_so_far(v);
    GuardedLine out(plain.size());
    if (initial) out.copy_from(initial);
    if (!c.call(name, v, [&] { twin(out.data()); })) return;
    c.expect_same_bits(v, name, out.data(), plain.data(), plain.size(), "plain");
    check_memory(c, v, name, {&out}, inputs);
    c.finish_case(v, before);
}
#endif

void check_odd_analysis(Checker& c, int length) {
    const int half = length / 2;
    for (int round = 0; round < c.rounds(); ++round) {
        Random random = c.random_for("odd_lowpass_analysis", length, round);
        GuardedLine src(length), copy(length), dst(half);
        fill_line(random, src.data(), length, kSpreads[round % 5]);
        copy.copy_from(src);
        const std::string name = case_name("odd_lowpass_analysis", length, kScalarOnly) + "#" + std::to_string(round);
        const long before = c.failures_so_far(kScalarOnly);
        if (!c.call(name, kScalarOnly, [&] { odd_lowpass_analysis(src.data(), length, dst.data()); })) return;
        std::vector<float> moved(length), full(length);
        for (int t = 0; t < length; ++t) moved[t] = src[(t + 1) % length];
        forward_transform_x87(moved.data(), length, full.data());
        int where = 0;
        const bool ok = same_bits(dst.data(), full.data(), half, &where);
        if (!ok) c.fail(kScalarOnly, name, describe(where, dst[where], full[where], 0));
        check_memory(c, kScalarOnly, name, {&dst}, {{&src, &copy}});
        c.dump(name, dst.data(), half);
        c.finish_case(kScalarOnly, before);
#if defined(__x86_64__)
        check_twin(c, "odd_lowpass_analysis", length, round, dst, nullptr, {{&src, &copy}},
                   [&](float* out) { odd_lowpass_analysis_avx2(src.data(), length, out); });
#endif
    }
}

void check_odd_synthesis(Checker& c, int half) {
    const int length = 2 * half;
    for (int round = 0; round < c.rounds(); ++round) {
        Random random = c.random_for("odd_lowpass_synthesis", half, round);
        GuardedLine approx(half), copy(half), dst(length);
        fill_line(random, approx.data(), half, kSpreads[round % 5]);
        copy.copy_from(approx);
        const std::string name = case_name("odd_lowpass_synthesis", half, kScalarOnly) + "#" + std::to_string(round);
        const long before = c.failures_so_far(kScalarOnly);
        if (!c.call(name, kScalarOnly, [&] { odd_lowpass_synthesis(approx.data(), half, dst.data()); })) return;
        std::vector<float> zeros(half, 0.0f), rebuilt(length);
        inverse_transform_x87(approx.data(), zeros.data(), half, rebuilt.data());
        bool ok = true;
        for (int t = 0; t < length && ok; ++t) {
            // Adding the zero details can only change the sign of a zero.
            if (dst[(t + 1) % length] != rebuilt[t]) {
                ok = false;
                c.fail(kScalarOnly, name, describe((t + 1) % length, dst[(t + 1) % length], rebuilt[t], 0));
            }
        }
        check_memory(c, kScalarOnly, name, {&dst}, {{&approx, &copy}});
        c.dump(name, dst.data(), length);
        c.finish_case(kScalarOnly, before);
#if defined(__x86_64__)
        check_twin(c, "odd_lowpass_synthesis", half, round, dst, nullptr, {{&approx, &copy}},
                   [&](float* out) { odd_lowpass_synthesis_avx2(approx.data(), half, out); });
#endif
    }
}

void check_edge_mask_pair(Checker& c, int half) {
    for (int round = 0; round < c.rounds(); ++round) {
        Random random = c.random_for("edge_mask_pair", half, round);
        const float t = edge_threshold(random, round);
        GuardedLine a(half), b(half), a_copy(half), b_copy(half), mask(2 * half);
        fill_edge_line(random, a.data(), half, t, round % 2 == 1);
        fill_edge_line(random, b.data(), half, t, round % 3 == 1);
        a_copy.copy_from(a);
        b_copy.copy_from(b);
        std::vector<float> start(2 * half);
        for (float& m : start) m = random.chance(5) ? 0.0f : 1.0f;
        mask.copy_from(start.data());
        const std::string name = case_name("edge_mask_pair", half, kScalarOnly) + "#" + std::to_string(round);
        const long before = c.failures_so_far(kScalarOnly);
        if (!c.call(name, kScalarOnly, [&] { edge_mask_pair(mask.data(), half, a.data(), b.data(), t); })) return;
        std::vector<float> only_a(start), only_b(start);
        edge_mask_x87(only_a.data(), half, a.data(), t);
        edge_mask_x87(only_b.data(), half, b.data(), t);
        bool ok = true;
        for (int i = 0; i < 2 * half && ok; ++i) {
            const float expected = std::fmax(only_a[i], only_b[i]);
            if (mask[i] != expected) {
                ok = false;
                c.fail(kScalarOnly, name, describe(i, mask[i], expected, 0));
            }
        }
        check_memory(c, kScalarOnly, name, {&mask}, {{&a, &a_copy}, {&b, &b_copy}});
        c.dump(name, mask.data(), 2 * half);
        c.finish_case(kScalarOnly, before);
#if defined(__x86_64__)
        check_twin(c, "edge_mask_pair", half, round, mask, start.data(), {{&a, &a_copy}, {&b, &b_copy}},
                   [&](float* out) { edge_mask_pair_avx2(out, half, a.data(), b.data(), t); });
#endif
    }
}

// ---------------------------------------------------------------- bench ---

// Median of five timings, each long enough to dwarf the clock's resolution.
double nanoseconds_per_call(const std::function<void()>& call) {
    using Clock = std::chrono::steady_clock;
    long calls = 1;
    for (;;) {
        const auto begin = Clock::now();
        for (long i = 0; i < calls; ++i) call();
        if (Clock::now() - begin > std::chrono::milliseconds(10)) break;
        calls *= 2;
    }
    double samples[5];
    for (double& s : samples) {
        const auto begin = Clock::now();
        for (long i = 0; i < calls; ++i) call();
        s = std::chrono::duration<double, std::nano>(Clock::now() - begin).count() / double(calls);
    }
    std::sort(samples, samples + 5);
    return samples[2];
}

void bench_row(Checker& c, const char* op, int size, int samples, const std::function<void(int)>& call_variant) {
    double x87 = 0;
    std::printf("%-20s %4d", op, size);
    for (int v = 0; v < kVariantCount; ++v) {
        if (!c.runs(v)) {
            std::printf("  %-31s", "untested");
            continue;
        }
        const double ns = nanoseconds_per_call([&] { call_variant(v); });
        if (v == kVariantX87) x87 = ns;
        std::printf("  %8.1f ns %6.3f ns/smp %5.2fx", ns, ns / samples, x87 / ns);
    }
    std::printf("\n");
}

void run_bench(Checker& c, const std::string& command) {
    std::printf("\nprocessor: %s\ncommand: %s\n", zeverive_test::processor_name().c_str(), command.c_str());
    std::printf("%-20s %4s  %-31s  %-31s  %-31s  %-31s\n", "operation", "size", "x87: per call, per sample",
                "3dnow: ... and speed-up vs x87", "sse", kVariantCount > 3 ? "avx2" : "");
    ScratchScope scratch;
    Random random(c.seed());
    GuardedLine a(kLineLength), b(kLineLength), d(kLineLength), e(kLineLength), mask(kLineLength);
    fill_line(random, a.data(), kLineLength, Spread::kCoefficients);
    fill_line(random, b.data(), kLineLength, Spread::kCoefficients);
    d.copy_from(a);
    e.copy_from(b);
    mask.fill(0.0f);
    if (c.selected("forward_transform"))
        for (int n : kForwardLengths)
            bench_row(c, "forward_transform", n, n, [&](int v) { kernel_table.forward_transform[v](a.data(), n, b.data()); });
    if (c.selected("inverse_transform"))
        for (int h : kHalfLengths)
            bench_row(c, "inverse_transform", h, 2 * h,
                      [&](int v) { kernel_table.inverse_transform[v](a.data(), a.data() + h, h, b.data()); });
    // The shrinks work in place: after the first call the same coefficients
    // are tested again, which costs what the first test did.
    for (const Band& band : kBands) {
        const int n = band.end - band.start;
        if (c.selected("shrink_band"))
            bench_row(c, "shrink_band", band.start, n,
                      [&](int v) { kernel_table.shrink_band[v](a.data(), band.start, band.end, 8.0f, mask.data()); });
        if (c.selected("shrink_band_2phase"))
            bench_row(c, "shrink_band_2phase", band.start, 2 * n, [&](int v) {
                kernel_table.shrink_band_2phase[v](a.data(), b.data(), band.start, band.end, 8.0f, mask.data());
            });
        if (c.selected("shrink_band_4phase"))
            bench_row(c, "shrink_band_4phase", band.start, 4 * n, [&](int v) {
                kernel_table.shrink_band_4phase[v](a.data(), b.data(), d.data(), e.data(), band.start, band.end, 8.0f,
                                                   mask.data());
            });
    }
    if (c.selected("edge_mask"))
        for (int h : kHalfLengths)
            bench_row(c, "edge_mask", h, h, [&](int v) { kernel_table.edge_mask[v](mask.data(), h, d.data(), 60.0f); });
}

// ----------------------------------------------------------------- main ---

struct Operation {
    const char* name;
    std::function<void(Checker&)> run;
};

std::vector<Operation> operations() {
    std::vector<Operation> ops;
    ops.push_back({"forward_transform", [](Checker& c) { for (int n : kForwardLengths) check_forward(c, n); }});
    ops.push_back({"inverse_transform", [](Checker& c) { for (int h : kHalfLengths) check_inverse(c, h); }});
    ops.push_back({"shrink_band", [](Checker& c) { for (const Band& b : kBands) check_shrink(c, "shrink_band", 1, b); }});
    ops.push_back({"shrink_band_4phase",
                   [](Checker& c) { for (const Band& b : kBands) check_shrink(c, "shrink_band_4phase", 4, b); }});
    ops.push_back({"shrink_band_2phase",
                   [](Checker& c) { for (const Band& b : kBands) check_shrink(c, "shrink_band_2phase", 2, b); }});
    ops.push_back({"edge_mask", [](Checker& c) { for (int h : kHalfLengths) check_edge_mask(c, h); }});
    ops.push_back({"odd_lowpass_analysis", [](Checker& c) { for (int n : kForwardLengths) check_odd_analysis(c, n); }});
    ops.push_back({"odd_lowpass_synthesis", [](Checker& c) { for (int h : kHalfLengths) check_odd_synthesis(c, h); }});
    ops.push_back({"edge_mask_pair", [](Checker& c) { for (int h : kHalfLengths) check_edge_mask_pair(c, h); }});
    return ops;
}

int usage() {
    std::fprintf(stderr,
                 "usage: kernel_check [--seed N] [--rounds N] [--function NAME|PREFIX*] [--require LIST]\n"
                 "                    [--force] [--dump FILE] [--bench] [--list]\n");
    return 2;
}

}  // namespace
}  // namespace check
}  // namespace zeverive

int main(int argc, char** argv) {
    using namespace zeverive::check;
    Options options;
    options.seed = static_cast<uint64_t>(std::chrono::system_clock::now().time_since_epoch().count()) % 1000000007u;
    std::string command = argv[0];
    for (int i = 1; i < argc; ++i) command += std::string(" ") + argv[i];
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool has_value = i + 1 < argc;
        if (arg == "--seed" && has_value) {
            options.seed = std::strtoull(argv[++i], nullptr, 10);
        } else if (arg == "--rounds" && has_value) {
            options.rounds = std::atoi(argv[++i]);
        } else if (arg == "--function" && has_value) {
            options.function = argv[++i];
        } else if (arg == "--require" && has_value) {
            options.require = argv[++i];
        } else if (arg == "--dump" && has_value) {
            options.dump_path = argv[++i];
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--bench") {
            options.bench = true;
        } else if (arg == "--list") {
            options.list = true;
        } else {
            return usage();
        }
    }
    if (options.rounds < 1) return usage();

    const std::vector<Operation> ops = operations();
    if (options.list) {
        for (const Operation& op : ops) std::printf("%s\n", op.name);
        return 0;
    }

    struct sigaction guard = {};
    guard.sa_handler = on_illegal_instruction;
    sigemptyset(&guard.sa_mask);
    sigaction(SIGILL, &guard, nullptr);

    Checker checker(options);
    std::printf("kernel_check: seed %llu, %d rounds per size\n", checker.seed(), options.rounds);
    bool any = false;
    for (const Operation& op : ops) {
        if (!checker.selected(op.name)) continue;
        any = true;
        op.run(checker);
    }
    if (!any) {
        std::printf("no operation matches --function %s\n", options.function.c_str());
        return 1;
    }
    if (options.bench) run_bench(checker, command);
    return checker.report();
}
