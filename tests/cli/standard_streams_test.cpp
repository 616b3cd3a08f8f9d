// Descriptors 0, 1 and 2 as callers leave them: closed ones must not turn
// into the program's files, and a standard output that cannot be written
// fails the run.

#include <gtest/gtest.h>

#include "test_support.h"

namespace zeverive::cli {
namespace {

using namespace testing;

// With standard error closed, the first file the program opened took its
// number, and the settings line went into the output.
TEST(Descriptors, AClosedStandardErrorNeverBecomesTheOutput) {
    TempDir dir;
    write_file(dir.path("in.y4m"), make_y4m(clip_shape("420jpeg", 24, 16)));
    RunSettings from_file;
    from_file.stdin_file = dir.path("in.y4m");
    RunSettings without_stderr = from_file;
    without_stderr.closed = {2};
    for (const char* jobs : {"1", "2"}) {
        const RunResult reference = zeverive({"-j", jobs, "-", dir.path("ref.y4m")}, from_file);
        ASSERT_EQ(reference.status, 0) << reference.err;
        const RunResult closed = zeverive({"-j", jobs, "-", dir.path("out.y4m")}, without_stderr);
        EXPECT_EQ(closed.status, 0) << jobs;
        EXPECT_EQ(read_file(dir.path("out.y4m")), read_file(dir.path("ref.y4m"))) << jobs;
    }
}

// Writing to standard output fails as it would on the closed descriptor,
// and the input, which took its number before, is never the output.
TEST(Descriptors, AClosedStandardOutputFailsAsClosed) {
    TempDir dir;
    const std::string input = make_y4m(clip_shape("420jpeg", 24, 16));
    write_file(dir.path("in.y4m"), input);
    RunSettings without_stdout;
    without_stdout.closed = {1};
    const RunResult output = zeverive({"-q", dir.path("in.y4m"), "-"}, without_stdout);
    EXPECT_EQ(output.status, 1);
    EXPECT_EQ(output.err.rfind("zeverive: standard output: ", 0), 0u) << output.err;
    EXPECT_NE(output.err.find(": cannot write: Bad file descriptor\n"), std::string::npos) << output.err;
    EXPECT_EQ(read_file(dir.path("in.y4m")), input);
}

// Text for standard output (the estimate, the record, the help) that does
// not get there fails the run, naming the reason.
TEST(Descriptors, StandardOutputThatCannotBeWrittenFailsTheRun) {
    TempDir dir;
    write_file(dir.path("in.y4m"), make_y4m(clip_shape("420jpeg", 24, 16)));
    RunSettings full;
    full.stdout_file = "/dev/full";
    RunSettings closed;
    closed.closed = {1};
    const std::vector<std::string> commands[] = {{"--estimate", dir.path("in.y4m")}, {"--list"}, {"--help"}};
    // What goes to standard error before (how the estimate was measured)
    // stays; the last line is the failure.
    const auto last_line = [](const std::string& err) {
        const size_t start = err.rfind('\n', err.size() - 2);
        return start == std::string::npos ? err : err.substr(start + 1);
    };
    for (const std::vector<std::string>& args : commands) {
        const RunResult to_full = zeverive(args, full);
        EXPECT_EQ(to_full.status, 1) << args[0];
        EXPECT_EQ(last_line(to_full.err), "zeverive: standard output: cannot write: No space left on device\n") << args[0];
        const RunResult to_closed = zeverive(args, closed);
        EXPECT_EQ(to_closed.status, 1) << args[0];
        EXPECT_EQ(last_line(to_closed.err), "zeverive: standard output: cannot write: Bad file descriptor\n") << args[0];
    }
}

}  // namespace
}  // namespace zeverive::cli
