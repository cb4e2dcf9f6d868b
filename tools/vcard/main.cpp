// kit-vcard: a virtual smart card for vpcd (options in options.h).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "tools/vcard/options.h"
#include "tools/vcard/vpcd_link.h"

namespace {

// Lines are kept in memory, so logging costs the card no system call per
// APDU, and written out when the card ends, after a quiet spell, on SIGHUP,
// or when much has gathered. While lines are held the card holds an
// exclusive flock on the file: a reader that takes a shared lock (after a
// SIGHUP) thus sees every line logged before it asked.
class EventLog {
public:
    explicit EventLog(const std::string& path)
        : fd_(path.empty() ? -1 : ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644)) {}
    ~EventLog() {
        flush();
        if (fd_ >= 0) ::close(fd_);
    }
    EventLog(const EventLog&) = delete;
    EventLog& operator=(const EventLog&) = delete;
    void line(const std::string& text) {
        if (fd_ < 0) return;
        if (pending_.empty()) flock(fd_, LOCK_EX);
        pending_.append(text).push_back('\n');
        if (pending_.size() >= kFlushAt) flush();
    }
    bool holds_lines() const { return !pending_.empty(); }
    void flush() {
        if (fd_ < 0 || pending_.empty()) return;
        for (std::size_t written = 0; written < pending_.size();) {
            const ssize_t n = ::write(fd_, pending_.data() + written, pending_.size() - written);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) break;
            written += static_cast<std::size_t>(n);
        }
        pending_.clear();
        flock(fd_, LOCK_UN);
    }

private:
    static constexpr std::size_t kFlushAt = 64 * 1024;
    int fd_;
    std::string pending_;
};

bool starts_with(const vcard::Bytes& apdu, const vcard::Bytes& prefix) {
    return apdu.size() >= prefix.size() && std::equal(prefix.begin(), prefix.end(), apdu.begin());
}

// Held log lines are written out after this long without an event.
constexpr int kQuietFlushMs = 200;

int signal_descriptor() {
    sigset_t set;
    sigemptyset(&set);
    for (int s : {SIGUSR1, SIGUSR2, SIGHUP, SIGTERM, SIGINT}) sigaddset(&set, s);
    sigprocmask(SIG_BLOCK, &set, nullptr);
    return signalfd(-1, &set, SFD_CLOEXEC);
}

struct Session {
    vcard::Options options;
    vcard::Card card;
    vcard::VpcdLink link;
    EventLog log;
    bool inserted = true;
    bool running = true;

    void handle_control(uint8_t control) {
        switch (control) {
            case 0: card.power_off(); log.line("POWER OFF"); break;
            case 1: card.power_on(); log.line("POWER ON"); break;
            case 2: card.reset(); log.line("RESET"); break;
            case 4: link.send(card.atr); log.line("ATR"); break;
            default: log.line("CONTROL " + std::to_string(control)); break;
        }
    }

    void handle_apdu(const vcard::Bytes& apdu) {
        for (const auto& prefix : options.cut_prefixes) {
            if (!starts_with(apdu, prefix)) continue;
            log.line("CUT " + vcard::to_hex(apdu));
            remove();
            return;
        }
        const auto reply = card.process(apdu);
        log.line("APDU " + vcard::to_hex(apdu) + " -> " + vcard::to_hex(reply));
        link.send(reply);
    }

    void remove() {
        link.close();
        card.power_off();
        inserted = false;
        log.line("REMOVED");
    }

    void handle_signal(int fd) {
        signalfd_siginfo info{};
        if (read(fd, &info, sizeof info) != static_cast<ssize_t>(sizeof info)) return;
        if (info.ssi_signo == SIGHUP) log.flush();
        else if (info.ssi_signo == SIGUSR1 && inserted) remove();
        else if (info.ssi_signo == SIGUSR2 && !inserted) {
            inserted = true;
            log.line("INSERTED");
        } else if (info.ssi_signo == SIGTERM || info.ssi_signo == SIGINT) running = false;
    }
};

// While vpcd does not answer: one note on standard error after a second,
// and the end once the time-out has passed without an answer.
class DriverWait {
public:
    explicit DriverWait(const vcard::Options& options) : options_(options) {}

    // false once the time-out has passed.
    bool failed_attempt() {
        const auto now = std::chrono::steady_clock::now();
        if (!waiting_) {
            since_ = now;
            waiting_ = true;
        }
        const auto waited = now - since_;
        if (!announced_ && waited >= std::chrono::seconds(1)) {
            std::fprintf(stderr, "kit-vcard: waiting for the reader driver (vpcd) on %s:%d...\n",
                         options_.host.c_str(), options_.port);
            announced_ = true;
        }
        if (waited < std::chrono::seconds(options_.driver_timeout_seconds)) return true;
        std::fprintf(stderr,
                     "kit-vcard: no reader driver (vpcd) answered on %s:%d for %d s; giving up "
                     "(is pcscd running with a vpcd reader on that port?)\n",
                     options_.host.c_str(), options_.port, options_.driver_timeout_seconds);
        return false;
    }
    void connected() {
        waiting_ = false;
        announced_ = false;
    }

private:
    const vcard::Options& options_;
    std::chrono::steady_clock::time_point since_{};
    bool waiting_ = false;
    bool announced_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    if (vcard::help_requested(argc, argv)) {
        std::fputs(vcard::kUsage, stdout);
        return 0;
    }
    auto parsed = vcard::parse_options(argc, argv);
    if (!parsed) return 2;
    const std::string log_path = parsed->first.log_path;
    Session session{std::move(parsed->first), std::move(parsed->second), {}, EventLog(log_path)};
    session.inserted = !session.options.start_absent;
    const int signals = signal_descriptor();
    DriverWait driver(session.options);
    while (session.running) {
        if (session.inserted && !session.link.open()) {
            if (session.link.connect(session.options.host, session.options.port)) {
                driver.connected();
            } else {
                // vpcd not listening yet (or gone): try again shortly.
                session.log.flush();
                if (!driver.failed_attempt()) return 1;
                pollfd only_signals{signals, POLLIN, 0};
                if (poll(&only_signals, 1, 50) > 0) session.handle_signal(signals);
                continue;
            }
        }
        pollfd fds[2] = {{signals, POLLIN, 0}, {session.link.fd(), POLLIN, 0}};
        const nfds_t count = session.link.open() ? 2 : 1;
        const int ready = poll(fds, count, session.log.holds_lines() ? kQuietFlushMs : -1);
        if (ready == 0) session.log.flush();
        if (ready <= 0) continue;
        if (fds[0].revents & POLLIN) {
            session.handle_signal(signals);
            continue;
        }
        if (count == 2 && (fds[1].revents & (POLLIN | POLLHUP | POLLERR))) {
            auto message = session.link.receive();
            if (!message) {
                session.link.close();
                continue;
            }
            if (message->size() == 1)
                session.handle_control((*message)[0]);
            else
                session.handle_apdu(*message);
        }
    }
    return 0;
}
