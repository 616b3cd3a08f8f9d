// The program as a hostile or unlucky user meets it: outputs that are not
// plain files, outputs that are the input, a kill in the middle, write
// errors, and headers that promise more than the machine holds. Each case
// checks the exit status, the message, the files left and the input.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <exception>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <thread>

#include "failure.h"
#include "run/frame_processor.h"
#include "run/memory_budget.h"
#include "run/output_file.h"
#include "test_support.h"

namespace zeverive::cli {
namespace {

using namespace testing;

mode_t kind_of(const std::string& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info.st_mode & S_IFMT;
}

// Reads everything from a FIFO or an accepted connection in the
// background, as the program's reader would.
class Drain {
public:
    explicit Drain(std::function<int()> open_end)
        : thread_([this, open_end] {
              const int fd = open_end();
              char buffer[65536];
              for (ssize_t got; fd >= 0 && (got = read(fd, buffer, sizeof buffer)) > 0;) bytes_.append(buffer, got);
              if (fd >= 0) close(fd);
          }) {}
    std::string bytes() {
        thread_.join();
        return bytes_;
    }

private:
    std::string bytes_;
    std::thread thread_;
};

TEST(Outputs, DevicesFifosAndSocketsAreWrittenNeverReplaced) {
    TempDir dir;
    const std::string input = make_y4m(clip_shape("420jpeg", 24, 16));
    write_file(dir.path("in.y4m"), input);
    const RunResult reference = zeverive({"-j", "1", dir.path("in.y4m"), dir.path("ref.y4m")});
    ASSERT_EQ(reference.status, 0) << reference.err;
    const std::string expected = read_file(dir.path("ref.y4m"));

    // A copy of the null device where this test may make one (as root),
    // so that a fault cannot replace the machine's own; elsewhere the
    // real one, which an ordinary user could not replace anyway.
    std::string null_device = "/dev/null";
    if (geteuid() == 0 && mknod(dir.path("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0)
        null_device = dir.path("null");
    const RunResult to_null = zeverive({dir.path("in.y4m"), null_device});
    EXPECT_EQ(to_null.status, 0) << to_null.err;
    EXPECT_EQ(kind_of(null_device), S_IFCHR);

    ASSERT_EQ(mkfifo(dir.path("fifo").c_str(), 0600), 0);
    Drain fifo_reader([&] { return open(dir.path("fifo").c_str(), O_RDONLY); });
    const RunResult to_fifo = zeverive({dir.path("in.y4m"), dir.path("fifo")});
    EXPECT_EQ(to_fifo.status, 0) << to_fifo.err;
    EXPECT_EQ(fifo_reader.bytes(), expected);
    EXPECT_EQ(kind_of(dir.path("fifo")), S_IFIFO);

    const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", dir.path("socket").c_str());
    ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(listen(listener, 1), 0);
    Drain socket_reader([&] { return accept(listener, nullptr, nullptr); });
    const RunResult to_socket = zeverive({dir.path("in.y4m"), dir.path("socket")});
    EXPECT_EQ(to_socket.status, 0) << to_socket.err;
    EXPECT_EQ(socket_reader.bytes(), expected);
    EXPECT_EQ(kind_of(dir.path("socket")), S_IFSOCK);
    close(listener);
    EXPECT_EQ(read_file(dir.path("in.y4m")), input);
}

TEST(Outputs, AReplacedFileKeepsItsModeItsLinkAndAnyNameThatFits) {
    TempDir dir;
    write_file(dir.path("in.y4m"), make_y4m(clip_shape("420jpeg", 24, 16)));
    ASSERT_EQ(zeverive({dir.path("in.y4m"), dir.path("ref.y4m")}).status, 0);
    const std::string expected = read_file(dir.path("ref.y4m"));

    write_file(dir.path("private.y4m"), "old");
    chmod(dir.path("private.y4m").c_str(), 0640);
    ASSERT_EQ(zeverive({dir.path("in.y4m"), dir.path("private.y4m")}).status, 0);
    struct stat info {};
    stat(dir.path("private.y4m").c_str(), &info);
    EXPECT_EQ(info.st_mode & 07777, 0640u);
    EXPECT_EQ(read_file(dir.path("private.y4m")), expected);

    // Through a link to a file, and to a file not there yet.
    std::filesystem::create_directory(dir.path("sub"));
    write_file(dir.path("sub/target.y4m"), "old");
    std::filesystem::create_symlink("sub/target.y4m", dir.path("link.y4m"));
    std::filesystem::create_symlink("sub/new.y4m", dir.path("dangling.y4m"));
    for (const char* link : {"link.y4m", "dangling.y4m"}) {
        ASSERT_EQ(zeverive({dir.path("in.y4m"), dir.path(link)}).status, 0) << link;
        EXPECT_EQ(kind_of(dir.path(link)), S_IFLNK) << link;
        EXPECT_EQ(read_file(dir.path(link)), expected) << link;
    }

    // Names up to the file system's limit, whatever the temporary's is.
    for (size_t length : {244u, 255u}) {
        const std::string name = std::string(length - 4, 'n') + ".y4m";
        const RunResult result = zeverive({dir.path("in.y4m"), dir.path(name)});
        EXPECT_EQ(result.status, 0) << length << ": " << result.err;
        EXPECT_EQ(read_file(dir.path(name)), expected) << length;
        std::filesystem::remove(dir.path(name));
    }
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"dangling.y4m", "in.y4m", "link.y4m", "private.y4m", "ref.y4m",
                                                     "sub"}));
}

// A name of descriptor 1 is standard output, whatever it is open on; its
// link leads to no file ("pipe:[...]") that could be created or replaced.
TEST(Outputs, NamesOfStandardOutputAreWrittenDirectly) {
    TempDir dir;
    write_file(dir.path("in.y4m"), make_y4m(clip_shape("420jpeg", 24, 16)));
    ASSERT_EQ(zeverive({"-q", dir.path("in.y4m"), dir.path("ref.y4m")}).status, 0);
    for (const char* name : {"/dev/stdout", "/dev/fd/1", "/proc/self/fd/1"}) {
        const RunResult result = zeverive({"-q", dir.path("in.y4m"), name});
        EXPECT_EQ(result.status, 0) << name << ": " << result.err;
        EXPECT_EQ(result.out, read_file(dir.path("ref.y4m"))) << name;
    }
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"in.y4m", "ref.y4m"}));
}

// In a sticky directory such as /tmp only the file's owner, the
// directory's owner or root may replace a file: another user learns it
// before the first frame, not after the last. Needs root to make the
// other users' files and to become one of them.
TEST(Outputs, AnotherUsersFileInAStickyDirectoryIsRefusedBeforeTheFirstFrame) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make files of two other users";
    constexpr uid_t kRunner = 65534, kOwner = 1;
    TempDir dir;
    ASSERT_EQ(chmod(dir.path("").c_str(), 0755), 0);
    write_file(dir.path("in.y4m"), make_y4m(clip_shape("420jpeg", 24, 16)));
    std::filesystem::create_directory(dir.path("shared"));
    ASSERT_EQ(chmod(dir.path("shared").c_str(), 01777), 0);
    const std::string out = dir.path("shared/out.y4m");
    RunSettings as_runner;
    as_runner.user = kRunner;
    for (const uid_t owner : {kOwner, kRunner}) {
        write_file(out, "theirs");
        ASSERT_EQ(chown(out.c_str(), owner, owner), 0);
        ASSERT_EQ(chmod(out.c_str(), 0666), 0);
        const RunResult result = zeverive({"-q", dir.path("in.y4m"), out}, as_runner);
        if (owner == kRunner) {
            EXPECT_EQ(result.status, 0) << result.err;
            EXPECT_NE(read_file(out), "theirs");
            continue;
        }
        EXPECT_EQ(result.status, 1);
        EXPECT_EQ(result.err, "zeverive: " + out + ": cannot replace: it belongs to another user in a directory where "
                                                   "only its owner may replace it (sticky)\n");
        EXPECT_EQ(read_file(out), "theirs");
    }
    EXPECT_EQ(std::filesystem::directory_iterator(dir.path("shared"))->path().filename(), "out.y4m");
}

// The program reading a pipe that the test writes as it likes.
class Feeding {
public:
    Feeding(const std::vector<std::string>& args, const std::map<std::string, std::string>& env) {
        int feed[2];
        if (pipe(feed) != 0) throw std::runtime_error("pipe failed");
        const std::string program = zeverive_binary();
        pid_ = fork();
        if (pid_ == 0) {
            dup2(feed[0], 0);
            close(feed[0]);
            close(feed[1]);
            for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
            std::vector<char*> argv{const_cast<char*>(program.c_str())};
            for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
            argv.push_back(nullptr);
            execv(program.c_str(), argv.data());
            _exit(127);
        }
        close(feed[0]);
        feed_ = feed[1];
    }
    ~Feeding() {
        if (pid_ > 0) finish();
    }

    void write(const std::string& bytes) {
        ASSERT_EQ(::write(feed_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }
    void signal(int number) { kill(pid_, number); }
    // Ends the input; the exit status, or 128 + the signal.
    int finish() {
        close(feed_);
        int status = 0;
        waitpid(pid_, &status, 0);
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t pid_ = -1;
    int feed_ = -1;
};

// Where the file system has no nameless files, the temporary has a name in
// the output's directory, which the program holds open: renamed while the
// frames come, the directory takes the finished output with it, and a run
// that fails, or is stopped, leaves no temporary there.
TEST(Outputs, ANamedTemporaryStaysWithItsDirectoryWhenThatIsRenamed) {
    const std::string input = make_y4m(clip_shape("420jpeg", 24, 16));
    const size_t header = input.find('\n') + 1;
    const std::map<std::string, std::string> without_tmpfile = {
        {"LD_PRELOAD", NO_TMPFILE_PRELOAD}, {"ASAN_OPTIONS", "verify_asan_link_order=0"}};
    TempDir dir;
    write_file(dir.path("in.y4m"), input);
    ASSERT_EQ(zeverive({"--no-auto", "-q", dir.path("in.y4m"), dir.path("ref.y4m")}).status, 0);

    enum class End { kComplete, kTruncated, kTerminated };
    for (const End end : {End::kComplete, End::kTruncated, End::kTerminated}) {
        SCOPED_TRACE(static_cast<int>(end));
        std::filesystem::create_directory(dir.path("sub"));
        Feeding run({"--no-auto", "-q", "-j", "1", "-", dir.path("sub/out.y4m")}, without_tmpfile);
        run.write(input.substr(0, header));
        // The output is open once its temporary is there.
        bool named = false;
        for (int tries = 0; tries < 3000 && !named; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            for (const auto& entry : std::filesystem::directory_iterator(dir.path("sub")))
                named |= entry.path().filename().string().rfind(".out.y4m.partial-", 0) == 0;
        }
        ASSERT_TRUE(named);
        std::filesystem::rename(dir.path("sub"), dir.path("moved"));
        if (end == End::kComplete) {
            run.write(input.substr(header));
            EXPECT_EQ(run.finish(), 0);
            EXPECT_EQ(read_file(dir.path("moved/out.y4m")), read_file(dir.path("ref.y4m")));
            std::filesystem::remove(dir.path("moved/out.y4m"));
        } else if (end == End::kTruncated) {
            run.write(input.substr(header, 100));
            EXPECT_EQ(run.finish(), 1);
        } else {
            run.signal(SIGTERM);
            EXPECT_EQ(run.finish(), 128 + SIGTERM);
        }
        EXPECT_TRUE(std::filesystem::is_empty(dir.path("moved")));
        std::filesystem::remove(dir.path("moved"));
    }
}

// A preview whose name links to the output, not yet there, would replace
// the output it was written beside.
TEST(Outputs, ThePreviewIsRefusedWhereALinkLeadsItToTheOutput) {
    TempDir dir;
    write_file(dir.path("in.y4m"), make_y4m(clip_shape("420jpeg", 24, 16)));
    std::filesystem::create_symlink("out.y4m", dir.path("look.png"));
    const RunResult result = zeverive({"--preview", dir.path("look.png"), dir.path("in.y4m"), dir.path("out.y4m")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "zeverive: " + dir.path("look.png") + ": the preview and the output need different names\n");
    EXPECT_EQ(dir.files(), (std::vector<std::string>{"in.y4m", "look.png"}));
}

TEST(Outputs, TheInputIsRefusedAsOutputHoweverItArrives) {
    TempDir dir;
    const std::string input = make_y4m(clip_shape("420jpeg", 24, 16));
    const std::string in = dir.path("in.y4m");
    write_file(in, input);
    std::filesystem::create_hard_link(in, dir.path("hard.y4m"));
    std::filesystem::create_symlink("in.y4m", dir.path("soft.y4m"));
    const std::string refusal = ": this is an input file; the output needs another name\n";
    RunSettings from_file;
    from_file.stdin_file = in;
    struct Case {
        std::vector<std::string> args;
        RunSettings settings;
        std::string err;
    };
    RunSettings into_input;
    into_input.stdout_file = in;
    const Case cases[] = {
        {{"-", in}, from_file, "zeverive: " + in + ": standard input is this file; the output needs another name\n"},
        {{in, dir.path("hard.y4m")}, {}, "zeverive: " + dir.path("hard.y4m") + refusal},
        {{dir.path("hard.y4m"), dir.path("soft.y4m")}, {}, "zeverive: " + dir.path("soft.y4m") + refusal},
        {{in, "-"}, into_input, "zeverive: standard output is the input file " + in + "; the output needs another place\n"},
        {{in, "/dev/stdout"}, into_input,
         "zeverive: standard output is the input file " + in + "; the output needs another place\n"},
        {{"--preview", in, dir.path("hard.y4m"), dir.path("out.y4m")}, {},
         "zeverive: " + in + ": this is an input file; the preview needs another name\n"},
    };
    for (const Case& c : cases) {
        const RunResult result = zeverive(c.args, c.settings);
        EXPECT_EQ(result.status, 1) << c.err;
        EXPECT_EQ(result.err, c.err);
        EXPECT_EQ(read_file(in), input) << c.err;
        EXPECT_EQ(dir.files(), (std::vector<std::string>{"hard.y4m", "in.y4m", "soft.y4m"}));
    }
}

TEST(Interruption, AKilledRunLeavesNoTemporaryBehind) {
    TempDir dir;
    const std::string input = make_y4m(clip_shape("420jpeg", 24, 16));
    for (const char* jobs : {"1", "2"}) {
        int feed[2];
        ASSERT_EQ(pipe(feed), 0);
        const std::string program = testing::zeverive_binary();
        const std::string out = dir.path("out.y4m");
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(feed[0], 0);
            close(feed[0]);
            close(feed[1]);
            execl(program.c_str(), program.c_str(), "-j", jobs, "-", out.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        close(feed[0]);
        // One frame and no end: the program waits for the next with its
        // output open.
        const size_t first_frame = input.find("FRAME", input.find("FRAME") + 1);
        ASSERT_EQ(write(feed[1], input.data(), first_frame), static_cast<ssize_t>(first_frame));
        bool open_output = false;
        for (int tries = 0; tries < 3000 && !open_output; ++tries) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            std::error_code error;
            for (const auto& fd : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
                if (std::filesystem::read_symlink(fd, error).string().rfind(dir.path(""), 0) == 0) open_output = true;
            }
        }
        EXPECT_TRUE(open_output) << jobs;
        kill(pid, SIGKILL);
        int status = 0;
        waitpid(pid, &status, 0);
        close(feed[1]);
        EXPECT_TRUE(WIFSIGNALED(status));
        EXPECT_TRUE(dir.files().empty()) << jobs << ": " << dir.files().front();
    }
}

// A stop that comes the moment the named temporary exists, before the
// program has noted it for removal, still takes it away.
TEST(Interruption, AStopAsTheTemporaryIsCreatedLeavesNothing) {
    TempDir dir;
    write_file(dir.path("in.y4m"), make_y4m(clip_shape("420jpeg", 24, 16)));
    for (const int stop : {SIGINT, SIGTERM, SIGHUP}) {
        RunSettings stopped;
        stopped.env = {{"LD_PRELOAD", NO_TMPFILE_PRELOAD},
                       {"ASAN_OPTIONS", "verify_asan_link_order=0"},
                       {"ZEVERIVE_TEST_STOP", std::to_string(stop)}};
        const RunResult result = zeverive({"--no-auto", "-q", dir.path("in.y4m"), dir.path("out.y4m")}, stopped);
        EXPECT_EQ(result.status, 128 + stop);
        EXPECT_EQ(dir.files(), std::vector<std::string>{"in.y4m"}) << stop;
    }
}

// A handler already in place (the i386 build's plug-in loader handles the
// plug-in's illegal instructions) is kept; the others are taken. In a
// child, so that this process keeps its own.
TEST(Interruption, SignalsAlreadyHandledAreLeftToTheirHandlers) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        struct sigaction own {};
        own.sa_handler = [](int) {};
        sigemptyset(&own.sa_mask);
        sigaction(SIGILL, &own, nullptr);
        signal(SIGTERM, SIG_DFL);
        remove_temporaries_on_signals();
        struct sigaction ill {}, term {};
        sigaction(SIGILL, nullptr, &ill);
        sigaction(SIGTERM, nullptr, &term);
        _exit(ill.sa_handler == own.sa_handler && term.sa_handler != SIG_DFL ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(Pipes, AWriteErrorNamesTheOutputAndTheFrame) {
    TempDir dir;
    // Frames larger than the output's buffer: each is written as it comes.
    ClipShape shape = clip_shape("420jpeg", 832, 832);
    shape.width = 1024;
    shape.chroma_width = 512;
    shape.frames = 2;
    write_file(dir.path("in.y4m"), make_y4m(shape));
    const RunResult result = zeverive({"--no-auto", "--tile", "-j", "1", dir.path("in.y4m"), "/dev/full"});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "zeverive: /dev/full: frame 0: cannot write: No space left on device\n");
    EXPECT_EQ(kind_of("/dev/full"), S_IFCHR);
}

TEST(Memory, FramesTheMachineCannotHoldAreRefusedBeforeTheFirst) {
    TempDir dir;
    // 16384x16384 16-bit 4:4:4 frames: 1.5 GiB each, 12 GiB per worker,
    // and two read ahead for the scenes' noise with 16 MiB for the
    // estimate's window.
    write_file(dir.path("huge.y4m"), "YUV4MPEG2 W16384 H16384 C444p16\nFRAME\n" + std::string(4096, '\0'));
    const RunResult result = zeverive({"--tile", "-j", "256", dir.path("huge.y4m"), dir.path("out.y4m")});
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err.rfind("zeverive: " + dir.path("huge.y4m") + ": frames of 16384x16384 need 3148816 MiB of "
                               "memory with -j 256, more than ", 0), 0u) << result.err;
    EXPECT_EQ(dir.files(), std::vector<std::string>{"huge.y4m"});
}

// Without -j the program runs as many workers as fit; a -j given is kept
// or refused, naming the number that would fit.
TEST(Memory, JobsAreFittedToTheMemoryOnlyWhenNotChosen) {
    PictureFormat format;
    format.width = 1000;
    format.height = 1000;
    const uint64_t room = frame_memory(format, 2) + 1000;
    ASSERT_GT(frame_memory(format, 3), room);
    EXPECT_EQ(jobs_within_memory(format, 8, false, 1000, room, "in.y4m"), 2);
    EXPECT_EQ(jobs_within_memory(format, 2, true, 1000, room, "in.y4m"), 2);
    try {
        jobs_within_memory(format, 8, true, 1000, room, "in.y4m");
        ADD_FAILURE() << "8 jobs do not fit";
    } catch (const Failure& failure) {
        EXPECT_EQ(std::string(failure.what()).find("in.y4m: frames of 1000x1000 need "), 0u) << failure.what();
        EXPECT_NE(std::string(failure.what()).find(" with -j 8, more than this machine's "), std::string::npos);
        EXPECT_NE(std::string(failure.what()).find("; -j 2 fits"), std::string::npos) << failure.what();
    }
    EXPECT_THROW(jobs_within_memory(format, 1, false, room, room, "in.y4m"), Failure);
}

#ifdef __SANITIZE_ADDRESS__
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif

// A header that promises huge frames costs memory only as their data
// arrives: the estimate of a pipe that ends early takes little.
TEST(Memory, ATruncatedHugeFrameTakesMemoryOnlyAsItsDataArrives) {
    RunSettings piped;
    piped.input = "YUV4MPEG2 W16384 H16384 F25:1 C444p16\nFRAME\n" + std::string(100000, '\0');
    const RunResult result = zeverive({"--estimate", "-"}, piped);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.err, "zeverive: standard input: frame 0: truncated: 100000 of 1610612736 bytes of picture data\n");
    // AddressSanitizer writes the shadow of every mapping it is told of,
    // 192 MiB for this frame, so there the resident size says nothing.
    if (!kAddressSanitizer) {
        EXPECT_LT(result.peak_kib, 256 * 1024) << "the 1.5 GiB frame was taken before its data came";
    }
}

// RLIMIT_AS (ulimit -v) bounds the memory as the machine's size does:
// the jobs are fitted to it, a -j that does not fit is refused naming it,
// and memory the system still refuses is named with the file and frame.
TEST(Memory, TheAddressSpaceLimitBoundsTheRun) {
    if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer reserves more address space than the limits here allow";
    TempDir dir;
    ClipShape shape = clip_shape("444p16", 832, 832);
    shape.frames = 2;
    write_file(dir.path("in.y4m"), make_y4m(shape));
    PictureFormat format;
    format.width = format.height = 832;
    format.sampling = Sampling::k444;
    format.bit_depth = 16;
    const std::string two_jobs = std::to_string((frame_memory(format, 2) + (1 << 20) - 1) >> 20) + " MiB";
    RunSettings limited;
    limited.address_space = uint64_t{60} << 20;
    ASSERT_GT(frame_memory(format, 2), limited.address_space);

    const RunResult chosen = zeverive({"--no-auto", "-q", "-j", "2", dir.path("in.y4m"), dir.path("out.y4m")}, limited);
    EXPECT_EQ(chosen.status, 1);
    EXPECT_EQ(chosen.err.rfind("zeverive: " + dir.path("in.y4m") + ": frames of 832x832 need " + two_jobs +
                                   " of memory with -j 2, more than the ", 0), 0u) << chosen.err;
    EXPECT_NE(chosen.err.find(" of address space its limit (ulimit -v) leaves; -j 1 fits\n"), std::string::npos)
        << chosen.err;
    const RunResult fitted = zeverive({"--no-auto", "-q", dir.path("in.y4m"), dir.path("out.y4m")}, limited);
    EXPECT_EQ(fitted.status, 0) << fitted.err;

    RunSettings huge = limited;
    huge.input = "YUV4MPEG2 W16384 H16384 F25:1 C444p16\nFRAME\n" + std::string(100000, '\0');
    const RunResult estimate = zeverive({"--estimate", "-"}, huge);
    EXPECT_EQ(estimate.status, 1);
    EXPECT_EQ(estimate.err, "zeverive: standard input: frame 0: out of memory while estimating the noise\n");
    const RunResult run = zeverive({"--tile", "-", dir.path("out.y4m")}, huge);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.err.rfind("zeverive: standard input: frames of 16384x16384 need ", 0), 0u) << run.err;
    EXPECT_NE(run.err.find("(ulimit -v)"), std::string::npos) << run.err;
}

// The control group's limit, read as the system lays it out: cgroup v2
// (memory.max) and the v1 memory controller (memory.limit_in_bytes), each
// the lowest from the process's group up to the hierarchy's mount, also
// where the mount shows only part of the hierarchy.
TEST(Memory, TheControlGroupsLimitIsTheLowestOnItsPathUp) {
    TempDir root;
    const auto put = [&](const std::string& path, const std::string& text) {
        std::filesystem::create_directories(std::filesystem::path(root.path(path)).parent_path());
        write_file(root.path(path), text);
    };
    const std::string top = root.path("");
    EXPECT_EQ(control_group_limit(top), std::nullopt);

    put("proc/self/cgroup", "0::/user/session\n");
    put("proc/self/mountinfo", "24 1 0:22 / /proc rw - proc proc rw\n"
                               "35 24 0:30 / /sys/fs/cgroup rw,nosuid shared:9 - cgroup2 cgroup2 rw\n");
    put("sys/fs/cgroup/user/memory.max", "2147483648\n");
    put("sys/fs/cgroup/user/session/memory.max", "max\n");
    EXPECT_EQ(control_group_limit(top), uint64_t{2} << 30);

    put("proc/self/cgroup", "4:memory:/job/step\n0::/user/session\n");
    put("proc/self/mountinfo", "35 24 0:30 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n"
                               "36 24 0:31 /job /mnt/memory rw - cgroup cgroup rw,memory\n");
    put("mnt/memory/step/memory.limit_in_bytes", "1073741824\n");
    put("mnt/memory/memory.limit_in_bytes", "9223372036854771712\n");
    EXPECT_EQ(control_group_limit(top), uint64_t{1} << 30);
}

// Workers that cannot be started leave nothing open: here the system
// grants the first pipe of a worker and refuses the second. (A plug-in
// file runs in worker processes; the built-in plug-in would run threads.)
TEST(Workers, ARefusedPipeLeavesNoDescriptorOpen) {
    const PluginLibrary library = PluginLibrary::load(testing::shared_plugin());
    std::vector<int> unused;
    for (int fd = 0; unused.size() < 3; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) unused.push_back(fd);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit one_pipe = saved;
    one_pipe.rlim_cur = static_cast<rlim_t>(unused[2]);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &one_pipe), 0);

    PictureFormat format;
    format.width = 16;
    format.height = 16;
    std::exception_ptr refused;
    try {
        make_frame_processor(library, {default_settings(library.table())}, 2, 2, {format, false, true}, "in.y4m");
    } catch (...) {
        refused = std::current_exception();
    }
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &saved), 0);
    // Looked at only now: the sanitizer build checks a call on an object
    // through a pipe of its own.
    ASSERT_TRUE(refused);
    try {
        std::rethrow_exception(refused);
    } catch (const Failure& failure) {
        EXPECT_STREQ(failure.what(), "cannot start a worker process: Too many open files");
    }
    EXPECT_EQ(fcntl(unused[0], F_GETFD), -1);
    EXPECT_EQ(fcntl(unused[1], F_GETFD), -1);
}

TEST(Messages, BadFrameNumbersSayWhatIsWrong) {
    TempDir dir;
    write_file(dir.path("in.y4m"), make_y4m(clip_shape("420jpeg", 16, 16)));
    const std::pair<std::string, std::string> cases[] = {
        {"-1", "--preview-frame: -1 is not a frame number (0, 1, 2 ...)"},
        {"1234567890123456789012", "--preview-frame: 1234567890123456789012 is past any clip's end"},
        {"x", "--preview-frame: x is not a frame number"},
    };
    for (const auto& [value, message] : cases) {
        const RunResult result = zeverive({"--preview", dir.path("p.png"), "--preview-frame", value,
                                           dir.path("in.y4m"), dir.path("out.y4m")});
        EXPECT_EQ(result.status, 2) << value;
        EXPECT_EQ(result.err.rfind(message, 0), 0u) << result.err;
        EXPECT_LT(result.err.size(), 200u) << result.err;
    }
}

TEST(Messages, AnUnwritablePreviewIsKnownBeforeTheFirstFrame) {
    TempDir dir;
    write_file(dir.path("in.y4m"), make_y4m(clip_shape("420jpeg", 16, 16)));
    const RunResult no_directory =
        zeverive({"--preview", dir.path("no/p.png"), dir.path("in.y4m"), dir.path("out.y4m")});
    EXPECT_EQ(no_directory.status, 1);
    EXPECT_EQ(no_directory.err, "zeverive: " + dir.path("no/p.png") + ": cannot create: No such file or directory\n");
    EXPECT_EQ(dir.files(), std::vector<std::string>{"in.y4m"});
}

}  // namespace
}  // namespace zeverive::cli
