#include "run/progress.h"

#include <string>

namespace zeverive::cli {
namespace {

std::string clock_time(double seconds) {
    const long whole = static_cast<long>(seconds + 0.5);
    char text[32];
    if (whole >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
    return text;
}

}  // namespace

Progress::Progress(bool enabled, std::optional<int64_t> total, std::FILE* stream)
    : enabled_(enabled), total_(total), stream_(stream), start_(Clock::now()), last_draw_(start_) {}

Progress::~Progress() {
    if (drawn_ && !finished_) {
        std::fputc('\n', stream_);
        std::fflush(stream_);
    }
}

void Progress::update(int64_t frames_done) {
    if (!enabled_) return;
    const Clock::time_point now = Clock::now();
    if (drawn_ && now - last_draw_ < std::chrono::milliseconds(250)) return;
    last_draw_ = now;
    draw(frames_done);
}

void Progress::finish(int64_t frames_done) {
    if (!enabled_) return;
    draw(frames_done);
    finished_ = true;
    std::fputc('\n', stream_);
    std::fflush(stream_);
}

void Progress::draw(int64_t frames_done) {
    drawn_ = true;
    const double elapsed = std::chrono::duration<double>(Clock::now() - start_).count();
    const double rate = elapsed > 0 ? frames_done / elapsed : 0.0;
    std::string line = "frame " + std::to_string(frames_done);
    if (total_ && *total_ >= frames_done) line += "/" + std::to_string(*total_);
    char speed[32];
    std::snprintf(speed, sizeof speed, "  %.1f fps", rate);
    line += speed;
    if (total_ && *total_ >= frames_done && rate > 0) line += "  " + clock_time((*total_ - frames_done) / rate) + " left";
    else line += "  " + clock_time(elapsed);
    // Carriage return and clear-to-end-of-line redraw the line in place.
    std::fprintf(stream_, "\r%s\033[K", line.c_str());
    std::fflush(stream_);
}

}  // namespace zeverive::cli
