// A reader export called while the process exits: from an atexit handler
// registered before libtarvik.so was loaded, so it runs after the library's
// own exit-time clean-up. Reader: "Kit Plain".
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "tests/rig/rig_support.h"

namespace {

using GetCardStatus = int (*)(int, int*, int*, unsigned char*, unsigned int*);
using OpenDevice = int (*)(const char*);

struct ExitCall {
    GetCardStatus get_card_status = nullptr;
    int handle = 0;
    int report_fd = -1;
};
ExitCall g_exit_call;

struct StatusReport {
    int result = -1000;
    int absent = -1;
};

void call_reader_at_exit() {
    StatusReport report;
    unsigned char atr[64] = {};
    unsigned int atr_len = 0;
    int powered = 0;
    report.result = g_exit_call.get_card_status(g_exit_call.handle, &powered, &report.absent, atr, &atr_len);
    if (write(g_exit_call.report_fd, &report, sizeof report) != sizeof report) std::abort();
}

// In the child: registers the handler, loads the library, opens the reader
// and exits; never returns.
[[noreturn]] void run_child(int report_fd, const std::string& reader) {
    g_exit_call.report_fd = report_fd;
    std::atexit(call_reader_at_exit);
    void* library = dlopen(TARVIK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) _exit(3);
    g_exit_call.get_card_status = reinterpret_cast<GetCardStatus>(dlsym(library, "getCardStatus"));
    const auto open_device = reinterpret_cast<OpenDevice>(dlsym(library, "openDevice"));
    if (g_exit_call.get_card_status == nullptr || open_device == nullptr) _exit(4);
    g_exit_call.handle = open_device(reader.c_str());
    if (g_exit_call.handle <= 0) _exit(5);
    std::exit(0);
}

TEST(ExitCall, AReaderExportCalledDuringExitStillFindsTheReader) {
    const std::string reader = kit::rig::slot_name(kit::rig::reader_entries().at(0));
    kit::rig::VirtualCard card(kit::rig::port_of(0));
    ASSERT_TRUE(kit::rig::wait_for_card(reader, true));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(fds[0]);
        run_child(fds[1], reader);
    }
    close(fds[1]);
    StatusReport report;
    const ssize_t got = read(fds[0], &report, sizeof report);
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_EQ(got, static_cast<ssize_t>(sizeof report));
    EXPECT_EQ(report.result, 0);
    EXPECT_EQ(report.absent, 0);
}

}  // namespace
