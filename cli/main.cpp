// zeverive: runs the Zeverive plug-in over video files and pipes, as the
// host editor would run it over a clip.

#include <iostream>
#include <new>

#include "app.h"
#include "failure.h"
#include "options.h"

int main(int argc, char** argv) {
    using namespace zeverive::cli;
    try {
        Options options;
        ParseResult parsed = parse_options(argc, argv, options);
        if (parsed.exit_status) return *parsed.exit_status;
        return run(options, *parsed.library);
    } catch (const Failure& failure) {
        std::cerr << "zeverive: " << failure.what() << "\n";
    } catch (const std::bad_alloc&) {
        std::cerr << "zeverive: out of memory\n";
    }
    return 1;
}
