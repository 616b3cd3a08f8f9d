#include "test_support.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace zeverive::cli::testing {

TempDir::TempDir() {
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/zeverive-cli-test-XXXXXX";
    if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::files() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

std::string zeverive_binary() {
    return ZEVERIVE_BINARY;
}
std::string probe_plugin() {
    return PROBE_PLUGIN;
}
std::string shared_plugin() {
    return SHARED_PLUGIN;
}
std::string samples_dir() {
    return SAMPLES_DIR;
}

RunResult run(const std::string& program, const std::vector<std::string>& args, const RunSettings& settings) {
    int in_pipe[2], out_pipe[2], err_pipe[2];
    int err_slave = -1;
    if (pipe(in_pipe) || pipe(out_pipe)) throw std::runtime_error("pipe failed");
    if (settings.stderr_on_terminal) {
        if (openpty(&err_pipe[0], &err_slave, nullptr, nullptr, nullptr) != 0) throw std::runtime_error("openpty");
        err_pipe[1] = err_slave;
    } else if (pipe(err_pipe)) {
        throw std::runtime_error("pipe failed");
    }
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(settings.stdin_file.empty() ? in_pipe[0] : open(settings.stdin_file.c_str(), O_RDONLY), 0);
        dup2(settings.stdout_file.empty() ? out_pipe[1] : open(settings.stdout_file.c_str(), O_WRONLY), 1);
        dup2(err_pipe[1], 2);
        for (int fd : {in_pipe[0], in_pipe[1], out_pipe[0], out_pipe[1], err_pipe[0], err_pipe[1]}) close(fd);
        for (int fd : settings.closed) close(fd);
        for (const auto& [name, value] : settings.env) setenv(name.c_str(), value.c_str(), 1);
        if (settings.address_space) {
            const rlimit limit{settings.address_space, settings.address_space};
            if (setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
        }
        const uid_t user = settings.user;
        if (user && (setgroups(0, nullptr) != 0 || setresgid(user, user, user) != 0 || setresuid(user, user, user) != 0))
            _exit(126);
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>(program.c_str()));
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        execv(program.c_str(), argv.data());
        _exit(127);
    }
    close(in_pipe[0]);
    close(out_pipe[1]);
    close(err_pipe[1]);
    signal(SIGPIPE, SIG_IGN);

    RunResult result;
    size_t written = 0;
    int in_fd = in_pipe[1];
    if (settings.input.empty()) {
        close(in_fd);
        in_fd = -1;
    } else {
        fcntl(in_fd, F_SETFL, O_NONBLOCK);
    }
    int out_fd = out_pipe[0], err_fd = err_pipe[0];
    char buffer[65536];
    while (out_fd >= 0 || err_fd >= 0) {
        pollfd fds[3];
        int n = 0;
        if (out_fd >= 0) fds[n++] = {out_fd, POLLIN, 0};
        if (err_fd >= 0) fds[n++] = {err_fd, POLLIN, 0};
        if (in_fd >= 0) fds[n++] = {in_fd, POLLOUT, 0};
        if (poll(fds, n, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int i = 0; i < n; ++i) {
            if (!fds[i].revents) continue;
            if (fds[i].fd == in_fd) {
                const ssize_t done = write(in_fd, settings.input.data() + written, settings.input.size() - written);
                if (done > 0) written += static_cast<size_t>(done);
                if (done < 0 && errno != EAGAIN) written = settings.input.size();
                if (written == settings.input.size()) {
                    close(in_fd);
                    in_fd = -1;
                }
                continue;
            }
            const ssize_t got = read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                (fds[i].fd == out_fd ? result.out : result.err).append(buffer, static_cast<size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                // A pseudo-terminal reports the child's end closing as EIO.
                close(fds[i].fd);
                (fds[i].fd == out_fd ? out_fd : err_fd) = -1;
            }
        }
    }
    if (in_fd >= 0) close(in_fd);
    int status = 0;
    struct rusage usage = {};
    wait4(pid, &status, 0, &usage);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.peak_kib = usage.ru_maxrss;
    return result;
}

RunResult zeverive(const std::vector<std::string>& args, const RunSettings& settings) {
    return run(zeverive_binary(), args, settings);
}

std::string read_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

void write_file(const std::string& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary);
    file << bytes;
}

bool exists(const std::string& path) {
    return access(path.c_str(), F_OK) == 0;
}

ClipShape clip_shape(const std::string& colourspace, int width, int height) {
    ClipShape shape;
    shape.width = width;
    shape.height = height;
    shape.colourspace = colourspace;
    const std::string family = colourspace.substr(0, 3);
    if (colourspace.rfind("mono", 0) == 0) {
        shape.bit_depth = colourspace.size() > 4 ? std::stoi(colourspace.substr(4)) : 8;
        shape.chroma_width = shape.chroma_height = 0;
        return shape;
    }
    const bool deep = colourspace.size() > 4 && colourspace[3] == 'p' && std::isdigit(colourspace[4]);
    shape.bit_depth = deep ? std::stoi(colourspace.substr(4)) : 8;
    shape.chroma_width = family == "444" ? width : (width + 1) / 2;
    shape.chroma_height = family == "420" ? (height + 1) / 2 : height;
    return shape;
}

namespace {

uint32_t next_random(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

void append_plane(std::string& out, size_t samples, int bit_depth, uint32_t& state, uint32_t& counter) {
    const uint32_t codes = 1u << bit_depth;
    for (size_t i = 0; i < samples; ++i) {
        // Every code value appears before the samples turn random, so a
        // clip of a few frames meets the whole range.
        const uint32_t value = counter < codes ? counter++ : next_random(state) % codes;
        out += static_cast<char>(value & 0xFF);
        if (bit_depth > 8) out += static_cast<char>(value >> 8);
    }
}

}  // namespace

std::string make_y4m(const ClipShape& shape) {
    std::string out = "YUV4MPEG2 W" + std::to_string(shape.width) + " H" + std::to_string(shape.height) + " F25:1";
    if (!shape.colourspace.empty()) out += " C" + shape.colourspace;
    out += shape.extra_header + "\n";
    uint32_t state = shape.seed * 2654435761u + 1;
    uint32_t counter = 0;
    for (int f = 0; f < shape.frames; ++f) {
        out += "FRAME";
        if (f < static_cast<int>(shape.frame_params.size())) out += shape.frame_params[f];
        out += "\n";
        append_plane(out, static_cast<size_t>(shape.width) * shape.height, shape.bit_depth, state, counter);
        const size_t chroma = static_cast<size_t>(shape.chroma_width) * shape.chroma_height;
        append_plane(out, chroma, shape.bit_depth, state, counter);
        append_plane(out, chroma, shape.bit_depth, state, counter);
    }
    return out;
}

Y4mParts split_y4m(const std::string& bytes, const ClipShape& shape) {
    Y4mParts parts;
    size_t at = bytes.find('\n');
    if (at == std::string::npos) return parts;
    parts.header = bytes.substr(0, at);
    ++at;
    const size_t sample = shape.bit_depth > 8 ? 2 : 1;
    const size_t luma = static_cast<size_t>(shape.width) * shape.height * sample;
    const size_t chroma = 2 * static_cast<size_t>(shape.chroma_width) * shape.chroma_height * sample;
    while (at < bytes.size()) {
        const size_t end = bytes.find('\n', at);
        if (end == std::string::npos) break;
        parts.frame_lines.push_back(bytes.substr(at, end - at));
        at = end + 1;
        parts.luma.push_back(bytes.substr(at, luma));
        at += luma;
        parts.chroma.push_back(bytes.substr(at, chroma));
        at += chroma;
    }
    return parts;
}

std::string y4m_from_luma(int width, int height, const std::vector<std::vector<uint8_t>>& frames) {
    std::string out = "YUV4MPEG2 W" + std::to_string(width) + " H" + std::to_string(height) + " F25:1 C420jpeg\n";
    const size_t chroma = 2 * static_cast<size_t>((width + 1) / 2) * ((height + 1) / 2);
    for (const auto& frame : frames) {
        out += "FRAME\n";
        out.append(reinterpret_cast<const char*>(frame.data()), frame.size());
        out.append(chroma, static_cast<char>(128));
    }
    return out;
}

std::vector<std::vector<uint8_t>> luma_of_y4m(const std::string& bytes, int width, int height) {
    ClipShape shape = clip_shape("420jpeg", width, height);
    std::vector<std::vector<uint8_t>> frames;
    for (const std::string& luma : split_y4m(bytes, shape).luma) frames.emplace_back(luma.begin(), luma.end());
    return frames;
}

}  // namespace zeverive::cli::testing
