#include "checker.h"

#include <algorithm>
#include <chrono>

#include "platform/x87_precision.h"
#include "processor_state.h"
#include "support/processor_name.h"

namespace zeverive {
namespace check {
namespace {

std::string hex(unsigned value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%04x", value);
    return text;
}

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

}  // namespace

Checker::Checker(const Options& options) : options_(options) {
    for (KernelVariant v = 0; v < kVariantCount; ++v) runs_[v] = options.force || variant_runs(v);
    sse_state_readable_ = variant_runs(kVariantSse);
    if (!options.dump_path.empty()) {
        dump_ = std::fopen(options.dump_path.c_str(), "wb");
        if (!dump_) std::fprintf(stderr, "cannot write %s\n", options.dump_path.c_str());
    }
}

Checker::~Checker() {
    if (dump_) std::fclose(dump_);
}

bool Checker::selected(const char* op) {
    if (options_.list) {
        std::printf("%s\n", op);
        return false;
    }
    const std::string& f = options_.function;
    const bool chosen = f.empty() || (f.back() == '*' ? std::string(op).compare(0, f.size() - 1, f, 0, f.size() - 1) == 0
                                                     : f == op);
    any_selected_ = any_selected_ || chosen;
    return chosen;
}

Random Checker::random_for(const char* op, int size, int round) const {
    uint64_t h = options_.seed * 0x100000001b3ull;
    for (const char* c = op; *c; ++c) h = (h ^ static_cast<unsigned char>(*c)) * 0x100000001b3ull;
    h = (h ^ static_cast<uint64_t>(size)) * 0x100000001b3ull;
    h = (h ^ static_cast<uint64_t>(round)) * 0x100000001b3ull;
    return Random(h);
}

bool Checker::call(const std::string& name, KernelVariant v, const std::function<void()>& kernel) {
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
        return false;
    }
    const uint16_t tag = x87_tag_word();
    if (tag != 0xffff) fail(v, name, "x87 registers left in use (tag word " + hex(tag) + "): FEMMS missing?");
    if (x87_control_word() != control) fail(v, name, "x87 control word changed");
    if (sse_state_readable_ && read_mxcsr_control() != mxcsr) fail(v, name, "MXCSR changed");
    return true;
}

void Checker::fail(KernelVariant v, const std::string& name, const std::string& what) {
    ++tally_[v].failures;
    if (++printed_ <= 60) std::printf("FAIL %s (seed %llu): %s\n", name.c_str(), seed(), what.c_str());
}

// Only the variants every build has: the forms beyond them must give the
// SSE form's bits, which are in the dump.
void Checker::dump(const std::string& name, KernelVariant v, const float* data, int count) {
    if (!dump_ || v >= kPortableVariantCount) return;
    std::fprintf(dump_, "%s %d\n", name.c_str(), count);
    std::fwrite(data, sizeof(float), static_cast<size_t>(count), dump_);
}

void Checker::dump_untested(const std::string& name, KernelVariant v) {
    if (dump_ && v < kPortableVariantCount) std::fprintf(dump_, "%s UNTESTED\n", name.c_str());
}

Checker::BenchRow& Checker::bench_row(const char* op, int size, int samples) {
    for (BenchRow& row : bench_)
        if (row.op == op && row.size == size) return row;
    BenchRow row{op, size, samples, {}, {}};
    std::fill(row.ns, row.ns + kVariantCount, -1.0);
    std::fill(row.same_as, row.same_as + kVariantCount, -1);
    bench_.push_back(row);
    return bench_.back();
}

void Checker::time(const char* op, int size, int samples, KernelVariant v, const std::function<void()>& call) {
    bench_row(op, size, samples).ns[v] = nanoseconds_per_call(call);
}

void Checker::time_shared(const char* op, int size, int samples, KernelVariant v, KernelVariant earlier) {
    bench_row(op, size, samples).same_as[v] = earlier;
}

void Checker::print_bench(const std::string& command) const {
    std::printf("\nprocessor: %s\ncommand: %s\n", zeverive_test::processor_name().c_str(), command.c_str());
    std::printf("%-22s %4s", "operation", "size");
    for (KernelVariant v = 0; v < kVariantCount; ++v)
        std::printf("  %-31s", v == kVariantX87 ? "x87: ns per call, per sample" : kVariantNames[v]);
    std::printf("\n%27s", "");
    for (KernelVariant v = 1; v < kVariantCount; ++v) std::printf("  %31s", "... and speed-up vs x87");
    std::printf("\n");
    for (const BenchRow& row : bench_) {
        std::printf("%-22s %4d", row.op.c_str(), row.size);
        for (KernelVariant v = 0; v < kVariantCount; ++v) {
            char cell[40];
            if (row.same_as[v] >= 0) {
                std::snprintf(cell, sizeof cell, "the %s form", kVariantNames[row.same_as[v]]);
            } else if (row.ns[v] < 0) {
                std::snprintf(cell, sizeof cell, "untested");
            } else {
                std::snprintf(cell, sizeof cell, "%8.1f ns %6.3f ns/smp %5.2fx", row.ns[v], row.ns[v] / row.samples,
                              row.ns[kVariantX87] / row.ns[v]);
            }
            std::printf("  %-31s", cell);
        }
        std::printf("\n");
    }
}

int Checker::report() const {
    bool ok = true;
    std::printf("\n");
    for (KernelVariant v = 0; v < kVariantCount; ++v) {
        const Tally& t = tally_[v];
        if (!runs_[v]) {
            std::printf("%-6s UNTESTED (processor lacks it)\n", kVariantNames[v]);
            continue;
        }
        std::printf("%-6s %ld cases checked, %ld failed", kVariantNames[v], t.cases, t.failed_cases);
        if (t.shared) std::printf("; %ld cases shared an earlier variant's form", t.shared);
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
        KernelVariant v = 0;
        while (v < kVariantCount && name != kVariantNames[v]) ++v;
        if (v == kVariantCount) {
            std::printf("unknown variant %s in --require\n", name.c_str());
            ok = false;
        } else if (!runs_[v] || tally_[v].cases + tally_[v].shared == 0) {
            std::printf("required variant %s was not tested\n", name.c_str());
            ok = false;
        }
        start = comma + 1;
    }
    if (!options_.dump_path.empty() && !dump_) ok = false;
    std::printf("%s\n", ok ? "kernel_check: all checks passed" : "kernel_check: FAILED");
    return ok ? 0 : 1;
}

KernelCase::KernelCase(Checker& checker, const char* op, int size, int round, int samples)
    : checker_(checker),
      op_(op),
      size_(size),
      round_(round),
      samples_(samples),
      random_(checker.random_for(op, size, round)) {}

void KernelCase::reads(const GuardedLine& line) {
    auto copy = std::make_unique<GuardedLine>(line.size());
    copy->copy_from(line);
    reads_.push_back({&line, std::move(copy)});
}

void KernelCase::writes(int size, const float* initial) {
    writes_.push_back({size, initial ? std::vector<float>(initial, initial + size) : std::vector<float>()});
}

std::string KernelCase::name(KernelVariant v) const {
    return std::string(op_) + "_" + std::to_string(size_) + "_" + kVariantNames[v] + "#" + std::to_string(round_);
}

std::unique_ptr<Lines> KernelCase::fresh_outputs() const {
    auto lines = std::make_unique<Lines>();
    for (const Output& w : writes_) {
        lines->push_back(std::make_unique<GuardedLine>(w.size));
        if (!w.initial.empty()) lines->back()->copy_from(w.initial.data());
    }
    return lines;
}

// Guard bands intact and the read-only inputs untouched.
void KernelCase::check_memory(KernelVariant v, const Lines& lines) {
    for (const auto& line : lines) {
        int where = 0;
        if (!line->guards_intact(&where)) fail(v, "wrote outside its output, at offset " + std::to_string(where));
    }
    for (const ReadOnly& in : reads_) {
        for (int i = 0; i < in.line->size(); ++i) {
            if (bits_of((*in.line)[i]) != bits_of((*in.copy)[i])) {
                fail(v, "changed its input at " + std::to_string(i));
                break;
            }
        }
        int where = 0;
        if (!in.line->guards_intact(&where)) fail(v, "wrote outside its input, at offset " + std::to_string(where));
    }
}

void KernelCase::expect_same_bits(KernelVariant v, const Lines& got, const Lines& wanted) {
    for (size_t k = 0; k < got.size(); ++k) {
        for (int i = 0; i < got[k]->size(); ++i) {
            if (bits_of((*got[k])[i]) != bits_of((*wanted[k])[i])) {
                char what[160];
                std::snprintf(what, sizeof what, "line %zu index %d: got %.9g, sse form %.9g (must be the same bits)",
                              k, i, (*got[k])[i], (*wanted[k])[i]);
                fail(v, what);
                break;
            }
        }
    }
}

void KernelCase::dump(KernelVariant v, const Lines& lines) {
    for (const auto& line : lines) checker_.dump(name(v), v, line->data(), line->size());
}

KernelVariant KernelCase::earlier_with(void (*form)()) const {
    for (KernelVariant u = 0; u < kVariantCount; ++u)
        if (forms_[u] == form) return u;
    return -1;
}

}  // namespace check
}  // namespace zeverive
