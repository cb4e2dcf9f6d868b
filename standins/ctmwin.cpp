// Card-terminal library stand-in: a simulated terminal with a SAM in one slot
// and a SIS card in the other. The SAM unlocks with the PIN in KIT_CTM_SAM_PIN
// ("1234" when unset; a shorter one stands for itself padded with zero bytes
// to four); once unlocked, with both resources exclusive and the
// key table well formed, BncsReadData reads the SIS files and BncsGetData
// hands them out, the SFDF with a 32-byte certificate.
//
// Test data and faults, from the environment at each call:
//   KIT_CTM_SFDF        file holding the SFDF TLV bytes (unset: a built-in
//                       image with one open-ended insurance period)
//   KIT_CTM_WRONG_PIN   reply to a VERIFY with a wrong PIN, in hex ("9030"
//                       when unset; "" for an empty reply)
//   KIT_CTM_FAULT       one of: open, sam-resource, sis-resource,
//                       sis-zero-handle, verify-send, no-sam (empty VERIFY
//                       reply), sis-card, sam-exclusivity, sis-exclusivity,
//                       no-certificate, sfdf-fetch
//   KIT_CTM_LOG         file to which every call is appended as one line
//                       (a card command with its bytes in hex)
#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "selvane/ctm_interface.h"
#include "standins/call_record.h"
#include "standins/standin_export.h"

using selvane::ctm::Handle;
using selvane::ctm::Status;

namespace {

constexpr Status kOk = 0;
constexpr Status kRefused = 0x6A00;
constexpr Handle kApplication = 0x100;
constexpr Handle kSam = 0x201;
constexpr Handle kSis = 0x202;

struct Terminal {
    bool application_open = false;
    bool sam_open = false;
    bool sis_open = false;
    bool sam_card = false;
    bool sis_card = false;
    bool sam_unlocked = false;
    bool sam_exclusive = false;
    bool sis_exclusive = false;
    bool initialised = false;
    std::array<bool, 3> read{};  // ISDF, PBDF, SFDF
};

Terminal terminal;

[[maybe_unused]] std::string_view env(const char* name, std::string_view fallback = {}) {
    const char* value = std::getenv(name);
    return value ? std::string_view(value) : fallback;
}

[[maybe_unused]] bool fault(std::string_view which) { return env("KIT_CTM_FAULT") == which; }

[[maybe_unused]] void log_call(const std::string& line) { append_call_record("KIT_CTM_LOG", line); }

[[maybe_unused]] std::vector<unsigned char> hex_bytes(std::string_view hex) {
    std::vector<unsigned char> out;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(std::strtoul(std::string(hex.substr(i, 2)).c_str(), nullptr, 16)));
    return out;
}

[[maybe_unused]] std::string item(unsigned char tag, std::string_view value) {
    std::string out{static_cast<char>(tag), static_cast<char>(value.size())};
    return out.append(value);
}

[[maybe_unused]] std::vector<unsigned char> built_in_sfdf() {
    const std::string general = item(0x80, "01") + item(0x81, "20000101") + item(0x82, "20991231");
    const std::string period = item(0x80, "101") + item(0x81, "1234567890123") + item(0x82, "110") +
                               item(0x83, "100") + item(0x84, "20000101") + item(0x85, "99999999");
    const std::string image = item(0x81, "0A01") + item(0xA2, general) + item(0xA3, period);
    return {image.begin(), image.end()};
}

[[maybe_unused]] std::vector<unsigned char> sfdf_bytes() {
    const char* path = std::getenv("KIT_CTM_SFDF");
    if (!path) return built_in_sfdf();
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

const std::vector<unsigned char> kIsdf{0x11, 0x05, 'I', 'S', 'D', 'F', '1'};
const std::vector<unsigned char> kPbdf{0x12, 0x05, 'P', 'B', 'D', 'F', '1'};

[[maybe_unused]] std::array<unsigned char, 32> certificate() {
    std::array<unsigned char, 32> bytes{};
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>('A' + i % 26);
    return bytes;
}

// Writes what fits; the length becomes the bytes written.
[[maybe_unused]] void hand_out(const unsigned char* from, std::size_t size, std::uint16_t* length, unsigned char* to) {
    if (!length) return;
    const std::size_t count = std::min<std::size_t>(size, *length);
    if (to && count) std::memcpy(to, from, count);
    *length = static_cast<std::uint16_t>(to ? count : size);
}

[[maybe_unused]] bool key_table_well_formed(const unsigned char* const* keys) {
    if (!keys) return false;
    for (std::size_t i = 0; i < selvane::ctm::kKeyCount; ++i)
        if (!keys[i]) return false;
    return !keys[selvane::ctm::kKeyCount] && !keys[selvane::ctm::kKeyCount + 1];
}

[[maybe_unused]] int file_index(std::uint8_t file) {
    switch (file) {
    case selvane::ctm::kIsdfFile: return 0;
    case selvane::ctm::kPbdfFile: return 1;
    case selvane::ctm::kSfdfFile: return 2;
    default: return -1;
    }
}

[[maybe_unused]] bool& exclusive_flag(Handle resource) { return resource == kSam ? terminal.sam_exclusive : terminal.sis_exclusive; }

}  // namespace

#ifndef STANDIN_WITHOUT_CtmOpen
STANDIN_EXPORT Status CtmOpen(Handle* application) {
    log_call("CtmOpen");
    if (!application || fault("open")) return kRefused;
    terminal = Terminal{};
    terminal.application_open = true;
    *application = kApplication;
    return kOk;
}
static_assert(std::is_same_v<decltype(&CtmOpen), selvane::ctm::OpenFn>);
#endif

#ifndef STANDIN_WITHOUT_CtmClose
STANDIN_EXPORT Status CtmClose(Handle application) {
    log_call("CtmClose " + std::to_string(application));
    if (application != kApplication || !terminal.application_open) return kRefused;
    terminal.application_open = false;
    return kOk;
}
static_assert(std::is_same_v<decltype(&CtmClose), selvane::ctm::CloseFn>);
#endif

#ifndef STANDIN_WITHOUT_CtmResOpen
STANDIN_EXPORT Status CtmResOpen(Handle application, const char* name, Handle* resource) {
    const std::string_view which = name ? name : "";
    log_call("CtmResOpen " + std::string(which));
    if (application != kApplication || !terminal.application_open || !resource) return kRefused;
    if (which == "SAM" && !fault("sam-resource")) {
        terminal.sam_open = true;
        *resource = kSam;
        return kOk;
    }
    if (which == "SIS" && !fault("sis-resource")) {
        terminal.sis_open = !fault("sis-zero-handle");
        *resource = terminal.sis_open ? kSis : 0;
        return kOk;
    }
    return kRefused;
}
static_assert(std::is_same_v<decltype(&CtmResOpen), selvane::ctm::ResOpenFn>);
#endif

#ifndef STANDIN_WITHOUT_CtmResClose
STANDIN_EXPORT Status CtmResClose(Handle resource) {
    log_call("CtmResClose " + std::to_string(resource));
    bool& open = resource == kSam ? terminal.sam_open : terminal.sis_open;
    if ((resource != kSam && resource != kSis) || !open) return kRefused;
    open = false;
    return kOk;
}
static_assert(std::is_same_v<decltype(&CtmResClose), selvane::ctm::ResCloseFn>);
#endif

#ifndef STANDIN_WITHOUT_CtmSetExclusivity
STANDIN_EXPORT Status CtmSetExclusivity(Handle resource, int exclusive) {
    log_call("CtmSetExclusivity " + std::to_string(resource) + " " + std::to_string(exclusive));
    if (resource != kSam && resource != kSis) return kRefused;
    if (exclusive && fault(resource == kSam ? "sam-exclusivity" : "sis-exclusivity")) return kRefused;
    exclusive_flag(resource) = exclusive != 0;
    return kOk;
}
static_assert(std::is_same_v<decltype(&CtmSetExclusivity), selvane::ctm::SetExclusivityFn>);
#endif

#ifndef STANDIN_WITHOUT_CtmCtReset
STANDIN_EXPORT Status CtmCtReset(Handle resource) {
    log_call("CtmCtReset " + std::to_string(resource));
    return resource == kSam || resource == kSis ? kOk : kRefused;
}
static_assert(std::is_same_v<decltype(&CtmCtReset), selvane::ctm::CtResetFn>);
#endif

#ifndef STANDIN_WITHOUT_CtmCardOpen
STANDIN_EXPORT Status CtmCardOpen(Handle resource, const char* prompt, std::uint8_t option, std::uint16_t timeout,
                                  std::uint16_t* atr_length, unsigned char* atr, std::uint8_t* card_status,
                                  std::uint16_t* status) {
    log_call("CtmCardOpen " + std::to_string(resource) + " " + (prompt ? prompt : "(null)") + " " +
             std::to_string(option) + " " + std::to_string(timeout));
    if (!atr_length || !card_status || !status) return kRefused;
    const bool sam = resource == kSam && terminal.sam_open;
    const bool sis = resource == kSis && terminal.sis_open && !fault("sis-card");
    if (!sam && !sis) return kRefused;
    (sam ? terminal.sam_card : terminal.sis_card) = true;
    static constexpr unsigned char kAtr[] = {0x3B, 0x02, 0x14, 0x50};
    hand_out(kAtr, sizeof kAtr, atr_length, atr);
    *card_status = 1;
    *status = 0x9000;
    return kOk;
}
static_assert(std::is_same_v<decltype(&CtmCardOpen), selvane::ctm::CardOpenFn>);
#endif

#ifndef STANDIN_WITHOUT_CtmCardCommand
// Only the SAM's VERIFY (80 20 01 03 04 + PIN) is understood.
STANDIN_EXPORT Status CtmCardCommand(Handle resource, Handle, std::uint16_t command_length,
                                     const unsigned char* command, std::uint16_t* reply_length,
                                     unsigned char* reply, std::uint8_t* card_status, std::uint16_t* status) {
    std::string line = "CtmCardCommand " + std::to_string(resource) + " " + std::to_string(command_length);
    if (command) {
        line += ' ';
        for (std::uint16_t i = 0; i < command_length; ++i) {
            char hex[3];
            std::snprintf(hex, sizeof hex, "%02X", command[i]);
            line += hex;
        }
    }
    log_call(line);
    if (resource != kSam || !terminal.sam_card || !command || !reply_length || !reply || !card_status || !status ||
        fault("verify-send"))
        return kRefused;
    static constexpr unsigned char kVerify[] = {0x80, 0x20, 0x01, 0x03, 0x04};
    if (command_length != 9 || std::memcmp(command, kVerify, sizeof kVerify) != 0) return kRefused;
    std::string expected(env("KIT_CTM_SAM_PIN", "1234"));
    if (expected.size() < 4) expected.resize(4, '\0');
    const bool right = expected.size() == 4 && std::memcmp(command + 5, expected.data(), 4) == 0;
    terminal.sam_unlocked = right;
    std::vector<unsigned char> answer = right ? std::vector<unsigned char>{0x90, 0x00}
                                              : hex_bytes(env("KIT_CTM_WRONG_PIN", "9030"));
    if (fault("no-sam")) answer.clear();
    hand_out(answer.data(), answer.size(), reply_length, reply);
    *card_status = 1;
    *status = 0;
    return kOk;
}
static_assert(std::is_same_v<decltype(&CtmCardCommand), selvane::ctm::CardCommandFn>);
#endif

#ifndef STANDIN_WITHOUT_CtmIsSisCard
STANDIN_EXPORT Status CtmIsSisCard(Handle resource, int* is_sis_card) {
    log_call("CtmIsSisCard " + std::to_string(resource));
    if (!is_sis_card) return kRefused;
    *is_sis_card = resource == kSis && terminal.sis_card;
    return kOk;
}
static_assert(std::is_same_v<decltype(&CtmIsSisCard), selvane::ctm::IsSisCardFn>);
#endif

#ifndef STANDIN_WITHOUT_BncsInitialise
STANDIN_EXPORT Status BncsInitialise(Handle sis, Handle sam, const char* config_file, void*) {
    log_call("BncsInitialise " + std::to_string(sis) + " " + std::to_string(sam) + " " +
             (config_file ? config_file : "(null)"));
    if (sis != kSis || sam != kSam || !terminal.sis_card || !terminal.sam_card) return kRefused;
    terminal.initialised = true;
    return kOk;
}
static_assert(std::is_same_v<decltype(&BncsInitialise), selvane::ctm::BncsInitialiseFn>);
#endif

#ifndef STANDIN_WITHOUT_BncsTerminate
STANDIN_EXPORT Status BncsTerminate(Handle sis) {
    log_call("BncsTerminate " + std::to_string(sis));
    terminal.initialised = false;
    return sis == kSis ? kOk : kRefused;
}
static_assert(std::is_same_v<decltype(&BncsTerminate), selvane::ctm::BncsTerminateFn>);
#endif

#ifndef STANDIN_WITHOUT_BncsReadData
STANDIN_EXPORT Status BncsReadData(Handle sis, std::uint8_t file, std::uint8_t option,
                                   const unsigned char* const* keys) {
    log_call("BncsReadData " + std::to_string(sis) + " " + std::to_string(file) + " " + std::to_string(option));
    const int index = file_index(file);
    if (sis != kSis || index < 0 || !terminal.initialised || !terminal.sam_unlocked || !terminal.sam_exclusive ||
        !terminal.sis_exclusive || !key_table_well_formed(keys))
        return kRefused;
    terminal.read[static_cast<std::size_t>(index)] = true;
    return kOk;
}
static_assert(std::is_same_v<decltype(&BncsReadData), selvane::ctm::BncsReadDataFn>);
#endif

#ifndef STANDIN_WITHOUT_BncsWriteData
STANDIN_EXPORT Status BncsWriteData(Handle sis, std::uint8_t file, const unsigned char*, std::uint16_t length,
                                    const unsigned char* const*) {
    log_call("BncsWriteData " + std::to_string(sis) + " " + std::to_string(file) + " " + std::to_string(length));
    return kRefused;  // the simulated card is read-only
}
static_assert(std::is_same_v<decltype(&BncsWriteData), selvane::ctm::BncsWriteDataFn>);
#endif

#ifndef STANDIN_WITHOUT_BncsGetData
STANDIN_EXPORT Status BncsGetData(Handle sis, std::uint8_t file, std::uint16_t* length, unsigned char* data,
                                  std::uint16_t* certificate_length, unsigned char* certificate_bytes) {
    log_call("BncsGetData " + std::to_string(sis) + " " + std::to_string(file));
    const int index = file_index(file);
    if (sis != kSis || index < 0 || !terminal.read[static_cast<std::size_t>(index)] || !length) return kRefused;
    if (file == selvane::ctm::kSfdfFile && fault("sfdf-fetch")) return kRefused;
    const std::vector<unsigned char> bytes = file == selvane::ctm::kIsdfFile   ? kIsdf
                                             : file == selvane::ctm::kPbdfFile ? kPbdf
                                                                               : sfdf_bytes();
    hand_out(bytes.data(), bytes.size(), length, data);
    if (certificate_length) {
        if (file != selvane::ctm::kSfdfFile || fault("no-certificate")) {
            *certificate_length = 0;
        } else {
            const auto signature = certificate();
            hand_out(signature.data(), signature.size(), certificate_length, certificate_bytes);
        }
    }
    return kOk;
}
static_assert(std::is_same_v<decltype(&BncsGetData), selvane::ctm::BncsGetDataFn>);
#endif
