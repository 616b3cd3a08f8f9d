// Helpers for the host program's tests: scratch directories, running the
// built program, and video made to order.
#pragma once

#include <sys/types.h>

#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "luma/levels_avx2.h"

// In a test of the AVX2 loops (built on x86-64 only): skips the rest where
// the processor does not run them, which the report shows as skipped.
#define SKIP_WITHOUT_WIDE_LOOPS()                 \
    if (!::zeverive::luma::wide_loops_run()) \
    GTEST_SKIP() << "this processor does not run the AVX2 loops"

namespace zeverive::cli::testing {

// A fresh directory, removed with everything in it at the end of the test.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path(const std::string& name) const { return path_ + "/" + name; }
    // Names of the files in it, sorted.
    std::vector<std::string> files() const;

private:
    std::string path_;
};

struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
    long peak_kib = 0;  // the program's peak resident memory
};

struct RunSettings {
    std::string input;                       // fed to standard input
    std::string stdin_file;                  // or standard input opened from this file
    std::string stdout_file;                 // standard output opened on this file, not truncated
    std::map<std::string, std::string> env;  // added to the environment
    bool stderr_on_terminal = false;         // stderr is a pseudo-terminal
    std::vector<int> closed;                 // standard descriptors closed before the program starts
    uint64_t address_space = 0;              // RLIMIT_AS in bytes, as ulimit -v sets it; 0: none
    uid_t user = 0;                          // another user (and group of that number) to run as; 0: this one
};

// Runs `program` with `args` and waits for it.
RunResult run(const std::string& program, const std::vector<std::string>& args, const RunSettings& settings = {});
// The host program under test, run with `args`.
RunResult zeverive(const std::vector<std::string>& args, const RunSettings& settings = {});
// The host program under test, and the plug-ins built beside it.
std::string zeverive_binary();
std::string probe_plugin();
std::string shared_plugin();
std::string samples_dir();

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& bytes);
bool exists(const std::string& path);

// A YUV4MPEG2 stream built independently of the program's writer.
struct ClipShape {
    int width = 48;
    int height = 32;
    std::string colourspace = "420jpeg";  // empty: no C parameter
    int bit_depth = 8;
    int chroma_width = 24;   // 0 for mono
    int chroma_height = 16;
    int frames = 3;
    std::string extra_header;                 // appended to the header line
    std::vector<std::string> frame_params;    // per frame, after "FRAME"; missing ones empty
    uint32_t seed = 1;
};

// Sizes of the chroma planes for a colourspace tag, as the format defines
// them (rounded up for odd sizes).
ClipShape clip_shape(const std::string& colourspace, int width, int height);

// Samples: every code value of the depth, cycled, then pseudo-random.
std::string make_y4m(const ClipShape& shape);

// A YUV4MPEG2 stream split along the format's own lengths.
struct Y4mParts {
    std::string header;  // without the newline
    std::vector<std::string> frame_lines;
    std::vector<std::string> luma;
    std::vector<std::string> chroma;  // both planes
};
Y4mParts split_y4m(const std::string& bytes, const ClipShape& shape);

// Gaussian noise from a fixed seed.
class Noise {
public:
    explicit Noise(uint32_t seed) : state_(seed * 2654435761u + 12345) {}
    // Box-Muller from a xorshift generator: fixed, portable, good enough.
    double gaussian() {
        const double u1 = (next() + 1.0) / 4294967297.0;
        const double u2 = (next() + 1.0) / 4294967297.0;
        return std::sqrt(-2.0 * std::log(u1)) * std::cos(6.283185307179586 * u2);
    }

private:
    uint32_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 17;
        state_ ^= state_ << 5;
        return state_;
    }
    uint32_t state_;
};

// 8-bit 4:2:0 YUV4MPEG2 with the given luma frames (chroma neutral).
std::string y4m_from_luma(int width, int height, const std::vector<std::vector<uint8_t>>& frames);
// Luma planes of an 8-bit 4:2:0 stream.
std::vector<std::vector<uint8_t>> luma_of_y4m(const std::string& bytes, int width, int height);

}  // namespace zeverive::cli::testing
