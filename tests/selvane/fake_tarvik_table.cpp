#include "fake_tarvik_table.h"

#include <algorithm>
#include <cstring>

namespace fake {

namespace {

Tarvik g_state;

void note(const char* name, int handle) {
    g_state.calls.emplace_back(name);
    g_state.handles.push_back(handle);
}

int get_icc_list(char* text) {
    g_state.calls.emplace_back("getIccList");
    std::strcat(text, g_state.reader_list.c_str());
    return g_state.list_result;
}

int open_device(const char* reader) {
    g_state.calls.emplace_back("openDevice");
    g_state.opened = reader ? reader : "(null)";
    return g_state.open_result;
}

int read_identify(int handle, int format, int want_address, int want_identity, int want_photo, char* identity,
                  char* address, unsigned char* photo, int* photo_len) {
    note("readEidPubDataIdentify", handle);
    g_state.read_args = {format, want_address, want_identity, want_photo};
    std::strcpy(identity, "NAME=Kit\n");
    std::strcpy(address, "ZIPCODE=1000\n");
    if (want_photo == 1) {
        std::memcpy(photo, "\xFF\xD8\xFF", 3);
        *photo_len = 3;
    } else {
        *photo_len = 0;
    }
    return g_state.read_result;
}

int read_sis(int handle, int, char* isdf, char* pbdf) {
    note("readSisCard", handle);
    std::strcat(isdf, "ISDF");
    std::strcat(pbdf, "PBDF");
    return 1;
}

int card_status(int handle, int* powered, int* absent, unsigned char* atr, unsigned int* atr_len) {
    note("getCardStatus", handle);
    *powered = 1;
    *absent = 0;
    atr[0] = 0x3B;
    *atr_len = 1;
    return g_state.status_result;
}

int card_command(int handle, unsigned char* apdu, int apdu_len, unsigned char* response, unsigned int* response_len,
                 unsigned short* sw) {
    note("cardCommand_T0_T1", handle);
    std::string reply;
    const int result = g_state.card(std::string(reinterpret_cast<char*>(apdu), static_cast<std::size_t>(apdu_len)),
                                    reply, *sw);
    if (result != 0) return result;
    std::memcpy(response, reply.data(), std::min<std::size_t>(reply.size(), 1022));
    *response_len = static_cast<unsigned int>(std::min<std::size_t>(reply.size(), 1022));
    return 0;
}

int with_card(int handle, int hold, tarvik_card_task task, void* context) {
    if (hold) note("tarvik_with_card hold", handle);
    if (handle != kHandle) return -100;
    if (hold && g_state.status_result != 0) return g_state.status_result;
    if (hold && g_state.begin_result != 0) return g_state.begin_result;
    static Pcsc_Common empty_reader;
    if (hold) g_state.calls.emplace_back("card held");
    task(context, g_state.reader ? g_state.reader : &empty_reader);
    if (hold) g_state.calls.emplace_back("card let go");
    return 0;
}

int start_online(const char* url) {
    g_state.calls.emplace_back("eidStartOnline");
    g_state.start_url = url;
    return 0;
}

int authenticate(int handle, int m0, int m1, int m2, int m3, int m4, int m5, int m6, int m7, int m8, int m9,
                 const char* pin, char* transaction_id) {
    note("eidAuthenticationOnline", handle);
    g_state.masks = {m0, m1, m2, m3, m4, m5, m6, m7, m8, m9};
    g_state.pin = pin;
    std::memcpy(transaction_id, "0123456789abcdef0123456789abcdef", 32);
    return 0;
}

}  // namespace

Tarvik& state() { return g_state; }

void install() {
    g_state = Tarvik{};
    auto& t = selvane::tarvik_exports();
    t = selvane::TarvikExports{};
    t.getIccList = get_icc_list;
    t.openDevice = open_device;
    t.readEidPubDataIdentify = read_identify;
    t.readSisCard = read_sis;
    t.getCardStatus = card_status;
    t.cardCommand_T0_T1 = card_command;
    t.eidStartOnline = start_online;
    t.eidAuthenticationOnline = authenticate;
    t.with_card = with_card;
}

}  // namespace fake
