#include "tarvik/engine/eid_pin.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "orvel.h"
#include "tarvik/engine/eid_card_exchange.h"
#include "tarvik/engine/eid_spe_readers.h"
#include "tarvik/reader/outside_libraries.h"
#include "platform/secret_wipe.h"
#include "tarvik/reader/spe_records.h"

namespace {

// What differs between the two keys.
struct PinKey {
    const char* function;
    unsigned char key_reference;
    int usage_code;
    const char* usage_short;
    const char* usage_long;
    std::size_t spe_result_size;
};

constexpr PinKey kAuthenticationKey{"eidPresentPinAuthen", 0x82, 130, "AUTH", "Authentication", 1024};
constexpr PinKey kSignatureKey{"eidPresentPinSign", 0x83, 131, "SIGN", "Signature", 20};

void trace(const PinKey& key, const std::string& message,
           const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    __tracef(ORVEL_DEBUG, key.function, file, line, "%s", message.c_str());
}

std::string exchange_error(const PinKey& key) {
    return std::string("ERROR in ") + key.function + "() while calling HCL_card_command_T0_T1()";
}

int select_key(int handle, const PinKey& key) {
    const std::array<unsigned char, 10> mse_set{0x00, 0x22, 0x41, 0xB6, 0x05, 0x04, 0x80, 0x01, 0x84, key.key_reference};
    EidCardReply reply;
    if (!eid_card_exchange(handle, mse_set, reply)) {
        trace(key, exchange_error(key));
        return EID_PIN_EXCHANGE_FAILED;
    }
    if (reply.sw != 0x9000) {
        char text[96];
        std::snprintf(text, sizeof text, "ERROR in %s(), card status = 0x%04X", key.function, reply.sw);
        trace(key, text);
        return EID_PIN_EXCHANGE_FAILED;
    }
    return EID_PIN_OK;
}

int verify_on_card(int handle, const PinKey& key, const std::array<unsigned char, 8>& block) {
    std::array<unsigned char, 13> verify{0x00, 0x20, 0x00, 0x01, 0x08};
    const WipeOnExit wipe_verify(verify);
    std::memcpy(verify.data() + 5, block.data(), block.size());
    EidCardReply reply;
    const bool answered = eid_card_exchange(handle, verify, reply);
    if (!answered) {
        trace(key, exchange_error(key));
        return EID_PIN_EXCHANGE_FAILED;
    }
    return eid_pin_status_result(reply.sw);
}

// The call records of SCR_VerifyPIN, released on every path.
class SpeCallRecords {
public:
    SpeCallRecords(SCARDHANDLE card_handle, const PinKey& key) : result_(key.spe_result_size, 0) {
        static constexpr unsigned char kCardId[] = "00000000";
        static constexpr unsigned char kApplicationId[] = "00000001";
        ok_ = init_S_SPE_CARD(&card_, card_handle, "en", kCardId, 8, 0) == 0 &&
              init_S_SPE_APPLICATION(&application_, kApplicationId, 8, "CA", "eID Card Applet") == 0 &&
              init_S_SPE_PIN_USAGE(&usage_, key.usage_code, key.usage_short, key.usage_long) == 0;
    }
    ~SpeCallRecords() {
        free_S_SPE_CARD(&card_);
        free_S_SPE_APPLICATION(&application_);
        free_S_SPE_PIN_USAGE(&usage_);
    }
    SpeCallRecords(const SpeCallRecords&) = delete;
    SpeCallRecords& operator=(const SpeCallRecords&) = delete;

    bool ok() const { return ok_; }
    long verify(SCR_VerifyPIN_t verify_pin) { return verify_pin(&card_, 1, &usage_, &application_, result_.data()); }
    uint16_t status_word() const { return static_cast<uint16_t>(result_[0] << 8 | result_[1]); }

private:
    S_SPE_CARD card_{};
    S_SPE_APPLICATION application_{};
    S_SPE_PIN_USAGE usage_{};
    std::basic_string<unsigned char> result_;
    bool ok_ = false;
};

int verify_on_reader(int handle, const PinKey& key) {
    SCARDHANDLE card_handle = 0;
    const int handle_result = HCL_get_card_handle(handle, &card_handle);
    const SCR_VerifyPIN_t verify_pin = spe_entry_points().SCR_VerifyPIN;
    if (handle_result != 0 || verify_pin == nullptr) {
        char text[160];
        std::snprintf(text, sizeof text, "ERROR in %s() while calling HCL_get_card_handle(). Error code: %d (0x%08X)",
                      key.function, handle_result, static_cast<unsigned>(handle_result));
        trace(key, text);
        return EID_PIN_NO_CARD_HANDLE;
    }
    SpeCallRecords records(card_handle, key);
    if (!records.ok()) return EID_PIN_NO_CARD_HANDLE;
    const long result = records.verify(verify_pin);
    if (result == EID_SPE_CANCELLED) {
        trace(key, std::string("INFO in ") + key.function + "(), secure PIN entry was cancelled");
        return EID_PIN_CANCELLED;
    }
    if (result != 0) {
        trace(key, std::string("ERROR in ") + key.function + "() while calling SCR_VerifyPIN()");
        return static_cast<int>(result);
    }
    return eid_pin_status_result(records.status_word());
}

int present_pin(int handle, const char* pin, const PinKey& key) {
    const bool on_reader = eid_spe_mode() >= 1;
    std::optional<std::array<unsigned char, 8>> block;
    const WipeOnExit wipe_block(&block, sizeof block);
    if (!on_reader) {
        // Refused before MSE SET: a malformed PIN never reaches the card.
        block = eid_pin_block(pin);
        if (!block) {
            trace(key, std::string("ERROR in ") + key.function + "(), PIN format refused");
            return EID_PIN_FORMAT_REFUSED;
        }
    }
    if (const int selected = select_key(handle, key); selected != EID_PIN_OK) return selected;
    return on_reader ? verify_on_reader(handle, key) : verify_on_card(handle, key, *block);
}

}  // namespace

std::optional<std::array<unsigned char, 8>> eid_pin_block(const char* pin) {
    if (pin == nullptr) return std::nullopt;
    const std::size_t length = std::strlen(pin);
    if (length < EID_PIN_MIN_DIGITS || length > EID_PIN_MAX_DIGITS) return std::nullopt;
    std::array<unsigned char, 8> block;
    const WipeOnExit wipe_block(block);  // the caller gets a copy
    block.fill(0xFF);
    block[0] = static_cast<unsigned char>(0x20 | length);
    for (std::size_t i = 0; i < length; ++i) {
        if (pin[i] < '0' || pin[i] > '9') return std::nullopt;
        const auto digit = static_cast<unsigned char>(pin[i] - '0');
        unsigned char& byte = block[1 + i / 2];
        byte = i % 2 == 0 ? static_cast<unsigned char>(digit << 4 | 0x0F)
                          : static_cast<unsigned char>((byte & 0xF0) | digit);
    }
    return block;
}

int eid_pin_status_result(uint16_t sw) {
    if (sw == 0x9000) return EID_PIN_OK;
    if (sw == 0x6983) return 3015;
    if (sw == 0x6401) return EID_PIN_CANCELLED;
    if ((sw & 0xFFF0) == 0x63C0) {
        const int tries = sw & 0x0F;
        return tries > 5 ? 3014 : 3013 - tries;
    }
    return EID_PIN_NOT_VERIFIED;
}

int eidPresentPinAuthen(int handle, const char* pin) { return present_pin(handle, pin, kAuthenticationKey); }

int eidPresentPinSign(int handle, const char* pin) { return present_pin(handle, pin, kSignatureKey); }
