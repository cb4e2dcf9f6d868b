#include "trace_fixture.h"

#include "rotation.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <sstream>

namespace orvel_test {

namespace {

std::mutex capture_mutex;
std::vector<std::string> captured_pieces;
std::vector<std::pair<int, int>> captured_hooks;

std::string drain(int fd) {
    std::string text;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(fd, buf, sizeof buf)) > 0) text.append(buf, static_cast<std::size_t>(n));
    return text;
}

void reset_trace_state() {
    __closetracefile();
    __set_call_depth(-1);
    __settraceopts(0xFF);
    __settracelevel(ORVEL_DEBUG);
    __settracetag(nullptr);
    const int colours[][2] = {{4, 12}, {5, 13}, {6, 10}, {7, 9}, {8, 7}, {9, 8}, {0, -1}};
    for (const auto& c : colours) __settracecolor(static_cast<unsigned>(c[0]), c[1]);
    __setrotatesize(0);
    __setrotateinterval(0);
    __setrotatebacklogs(0);
    orvel::set_rotation_clock(nullptr);
}

}  // namespace

int Capture::writer(int /*fd*/, const void* bytes, unsigned int length) {
    const std::lock_guard lock(capture_mutex);
    captured_pieces.emplace_back(static_cast<const char*>(bytes), length);
    return static_cast<int>(length);
}

void Capture::hook(int fd, int phase) {
    const std::lock_guard lock(capture_mutex);
    captured_hooks.emplace_back(fd, phase);
}

std::string Capture::text() {
    const std::lock_guard lock(capture_mutex);
    std::string all;
    for (const auto& p : captured_pieces) all += p;
    return all;
}

std::vector<std::string> Capture::pieces() {
    const std::lock_guard lock(capture_mutex);
    return captured_pieces;
}

std::vector<std::pair<int, int>> Capture::hook_calls() {
    const std::lock_guard lock(capture_mutex);
    return captured_hooks;
}

void Capture::reset() {
    const std::lock_guard lock(capture_mutex);
    captured_pieces.clear();
    captured_hooks.clear();
}

std::vector<std::string> split_lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

std::string read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ChildResult run_in_child(const std::function<int()>& body) {
    int out_pipe[2];
    int err_pipe[2];
    if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) return {};
    std::fflush(stdout);
    std::fflush(stderr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out_pipe[1], STDOUT_FILENO);
        ::dup2(err_pipe[1], STDERR_FILENO);
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        const int code = body();
        std::fflush(stdout);
        ::_exit(code);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    ChildResult result;
    int status = 0;
    ::waitpid(pid, &status, 0);
    result.out = drain(out_pipe[0]);
    result.err = drain(err_pipe[0]);
    ::close(out_pipe[0]);
    ::close(err_pipe[0]);
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void TraceTest::SetUp() {
    reset_trace_state();
    Capture::reset();
}

void TraceTest::TearDown() {
    reset_trace_state();
    if (!temp_dir_.empty()) {
        std::error_code ec;
        std::filesystem::remove_all(temp_dir_, ec);
    }
}

const std::filesystem::path& TraceTest::temp_dir() {
    if (temp_dir_.empty()) {
        const char* base = std::getenv("TMPDIR");
        std::string pattern = std::string(base && *base ? base : "/tmp") + "/orvel-test-XXXXXX";
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
        temp_dir_ = pattern;
    }
    return temp_dir_;
}

void TraceTest::capture_with(unsigned options, const char* tag) {
    __settraceopts(options);
    __settracetag(tag);
    __settracer(Capture::writer, 7, nullptr);
}

}  // namespace orvel_test
