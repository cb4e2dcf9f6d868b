// The vpcd socket: the card program connects to vpcd; every message is a
// 2-byte big-endian length and the payload. A 1-byte payload is a control
// (0 power off, 1 power on, 2 reset, 4 ATR request); anything longer is an APDU.
#ifndef KIT_VCARD_VPCD_LINK_H
#define KIT_VCARD_VPCD_LINK_H

#include <optional>
#include <string>

#include "tools/vcard/hex.h"

namespace vcard {

class VpcdLink {
public:
    VpcdLink() = default;
    VpcdLink(const VpcdLink&) = delete;
    VpcdLink& operator=(const VpcdLink&) = delete;
    ~VpcdLink() { close(); }

    bool connect(const std::string& host, int port);
    void close();
    bool open() const { return fd_ >= 0; }
    int fd() const { return fd_; }
    // One message; nullopt when the peer closed or the link broke.
    std::optional<Bytes> receive();
    bool send(const Bytes& payload);

private:
    bool read_exactly(uint8_t* out, std::size_t length);
    int fd_ = -1;
};

}  // namespace vcard

#endif
