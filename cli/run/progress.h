// The progress line on a terminal: frames done, frames per second and,
// when the input's length is known, the time left.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <optional>

namespace zeverive::cli {

class Progress {
public:
    // Shows nothing unless `enabled`; `total` is the expected frame count.
    Progress(bool enabled, std::optional<int64_t> total, std::FILE* stream = stderr);
    // A line left unfinished by an error is ended, so that the error
    // message starts on a line of its own.
    ~Progress();
    // Redraws the line at most a few times a second.
    void update(int64_t frames_done);
    // Draws the final state and ends the line.
    void finish(int64_t frames_done);

private:
    void draw(int64_t frames_done);

    using Clock = std::chrono::steady_clock;
    bool enabled_;
    std::optional<int64_t> total_;
    std::FILE* stream_;
    Clock::time_point start_;
    Clock::time_point last_draw_;
    bool drawn_ = false;
    bool finished_ = false;
};

}  // namespace zeverive::cli
