// The card answers of a whole offline public-data verification, everything
// asked for. The reader layer is replaced here: a card whose eleven files
// come from the input answers SELECT and READ BINARY as the eID card does,
// and the bytes after the files bend single answers (other status words,
// more or fewer bytes, no answer, a foreign ATR). Pauses cost nothing.
//
// Input: eleven files in the order 4031..4036, 5038..503C, each a 2-byte
// big-endian length and its bytes; then one twist byte per card call.
#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_public_transactions.h"
#include "tarvik/engine/eid_session.h"
#include "tarvik/reader/hcl.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<unsigned char>;

constexpr std::array<int, 11> kFileIds{0x4031, 0x4032, 0x4033, 0x4034, 0x4035, 0x4036,
                                       0x5038, 0x5039, 0x503A, 0x503B, 0x503C};

struct FuzzCard {
    std::array<Bytes, kFileIds.size()> files;
    const uint8_t* twists = nullptr;
    std::size_t twists_left = 0;
    int current = -1;  // index of the selected file

    // The next twist byte, or 0 (an honest answer) when none is left.
    uint8_t next() {
        if (twists_left == 0) return 0;
        --twists_left;
        return *twists++;
    }
};

FuzzCard g_card;

void parse(const uint8_t* data, std::size_t size) {
    g_card = FuzzCard{};
    std::size_t at = 0;
    for (Bytes& file : g_card.files) {
        if (size - at < 2) break;
        const std::size_t length = std::min<std::size_t>(static_cast<std::size_t>(data[at] << 8 | data[at + 1]),
                                                         size - at - 2);
        file.assign(data + at + 2, data + at + 2 + length);
        at += 2 + length;
    }
    g_card.twists = data + at;
    g_card.twists_left = size - at;
}

struct Answer {
    uint16_t sw = 0x9000;
    Bytes data;
};

Answer select(const unsigned char* apdu, int apdu_len) {
    if (apdu_len != 7) return {0x6700, {}};
    const int fid = apdu[5] << 8 | apdu[6];
    if (fid == 0x3F00 || fid == 0xDF00 || fid == 0xDF01) {
        g_card.current = -1;
        return {};
    }
    const auto found = std::find(kFileIds.begin(), kFileIds.end(), fid);
    if (found == kFileIds.end()) return {0x6A82, {}};
    g_card.current = static_cast<int>(found - kFileIds.begin());
    return {};
}

Answer read_binary(const unsigned char* apdu, int apdu_len) {
    if (apdu_len != 5) return {0x6700, {}};
    if (g_card.current < 0) return {0x6986, {}};
    const Bytes& file = g_card.files[static_cast<std::size_t>(g_card.current)];
    const std::size_t offset = static_cast<std::size_t>(apdu[2] << 8 | apdu[3]);
    const std::size_t le = apdu[4] == 0 ? 256 : apdu[4];
    if (offset >= file.size()) return {0x6B00, {}};
    const std::size_t left = file.size() - offset;
    if (left < le) return {static_cast<uint16_t>(0x6C00 | left), {}};
    return {0x9000, Bytes(file.begin() + static_cast<long>(offset), file.begin() + static_cast<long>(offset + le))};
}

Answer honest(const unsigned char* apdu, int apdu_len) {
    if (apdu[0] == 0x00 && apdu[1] == 0xA4) return select(apdu, apdu_len);
    if (apdu[0] == 0x00 && apdu[1] == 0xB0) return read_binary(apdu, apdu_len);
    return {0x6D00, {}};
}

std::string g_directory;

// Certificate files the transaction saved under its own identifier.
void remove_saved(const S_EID_FUNCTION_OUTPUT& out) {
    for (const S_EID_CERT* cert : {&out.cert2, &out.cert3, &out.cert4, &out.cert6, &out.cert8})
        if (cert->dsc != nullptr && cert->dsc_len > 0) ::unlink(std::string(cert->dsc, cert->dsc_len).c_str());
}

int no_server(unsigned char*, int, unsigned char*, int*) { return -1; }

}  // namespace

// The reader layer, answering from the input.
int HCL_get_readers(char*) { return 0; }
int HCL_open_reader(const char* name) { return name == nullptr ? -1 : HCL_DEVICE_HANDLE; }
int HCL_get_card_handle(int, SCARDHANDLE* card) {
    if (card == nullptr) return -1;
    *card = 1;
    return 0;
}
int HCL_card_present(int handle) { return handle == HCL_DEVICE_HANDLE ? 1 : 0; }
int HCL_get_card_status(int, int* powered, int* absent, unsigned char*, unsigned int* atr_len) {
    if (powered) *powered = 1;
    if (absent) *absent = 0;
    if (atr_len) *atr_len = 0;
    return 0;
}
int HCL_card_status(int handle, unsigned char* atr, unsigned int* atr_len, uint16_t* sw) {
    if (handle != HCL_DEVICE_HANDLE) return HCL_E_UNKNOWN_HANDLE;
    if (atr == nullptr || atr_len == nullptr || sw == nullptr) return -1;
    const uint8_t twist = g_card.next();
    if (twist >= 0xF8) return -1;
    static constexpr unsigned char kAtr[] = {0x3B, 0x98, 0x13, 0x40, 0x0A, 0xA5, 0x03, 0x01, 0x01, 0x01, 0xAD, 0x13, 0x11};
    std::memcpy(atr, kAtr, sizeof kAtr);
    if (twist >= 0xF0) atr[0] = twist == 0xF0 ? 0x00 : 0xFF;
    *atr_len = sizeof kAtr;
    *sw = twist >= 0xE8 && twist < 0xF0 ? 0x6F00 : 0x9000;
    return 0;
}
int HCL_card_command_T0_T1(int handle, unsigned char* apdu, int apdu_len, unsigned char* response,
                           unsigned int* response_len, uint16_t* sw) {
    if (handle != HCL_DEVICE_HANDLE) return HCL_E_UNKNOWN_HANDLE;
    if (apdu == nullptr || response == nullptr || response_len == nullptr || sw == nullptr || apdu_len < 5 ||
        apdu_len > 5 + HCL_COMMAND_DATA_MAX)
        return -1;
    Answer answer = honest(apdu, apdu_len);
    const uint8_t twist = g_card.next();
    if (twist >= 0xF0) return -1;  // no status word
    if (twist >= 0xE0) {           // any status word, a few bytes of the input as data
        answer.sw = static_cast<uint16_t>(g_card.next() << 8 | g_card.next());
        answer.data.resize(g_card.next());
        for (unsigned char& b : answer.data) b = g_card.next();
    } else if (twist >= 0xD0) {    // 9000 and nothing
        answer = {};
    } else if (twist >= 0xC0) {    // the honest bytes, longer or shorter
        answer.data.resize(static_cast<std::size_t>(g_card.next()) * 4, 0x00);
    }
    const std::size_t capacity = std::min<std::size_t>(*response_len, HCL_RESPONSE_MAX);
    const std::size_t count = std::min(answer.data.size(), capacity);
    std::copy_n(answer.data.begin(), count, response);
    *response_len = static_cast<unsigned int>(count);
    *sw = answer.sw;
    return 0;
}
int HCL_card_Start_transaction(int handle, int) { return handle == HCL_DEVICE_HANDLE ? 0 : HCL_E_UNKNOWN_HANDLE; }
// The real layer makes both on its waiting thread; here one after the other.
int HCL_card_status_then_start_transaction(int handle, int timeout_ms, int* started, unsigned char* atr,
                                           unsigned int* atr_len, uint16_t* sw) {
    *started = -1;
    const int status = HCL_card_status(handle, atr, atr_len, sw);
    if (status == 0) *started = HCL_card_Start_transaction(handle, timeout_ms);
    return status;
}
int HCL_card_End_transaction(int handle) { return handle == HCL_DEVICE_HANDLE ? 0 : HCL_E_UNKNOWN_HANDLE; }
int HCL_sync_card_read(int, unsigned char*, uint16_t, uint16_t, int) { return HCL_SYNC_NOT_SUPPORTED; }
int HCL_load_spe_reader_dll(const char*) { return -1; }
int HCL_service_running(const char*, int* running) {
    if (running == nullptr) return -1;
    *running = 0;
    return 0;
}
void HCL_sleep(int) {}
bool IsServiceRunning(const char*) { return false; }

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    char folder[] = "/tmp/kit_fuzz_pub_data_XXXXXX";
    if (::mkdtemp(folder) == nullptr) std::abort();
    g_directory = std::string(folder) + "/";
    std::atexit([] { ::rmdir(g_directory.c_str()); });
    if (eidInit(no_server, g_directory.c_str()) != 0 || eidOpenReader("Fuzz Reader") != HCL_DEVICE_HANDLE)
        std::abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    parse(data, size);
    S_EID_FUNCTION_INPUT in{};
    S_EID_FUNCTION_OUTPUT out{};
    init_S_EID_FUNCTION_INPUT(&in);
    init_S_EID_FUNCTION_OUTPUT(&out);
    in.function_id = PUB_DATA_VER_OFFLINE;
    const int32_t masks[EID_REQUEST_MASKS] = {0x60000, 0x7FFF, 0x8000, 0x80000, 0x7FFF,
                                              0x7FFF,  0x7FFF, 0x7FFF,  0x7FFF, 0x7FFF};
    std::memcpy(in.request_mask, masks, sizeof masks);
    const int rc = eidPubDataVerify(HCL_DEVICE_HANDLE, &in, &out);
    // Whatever the card answered, a file never outgrows the read buffer and
    // a status is one of -1, 0, 1.
    for (const S_EID_DATA* file : {&out.id_rn, &out.id_address, &out.id_photo, &out.sgn_rn, &out.sgn_address})
        if (file->dta_len > 4096 || (file->dta == nullptr && file->dta_len != 0)) __builtin_trap();
    for (int32_t status : {out.id_rn_stat, out.id_address_stat, out.id_photo_stat, out.cert2_ccv_stat,
                           out.cert3_ccv_stat})
        if (status < -1 || status > 1) __builtin_trap();
    if (rc == 0 && out.id_photo_stat == 1 && out.id_rn_stat != 1) __builtin_trap();
    remove_saved(out);
    free_S_EID_FUNCTION_OUTPUT(&out);
    free_S_EID_FUNCTION_INPUT(&in);
    return 0;
}
