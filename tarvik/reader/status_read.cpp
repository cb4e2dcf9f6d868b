#include "tarvik/reader/status_read.h"

#include <cstring>

#include "tarvik/reader/pcsc_availability.h"
#include "tarvik/reader/pcsc_result.h"

namespace tarvik::reader {

namespace {

int32_t read_status(SCARDHANDLE card, StatusCalls& calls) {
    char name[kStatusNameSize] = {};
    DWORD name_length = kStatusNameSize;
    DWORD protocol = 0;
    calls.atr_len = kStatusAtrCapacity;
    const int32_t result =
        narrow(SCardStatus(card, name, &name_length, &calls.state, &protocol, calls.atr.data(), &calls.atr_len));
    if (result == kSuccess) {
        calls.named = true;
        calls.name.fill('\0');
        std::memcpy(calls.name.data(), name, strnlen(name, kStatusNameSize - 1));
    }
    return result;
}

constexpr DWORD kBothProtocols = SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1;

}  // namespace

int32_t connect_card(SCARDCONTEXT context, const char* reader_name, SCARDHANDLE* card) {
    DWORD protocol = 0;
    return narrow(SCardConnect(context, reader_name, SCARD_SHARE_SHARED, kBothProtocols, card, &protocol));
}

int32_t reconnect_card(SCARDHANDLE card) {
    DWORD protocol = 0;
    return narrow(SCardReconnect(card, SCARD_SHARE_SHARED, kBothProtocols, SCARD_RESET_CARD, &protocol));
}

StatusCalls make_status_calls(SCARDCONTEXT context, SCARDHANDLE card, const char* reader_name) {
    StatusCalls calls;
    if (pcsc_exiting()) {
        calls.first = narrow(SCARD_E_NO_SERVICE);
        return calls;
    }
    if (card == 0) {
        calls.first = connect_card(context, reader_name, &calls.connected);
        if (calls.first != kSuccess) calls.connected = 0;
    } else {
        calls.first = read_status(card, calls);
        if (calls.first != kSuccess) calls.first = reconnect_card(card);
    }
    if (calls.first == kSuccess) calls.again = read_status(calls.card_after(card), calls);
    return calls;
}

}  // namespace tarvik::reader
