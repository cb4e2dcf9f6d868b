// Shared helpers of the trace library tests: a capturing writer and hook, a
// fixture that puts the trace state back to its start values around each
// test, a private temporary directory, and a runner for checks that must
// happen in a child process.
#pragma once

#include "orvel.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace orvel_test {

// What the capturing writer and hook received.
struct Capture {
    static int writer(int fd, const void* bytes, unsigned int length);
    static void hook(int fd, int phase);
    static std::string text();
    static std::vector<std::string> pieces();
    static std::vector<std::pair<int, int>> hook_calls();  // (fd, phase)
    static void reset();
};

// Lines of a text, each without its line feed.
std::vector<std::string> split_lines(const std::string& text);
std::string read_file(const std::filesystem::path& path);

struct ChildResult {
    int exit_code = -1;  // -1 when the child did not exit normally
    std::string out;     // what it wrote to standard output
    std::string err;     // what it wrote to standard error
};

// Runs body in a forked child with standard output and error captured; the
// child exits with body's result.
ChildResult run_in_child(const std::function<int()>& body);

class TraceTest : public ::testing::Test {
public:
    // Sends lines to the capturing writer with these options.
    static void capture_with(unsigned options, const char* tag = nullptr);

protected:
    void SetUp() override;
    void TearDown() override;

    // A directory of this test's own, removed afterwards.
    const std::filesystem::path& temp_dir();

private:
    std::filesystem::path temp_dir_;
};

}  // namespace orvel_test
