// Descriptors 0, 1 and 2 as the program finds and leaves them.
#pragma once

#include <optional>
#include <string>

namespace zeverive::cli {

// Run before anything else is opened. A standard descriptor the caller
// closed would go to the next file opened, and the program's messages or
// frames would then land in an output or an input. Each closed one is
// opened on /dev/null in the direction it is never used, so it stays as
// unusable as closed: reading standard input or writing standard output
// or standard error fails with EBADF, as it did.
void occupy_closed_standard_descriptors();

// Gives standard output a buffer that holds all the text the program
// prints there (--estimate, --list, --help), so that it goes out in one
// write at the end, where standard_output_error sees how it went.
void buffer_standard_output();

// What went wrong writing standard output, after writing out what is left
// of it; nothing when all of it was written.
std::optional<std::string> standard_output_error();

}  // namespace zeverive::cli
