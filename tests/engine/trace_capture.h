// Routes the trace output of one test into a pipe so the test can read what
// was traced. One capture at a time per process.
#ifndef TESTS_ENGINE_TRACE_CAPTURE_H
#define TESTS_ENGINE_TRACE_CAPTURE_H

#include "orvel.h"

#include <fcntl.h>
#include <unistd.h>

#include <string>

class TraceCapture {
public:
    TraceCapture() {
        if (pipe2(fds_, O_NONBLOCK) == 0) __settracefd(fds_[1]);
    }
    ~TraceCapture() {
        __settracefd(0);
        for (int fd : fds_)
            if (fd >= 0) close(fd);
    }
    TraceCapture(const TraceCapture&) = delete;
    TraceCapture& operator=(const TraceCapture&) = delete;

    // Everything traced since the last call.
    std::string take() {
        char chunk[4096];
        ssize_t n = 0;
        while (fds_[0] >= 0 && (n = read(fds_[0], chunk, sizeof chunk)) > 0) text_.append(chunk, static_cast<size_t>(n));
        std::string out;
        out.swap(text_);
        return out;
    }

private:
    int fds_[2] = {-1, -1};
    std::string text_;
};

#endif
