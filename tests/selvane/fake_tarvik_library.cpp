// A libtarvik.so of the tests' own, to load libselvane.so against: it knows
// the reader "Kit Reader" (handle 7), answers fixed texts, and appends the
// name of every export called to the file named by FAKE_TARVIK_CALLS.
// Built in variants that lack exports (FAKE_TARVIK_WITHOUT_*).
#include <cstdio>
#include <cstdlib>
#include <cstring>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {

constexpr int kHandle = 7;

void called(const char* name) {
    const char* path = std::getenv("FAKE_TARVIK_CALLS");
    if (!path) return;
    if (std::FILE* f = std::fopen(path, "a")) {
        std::fprintf(f, "%s\n", name);
        std::fclose(f);
    }
}

int read_pub(const char* name, char* identity, char* address, int* photo_len) {
    called(name);
    std::strcpy(identity, "NAME=Fake\n");
    std::strcpy(address, "ZIPCODE=7000\n");
    *photo_len = 0;
    return 0;
}

}  // namespace

EXPORT int eidStartAccessRights(const char*) { called("eidStartAccessRights"); return 0; }
EXPORT int getIccList(char* text) {
    called("getIccList");
    std::strcat(text, "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><PCSC_Get_devices><reader>Kit Reader</reader>"
                      "</PCSC_Get_devices>");
    return 0;
}
EXPORT int openDevice(const char* name) {
    called("openDevice");
    return std::strcmp(name, "Kit Reader") == 0 ? kHandle : -1;
}
EXPORT int readEidPubDataVerify(int, int, int, int, int, char* id, char* addr, unsigned char*, int* len) {
    return read_pub("readEidPubDataVerify", id, addr, len);
}
EXPORT int readEidPubDataIdentify(int, int, int, int, int, char* id, char* addr, unsigned char*, int* len) {
    return read_pub("readEidPubDataIdentify", id, addr, len);
}
EXPORT int readPtEidPubDataIdentify(int, int, int, int, int, char* id, char* addr, unsigned char*, int* len) {
    return read_pub("readPtEidPubDataIdentify", id, addr, len);
}
EXPORT int readSisCard(int, int, char*, char*) { called("readSisCard"); return 1; }
EXPORT int cardPresent(int) { called("cardPresent"); return 1; }
EXPORT int getCardStatus(int, int* powered, int* absent, unsigned char*, unsigned* atr_len) {
    called("getCardStatus");
    *powered = 1;
    *absent = 0;
    *atr_len = 0;
    return 0;
}
#ifndef FAKE_TARVIK_WITHOUT_CARD_COMMAND
EXPORT int cardCommand_T0_T1(int, unsigned char*, int, unsigned char*, unsigned*, unsigned short* sw) {
    called("cardCommand_T0_T1");
    *sw = 0x6A82;
    return 0;
}
#endif
#ifndef FAKE_TARVIK_WITHOUT_ONLINE
EXPORT int eidAuthenticationOnline(int, int, int, int, int, int, int, int, int, int, int, const char*, char* out) {
    called("eidAuthenticationOnline");
    std::memcpy(out, "FAKEFAKEFAKEFAKEFAKEFAKEFAKEFAKE", 32);
    return 0;
}
EXPORT int eidStartOnline(const char*) { called("eidStartOnline"); return 0; }
#endif
EXPORT int tarvik_with_card(int handle, int hold, void (*task)(void*, const void*), void* context) {
    if (hold) called("tarvik_with_card hold");
    if (handle != kHandle) return -100;
    static char object[4096];  // an empty reader object: no name, no card
    task(context, object);
    return 0;
}
