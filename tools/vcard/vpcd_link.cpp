#include "tools/vcard/vpcd_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace vcard {

namespace {

// vpcd writes the length and the payload separately: without these each
// APDU waits for a delayed acknowledgement.
void no_delays(int fd) {
    int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
}

}  // namespace

bool VpcdLink::connect(const std::string& host, int port) {
    close();
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    if (inet_pton(AF_INET, host.c_str(), &address.sin_addr) != 1) return false;
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) return false;
    if (::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        close();
        return false;
    }
    no_delays(fd_);
    return true;
}

void VpcdLink::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool VpcdLink::read_exactly(uint8_t* out, std::size_t length) {
    while (length > 0) {
        no_delays(fd_);  // quick-ack is reset by the kernel, so again before every read
        const ssize_t got = ::read(fd_, out, length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        length -= static_cast<std::size_t>(got);
    }
    return true;
}

std::optional<Bytes> VpcdLink::receive() {
    uint8_t header[2];
    if (!open() || !read_exactly(header, 2)) return std::nullopt;
    Bytes payload(static_cast<std::size_t>(header[0] << 8 | header[1]));
    if (!payload.empty() && !read_exactly(payload.data(), payload.size())) return std::nullopt;
    return payload;
}

bool VpcdLink::send(const Bytes& payload) {
    if (!open() || payload.size() > 0xFFFF) return false;
    Bytes frame{static_cast<uint8_t>(payload.size() >> 8), static_cast<uint8_t>(payload.size() & 0xFF)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    std::size_t sent = 0;
    while (sent < frame.size()) {
        const ssize_t n = ::send(fd_, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace vcard
