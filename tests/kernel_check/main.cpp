// The kernel checker: every variant's form of every kernel against the x87
// form or the definition, on seeded random lines at every size the
// pipeline uses, inside guard bands, with the processor state checked
// around every call; a form several variants share is checked once. The
// forms beyond the portable variants (AVX2 on x86-64) must also give every
// bit of the SSE form's. With --bench it also times every form.
//
//   kernel_check [--seed N] [--rounds N] [--function NAME|PREFIX*]
//                [--require x87,3dnow,sse,avx2] [--force] [--dump FILE]
//                [--bench] [--list]

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "checker.h"
#include "families.h"
#include "processor_state.h"

namespace {

int usage() {
    std::fprintf(stderr,
                 "usage: kernel_check [--seed N] [--rounds N] [--function NAME|PREFIX*] [--require LIST]\n"
                 "                    [--force] [--dump FILE] [--bench] [--list]\n");
    return 2;
}

}  // namespace

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

    Checker checker(options);
    if (options.list) {
        for (auto family : kFamilies) family(checker);
        return 0;
    }
    install_illegal_instruction_guard();
    std::printf("kernel_check: seed %llu, %d rounds per size\n", checker.seed(), options.rounds);
    for (auto family : kFamilies) family(checker);
    if (checker.nothing_selected()) {
        std::printf("no operation matches --function %s\n", options.function.c_str());
        return 1;
    }
    if (options.bench) checker.print_bench(command);
    return checker.report();
}
