// The reader exports while the process exits, beside a host thread that
// goes on calling: from an atexit handler registered before libtarvik.so was
// loaded (at the start of the program, whatever other tests load), so it
// runs after the library's own exit-time step and before the libraries'
// destructors free pcsc-lite's state. Reader: "Kit Plain".
#include <gtest/gtest.h>

#include <PCSC/pcsclite.h>
#include <dlfcn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>

#include "tests/rig/rig_support.h"

namespace {

using GetCardStatus = int (*)(int, int*, int*, unsigned char*, unsigned int*);
using OpenDevice = int (*)(const char*);

struct ExitCall {
    GetCardStatus get_card_status = nullptr;
    OpenDevice open_device = nullptr;
    std::string reader;
    int handle = 0;
    int report_fd = -1;
    std::atomic<unsigned> busy_calls{0};
    std::atomic<int> busy_result{-1000};
};
ExitCall g_exit_call;

struct ExitReport {
    int handler_result = -1000;  // getCardStatus from the handler
    int busy_result = -1000;     // the busy thread's, once the handler runs
    int open_result = -1000;     // openDevice from the handler
};

int card_status() {
    unsigned char atr[64] = {};
    unsigned int atr_len = 0;
    int powered = 0, absent = 0;
    return g_exit_call.get_card_status(g_exit_call.handle, &powered, &absent, atr, &atr_len);
}

void busy_reader() {
    for (;;) {
        g_exit_call.busy_result.store(card_status());
        g_exit_call.busy_calls.fetch_add(1);
    }
}

// A call the busy thread began before exit() may end as usual: its next one
// counts.
int busy_answer_from_now() {
    const unsigned seen = g_exit_call.busy_calls.load();
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (g_exit_call.busy_calls.load() < seen + 2 && std::chrono::steady_clock::now() < give_up)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return g_exit_call.busy_result.load();
}

// Does something only in the child that exits.
void call_reader_at_exit() {
    if (g_exit_call.report_fd < 0) return;
    ExitReport report;
    report.busy_result = busy_answer_from_now();
    report.handler_result = card_status();
    report.open_result = g_exit_call.open_device(g_exit_call.reader.c_str());
    if (write(g_exit_call.report_fd, &report, sizeof report) != sizeof report) std::abort();
}

[[maybe_unused]] const bool g_handler_registered = std::atexit(call_reader_at_exit) == 0;

// In the child: loads the library, opens the reader, starts the busy thread
// and exits; never returns.
[[noreturn]] void run_child(int report_fd, const std::string& reader) {
    g_exit_call.report_fd = report_fd;
    g_exit_call.reader = reader;
    void* library = dlopen(TARVIK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) _exit(3);
    g_exit_call.get_card_status = reinterpret_cast<GetCardStatus>(dlsym(library, "getCardStatus"));
    g_exit_call.open_device = reinterpret_cast<OpenDevice>(dlsym(library, "openDevice"));
    if (g_exit_call.get_card_status == nullptr || g_exit_call.open_device == nullptr) _exit(4);
    g_exit_call.handle = g_exit_call.open_device(reader.c_str());
    if (g_exit_call.handle <= 0) _exit(5);
    if (card_status() != 0) _exit(6);
    std::thread(busy_reader).detach();
    while (g_exit_call.busy_calls.load() < 3) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::exit(0);
}

TEST(ExitCall, ReaderExportsCalledDuringExitAnswerAsWithNoPcscService) {
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
    ExitReport report;
    const ssize_t got = read(fds[0], &report, sizeof report);
    close(fds[0]);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status)) << status;
    EXPECT_EQ(WEXITSTATUS(status), 0);
    ASSERT_EQ(got, static_cast<ssize_t>(sizeof report));
    // pcscd still runs and the card is in: only the kit can have answered.
    const int no_service = static_cast<int32_t>(static_cast<uint32_t>(SCARD_E_NO_SERVICE));
    EXPECT_EQ(report.busy_result, no_service);
    EXPECT_EQ(report.handler_result, no_service);
    EXPECT_EQ(report.open_result, -2);
}

}  // namespace
