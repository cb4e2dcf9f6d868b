// For what a library does once per process (binding its outside library,
// tracing the first load): the body runs in a fresh run of this test binary,
// so the test holds however many tests ran before it in this process.
#ifndef KIT_TESTS_FRESH_PROCESS_H
#define KIT_TESTS_FRESH_PROCESS_H

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

namespace kit::test {

// Runs body and writes its failures to standard error, which the parent
// shows; 0 when nothing failed.
template <typename Body>
int failures_of(Body& body) {
    ::testing::TestPartResultArray results;
    {
        ::testing::ScopedFakeTestPartResultReporter reporter(
            ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ALL_THREADS, &results);
        body();
    }
    for (int i = 0; i < results.size(); ++i) {
        const auto& result = results.GetTestPartResult(i);
        std::fprintf(stderr, "%s:%d: %s\n", result.file_name(), result.line_number(), result.message());
    }
    return results.size();
}

template <typename Body>
void in_fresh_process(Body body) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(std::exit(failures_of(body) == 0 ? 0 : 1), ::testing::ExitedWithCode(0), "");
}

}  // namespace kit::test

#endif
