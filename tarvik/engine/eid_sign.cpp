#include "tarvik/engine/eid_sign.h"

#include <array>
#include <cstring>

#include "orvel.h"
#include "tarvik/engine/eid_card_exchange.h"

namespace {

constexpr const char* kFunction = "eidSignChallenge";

void trace(const char* message, const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    __tracef(ORVEL_DEBUG, kFunction, file, line, "%s", message);
}

// PSO COMPUTE DIGITAL SIGNATURE; the status word tells how much waits.
int compute_signature(int handle, const S_EID_DATA& challenge, EidCardReply& reply) {
    std::array<unsigned char, 5 + EID_SIGN_INPUT_MAX> command{0x00, 0x2A, 0x9E, 0x9A,
                                                              static_cast<unsigned char>(challenge.dta_len)};
    std::memcpy(command.data() + 5, challenge.dta, challenge.dta_len);
    if (!eid_card_exchange(handle, std::span(command.data(), 5 + challenge.dta_len), reply)) return EID_SIGN_FAILED;
    return (reply.sw >> 8) == 0x61 ? EID_SIGN_OK : EID_SIGN_REFUSED;
}

int get_response(int handle, unsigned char le, EidCardReply& reply) {
    const std::array<unsigned char, 5> command{0x00, 0xC0, 0x00, 0x00, le};
    if (!eid_card_exchange(handle, command, reply)) return EID_SIGN_FAILED;
    return reply.sw == 0x9000 ? EID_SIGN_OK : EID_SIGN_NO_RESPONSE;
}

int store_signature(const EidCardReply& reply, S_EID_DATA& signature) {
    unsigned char* buffer = new_eid_buffer(reply.data.data(), reply.length);
    if (buffer == nullptr) {
        trace("ERROR in eidSignChallenge(), unsigned char * signature->dta is NULL");
        return EID_SIGN_FAILED;
    }
    free_S_EID_DATA(&signature);
    signature.dta = buffer;
    signature.dta_len = reply.length;
    return EID_SIGN_OK;
}

}  // namespace

int eid_sign_input_check(std::size_t length) {
    return length >= 1 && length <= EID_SIGN_INPUT_MAX ? EID_SIGN_OK : EID_SIGN_REFUSED;
}

int eidSignChallenge(int handle, const S_EID_DATA* challenge, S_EID_DATA* signature) {
    if (challenge == nullptr || signature == nullptr) return EID_SIGN_FAILED;
    if (eid_sign_input_check(challenge->dta_len) != EID_SIGN_OK || challenge->dta == nullptr) {
        trace("ERROR in eidSignChallenge(), nothing to sign or too many bytes to sign");
        return EID_SIGN_REFUSED;
    }
    EidCardReply reply;
    if (const int computed = compute_signature(handle, *challenge, reply); computed != EID_SIGN_OK) return computed;
    // SW2 is the length waiting; 00 asks for all 256 bytes.
    const auto waiting = static_cast<unsigned char>(reply.sw & 0xFF);
    if (const int fetched = get_response(handle, waiting, reply); fetched != EID_SIGN_OK) return fetched;
    return store_signature(reply, *signature);
}
