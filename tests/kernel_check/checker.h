// The kernel checker's framework, after the model of the codec checkers. A
// check names an operation, builds the inputs of one case from a seed of
// the case's own, and hands the case a family function that gives each
// variant's form. The case calls every form that is new to it, inside
// guard bands and with the processor state checked around the call, lets
// the check judge the outputs (against the x87 form, or against the
// definition for the x87 form itself), holds the forms beyond the portable
// variants to the SSE form's bits, dumps what the x86-64 and the i386
// build must share, and under --bench times the call.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "cpu/detect.h"
#include "support/kernel_cases.h"

namespace zeverive {
namespace check {

using namespace zeverive_test;

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

// What one variant has been through.
struct Tally {
    long cases = 0;
    long failed_cases = 0;
    long failures = 0;
    long shared = 0;  // cases whose form is an earlier variant's function, not run again
    // Places where a SIMD form differs from x87 by definition, by reason.
    long at_threshold = 0;  // a value exactly at +-threshold: x87 keeps, SIMD clears
    long other_mask = 0;    // a mask other than 0.0 or 1.0: x87 scales, SIMD decides
    long rounding = 0;      // an edge decision within rounding of the threshold
    bool crashed = false;
};

class Checker {
  public:
    explicit Checker(const Options& options);
    ~Checker();
    Checker(const Checker&) = delete;
    Checker& operator=(const Checker&) = delete;

    // Whether --function selects the operation; under --list it is printed
    // instead and nothing runs.
    bool selected(const char* op);
    bool nothing_selected() const { return !any_selected_; }
    int rounds() const { return options_.rounds; }
    bool benchmarking() const { return options_.bench; }
    unsigned long long seed() const { return static_cast<unsigned long long>(options_.seed); }
    // A random source of its own for every case, so --function does not
    // change the data of the cases it keeps.
    Random random_for(const char* op, int size, int round) const;
    // Whether variant v is run: the processor has it (or --force) and it
    // has not raised SIGILL yet.
    bool runs(KernelVariant v) const { return runs_[v] && !tally_[v].crashed; }

    // Calls a form of variant v and checks what it left in the processor.
    // False when it raised SIGILL.
    bool call(const std::string& name, KernelVariant v, const std::function<void()>& kernel);
    void fail(KernelVariant v, const std::string& name, const std::string& what);
    Tally& tally(KernelVariant v) { return tally_[v]; }

    void dump(const std::string& name, KernelVariant v, const float* data, int count);
    void dump_untested(const std::string& name, KernelVariant v);

    // One bench row per operation and size, one column per variant.
    void time(const char* op, int size, int samples, KernelVariant v, const std::function<void()>& call);
    void time_shared(const char* op, int size, int samples, KernelVariant v, KernelVariant earlier);
    void print_bench(const std::string& command) const;

    // Prints every variant's tally and what --require missed; the exit status.
    int report() const;

  private:
    struct BenchRow {
        std::string op;
        int size;
        int samples;
        double ns[kVariantCount];
        KernelVariant same_as[kVariantCount];
    };
    BenchRow& bench_row(const char* op, int size, int samples);

    Options options_;
    bool runs_[kVariantCount] = {};
    bool sse_state_readable_ = false;
    Tally tally_[kVariantCount];
    bool any_selected_ = false;
    long printed_ = 0;
    FILE* dump_ = nullptr;
    std::vector<BenchRow> bench_;
};

using Lines = std::vector<std::unique_ptr<GuardedLine>>;

// One case of one operation: the same inputs through every variant's form.
class KernelCase {
  public:
    // `samples` counts what one call reads, for the bench's time per sample.
    KernelCase(Checker& checker, const char* op, int size, int round, int samples);

    Random& random() { return random_; }
    // A line every form only reads: after each call it must still hold
    // what it holds now, guards included.
    void reads(const GuardedLine& line);
    // One more line every form writes, starting as `initial` (or all
    // canaries); outside it nothing may change.
    void writes(int size, const float* initial = nullptr);

    // `form_of(v)` gives variant v's form; `call(form, outputs)` calls it;
    // `judge(v, outputs)` compares them with the x87 outputs or the
    // definition, through fail() and tally().
    template <class FormOf, class Call, class Judge>
    void run(FormOf form_of, Call call, Judge judge);

    // What variant v wrote (or the earlier variant whose function it shares).
    const Lines& outputs(KernelVariant v) const { return *outputs_[v]; }
    void fail(KernelVariant v, const std::string& what) { checker_.fail(v, name(v), what); }
    Tally& tally(KernelVariant v) { return checker_.tally(v); }

  private:
    std::string name(KernelVariant v) const;
    std::unique_ptr<Lines> fresh_outputs() const;
    void check_memory(KernelVariant v, const Lines& lines);
    void expect_same_bits(KernelVariant v, const Lines& got, const Lines& wanted);
    void dump(KernelVariant v, const Lines& lines);
    // The earlier variant whose form is `form`, or -1.
    KernelVariant earlier_with(void (*form)()) const;

    struct ReadOnly {
        const GuardedLine* line;
        std::unique_ptr<GuardedLine> copy;
    };
    struct Output {
        int size;
        std::vector<float> initial;
    };

    Checker& checker_;
    const char* op_;
    int size_;
    int round_;
    int samples_;
    Random random_;
    std::vector<ReadOnly> reads_;
    std::vector<Output> writes_;
    void (*forms_[kVariantCount])() = {};
    std::shared_ptr<const Lines> outputs_[kVariantCount];
};

template <class FormOf, class Call, class Judge>
void KernelCase::run(FormOf form_of, Call call, Judge judge) {
    for (KernelVariant v = 0; v < kVariantCount; ++v) {
        if (!checker_.runs(v)) {
            checker_.dump_untested(name(v), v);
            continue;
        }
        const auto form = form_of(v);
        const auto id = reinterpret_cast<void (*)()>(form);
        const KernelVariant earlier = earlier_with(id);
        if (earlier >= 0) {
            outputs_[v] = outputs_[earlier];
            forms_[v] = id;
            ++tally(v).shared;
            dump(v, *outputs_[v]);
            if (checker_.benchmarking() && round_ + 1 == checker_.rounds())
                checker_.time_shared(op_, size_, samples_, v, earlier);
            continue;
        }
        std::unique_ptr<Lines> lines = fresh_outputs();
        std::vector<float*> out;
        for (const auto& line : *lines) out.push_back(line->data());
        const long failures_before = tally(v).failures;
        ++tally(v).cases;
        if (!checker_.call(name(v), v, [&] { call(form, out.data()); })) {
            ++tally(v).failed_cases;
            continue;
        }
        check_memory(v, *lines);
        if (v == kVariantX87 || outputs_[kVariantX87]) {
            judge(v, *lines);
        } else {
            fail(v, "no x87 outputs to compare with");
        }
        if (v >= kPortableVariantCount && outputs_[kVariantSse]) expect_same_bits(v, *lines, *outputs_[kVariantSse]);
        dump(v, *lines);
        if (tally(v).failures != failures_before) ++tally(v).failed_cases;
        if (checker_.benchmarking() && round_ + 1 == checker_.rounds())
            checker_.time(op_, size_, samples_, v, [&] { call(form, out.data()); });
        outputs_[v] = std::move(lines);
        forms_[v] = id;
    }
}

}  // namespace check
}  // namespace zeverive
