// libselvane.so over the real libtarvik.so, against pcscd and virtual cards:
// readers "Kit Plain" (eID card), "OMNIKEY Kit" (SIS card) and "ETS BEID
// Pinpad Kit" (empty, or an eID card).
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <poll.h>
#include <PCSC/winscard.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include "orvel.h"
#include "selvane.h"
#include "tarvik.h"
#include "tarvik/reader/pcsc_common.h"
#include "test_auth_server.h"
#include "tests/rig/rig_support.h"

namespace fs = std::filesystem;

// tarvik keeps its reader's PC/SC context and connection for the life of
// the process; loaded at run time, that memory can be left unreachable at
// exit once pcsc-lite's own list is gone. Only that allocation is excused
// (full stacks are needed to name it).
#define SANITIZER_HOOK extern "C" __attribute__((visibility("default"), used))
SANITIZER_HOOK const char* __asan_default_options() { return "fast_unwind_on_malloc=0"; }
SANITIZER_HOOK const char* __lsan_default_suppressions() { return "leak:Pcsc_Common::openReader\n"; }

// A thread that sets this stops in its next connect() until released. pcsc-lite
// connects to its daemon while it holds its own process-wide lock, so this
// stops a thread inside that lock at will.
thread_local bool t_stall_connect = false;
std::atomic<bool> g_connect_stalled{false};
std::atomic<bool> g_connect_released{false};

extern "C" __attribute__((visibility("default"))) int connect(int fd, const sockaddr* address, socklen_t length) {
    using Connect = int (*)(int, const sockaddr*, socklen_t);
    static const auto next = reinterpret_cast<Connect>(::dlsym(RTLD_NEXT, "connect"));
    if (t_stall_connect) {
        g_connect_stalled = true;
        while (!g_connect_released.load()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return next(fd, address, length);
}

namespace {

std::string slot(std::size_t i) { return kit::rig::slot_name(kit::rig::reader_entries().at(i)); }

std::string file_bytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// One read of the current device: its result, and its texts joined.
struct Read {
    int32_t result;
    std::string texts;
};

Read eid_read() {
    char identity[SELVANE_EID_ID_TEXT_SIZE] = "", address[SELVANE_EID_ADDRESS_TEXT_SIZE] = "";
    int32_t photo_len = -1;  // no photo
    const int32_t result = PCSC_EID_Read(0, 0, identity, address, nullptr, &photo_len);
    return {result, std::string(identity) + "|" + address};
}

Read visitors_read() {
    auto identity = std::make_unique<char[]>(SELVANE_VISITORS_ID_TEXT_SIZE);
    auto address = std::make_unique<char[]>(SELVANE_VISITORS_ADDRESS_TEXT_SIZE);
    identity[0] = address[0] = '\0';
    const int32_t result = PCSC_Visitors_Read(0, 0, identity.get(), address.get(), 0, 0);
    return {result, std::string(identity.get()) + "|" + address.get()};
}

// In a forked child: eID reads until one answers 0 (another process may
// hold the card for a while). Exit status 0 when its texts are expected, 2
// when they are not, 1 when no read answered 0.
int child_reads(const std::string& expected) {
    for (int attempt = 0; attempt < 20; ++attempt) {
        const Read read = eid_read();
        if (read.result == 0) return read.texts == expected ? 0 : 2;
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return 1;
}

// Runs body in a forked child that an alarm ends when it hangs. With
// Ending::exit_handlers the child ends with exit(), so the kit's exit-time
// code runs there too; else with _exit() (to a leak checker, the memory of
// the parent's other threads would be leaks in the child).
enum class Ending { exit_handlers, immediate };
pid_t start_child(Ending ending, const std::function<int()>& body) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::alarm(60);
        const int code = body();
        if (ending == Ending::exit_handlers) std::exit(code);
        ::_exit(code);
    }
    return pid;
}

// The child's wait status.
int wait_child(pid_t pid) {
    int status = -1;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid) return -1;
    return status;
}

bool exited_with(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

// An export of the libtarvik.so that selvane loaded.
template <typename Function>
Function* tarvik_export(const char* name) {
    void* tarvik = dlopen("libtarvik.so", RTLD_NOW | RTLD_NOLOAD);
    if (tarvik == nullptr) return nullptr;
    auto* function = reinterpret_cast<Function*>(dlsym(tarvik, name));
    dlclose(tarvik);
    return function;
}

// What tarvik's reader object behind a handle holds, read as selvane reads
// it (under tarvik's lock); no connection when the handle is unknown.
struct ReaderConnection {
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0;
    bool known = false;
};
ReaderConnection tarvik_reader(int32_t handle) {
    ReaderConnection seen;
    auto* const with_card = tarvik_export<std::remove_pointer_t<tarvik_with_card_fn>>("tarvik_with_card");
    if (with_card == nullptr) return seen;
    with_card(handle, 0, [](void* context, const Pcsc_Common* reader) {
        auto& out = *static_cast<ReaderConnection*>(context);
        out = {reader->context, reader->card, true};
    }, &seen);
    return seen;
}

// tarvik's plain identity read of its open reader, texts joined.
Read plain_identity_read(int handle) {
    static auto* const read = tarvik_export<decltype(readEidPubDataIdentify)>("readEidPubDataIdentify");
    if (read == nullptr) return {-1000, ""};
    auto identity = std::make_unique<char[]>(PLAIN_ID_TEXT_SIZE);
    auto address = std::make_unique<char[]>(PLAIN_ADDRESS_TEXT_SIZE);
    identity[0] = address[0] = '\0';
    int photo_len = 0;
    const int result = read(handle, 0, 1, 1, 0, identity.get(), address.get(), nullptr, &photo_len);
    return {result, std::string(identity.get()) + "|" + address.get()};
}

class SelvaneInRig : public ::testing::Test {
protected:
    void SetUp() override {
        scratch_ = kit::rig::scratch_dir();
        pki_ = scratch_ + "/pki";
        ASSERT_TRUE(kit::rig::make_test_pki(pki_));
        app_data_ = scratch_ + "/appdata";
        fs::create_directories(app_data_);
        setenv("APPDATA", app_data_.c_str(), 1);
    }
    void insert_eid() {
        eid_ = std::make_unique<kit::rig::VirtualCard>(kit::rig::port_of(0),
                                                       std::vector<std::string>{"--profile", "eid", "--pki", pki_});
        ASSERT_TRUE(kit::rig::wait_for_card(slot(0), true));
    }
    std::string scratch_, pki_, app_data_;
    std::unique_ptr<kit::rig::VirtualCard> eid_, sis_;
};

}  // namespace

TEST_F(SelvaneInRig, ListOpenStatusAndEidReadWithAndWithoutPhoto) {
    insert_eid();
    char devices[SELVANE_DEVICES_SIZE];
    ASSERT_EQ(PCSC_Get_devices(0, devices), 0);
    // Two slots per reader entry, one per line, no line end after the last.
    const std::string names = std::string("\n") + devices + "\n";
    EXPECT_EQ(std::count(names.begin(), names.end(), '\n'), 7);
    for (std::size_t i = 0; i < 3; ++i) EXPECT_NE(names.find("\n" + slot(i) + "\n"), std::string::npos);
    ASSERT_EQ(QUARLO_Get_devices(1, devices), 0);
    EXPECT_NE(std::string(devices).find("<reader>" + slot(0) + "</reader>"), std::string::npos);

    const int32_t handle = PCSC_Open_device(slot(0).c_str());
    ASSERT_GT(handle, 0);
    EXPECT_EQ(file_bytes(fs::path(app_data_) / "sisreader.txt"), slot(0));

    int32_t powered = 0, removed = 1, atr_len = 0;
    unsigned char atr[SELVANE_ATR_SIZE] = {};
    ASSERT_EQ(PCSC_Reader_Status(0, &powered, &removed, atr, &atr_len), 0);
    EXPECT_EQ(removed, 0);
    EXPECT_GT(atr_len, 0);
    EXPECT_EQ(atr[0], 0x3B);

    char identity[SELVANE_EID_ID_TEXT_SIZE], address[SELVANE_EID_ADDRESS_TEXT_SIZE];
    int32_t photo_len = -1;
    ASSERT_EQ(PCSC_EID_Read(0, 0, identity, address, nullptr, &photo_len), 0);
    EXPECT_NE(std::string(identity).find("\nNAME=Peeters\n"), std::string::npos);
    EXPECT_STREQ(address, "STREET_AND_NUMBER=Kerkstraat 12\nZIPCODE=9000\nMUNICIPALITY=Gent\n");
    EXPECT_EQ(photo_len, 0);

    auto photo = std::make_unique<unsigned char[]>(SELVANE_PHOTO_SIZE);
    photo_len = 0;
    ASSERT_EQ(QUARLO_EID_Read(handle, 1, identity, address, photo.get(), &photo_len), 0);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(photo.get()), static_cast<std::size_t>(photo_len)),
              file_bytes(fs::path(pki_) / "photo.jpg"));
    EXPECT_EQ(std::string(address).rfind("<ID_ADDRESS>", 0), 0u);
}

TEST_F(SelvaneInRig, VisitorsReadGivesTheSameFilesByDirectCommands) {
    insert_eid();
    ASSERT_GT(PCSC_Open_device(slot(0).c_str()), 0);
    char identity[SELVANE_VISITORS_ID_TEXT_SIZE] = "", address[SELVANE_VISITORS_ADDRESS_TEXT_SIZE] = "";
    ASSERT_EQ(PCSC_Visitors_Read(0, 0, identity, address, 0, 0), 1);
    EXPECT_NE(std::string(identity).find("CARD_NUMBER=591234567890\n"), std::string::npos);
    EXPECT_NE(std::string(identity).find("NAME=Peeters\nFIRST_NAMES=Jan Pieter\n"), std::string::npos);
    EXPECT_NE(std::string(address).find("STREET_AND_NUMBER=Kerkstraat 12\nZIPCODE=9000\nMUNICIPALITY=Gent\n"),
              std::string::npos);

    eid_->remove();
    ASSERT_TRUE(kit::rig::wait_for_card(slot(0), false));
    EXPECT_EQ(PCSC_Visitors_Read(0, 1, identity, address, 0, 0), SELVANE_VISITORS_NO_CARD);
}

// Two processes reading the card at once: each read holds the card over
// both files, so no read answers success with texts of other files.
TEST_F(SelvaneInRig, VisitorsReadsOfTwoProcessesAtOnceNeverMixFiles) {
    insert_eid();
    constexpr int kReads = 30;
    struct Record {
        int32_t result;
        std::size_t texts;  // hash of the texts of a read that answered 1
    };
    int start[2];
    ASSERT_EQ(::pipe(start), 0);
    std::vector<std::pair<pid_t, int>> children;  // pid, read end of its records
    for (int p = 0; p < 2; ++p) {
        int records[2];
        ASSERT_EQ(::pipe(records), 0);
        const pid_t pid = start_child(Ending::immediate, [&] {
            ::close(start[1]);
            char go;
            if (::read(start[0], &go, 1) != 0 || PCSC_Open_device(slot(0).c_str()) <= 0) return 3;
            for (int i = 0; i < kReads; ++i) {
                const Read read = visitors_read();
                const Record record{read.result, read.result == 1 ? std::hash<std::string>{}(read.texts) : 0};
                if (::write(records[1], &record, sizeof record) != sizeof record) return 4;
            }
            return 0;
        });
        ASSERT_GE(pid, 0);
        ::close(records[1]);
        children.emplace_back(pid, records[0]);
    }
    ::close(start[0]);
    ::close(start[1]);  // both start reading

    std::vector<Record> all;
    for (const auto& [pid, fd] : children) {
        const int status = wait_child(pid);
        ASSERT_NE(status, -1);
        EXPECT_TRUE(exited_with(status, 0)) << status;
        Record record{};
        while (::read(fd, &record, sizeof record) == sizeof record) all.push_back(record);
        ::close(fd);
    }
    ASSERT_EQ(all.size(), 2u * kReads);
    ASSERT_GT(PCSC_Open_device(slot(0).c_str()), 0);
    const Read alone = visitors_read();
    ASSERT_EQ(alone.result, 1);
    ASSERT_NE(alone.texts.find("NAME=Peeters\nFIRST_NAMES=Jan Pieter\n"), std::string::npos);
    const std::size_t expected = std::hash<std::string>{}(alone.texts);
    int mixed = 0, failed = 0;
    for (const Record& record : all) {
        if (record.result != 1) ++failed;
        else if (record.texts != expected) ++mixed;
    }
    EXPECT_EQ(mixed, 0) << "reads that answered 1 with texts of other files";
    EXPECT_EQ(failed, 0);
}

// A host that forks after a read: the child reads on a connection of its
// own, never its parent's, and ends with exit(); the parent reads on.
TEST_F(SelvaneInRig, ChildForkedAfterAReadReadsAndTheParentGoesOn) {
    insert_eid();
    const int32_t handle = PCSC_Open_device(slot(0).c_str());
    ASSERT_GT(handle, 0);
    const Read first = eid_read();
    ASSERT_EQ(first.result, 0);
    ASSERT_NE(first.texts.find("\nNAME=Peeters\n"), std::string::npos);
    const Read first_visitors = visitors_read();
    ASSERT_EQ(first_visitors.result, 1);
    const ReaderConnection parents = tarvik_reader(handle);
    ASSERT_TRUE(parents.known);

    const int status = wait_child(start_child(Ending::exit_handlers, [&] {
        if (const int eid = child_reads(first.texts); eid != 0) return eid;
        if (visitors_read().texts != first_visitors.texts) return 2;
        const ReaderConnection own = tarvik_reader(handle);
        return own.known && own.context != parents.context && own.card != parents.card ? 0 : 3;
    }));
    EXPECT_TRUE(exited_with(status, 0)) << status << " (exit 3: the parent's connection)";

    const Read again = eid_read();
    EXPECT_EQ(again.result, 0);
    EXPECT_EQ(again.texts, first.texts);
    EXPECT_EQ(visitors_read().texts, first_visitors.texts);
}

// Forks while another thread of the host reads and traces: no child hangs
// on a lock copied held, each reads, and the parent's reads stay right.
TEST_F(SelvaneInRig, ForksWhileAnotherThreadReadsAndTraces) {
    insert_eid();
    __settracefile((scratch_ + "/fork.log").c_str());
    ASSERT_GT(PCSC_Open_device(slot(0).c_str()), 0);
    const Read first = eid_read();
    ASSERT_EQ(first.result, 0);

    std::atomic<bool> stop{false}, paused{false};
    std::atomic<int> right{0}, wrong{0};
    std::thread reader([&] {
        while (!stop.load()) {
            if (!paused.load()) {
                const Read read = eid_read();
                if (read.result == 0) ++(read.texts == first.texts ? right : wrong);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    for (int i = 0; i < 4; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100 + 90 * i));
        const pid_t child = start_child(Ending::immediate, [&] { return child_reads(first.texts); });
        // The fork came amid the parent's reading; now the child gets its
        // turn with the card (pcscd grants a waiting begin only when it next
        // looks, which a busy parent can keep missing).
        paused = true;
        const int status = wait_child(child);
        paused = false;
        EXPECT_TRUE(exited_with(status, 0)) << "child " << i << ": " << status;
    }
    stop = true;
    reader.join();
    __closetracefile();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GT(right.load(), 0);
}

// Threads of one process reading the one card at once, through both
// libraries: each call runs alone, so none answers success with texts of
// another read, and none fails for want of the card.
TEST_F(SelvaneInRig, ThreadsReadingAtOnceThroughBothLibrariesNeverMixTexts) {
    insert_eid();
    const int32_t handle = PCSC_Open_device(slot(0).c_str());
    ASSERT_GT(handle, 0);
    struct Kind {
        std::function<Read()> read;
        int32_t success;
        std::string texts;
    };
    std::vector<Kind> kinds{{eid_read, 0, {}}, {visitors_read, 1, {}}, {[handle] { return plain_identity_read(handle); }, 0, {}}};
    for (Kind& kind : kinds) {
        const Read alone = kind.read();
        ASSERT_EQ(alone.result, kind.success);
        ASSERT_NE(alone.texts.find("Peeters"), std::string::npos);
        kind.texts = alone.texts;
    }
    constexpr int kReads = 6;
    std::atomic<int> failed{0}, mixed{0};
    std::vector<std::thread> threads;
    for (int copy = 0; copy < 2; ++copy)
        for (const Kind& kind : kinds)
            threads.emplace_back([&] {
                for (int n = 0; n < kReads; ++n) {
                    const Read read = kind.read();
                    if (read.result != kind.success) ++failed;
                    else if (read.texts != kind.texts) ++mixed;
                }
            });
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mixed.load(), 0) << "reads that answered success with texts of another read";
    EXPECT_EQ(failed.load(), 0);
}

namespace {

// A card connection of the test's own, straight through PC/SC.
struct OwnConnection {
    SCARDCONTEXT context = 0;
    SCARDHANDLE card = 0;
    bool open(const std::string& reader) {
        DWORD protocol = 0;
        return SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) == SCARD_S_SUCCESS &&
               SCardConnect(context, reader.c_str(), SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1, &card,
                            &protocol) == SCARD_S_SUCCESS;
    }
    ~OwnConnection() {
        if (card != 0) SCardDisconnect(card, SCARD_LEAVE_CARD);
        if (context != 0) SCardReleaseContext(context);
    }
};

// Another process that holds the card from its construction until
// release(), or for 20 s at most.
class CardHolder {
public:
    explicit CardHolder(const std::string& reader) {
        if (::pipe(release_) != 0 || ::pipe(news_) != 0) return;
        pid_ = start_child(Ending::immediate, [&] {
            OwnConnection own;
            if (!own.open(reader) || SCardBeginTransaction(own.card) != SCARD_S_SUCCESS) return 1;
            if (::write(news_[1], "h", 1) != 1) return 2;
            pollfd told{release_[0], POLLIN, 0};
            ::poll(&told, 1, 20000);
            SCardEndTransaction(own.card, SCARD_LEAVE_CARD);
            return ::write(news_[1], "r", 1) == 1 ? 0 : 2;
        });
        char said = 0;
        holding_ = pid_ > 0 && ::read(news_[0], &said, 1) == 1 && said == 'h' &&
                   ::fcntl(news_[0], F_SETFL, O_NONBLOCK) == 0;
    }
    ~CardHolder() {
        release();
        for (int fd : {release_[0], release_[1], news_[0], news_[1]}) ::close(fd);
    }
    CardHolder(const CardHolder&) = delete;
    CardHolder& operator=(const CardHolder&) = delete;

    // True once it holds the card.
    bool holding() const { return holding_; }
    // True when it has not let the card go yet.
    bool still_holding() {
        char said = 0;
        return holding_ && ::read(news_[0], &said, 1) == -1;
    }
    // Lets the card go; true when the holder ended well.
    bool release() {
        if (pid_ <= 0) return false;
        const bool told = ::write(release_[1], "g", 1) == 1;
        const bool ended = exited_with(wait_child(pid_), 0);
        pid_ = -1;
        return told && ended;
    }

private:
    int release_[2] = {-1, -1};
    int news_[2] = {-1, -1};
    pid_t pid_ = -1;
    bool holding_ = false;
};

}  // namespace

// A host forks while one of its threads waits for the card, which another
// process holds: the fork does not wait for that call (the holder still
// holds the card when fork returns), and the child's calls go on.
TEST_F(SelvaneInRig, ForkDoesNotWaitForACallThatWaitsForTheCard) {
    insert_eid();
    const int32_t handle = PCSC_Open_device(slot(0).c_str());
    ASSERT_GT(handle, 0);
    auto* const command = tarvik_export<decltype(cardCommand_T0_T1)>("cardCommand_T0_T1");
    ASSERT_NE(command, nullptr);
    CardHolder holder(slot(0));
    ASSERT_TRUE(holder.holding());

    std::thread waiting([&] {
        unsigned char apdu[] = {0x00, 0xA4, 0x04, 0x0C, 0x00};
        unsigned char response[256];
        unsigned int response_len = 0;
        unsigned short sw = 0;
        command(handle, apdu, sizeof apdu, response, &response_len, &sw);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // into its wait for the card
    const pid_t child = start_child(Ending::immediate, [] {
        std::vector<char> devices(SELVANE_DEVICES_SIZE, '\0');
        return PCSC_Get_devices(0, devices.data()) == 0 && std::strstr(devices.data(), "Kit Plain") ? 0 : 1;
    });
    ASSERT_GT(child, 0);
    EXPECT_TRUE(holder.still_holding()) << "fork returned only after the holder let the card go";

    EXPECT_TRUE(holder.release());
    waiting.join();
    EXPECT_TRUE(exited_with(wait_child(child), 0));
}

// Another process holds the card for longer than the reads wait for it:
// tarvik's read gives up after its card check's short wait, the visitors read
// after its 10 s, both with "not granted in time" and before the holder lets
// go; once it has, both read again.
TEST_F(SelvaneInRig, ReadsOfACardAnotherProcessHoldsAnswerNotGrantedInTime) {
    insert_eid();
    ASSERT_GT(PCSC_Open_device(slot(0).c_str()), 0);
    const Read identity = eid_read();
    ASSERT_EQ(identity.result, 0);
    const Read visitors = visitors_read();
    ASSERT_EQ(visitors.result, 1);
    CardHolder holder(slot(0));
    ASSERT_TRUE(holder.holding());

    EXPECT_EQ(eid_read().result, 2);
    EXPECT_EQ(visitors_read().result, 2);
    EXPECT_TRUE(holder.still_holding()) << "a read waited until the holder let the card go";

    EXPECT_TRUE(holder.release());
    EXPECT_EQ(eid_read().texts, identity.texts);
    EXPECT_EQ(visitors_read().texts, visitors.texts);
}

// A thread of the host reads back to back while a forked child opens the
// reader again and reads: the child gets the card within a few seconds
// instead of waiting for the host to stop. Its wait is ended at 30 s.
TEST_F(SelvaneInRig, ChildGetsTheCardBesideThreadsThatReadContinuously) {
    insert_eid();
    ASSERT_GT(PCSC_Open_device(slot(0).c_str()), 0);
    const Read expected = eid_read();
    ASSERT_EQ(expected.result, 0);
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0};
    std::thread reader([&] {
        while (!stop.load())
            if (const Read read = eid_read(); read.result == 0 && read.texts != expected.texts) ++wrong;
    });
    std::this_thread::sleep_for(std::chrono::seconds(3));  // held on end for longer than one turn
    const pid_t child = start_child(Ending::immediate, [&] {
        ::alarm(30);
        for (;;) {
            const Read read = eid_read();
            if (read.result == 0) return read.texts == expected.texts ? 0 : 2;
        }
    });
    const int status = wait_child(child);
    stop = true;
    reader.join();
    EXPECT_TRUE(exited_with(status, 0)) << status << " (a signal: it never got the card)";
    EXPECT_EQ(wrong.load(), 0);
}

// The host forks while another of its threads is inside pcsc-lite, holding
// that library's process-wide lock (stopped there on purpose). In the
// child that lock stays held for ever: the child's calls answer failure
// codes instead of waiting on it, and the parent goes on.
TEST_F(SelvaneInRig, ChildForkedWhilePcscIsLockedAnswersInsteadOfHanging) {
    insert_eid();
    const std::string reader = slot(0);
    g_connect_stalled = false;
    g_connect_released = false;
    std::thread stalled([] {
        t_stall_connect = true;
        SCARDCONTEXT context = 0;
        if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) == SCARD_S_SUCCESS)
            SCardReleaseContext(context);
    });
    for (int i = 0; i < 1000 && !g_connect_stalled.load(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!g_connect_stalled.load()) {
        g_connect_released = true;
        stalled.join();
        FAIL() << "the thread never reached pcsc-lite's connect";
    }
    const pid_t child = start_child(Ending::immediate, [&] {
        std::vector<char> devices(SELVANE_DEVICES_SIZE, '\0');
        if (PCSC_Get_devices(0, devices.data()) != 0 || devices[0] != '\0') return 1;
        return PCSC_Open_device(reader.c_str()) <= 0 ? 0 : 2;
    });
    ASSERT_GT(child, 0);
    const int status = wait_child(child);
    EXPECT_TRUE(exited_with(status, 0)) << status << " (a signal: it hung)";
    g_connect_released = true;
    stalled.join();
    EXPECT_GT(PCSC_Open_device(reader.c_str()), 0);
    EXPECT_EQ(eid_read().result, 0);
}

TEST_F(SelvaneInRig, SisCardOnAnOmnikeyReader) {
    sis_ = std::make_unique<kit::rig::VirtualCard>(
        kit::rig::port_of(1), std::vector<std::string>{"--profile", "sle4418", "--memory", "@" + pki_ + "/sis_valid.bin"});
    ASSERT_TRUE(kit::rig::wait_for_card(slot(1), true));
    ASSERT_GT(QUARLO_Open_device(slot(1).c_str()), 0);
    char isdf[SELVANE_SIS_TEXT_SIZE] = "", pbdf[SELVANE_SIS_TEXT_SIZE] = "";
    ASSERT_EQ(PCSC_SIS_Read(0, 1, isdf, pbdf), 1);
    EXPECT_EQ(std::string(isdf).rfind("<SIS_ISDF>", 0), 0u);
    EXPECT_EQ(std::string(pbdf).rfind("<SIS_PBDF>", 0), 0u);
}

// The private read answers a failed public read as it is and never reaches
// the terminal library: no SFDF joins another card's texts, nor empty ones.
TEST_F(SelvaneInRig, PrivateSisReadAnswersItsPublicReadFailure) {
    const fs::path log = fs::path(scratch_) / "ctm.log";
    fs::remove(log);  // the scratch folder lives as long as the process
    setenv("KIT_CTM_LOG", log.c_str(), 1);
    insert_eid();
    sis_ = std::make_unique<kit::rig::VirtualCard>(
        kit::rig::port_of(1), std::vector<std::string>{"--profile", "sle4418", "--memory", "@" + pki_ + "/sis_valid.bin"});
    ASSERT_TRUE(kit::rig::wait_for_card(slot(1), true));
    const int32_t eid = PCSC_Open_device(slot(0).c_str());
    ASSERT_GT(eid, 0);

    for (const int32_t handle : {int32_t{-5}, int32_t{0x7ff0}, eid, int32_t{0}}) {
        SCOPED_TRACE(handle);
        char isdf[SELVANE_SIS_TEXT_SIZE] = "", pbdf[SELVANE_SIS_TEXT_SIZE] = "", sfdf[SELVANE_SFDF_TEXT_SIZE] = "";
        const int32_t public_result = PCSC_SIS_Read(handle, 0, isdf, pbdf);
        ASSERT_NE(public_result, 1);
        isdf[0] = pbdf[0] = '\0';
        EXPECT_EQ(PCSC_SIS_Read_Private(handle, 0, "1234", isdf, pbdf, sfdf), public_result);
        isdf[0] = pbdf[0] = '\0';
        EXPECT_EQ(QUARLO_SIS_Read_Private(handle, 1, "1234", isdf, pbdf, sfdf), public_result);
        EXPECT_STREQ(sfdf, "");
        BSTR texts[3] = {};
        EXPECT_EQ(BASIC_PCSC_SIS_Read_Private(handle, 0, "1234", &texts[0], &texts[1], &texts[2]), public_result);
        char pin[] = "1234";
        char* pin_ref = pin;
        EXPECT_EQ(BASIC_QUARLO_SIS_Read_Private2(handle, 0, &pin_ref, &texts[0], &texts[1], &texts[2]),
                  public_result);
        for (BSTR text : texts) {
            EXPECT_EQ(text, nullptr);
            SysFreeString(text);
        }
    }
    EXPECT_FALSE(fs::exists(log)) << file_bytes(log);

    // The SIS card with the SAM still reads.
    const int32_t sis = PCSC_Open_device(slot(1).c_str());
    ASSERT_GT(sis, 0);
    char isdf[SELVANE_SIS_TEXT_SIZE] = "", pbdf[SELVANE_SIS_TEXT_SIZE] = "", sfdf[SELVANE_SFDF_TEXT_SIZE] = "";
    ASSERT_EQ(PCSC_SIS_Read_Private(sis, 1, "1234", isdf, pbdf, sfdf), 1);
    EXPECT_EQ(std::string(isdf).rfind("<SIS_ISDF>", 0), 0u);
    EXPECT_EQ(std::string(pbdf).rfind("<SIS_PBDF>", 0), 0u);
    EXPECT_EQ(std::string(sfdf).rfind("<SIS_SFDF>", 0), 0u);
    EXPECT_EQ(file_bytes(log).rfind("CtmOpen\n", 0), 0u);
}

TEST_F(SelvaneInRig, PinpadCallsConnectDirectlyWhenNoCardIsHeld) {
    const fs::path record = fs::path(scratch_) / "pinpad.txt";
    fs::remove(record);  // the scratch folder lives as long as the process
    setenv("KIT_PINPAD_RECORD", record.c_str(), 1);
    ASSERT_GT(PCSC_Open_device(slot(2).c_str()), 0);
    EXPECT_EQ(PCSC_Display_Message(0, "PIN?", 1, 2), 0);
    EXPECT_EQ(PCSC_Beep(0, 5), 0);
    const std::string lines = file_bytes(record);
    EXPECT_EQ(lines.rfind("message card=", 0), 0u) << lines;
    EXPECT_EQ(lines.find("message card=0 "), std::string::npos) << lines;
    EXPECT_NE(lines.find(" a=1 b=2 text=PIN?\nbeep card="), std::string::npos) << lines;

    // Not a pinpad: refused before anything is connected.
    ASSERT_GT(PCSC_Open_device(slot(0).c_str()), 0);
    EXPECT_EQ(PCSC_Beep(0, 5), SELVANE_NOT_PINPAD);
}

TEST_F(SelvaneInRig, OnlineAuthenticationThroughTheTestServer) {
    insert_eid();
    testserver::TestAuthServer server;
    ASSERT_TRUE(server.start());
    constexpr uint8_t kTagTransaction = 4, kTagChallenge = 146;
    const std::string id = "20261208_201010_00112233AABBCCDD";
    server.script({200, testserver::envelope(testserver::tllv_item(kTagTransaction, id) +
                                             testserver::tllv_item(kTagChallenge, std::string(20, '\x5A')))});
    server.script({200, testserver::envelope(testserver::tllv_item(kTagTransaction, id))});

    const int32_t handle = PCSC_Open_device(slot(0).c_str());
    ASSERT_GT(handle, 0);
    char transaction[SELVANE_TRANSACTION_ID_SIZE] = {};
    ASSERT_EQ(eidAuthenticateValidationKey(handle, server.url().c_str(), 0, 0, 0, 0, 0, 0x124, 0, 0, 0, 0, "1234",
                                           transaction),
              0);
    EXPECT_EQ(std::string(transaction), id);
    EXPECT_EQ(server.requests().size(), 2u);
    EXPECT_TRUE(fs::exists(fs::path(app_data_) / "eidzundelog.txt"));

    // Handle 0 is not the current device here: nothing reaches the server.
    std::memset(transaction, 0, sizeof transaction);
    EXPECT_EQ(eidAuthenticateValidationKey(0, server.url().c_str(), 0, 0, 0, 0, 0, 0x124, 0, 0, 0, 0, "1234",
                                           transaction),
              SELVANE_NO_DEVICE);
    EXPECT_EQ(server.requests().size(), 2u);
}

TEST_F(SelvaneInRig, PinpadUsesTheConnectionTarvikHolds) {
    const fs::path record = fs::path(scratch_) / "pinpad.txt";
    fs::remove(record);  // the scratch folder lives as long as the process
    setenv("KIT_PINPAD_RECORD", record.c_str(), 1);
    eid_ = std::make_unique<kit::rig::VirtualCard>(kit::rig::port_of(2),
                                                   std::vector<std::string>{"--profile", "eid", "--pki", pki_});
    ASSERT_TRUE(kit::rig::wait_for_card(slot(2), true));
    const int32_t handle = PCSC_Open_device(slot(2).c_str());
    ASSERT_GT(handle, 0);

    const SCARDHANDLE held = tarvik_reader(handle).card;
    ASSERT_NE(held, 0);

    EXPECT_EQ(QUARLO_Display_Message(0, "OK", 0, 0), 0);
    EXPECT_EQ(file_bytes(record), "message card=" + std::to_string(held) + " a=0 b=0 text=OK\n");
    EXPECT_EQ(tarvik_reader(handle).card, held);
    // The connection still serves tarvik.
    int32_t powered = 0, removed = 1, atr_len = 0;
    unsigned char atr[SELVANE_ATR_SIZE] = {};
    EXPECT_EQ(PCSC_Reader_Status(0, &powered, &removed, atr, &atr_len), 0);
    EXPECT_EQ(removed, 0);
}

// A reader name holding markup characters stays one well-formed element in
// the XML list and comes back as written in the lines.
TEST(MarkupInReaderName, ListEscapesTheNameAndLinesGiveItBack) {
    const std::string name = slot(0);
    ASSERT_EQ(name, "Kit & Co <R> 00 00");
    char devices[SELVANE_DEVICES_SIZE];
    ASSERT_EQ(PCSC_Get_devices(1, devices), 0);
    const std::string xml = devices;
    const std::string head = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><PCSC_Get_devices>";
    EXPECT_EQ(xml, head + "<reader>Kit &amp; Co &lt;R&gt; 00 00</reader>" +
                       "<reader>Kit &amp; Co &lt;R&gt; 00 01</reader></PCSC_Get_devices>");
    ASSERT_EQ(PCSC_Get_devices(0, devices), 0);
    EXPECT_STREQ(devices, "Kit & Co <R> 00 00\nKit & Co <R> 00 01");
}
