#include "tarvik/engine/eid_card_exchange.h"

bool eid_card_exchange(int handle, std::span<const unsigned char> apdu, EidCardReply& reply) {
    reply = EidCardReply{};
    // The reader layer never writes the APDU; its signature predates const.
    auto* bytes = const_cast<unsigned char*>(apdu.data());
    return HCL_card_command_T0_T1(handle, bytes, static_cast<int>(apdu.size()), reply.data.data(), &reply.length,
                                  &reply.sw) == 0;
}
