// zeverive: runs the Zeverive plug-in over video files and pipes, as the
// host editor would run it over a clip.

#include <iostream>
#include <new>

#include "app.h"
#include "failure.h"
#include "options.h"
#include "standard_streams.h"

int main(int argc, char** argv) {
    using namespace zeverive::cli;
    occupy_closed_standard_descriptors();
    buffer_standard_output();
    int status = 1;
    try {
        Options options;
        ParseResult parsed = parse_options(argc, argv, options);
        status = parsed.exit_status ? *parsed.exit_status : run(options, *parsed.library);
    } catch (const Failure& failure) {
        std::cerr << "zeverive: " << failure.what() << "\n";
    } catch (const std::bad_alloc&) {
        std::cerr << "zeverive: out of memory\n";
    }
    if (const std::optional<std::string> error = standard_output_error()) {
        std::cerr << "zeverive: " << *error << "\n";
        if (status == 0) status = 1;
    }
    return status;
}
