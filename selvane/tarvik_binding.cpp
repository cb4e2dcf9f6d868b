#include "selvane/tarvik_binding.h"

#include <dlfcn.h>

#include <string>
#include <utility>

#include "orvel.h"
#include "platform/dynamic_library.h"

namespace selvane {

namespace {

TarvikExports g_exports;
// A plain pointer: nothing to destroy at exit before the detach runs.
kit::platform::DynamicLibrary* g_library = nullptr;

template <typename Fn>
bool bind(const kit::platform::DynamicLibrary& library, Fn& slot, const char* name,
          const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    slot = library.function<Fn>(name, file, line);
    return slot != nullptr;
}

// The first ten must all be there; the rest may be missing alone.
bool bind_all(const kit::platform::DynamicLibrary& lib, TarvikExports& t) {
    const bool required = bind(lib, t.eidStartAccessRights, "eidStartAccessRights") &&
                          bind(lib, t.getIccList, "getIccList") && bind(lib, t.openDevice, "openDevice") &&
                          bind(lib, t.readEidPubDataVerify, "readEidPubDataVerify") &&
                          bind(lib, t.readEidPubDataIdentify, "readEidPubDataIdentify") &&
                          bind(lib, t.readPtEidPubDataIdentify, "readPtEidPubDataIdentify") &&
                          bind(lib, t.readSisCard, "readSisCard") && bind(lib, t.cardPresent, "cardPresent") &&
                          bind(lib, t.getCardStatus, "getCardStatus") &&
                          bind(lib, t.cardCommand_T0_T1, "cardCommand_T0_T1");
    if (!required) return false;
    bind(lib, t.eidAuthenticationOnline, "eidAuthenticationOnline");
    bind(lib, t.eidStartOnline, "eidStartOnline");
    bind(lib, t.with_card, "tarvik_with_card");
    return true;
}

// The folder of the module holding this code ("" when unknown).
std::string own_folder() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&load_tarvik), &info) == 0 || !info.dli_fname) return {};
    const std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string{} : path.substr(0, slash + 1);
}

// The platform's search order first; then beside this library, which
// RUNPATH $ORIGIN names but which a dlopen made through an interposed
// loader (sanitizer runtimes) does not search.
kit::platform::DynamicLibrary open_tarvik() {
    kit::platform::DynamicLibrary library("tarvik.dll", "load_tarvik");
    if (library.loaded()) return library;
    const std::string folder = own_folder();
    if (folder.empty()) return library;
    return kit::platform::DynamicLibrary(folder + kit::platform::library_file_name("tarvik.dll"), "load_tarvik");
}

}  // namespace

TarvikExports& tarvik_exports() { return g_exports; }

int load_tarvik() {
    unload_tarvik();
    kit::platform::DynamicLibrary library = open_tarvik();
    if (!library.loaded()) return kTarvikNotLoadable;
    TarvikExports bound;
    if (!bind_all(library, bound)) {
        __tracef(ORVEL_ERR, "load_tarvik", __FILE__, __LINE__, "tarvik lacks an export; selvane stays unbound");
        return kTarvikIncomplete;
    }
    // Drops selvane's reference at detach but keeps tarvik mapped: its
    // reader object holds a PC/SC context and connection that an unmapped
    // tarvik could never release, and a later load finds them again.
    kit::platform::keep_module_loaded(reinterpret_cast<const void*>(bound.getIccList));
    g_exports = bound;
    g_library = new kit::platform::DynamicLibrary(std::move(library));
    return kTarvikLoaded;
}

void unload_tarvik() {
    g_exports = TarvikExports{};
    delete g_library;
    g_library = nullptr;
}

namespace call {

int getIccList(char* text) { return g_exports.getIccList ? g_exports.getIccList(text) : kNotBound; }

int openDevice(const char* reader) { return g_exports.openDevice ? g_exports.openDevice(reader) : 0; }

int readEidPubDataIdentify(int handle, int format, int want_address, int want_identity, int want_photo,
                           char* identity, char* address, unsigned char* photo, int* photo_len) {
    if (!g_exports.readEidPubDataIdentify) return kNotBound;
    return g_exports.readEidPubDataIdentify(handle, format, want_address, want_identity, want_photo, identity,
                                            address, photo, photo_len);
}

int readSisCard(int handle, int type, char* isdf, char* pbdf) {
    return g_exports.readSisCard ? g_exports.readSisCard(handle, type, isdf, pbdf) : kNotBound;
}

int getCardStatus(int handle, int* powered, int* absent, unsigned char* atr, unsigned int* atr_len) {
    return g_exports.getCardStatus ? g_exports.getCardStatus(handle, powered, absent, atr, atr_len) : kNotBound;
}

int cardCommand_T0_T1(int handle, unsigned char* apdu, int apdu_len, unsigned char* response,
                      unsigned int* response_len, unsigned short* sw) {
    if (!g_exports.cardCommand_T0_T1) return kNotBound;
    return g_exports.cardCommand_T0_T1(handle, apdu, apdu_len, response, response_len, sw);
}

int eidAuthenticationOnline(int handle, const int (&m)[10], const char* pin, char* transaction_id) {
    if (!g_exports.eidAuthenticationOnline) return kNotBound;
    return g_exports.eidAuthenticationOnline(handle, m[0], m[1], m[2], m[3], m[4], m[5], m[6], m[7], m[8], m[9], pin,
                                             transaction_id);
}

int eidStartOnline(const char* server_url) {
    return g_exports.eidStartOnline ? g_exports.eidStartOnline(server_url) : kNotBound;
}

int with_card(int handle, bool hold, tarvik_card_task task, void* context) {
    return g_exports.with_card ? g_exports.with_card(handle, hold ? 1 : 0, task, context) : kNotBound;
}

}  // namespace call

}  // namespace selvane
