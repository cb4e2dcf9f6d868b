// A reply body of the authentication server as the transport reads it: the
// answer between the markers, base64-decoded into the engine's reply buffer
// (a heap block of exactly its size, so a write past it is caught).
#include "tarvik/engine/eid_callback.h"
#include "tarvik/faces/server_transport.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The transfer never hands over more than this.
    if (size > static_cast<size_t>(TRANSPORT_MAX_REPLY)) return 0;
    std::vector<unsigned char> reply(EID_REPLY_BUFFER_SIZE, 0);
    int reply_len = 0;
    const int rc = transport_internal::decode_reply(
        std::string_view(reinterpret_cast<const char*>(data), size), reply.data(), &reply_len);
    if (rc != 0 && rc != -1) __builtin_trap();
    if (reply_len < 0 || reply_len > EID_REPLY_BUFFER_SIZE) __builtin_trap();
    if (rc == 0 && size <= 25 && reply_len != 0) __builtin_trap();
    return 0;
}
