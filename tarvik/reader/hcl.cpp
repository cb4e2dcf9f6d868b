#include "tarvik/reader/hcl.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "orvel.h"
#include "platform/library_lock.h"
#include "platform/process_probe.h"
#include "platform/sleep.h"
#include "tarvik/reader/begin_waiter.h"
#include "tarvik/reader/outside_libraries.h"
#include "tarvik/reader/pcsc_common.h"
#include "tarvik/reader/pcsc_availability.h"
#include "platform/secret_wipe.h"

namespace {

// Never destroyed: a call made while the process exits (an atexit handler,
// a JVM shutdown thread) still finds it.
Pcsc_Common* g_reader = nullptr;
bool g_opened = false;
// Set in a forked child that inherited an open reader: its next call opens
// the reader again on a connection of its own.
bool g_inherited = false;

Pcsc_Common& reader_object() {
    if (!g_reader) g_reader = new Pcsc_Common();
    return *g_reader;
}

// As openDevice did, by the name the reader object holds; a failed open
// leaves the handle unknown, as a failed openDevice does. While PC/SC may
// not be used (its trial in this child has not answered yet), the reader
// is opened again at a later call instead.
void reopen_inherited_reader() {
    if (!tarvik::reader::pcsc_usable()) return;
    g_inherited = false;
    g_opened = g_reader->openReader(g_reader->readerNameCopy().data()) == 0;
}

// The reader object behind the handle, null for an unknown handle (in a
// child, also until the inherited reader is open again).
Pcsc_Common* resolve(int handle) {
    if (handle != HCL_DEVICE_HANDLE || !g_opened) return nullptr;
    if (g_inherited) reopen_inherited_reader();
    return g_opened && !g_inherited ? g_reader : nullptr;
}

// The response bytes the APDU asks for, by the short and extended forms of
// ISO 7816-4: its Le, 00 (0000) meaning the most; 0 for an APDU without Le
// or one that fits none of the forms.
std::size_t asked_response_length(const unsigned char* apdu, std::size_t size) {
    const std::size_t p3 = apdu[4];
    if (size == 5) return p3 == 0 ? 256 : p3;
    if (p3 != 0) {
        if (size != 6 + p3) return 0;
        return apdu[size - 1] == 0 ? 256 : apdu[size - 1];
    }
    if (size < 7) return 0;
    const std::size_t extended = static_cast<std::size_t>(apdu[5] << 8 | apdu[6]);
    if (size == 7) return extended == 0 ? 65536 : extended;
    if (extended == 0 || size != 9 + extended) return 0;
    const std::size_t le = static_cast<std::size_t>(apdu[size - 2] << 8 | apdu[size - 1]);
    return le == 0 ? 65536 : le;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) Pcsc_Common* tarvik_resolve_device(int handle) {
    const kit::LibraryCall call;
    return resolve(handle);
}

void HCL_forget_inherited() noexcept {
    if (g_reader) g_reader->forgetConnection();
    g_inherited = g_opened;
    tarvik::reader::forget_inherited_begins();
    tarvik::reader::check_pcsc_before_use();
}

int HCL_get_readers(char* text) {
    reader_object().getReaders(1, text);
    return 0;
}

int HCL_open_reader(const char* name) {
    const int result = reader_object().openReader(name);
    g_opened = result == 0;
    g_inherited = false;
    return g_opened ? HCL_DEVICE_HANDLE : result;
}

int HCL_get_card_handle(int handle, SCARDHANDLE* card) {
    Pcsc_Common* const reader = resolve(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    if (!card) return -1;
    *card = reader->card;
    return 0;
}

int HCL_card_present(int handle) {
    Pcsc_Common* const reader = resolve(handle);
    if (!reader) return 0;
    std::array<unsigned char, 256> atr{};
    int powered = 0, absent = 0;
    unsigned int atr_len = 0;
    // A failed status read says nothing of the card: an earlier status's
    // flag would be a guess.
    if (reader->getStatus(&powered, &absent, atr.data(), &atr_len) != 0) return 0;
    return absent == 0 ? 1 : 0;
}

int HCL_get_card_status(int handle, int* powered, int* absent, unsigned char* atr, unsigned int* atr_len) {
    Pcsc_Common* const reader = resolve(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    return reader->getStatus(powered, absent, atr, atr_len);
}

int HCL_get_card_status_then_start_transaction(int handle, int timeout_ms, int* started, int* powered, int* absent,
                                               unsigned char* atr, unsigned int* atr_len) {
    *started = Pcsc_Common::kNotBegun;
    Pcsc_Common* const reader = resolve(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    return reader->statusThenBegin(timeout_ms, started, powered, absent, atr, atr_len);
}

namespace {

// HCL_card_status's answer from a status read's.
int card_status_answer(const Pcsc_Common& reader, int status, uint16_t* sw) {
    if (status != 0) return -1;
    if (reader.card_absent == 1) return -2;
    if (reader.card_powered == 0) return -3;
    *sw = 0x9000;
    return 0;
}

}  // namespace

int HCL_card_status(int handle, unsigned char* atr, unsigned int* atr_len, uint16_t* sw) {
    Pcsc_Common* const reader = resolve(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    if (!atr || !atr_len || !sw) return -1;
    return card_status_answer(*reader, reader->getStatus(nullptr, nullptr, atr, atr_len), sw);
}

int HCL_card_status_then_start_transaction(int handle, int timeout_ms, int* started, unsigned char* atr,
                                           unsigned int* atr_len, uint16_t* sw) {
    *started = Pcsc_Common::kNotBegun;
    Pcsc_Common* const reader = resolve(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    if (!atr || !atr_len || !sw) return -1;
    const int status = reader->statusThenBegin(timeout_ms, started, nullptr, nullptr, atr, atr_len);
    if (status == Pcsc_Common::kTransactionTimeout) return status;
    return card_status_answer(*reader, status, sw);
}

int HCL_card_command_T0_T1(int handle, unsigned char* apdu, int apdu_len, unsigned char* response,
                           unsigned int* response_len, uint16_t* sw) {
    Pcsc_Common* const reader = resolve(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    if (!apdu || apdu_len < 5 || apdu_len - 5 > HCL_COMMAND_DATA_MAX || !response || !response_len || !sw) return -1;
    // The response lands in a scratch buffer of our own; the caller's APDU
    // buffer is never written.
    std::array<unsigned char, Pcsc_Common::kApduBufferSize> scratch{};
    const WipeOnExit wipe_scratch(scratch);  // a VERIFY carries the PIN block
    const int data_len = apdu_len - 5;
    std::memcpy(scratch.data(), apdu + 5, static_cast<std::size_t>(data_len));
    unsigned int received = 0;
    int status = 0;
    const int result = reader->transmit(apdu, data_len, scratch.data(), scratch.size(), &received, &status);
    if (result < 4096) return -1;
    // The host sized its buffer by what the APDU asks for: a card that
    // answers more loses the excess.
    const std::size_t copied =
        std::min<std::size_t>(received, asked_response_length(apdu, static_cast<std::size_t>(apdu_len)));
    if (copied > 0) std::memcpy(response, scratch.data(), copied);
    *response_len = static_cast<unsigned int>(copied);
    *sw = static_cast<uint16_t>(status);
    return 0;
}

int HCL_card_Start_transaction(int handle, int timeout_ms) {
    Pcsc_Common* const reader = resolve(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    return reader->beginTransaction(timeout_ms);
}

int HCL_card_End_transaction(int handle) {
    Pcsc_Common* const reader = resolve(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    return reader->endTransaction();
}

int HCL_sync_card_read(int handle, unsigned char* buffer, uint16_t address, uint16_t length, int /*unused*/) {
    Pcsc_Common* const reader = resolve(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    if (!buffer) return -1;
    return reader->readSyncCard(4418, length, address, buffer);
}

int HCL_load_spe_reader_dll(const char* name) {
    if (load_spe_reader_dll(name) != 0) {
        __tracef(ORVEL_DEBUG, "HCL_load_spe_reader_dll", __FILE__, __LINE__, "%s",
                 "ERROR in HCL_load_spe_reader_dll() while calling load_spe_reader_dll()");
        return -1;
    }
    return 0;
}

int HCL_service_running(const char* name, int* running) {
    if (!running) return -1;
    *running = IsServiceRunning(name) ? 1 : 0;
    return 0;
}

void HCL_sleep(int milliseconds) { kit::platform::sleep_ms(milliseconds); }

bool HCL_pcsc_usable() { return tarvik::reader::pcsc_usable(); }

bool IsServiceRunning(const char* name) {
    const bool running = name && kit::platform::process_running(name);
    __tracef(ORVEL_DEBUG, "IsServiceRunning", __FILE__, __LINE__, running ? "The service %s is running"
                                                                          : "The service %s is not running",
             name ? name : "(null)");
    return running;
}
