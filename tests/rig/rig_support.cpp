#include "tests/rig/rig_support.h"

#include <PCSC/winscard.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "orvel.h"

extern char** environ;

namespace kit::rig {

namespace {

std::string env_or(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value ? value : fallback;
}

std::string read_file(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

int unique_counter() {
    static int counter = 0;
    return ++counter;
}

}  // namespace

std::vector<std::string> reader_entries() {
    std::vector<std::string> entries;
    std::stringstream list(env_or("KIT_RIG_READERS", ""));
    std::string entry;
    while (std::getline(list, entry, '|'))
        if (!entry.empty()) entries.push_back(entry);
    return entries;
}

int port_of(std::size_t index) {
    return std::atoi(env_or("KIT_RIG_BASE_PORT", "35963").c_str()) + 2 * static_cast<int>(index);
}

std::string slot_name(const std::string& entry) { return entry + " 00 00"; }

std::string scratch_dir() {
    // Outside the rig nobody else removes the folder, so its owner does.
    struct Scratch {
        std::string path;
        bool owned = false;
        Scratch() {
            const char* rig = std::getenv("KIT_RIG_DIR");
            owned = rig == nullptr;
            path = (rig ? std::string(rig) : env_or("TMPDIR", "/tmp")) + "/test.XXXXXX";
            if (!mkdtemp(path.data())) throw std::runtime_error("mkdtemp failed");
        }
        ~Scratch() {
            std::error_code ignored;
            if (owned) std::filesystem::remove_all(path, ignored);
        }
    };
    static Scratch scratch;
    return scratch.path;
}

bool make_test_pki(const std::string& dir, int bits) {
    std::filesystem::create_directories(dir);
    const std::string command = std::string(TESTPKI_PATH) + " " + dir + " --bits " + std::to_string(bits) + " >/dev/null";
    return std::system(command.c_str()) == 0;
}

VirtualCard::VirtualCard(int port, std::vector<std::string> args) : port_(port) {
    log_path_ = scratch_dir() + "/vcard-" + std::to_string(port) + "-" + std::to_string(unique_counter()) + ".log";
    std::vector<std::string> argv_text{KIT_VCARD_PATH, "--port", std::to_string(port), "--log", log_path_};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start kit-vcard");
}

VirtualCard::~VirtualCard() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    // pcscd notices a card gone only on its next poll: until then the next
    // test of the same process would find this card still in the reader.
    const auto entries = reader_entries();
    for (std::size_t i = 0; i < entries.size(); ++i) {
        if (port_of(i) == port_) wait_for_card(slot_name(entries[i]), false);
        if (port_of(i) + 1 == port_) wait_for_card(entries[i] + " 00 01", false);
    }
}

void VirtualCard::remove() { kill(pid_, SIGUSR1); }
void VirtualCard::insert() { kill(pid_, SIGUSR2); }
// The card holds the lines it has not written yet under an exclusive lock
// on its log and writes them out on SIGHUP.
std::string VirtualCard::log() const {
    const int fd = open(log_path_.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return "";
    while (flock(fd, LOCK_SH | LOCK_NB) != 0 && (errno == EWOULDBLOCK || errno == EINTR)) {
        kill(pid_, SIGHUP);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = read(fd, chunk, sizeof chunk)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    close(fd);
    return text;
}

bool wait_for_card(const std::string& reader, bool present, int timeout_ms) {
    SCARDCONTEXT context = 0;
    if (SCardEstablishContext(SCARD_SCOPE_SYSTEM, nullptr, nullptr, &context) != SCARD_S_SUCCESS) return false;
    SCARD_READERSTATE state{};
    state.szReader = reader.c_str();
    state.dwCurrentState = SCARD_STATE_UNAWARE;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    bool reached = false;
    while (!reached && std::chrono::steady_clock::now() < deadline) {
        const LONG rv = SCardGetStatusChange(context, 100, &state, 1);
        if (rv == SCARD_S_SUCCESS) state.dwCurrentState = state.dwEventState & ~SCARD_STATE_CHANGED;
        const bool has_card = (state.dwEventState & SCARD_STATE_PRESENT) && !(state.dwEventState & SCARD_STATE_MUTE);
        reached = present ? has_card : (state.dwEventState & SCARD_STATE_EMPTY) != 0;
    }
    SCardReleaseContext(context);
    return reached;
}

TraceCapture::TraceCapture() : path_(scratch_dir() + "/trace-" + std::to_string(unique_counter()) + ".log") {
    __settracelevel(ORVEL_DEBUG);
    __settracefile(path_.c_str());
}

TraceCapture::~TraceCapture() { __closetracefile(); }

std::string TraceCapture::text() const { return read_file(path_); }

}  // namespace kit::rig
