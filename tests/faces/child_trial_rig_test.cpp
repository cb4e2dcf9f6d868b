// A forked child whose first PC/SC use does not answer in time (the rig's
// pcscd is stopped meanwhile): its calls fail instead of hanging, it may
// unload the library while that use is still pending, and once it answers
// the child's next call opens the reader again. The parent loads
// libtarvik.so itself, as a host without selvane does. Reader: "Kit Plain".
#include <gtest/gtest.h>

#include <dirent.h>
#include <dlfcn.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "tests/rig/rig_support.h"

namespace {

using GetCardStatus = int (*)(int, int*, int*, unsigned char*, unsigned int*);
using OpenDevice = int (*)(const char*);

constexpr int kUnknownHandle = -100;

pid_t find_pcscd() {
    DIR* proc = opendir("/proc");
    if (proc == nullptr) return -1;
    pid_t found = -1;
    while (const dirent* entry = readdir(proc)) {
        const pid_t pid = static_cast<pid_t>(std::atoi(entry->d_name));
        if (pid <= 0) continue;
        std::ifstream comm("/proc/" + std::string(entry->d_name) + "/comm");
        std::string name;
        if (std::getline(comm, name) && name == "pcscd") found = pid;
    }
    closedir(proc);
    return found;
}

// The rig's pcscd stopped while it lives, and on every way out resumed.
class StoppedPcscd {
public:
    StoppedPcscd() : pid_(find_pcscd()) {
        if (pid_ > 0) kill(pid_, SIGSTOP);
    }
    ~StoppedPcscd() { resume(); }
    StoppedPcscd(const StoppedPcscd&) = delete;
    StoppedPcscd& operator=(const StoppedPcscd&) = delete;
    bool stopped() const { return pid_ > 0; }
    void resume() {
        if (pid_ > 0) kill(pid_, SIGCONT);
        pid_ = -1;
    }

private:
    pid_t pid_;
};

class ChildTrial : public ::testing::Test {
protected:
    void SetUp() override {
        reader_ = kit::rig::slot_name(kit::rig::reader_entries().at(0));
        card_ = std::make_unique<kit::rig::VirtualCard>(kit::rig::port_of(0));
        ASSERT_TRUE(kit::rig::wait_for_card(reader_, true));
        library_ = dlopen(TARVIK_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library_, nullptr) << dlerror();
        status_ = reinterpret_cast<GetCardStatus>(dlsym(library_, "getCardStatus"));
        const auto open_device = reinterpret_cast<OpenDevice>(dlsym(library_, "openDevice"));
        ASSERT_NE(status_, nullptr);
        ASSERT_NE(open_device, nullptr);
        handle_ = open_device(reader_.c_str());
        ASSERT_GT(handle_, 0);
        ASSERT_EQ(card_status(), 0);
    }

    int card_status() const {
        unsigned char atr[64] = {};
        unsigned int atr_len = 0;
        int powered = 0, absent = 0;
        return status_(handle_, &powered, &absent, atr, &atr_len);
    }

    // Forks a child that runs first with pcscd stopped, tells the parent on
    // a pipe, then runs next once pcscd is resumed. The child's exit status
    // (a signal fails it).
    template <typename First, typename Next>
    int run_child(First first, Next next) {
        int ready[2], resumed[2];
        if (pipe(ready) != 0 || pipe(resumed) != 0) return -1;
        StoppedPcscd pcscd;
        if (!pcscd.stopped()) return -2;
        const pid_t child = fork();
        if (child == 0) {
            alarm(60);
            const int code = first();
            char byte = static_cast<char>(code);
            if (write(ready[1], &byte, 1) != 1 || read(resumed[0], &byte, 1) != 1) _exit(100);
            std::exit(code != 0 ? code : next());
        }
        char byte = 0;
        const bool told = read(ready[0], &byte, 1) == 1;
        pcscd.resume();
        if (told && write(resumed[1], &byte, 1) != 1) return -3;
        int status = -1;
        waitpid(child, &status, 0);
        for (int fd : {ready[0], ready[1], resumed[0], resumed[1]}) close(fd);
        return status;
    }

    std::string reader_;
    std::unique_ptr<kit::rig::VirtualCard> card_;
    void* library_ = nullptr;
    GetCardStatus status_ = nullptr;
    int handle_ = 0;
};

TEST_F(ChildTrial, ChildThatUnloadsTheLibraryWhileItsTrialIsPendingExitsNormally) {
    const int status = run_child(
        [&] {
            if (card_status() != kUnknownHandle) return 1;
            dlclose(library_);
            return 0;
        },
        [] {
            // The trial answers now, on a thread of the library just unloaded.
            std::this_thread::sleep_for(std::chrono::seconds(1));
            return 0;
        });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status << " (exit 1: the call did not fail)";
}

TEST_F(ChildTrial, ChildOpensTheReaderAgainOnceItsTrialAnswers) {
    const int status = run_child([&] { return card_status() == kUnknownHandle ? 0 : 1; },
                                 [&] {
                                     const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                                     while (std::chrono::steady_clock::now() < give_up) {
                                         if (card_status() == 0) return 0;
                                         std::this_thread::sleep_for(std::chrono::milliseconds(100));
                                     }
                                     return 2;
                                 });
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << status << " (exit 1: the call did not fail; 2: the reader was never opened again)";
    EXPECT_EQ(card_status(), 0);  // the parent's connection is its own
}

}  // namespace
