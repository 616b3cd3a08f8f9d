// The one kind of error the host program reports: a sentence for the user,
// already naming the file and, where there is one, the frame.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

namespace zeverive::cli {

class Failure : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// "NAME: frame N: PROBLEM". Frames count from 0, as --preview-frame does.
inline Failure frame_failure(const std::string& name, int64_t frame, const std::string& problem) {
    return Failure(name + ": frame " + std::to_string(frame) + ": " + problem);
}

// A read or write that the operating system refused; the caller adds
// the file and frame.
class IoError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace zeverive::cli
