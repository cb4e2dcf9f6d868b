#include "tarvik/engine/eid_card_files.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "orvel.h"
#include "tarvik/reader/hcl.h"

#define FILES_TRACE(fn, ...) __tracef(ORVEL_DEBUG, fn, __FILE__, __LINE__, __VA_ARGS__)

namespace {

constexpr uint16_t kSwOk = 0x9000;
constexpr uint16_t kSwBeyondEnd = 0x6B00;
constexpr uint8_t kSw1WrongLength = 0x6C;
constexpr int kMasterFile = 0x3F00;
constexpr int kIdentityDirectory = 0xDF01;
constexpr int kCertificateDirectory = 0xDF00;
constexpr int kIdentityFile = 0x4031;
constexpr int kSelectLength = 7;
constexpr int kReadBinaryLength = 5;
constexpr std::array<unsigned char, 5> kSelectHeader{0x00, 0xA4, 0x02, 0x0C, 0x02};
constexpr std::array<unsigned char, 2> kReadBinaryHeader{0x00, 0xB0};

// The reader layer's own response buffer bound: one exchange never writes
// more than this.
using ResponseBuffer = std::array<unsigned char, HCL_RESPONSE_MAX>;

struct Exchange {
    int result = -1;  // HCL_card_command_T0_T1's
    uint16_t sw = 0;
    unsigned int length = 0;
};

Exchange send_select(int handle, int file_id, ResponseBuffer& response) {
    std::array<unsigned char, kSelectLength> command{};
    std::copy(kSelectHeader.begin(), kSelectHeader.end(), command.begin());
    command[5] = static_cast<unsigned char>((file_id >> 8) & 0xFF);
    command[6] = static_cast<unsigned char>(file_id & 0xFF);
    response.fill(0);
    Exchange exchange;
    exchange.length = static_cast<unsigned int>(response.size());
    exchange.result =
        HCL_card_command_T0_T1(handle, command.data(), kSelectLength, response.data(), &exchange.length, &exchange.sw);
    return exchange;
}

bool select_ok(int handle, int file_id) {
    ResponseBuffer response{};
    const Exchange exchange = send_select(handle, file_id, response);
    return exchange.result == 0 && exchange.sw == kSwOk;
}

bool select_path(int handle, std::initializer_list<int> path) {
    return std::all_of(path.begin(), path.end(), [handle](int fid) { return select_ok(handle, fid); });
}

Exchange send_read_binary(int handle, int offset, int le, ResponseBuffer& response) {
    std::array<unsigned char, kReadBinaryLength> command{};
    std::copy(kReadBinaryHeader.begin(), kReadBinaryHeader.end(), command.begin());
    command[2] = static_cast<unsigned char>((offset >> 8) & 0xFF);
    command[3] = static_cast<unsigned char>(offset & 0xFF);
    command[4] = static_cast<unsigned char>(le & 0xFF);
    response.fill(0);
    Exchange exchange;
    exchange.length = static_cast<unsigned int>(response.size());
    exchange.result = HCL_card_command_T0_T1(handle, command.data(), kReadBinaryLength, response.data(),
                                             &exchange.length, &exchange.sw);
    // Never count more than was asked for.
    exchange.length = std::min(exchange.length, static_cast<unsigned int>(le == 0 ? 256 : le));
    return exchange;
}

// Appends what one exchange returned at offset; false when it would not fit.
bool place_block(std::array<unsigned char, EID_FILE_BUFFER_SIZE>& file, int offset, const ResponseBuffer& response,
                 unsigned int count) {
    if (offset < 0 || static_cast<std::size_t>(offset) + count > file.size()) return false;
    std::copy_n(response.begin(), count, file.begin() + offset);
    return true;
}

// DER length of a certificate (SEQUENCE with a definite length), or 0.
uint32_t der_length(const unsigned char* bytes, uint32_t length) {
    if (length < 2 || bytes[0] != 0x30) return 0;
    uint32_t header = 2;
    uint32_t content = bytes[1];
    if (bytes[1] & 0x80) {
        const uint32_t octets = bytes[1] & 0x7F;
        if (octets == 0 || octets > 3 || length < 2 + octets) return 0;
        content = 0;
        for (uint32_t i = 0; i < octets; ++i) content = content << 8 | bytes[2 + i];
        header += octets;
    }
    const uint32_t total = header + content;
    return total <= length ? total : 0;
}

using FileReader = int (*)(int, S_EID_DATA*);

enum class Trim { Zeros, KeepItems, None };

int read_and_trim(const char* name, int handle, int file_id, S_EID_DATA* target, Trim trim) {
    int result = eidReadDataFile(handle, file_id, target);
    if (result != 0) {
        FILES_TRACE(name, "ERROR in %s(...) while calling eidReadDataFile(...)", name);
        return result;
    }
    if (trim == Trim::None) return 0;
    const uint32_t read_length = target->dta_len;
    result = trim_S_EID_DATA(target);
    if (result != 0) {
        FILES_TRACE(name, "ERROR in %s(...) while calling trim_S_EID_DATA(...)", name);
        return result;
    }
    // The last item may end in zero bytes (the photo hash): keep it whole.
    if (trim == Trim::KeepItems) target->dta_len = std::max(target->dta_len, eidWalkItems(target->dta, read_length).end);
    return 0;
}

}  // namespace

EidItems eidWalkItems(const unsigned char* bytes, uint32_t length) {
    if (bytes == nullptr) return {};
    // Items stop where the zero padding begins; a zero before it is a tag.
    uint32_t content_end = length;
    while (content_end > 0 && bytes[content_end - 1] == 0) --content_end;
    EidItems items;
    uint32_t at = 0;
    while (at < content_end) {
        if (at + 2 > length || at + 2 + bytes[at + 1] > length) return {};
        items.last = at;
        at += 2 + bytes[at + 1];
    }
    items.end = at;
    return items;
}

int eidReadBinary(int handle, unsigned char* destination, int block_length, int* file_length) {
    static constexpr const char* kFn = "eidReadBinary";
    if (destination == nullptr || file_length == nullptr || block_length <= 0 || block_length > 255) return -1;
    std::array<unsigned char, EID_FILE_BUFFER_SIZE> file{};
    ResponseBuffer response{};
    int total = 0;
    for (int block = 0; block < EID_READ_MAX_BLOCKS; ++block) {
        const int offset = block * block_length;
        Exchange exchange = send_read_binary(handle, offset, block_length, response);
        if (exchange.result != 0) return -1;
        HCL_sleep(EID_PAUSE_MS);
        if (exchange.sw == kSwOk) {
            if (!place_block(file, offset, response, exchange.length)) {
                FILES_TRACE(kFn, "ERROR: file longer than %d bytes", EID_FILE_BUFFER_SIZE);
                return -1;
            }
            total = offset + static_cast<int>(exchange.length);
            // A short block is the file's end.
            if (exchange.length < static_cast<unsigned int>(block_length)) break;
            continue;
        }
        if ((exchange.sw >> 8) == kSw1WrongLength) {
            exchange = send_read_binary(handle, offset, exchange.sw & 0xFF, response);
            if (exchange.result != 0) return -1;
            if (exchange.sw != kSwOk) return exchange.sw;
            if (!place_block(file, offset, response, exchange.length)) {
                FILES_TRACE(kFn, "ERROR: file longer than %d bytes", EID_FILE_BUFFER_SIZE);
                return -1;
            }
            total = offset + static_cast<int>(exchange.length);
            break;
        }
        if (exchange.sw == kSwBeyondEnd) {
            total = offset;
            break;
        }
        return exchange.sw;
    }
    std::copy_n(file.begin(), total, destination);
    *file_length = total;
    return 1;
}

int eidReadDataFile(int handle, int file_id, S_EID_DATA* target) {
    if (target == nullptr) return -1;
    for (int fid : {kMasterFile, kIdentityDirectory, file_id}) {
        if (!select_ok(handle, fid)) {
            HCL_card_End_transaction(handle);
            return 1;
        }
    }
    std::array<unsigned char, EID_FILE_BUFFER_SIZE> content{};
    int length = 0;
    const int result = eidReadBinary(handle, content.data(), EID_READ_BLOCK, &length);
    if (result != 1) return result;
    unsigned char* buffer = new_eid_buffer(content.data(), static_cast<uint32_t>(length));
    if (buffer == nullptr) {
        FILES_TRACE("eidReadDataFile", "ERROR in eidReadDataFile(...), allocation of %d bytes failed", length + 1);
        return -1;
    }
    target->dta = buffer;
    target->dta_len = static_cast<uint32_t>(length);
    return 0;
}

int eidReadIdRn(int handle, S_EID_DATA* target) {
    return read_and_trim("eidReadIdRn", handle, 0x4031, target, Trim::KeepItems);
}
int eidReadSgnRn(int handle, S_EID_DATA* target) {
    return read_and_trim("eidReadSgnRn", handle, 0x4032, target, Trim::None);
}
int eidReadIdAddress(int handle, S_EID_DATA* target) {
    return read_and_trim("eidReadIdAddress", handle, 0x4033, target, Trim::Zeros);
}
int eidReadSgnAddress(int handle, S_EID_DATA* target) {
    return read_and_trim("eidReadSgnAddress", handle, 0x4034, target, Trim::None);
}
int eidReadIdPhoto(int handle, S_EID_DATA* target) {
    return read_and_trim("eidReadIdPhoto", handle, 0x4035, target, Trim::Zeros);
}
int eidReadSgnPhoto(int handle, S_EID_DATA* target) {
    return read_and_trim("eidReadSgnPhoto", handle, 0x4036, target, Trim::None);
}

int eidReadCertificate(int handle, unsigned int number, S_EID_CERT* target) {
    static constexpr const char* kFn = "eidReadCertificate";
    if (target == nullptr) return -1;
    if (!select_path(handle, {kMasterFile, kCertificateDirectory})) return -1;
    int file_id = 0;
    switch (number) {
        case 2: file_id = 0x5038; break;
        case 3: file_id = 0x5039; break;
        case 4: file_id = 0x503A; break;
        case 6: file_id = 0x503B; break;
        case 8: file_id = 0x503C; break;
        default: break;
    }
    if (!select_ok(handle, file_id)) return -1;
    std::array<unsigned char, EID_FILE_BUFFER_SIZE> content{};
    int length = 0;
    const int result = eidReadBinary(handle, content.data(), EID_READ_BLOCK, &length);
    if (result != 1) return result;
    target->crt_len = static_cast<uint32_t>(length);
    unsigned char* buffer = new_eid_buffer(content.data(), target->crt_len);
    if (buffer == nullptr) {
        FILES_TRACE(kFn, "ERROR in eidReadCertificate(...), unsigned char * some_certificate->crt is NULL");
        return -1;
    }
    target->crt = buffer;
    target->no = number;
    if (const uint32_t der = der_length(buffer, target->crt_len); der != 0) {
        target->crt_len = der;
        return 0;
    }
    const int trimmed = trim_S_EID_CERT(target);
    if (trimmed != 0) {
        FILES_TRACE(kFn, "ERROR in eidReadCertificate(...) while calling trim_S_EID_CERT(...)");
        return trimmed;
    }
    return 0;
}

namespace {

// Steps 1 to 5 of the check: a readable status, 9000, an eID ATR (asked
// once more when none has come yet). The first status read goes with the
// begin of step 6, so that another process holding the card keeps neither
// waiting past the begin's deadline: *started is the begin's result, or -1
// when none was made. 0 or the check's code.
int check_status_and_atr(int handle, int* started) {
    static constexpr const char* kFn = "eidCheckCard";
    std::array<unsigned char, 128> atr{};
    unsigned int atr_len = HCL_ATR_MAX;
    uint16_t sw = 0;
    const int status = HCL_card_status_then_start_transaction(handle, EID_CHECK_TRANSACTION_TIMEOUT_MS, started,
                                                              atr.data(), &atr_len, &sw);
    if (status == HCL_TRANSACTION_NOT_GRANTED) return status;
    if (status != 0) return EID_CHECK_STATUS;
    if (sw != kSwOk) {
        FILES_TRACE(kFn, "ERR_HCL_CARD_INCORRECT_SW");
        return EID_CHECK_INCORRECT_SW;
    }
    if (atr[0] == 0xFF) {
        FILES_TRACE(kFn, "ERR_HCL_CARD_INCORRECT_ATR");
        return EID_CHECK_INCORRECT_ATR;
    }
    if (atr[0] == 0x3B && atr[1] == 0x98) return 0;
    if (atr[0] != 0x00 || atr[1] != 0x00) {
        FILES_TRACE(kFn, "ERR_HCL_CARD_INCORRECT_ATR");
        return EID_CHECK_INCORRECT_ATR;
    }
    atr.fill(0);
    atr_len = HCL_ATR_MAX;
    if (HCL_card_status(handle, atr.data(), &atr_len, &sw) != 0) {
        FILES_TRACE(kFn, "ERR_HCL_CARD_STATUS");
        return EID_CHECK_STATUS;
    }
    if (sw != kSwOk) {
        FILES_TRACE(kFn, "ERR_HCL_CARD_INCORRECT_SW");
        return EID_CHECK_INCORRECT_SW;
    }
    if (atr[0] != 0x3B || atr[1] != 0x98) {
        FILES_TRACE(kFn, "ERR_HCL_CARD_INCORRECT_ATR");
        return EID_CHECK_INCORRECT_ATR;
    }
    return 0;
}

// SELECT 3F00, DF01 and 4031, pausing after each that succeeds.
int check_eid_application(int handle) {
    static constexpr const char* kFn = "eidCheckCard";
    for (int fid : {kMasterFile, kIdentityDirectory, kIdentityFile}) {
        ResponseBuffer response{};
        const Exchange exchange = send_select(handle, fid, response);
        if (exchange.result != 0) {
            FILES_TRACE(kFn, "ERR_HCL_CARD_COMMAND_FAILED");
            return EID_CHECK_COMMAND_FAILED;
        }
        if (exchange.sw != kSwOk) {
            FILES_TRACE(kFn, "ERR_HCL_CARD_NO_EID_CARD");
            return EID_CHECK_NO_EID_CARD;
        }
        HCL_sleep(EID_PAUSE_MS);
    }
    return 0;
}

}  // namespace

int eidCheckCard(int handle) {
    int started = -1;
    const int checked = check_status_and_atr(handle, &started);
    const HclStartedTransaction held(handle, started);
    if (checked != 0) return checked;
    if (started != 0) return started;
    return check_eid_application(handle);
}
