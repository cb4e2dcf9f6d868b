#include "tarvik/reader/hcl.h"

#include <array>
#include <cstring>
#include <memory>

#include "orvel.h"
#include "platform/process_probe.h"
#include "platform/sleep.h"
#include "tarvik/reader/outside_libraries.h"
#include "tarvik/reader/pcsc_common.h"

namespace {

std::unique_ptr<Pcsc_Common> g_reader;
bool g_opened = false;

Pcsc_Common& reader_object() {
    if (!g_reader) g_reader = std::make_unique<Pcsc_Common>();
    return *g_reader;
}

Pcsc_Common* resolve(int handle) {
    if (handle != HCL_DEVICE_HANDLE || !g_opened) return nullptr;
    return g_reader.get();
}

}  // namespace

extern "C" __attribute__((visibility("default"))) Pcsc_Common* tarvik_resolve_device(int handle) {
    return resolve(handle);
}

int HCL_get_readers(char* text) {
    reader_object().getReaders(1, text);
    return 0;
}

int HCL_open_reader(const char* name) {
    const int result = reader_object().openReader(name);
    g_opened = result == 0;
    return g_opened ? HCL_DEVICE_HANDLE : result;
}

int HCL_get_card_handle(int handle, SCARDHANDLE* card) {
    Pcsc_Common* reader = resolve(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    if (!card) return -1;
    *card = reader->card;
    return 0;
}

int HCL_card_present(int handle) {
    Pcsc_Common* reader = resolve(handle);
    if (!reader) return 0;
    std::array<unsigned char, 256> atr{};
    int powered = 0, absent = 0;
    unsigned int atr_len = 0;
    reader->getStatus(&powered, &absent, atr.data(), &atr_len);
    return reader->card_absent == 0 ? 1 : 0;
}

int HCL_get_card_status(int handle, int* powered, int* absent, unsigned char* atr, unsigned int* atr_len) {
    Pcsc_Common* reader = resolve(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    return reader->getStatus(powered, absent, atr, atr_len);
}

int HCL_card_status(int handle, unsigned char* atr, unsigned int* atr_len, uint16_t* sw) {
    Pcsc_Common* reader = resolve(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    if (!atr || !atr_len || !sw) return -1;
    int powered = 0, absent = 0;
    if (reader->getStatus(&powered, &absent, atr, atr_len) != 0) return -1;
    if (reader->card_absent == 1) return -2;
    if (reader->card_powered == 0) return -3;
    *sw = 0x9000;
    return 0;
}

int HCL_card_command_T0_T1(int handle, unsigned char* apdu, int apdu_len, unsigned char* response,
                           unsigned int* response_len, uint16_t* sw) {
    Pcsc_Common* reader = resolve(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    if (!apdu || apdu_len < 5 || apdu_len - 5 > HCL_COMMAND_DATA_MAX || !response || !response_len || !sw) return -1;
    // The response lands in a scratch buffer of our own; the caller's APDU
    // buffer is never written.
    std::array<unsigned char, Pcsc_Common::kApduBufferSize> scratch{};
    const int data_len = apdu_len - 5;
    std::memcpy(scratch.data(), apdu + 5, static_cast<std::size_t>(data_len));
    unsigned int received = 0;
    int status = 0;
    const int result = reader->transmit(apdu, data_len, scratch.data(), scratch.size(), &received, &status);
    if (result < 4096) return -1;
    if (received > 0) std::memcpy(response, scratch.data(), received);
    *response_len = received;
    *sw = static_cast<uint16_t>(status);
    return 0;
}

int HCL_card_Start_transaction(int handle, int timeout_ms) {
    Pcsc_Common* reader = resolve(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    return reader->beginTransaction(timeout_ms);
}

int HCL_card_End_transaction(int handle) {
    Pcsc_Common* reader = resolve(handle);
    if (!reader) return HCL_E_UNKNOWN_HANDLE;
    return reader->endTransaction();
}

int HCL_sync_card_read(int handle, unsigned char* buffer, uint16_t address, uint16_t length, int /*unused*/) {
    Pcsc_Common* reader = resolve(handle);
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

bool IsServiceRunning(const char* name) {
    const bool running = name && kit::platform::process_running(name);
    __tracef(ORVEL_DEBUG, "IsServiceRunning", __FILE__, __LINE__, running ? "The service %s is running"
                                                                          : "The service %s is not running",
             name ? name : "(null)");
    return running;
}
