#include "fake_eid_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "engine_test_util.h"
#include "tarvik/reader/hcl.h"

namespace {

bool starts_with(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

struct Answer {
    uint16_t sw = 0x9000;
    std::vector<unsigned char> data;
};

Answer read_binary(FakeEidCard& card, const unsigned char* apdu) {
    if (const auto refused = card.refuse_read.find(card.selected); refused != card.refuse_read.end())
        return {refused->second, {}};
    const auto file = card.files.find(card.selected);
    if (file == card.files.end()) return {0x6986, {}};
    const std::size_t offset = apdu[2] * 256u + apdu[3];
    const std::size_t le = apdu[4] == 0 ? 256 : apdu[4];
    const auto& content = file->second;
    if (offset >= content.size()) return {0x6B00, {}};
    const std::size_t left = content.size() - offset;
    if (left < le) return {static_cast<uint16_t>(0x6C00 | left), {}};
    const auto from = content.begin() + static_cast<long>(offset);
    return {0x9000, std::vector<unsigned char>(from, from + static_cast<long>(le))};
}

Answer answer(FakeEidCard& card, const unsigned char* apdu, int length) {
    switch (apdu[1]) {
        case 0xA4: {
            const int fid = length >= 7 ? apdu[5] * 256 + apdu[6] : -1;
            if (fid == 0x3F00 || fid == 0xDF00 || fid == 0xDF01 || card.files.count(fid) != 0) {
                card.selected = fid;
                return {};
            }
            return {0x6A82, {}};
        }
        case 0xB0: return read_binary(card, apdu);
        case 0x2A: return {0x6180, {}};  // the signature waits: 128 bytes
        case 0xC0: return {0x9000, std::vector<unsigned char>(apdu[4] == 0 ? 256 : apdu[4], 0x5A)};
        default: return {};  // MSE SET, VERIFY
    }
}

}  // namespace

FakeEidCard& fake_eid_card() {
    static FakeEidCard card;
    return card;
}

void reset_fake_eid_card() { fake_eid_card() = FakeEidCard{}; }

int HCL_get_readers(char* /*text*/) { return 0; }
int HCL_open_reader(const char* name) { return name == nullptr ? -1 : HCL_DEVICE_HANDLE; }
int HCL_get_card_handle(int /*handle*/, SCARDHANDLE* card) {
    if (card == nullptr) return -1;
    *card = 1;
    return 0;
}
int HCL_card_present(int /*handle*/) { return 1; }
int HCL_get_card_status(int /*handle*/, int* powered, int* absent, unsigned char* /*atr*/, unsigned int* atr_len) {
    if (powered != nullptr) *powered = 1;
    if (absent != nullptr) *absent = 0;
    if (atr_len != nullptr) *atr_len = 0;
    return 0;
}

int HCL_card_status(int /*handle*/, unsigned char* atr, unsigned int* atr_len, uint16_t* sw) {
    fake_eid_card().log.emplace_back("status");
    const unsigned char eid_atr[] = {0x3B, 0x98, 0x13, 0x40, 0x0A, 0xA5, 0x03, 0x01, 0x01, 0x01, 0xAD, 0x13, 0x11};
    std::memcpy(atr, eid_atr, sizeof eid_atr);
    *atr_len = sizeof eid_atr;
    *sw = 0x9000;
    return 0;
}

int HCL_card_command_T0_T1(int /*handle*/, unsigned char* apdu, int apdu_len, unsigned char* response,
                           unsigned int* response_len, uint16_t* sw) {
    FakeEidCard& card = fake_eid_card();
    if (apdu == nullptr || apdu_len < 5 || response == nullptr || response_len == nullptr || sw == nullptr) return -1;
    const std::string command = hex_bytes(apdu, static_cast<std::size_t>(apdu_len));
    const bool failed = std::any_of(card.cut.begin(), card.cut.end(),
                                    [&](const std::string& prefix) { return starts_with(command, prefix); });
    if (failed) {
        card.log.push_back(command + " cut");
        return -1;
    }
    const auto refused = std::find_if(card.refuse.begin(), card.refuse.end(),
                                      [&](const auto& entry) { return starts_with(command, entry.first); });
    const Answer reply = refused != card.refuse.end() ? Answer{refused->second, {}} : answer(card, apdu, apdu_len);
    std::copy(reply.data.begin(), reply.data.end(), response);
    *response_len = static_cast<unsigned int>(reply.data.size());
    *sw = reply.sw;
    char status[5];
    std::snprintf(status, sizeof status, "%04X", reply.sw);
    card.log.push_back(command + " " + status);
    return 0;
}

int HCL_card_Start_transaction(int /*handle*/, int timeout_ms) {
    fake_eid_card().log.push_back("begin " + std::to_string(timeout_ms));
    return fake_eid_card().start_result;
}

// The real layer makes both on its waiting thread; here one after the other.
int HCL_card_status_then_start_transaction(int handle, int timeout_ms, int* started, unsigned char* atr,
                                           unsigned int* atr_len, uint16_t* sw) {
    *started = -1;
    const int status = HCL_card_status(handle, atr, atr_len, sw);
    if (status == 0) *started = HCL_card_Start_transaction(handle, timeout_ms);
    return status;
}
int HCL_card_End_transaction(int /*handle*/) {
    fake_eid_card().log.emplace_back("end");
    return 0;
}

int HCL_sync_card_read(int /*handle*/, unsigned char* /*buffer*/, uint16_t /*address*/, uint16_t /*length*/,
                       int /*unused*/) {
    return HCL_SYNC_NOT_SUPPORTED;
}
int HCL_load_spe_reader_dll(const char* /*name*/) { return -1; }
int HCL_service_running(const char* /*name*/, int* running) {
    if (running == nullptr) return -1;
    *running = 0;
    return 0;
}
void HCL_sleep(int milliseconds) { fake_eid_card().log.push_back("sleep " + std::to_string(milliseconds)); }
bool IsServiceRunning(const char* /*name*/) { return false; }
