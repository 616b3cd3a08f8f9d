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
        for (int tries = 0; tries < 500 && !open_output; ++tries) {
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
                               "memory with -j 256, more than this machine's ", 0), 0u) << result.err;
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

// Workers that cannot be started leave nothing open: here the system
// grants the first pipe of a worker and refuses the second.
TEST(Workers, ARefusedPipeLeavesNoDescriptorOpen) {
    std::vector<int> unused;
    for (int fd = 0; unused.size() < 3; ++fd)
        if (fcntl(fd, F_GETFD) < 0 && errno == EBADF) unused.push_back(fd);
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &saved), 0);
    rlimit one_pipe = saved;
    one_pipe.rlim_cur = static_cast<rlim_t>(unused[2]);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &one_pipe), 0);

    const PluginLibrary library = PluginLibrary::built_in();
    PictureFormat format;
    format.width = 16;
    format.height = 16;
    std::exception_ptr refused;
    try {
        make_frame_processor(library, {default_settings(library.table())}, 2, {format, false, false}, "in.y4m");
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
