#include "tarvik/engine/eid_session.h"

#include <openssl/rand.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "orvel.h"
#include "tarvik/engine/eid_card_files.h"
#include "tarvik/reader/hcl.h"

namespace {

std::array<char, EID_READER_NAME_SIZE> g_reader_name{};

bool select_reader(const char* name) {
    if (name == nullptr) return false;
    const std::size_t length = strnlen(name, EID_READER_NAME_SIZE);
    if (length >= EID_READER_NAME_SIZE) {
        __tracef(ORVEL_DEBUG, "eidOpenReader", __FILE__, __LINE__,
                 "ERROR: reader name of %zu characters or more refused", EID_READER_NAME_SIZE);
        return false;
    }
    g_reader_name.fill('\0');
    std::memcpy(g_reader_name.data(), name, length);
    return true;
}

// "YYYYMMDD_hhmmss_" and 16 hex digits of 8 random bytes.
bool format_transaction_id(std::array<char, EID_TRANSACTION_ID_LENGTH + 1>& text) {
    std::array<unsigned char, 8> random{};
    if (RAND_bytes(random.data(), static_cast<int>(random.size())) != 1) return false;
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    text.fill('\0');
    std::snprintf(text.data(), text.size(), "%04d%02d%02d_%02d%02d%02d_", (local.tm_year + 1900) % 10000,
                  local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
    for (std::size_t i = 0; i < random.size(); ++i) std::snprintf(text.data() + 16 + 2 * i, 3, "%02X", random[i]);
    return true;
}

}  // namespace

const char* eid_selected_reader_name() { return g_reader_name.data(); }

int eidGetIccList(char* text) { return HCL_get_readers(text); }

int eidOpenReader(const char* name) {
    if (!select_reader(name)) return -1;
    return HCL_open_reader(name);
}

int eidOpenReaderB(const char* name, int* handle) {
    if (handle == nullptr) return -1;
    *handle = select_reader(name) ? HCL_open_reader(name) : -1;
    return 0;
}

int eidCardPresent(int handle) { return HCL_card_present(handle); }

int eidGenerateChallenge(S_EID_DATA* challenge) {
    if (challenge == nullptr) return EID_CHALLENGE_NULL_RECORD;
    if (challenge->dta != nullptr && challenge->dta_len < EID_CHALLENGE_LENGTH) free_S_EID_DATA(challenge);
    if (challenge->dta == nullptr) {
        challenge->dta = new_eid_buffer(nullptr, EID_CHALLENGE_LENGTH);
        if (challenge->dta == nullptr) return -1;
    }
    challenge->dta_len = EID_CHALLENGE_LENGTH;
    return RAND_bytes(challenge->dta, EID_CHALLENGE_LENGTH) == 1 ? 0 : -1;
}

int eidGenerateTransactionID(S_EID_DATA* id) {
    std::array<char, EID_TRANSACTION_ID_LENGTH + 1> text{};
    if (id == nullptr || !format_transaction_id(text)) return -1;
    free_S_EID_DATA(id);
    return init_S_EID_DATA(id, reinterpret_cast<const unsigned char*>(text.data()), EID_TRANSACTION_ID_LENGTH,
                           nullptr, 0);
}

int eidGenerateTransactionIDText(char* text) {
    std::array<char, EID_TRANSACTION_ID_LENGTH + 1> made{};
    if (text == nullptr) return -1;
    std::memset(text, 0, made.size());
    if (!format_transaction_id(made)) return -1;
    std::memcpy(text, made.data(), made.size());
    return 0;
}

int eidGetIdRnPhotoHash(const S_EID_DATA* id_rn, S_EID_DATA* hash) {
    static constexpr const char* kFn = "eidGetIdRnPhotoHash";
    if (id_rn == nullptr) {
        __tracef(ORVEL_DEBUG, kFn, __FILE__, __LINE__, "ERROR in eidGetIdRnPhotoHash(...), S_EID_DATA * argument id_rn is NULL");
        return -1;
    }
    if (hash == nullptr) {
        __tracef(ORVEL_DEBUG, kFn, __FILE__, __LINE__,
                 "ERROR in eidGetIdRnPhotoHash(...), S_EID_DATA * argument id_rn_photo_hash is NULL");
        return -1;
    }
    if (!is_empty_S_EID_DATA(hash)) free_S_EID_DATA(hash);
    if (id_rn->dta == nullptr || id_rn->dta_len == 0) {
        __tracef(ORVEL_DEBUG, kFn, __FILE__, __LINE__, "ERROR in eidGetIdRnPhotoHash(...), member dta of id_rn is empty");
        return -1;
    }
    if (id_rn->dta_len < EID_PHOTO_HASH_LENGTH) {
        __tracef(ORVEL_DEBUG, kFn, __FILE__, __LINE__,
                 "ERROR in eidGetIdRnPhotoHash(...), id_rn is shorter than %d bytes", EID_PHOTO_HASH_LENGTH);
        return -1;
    }
    // The photo-hash item is the file's last; without readable items, the
    // file's last 20 bytes.
    const unsigned char* source = id_rn->dta + id_rn->dta_len - EID_PHOTO_HASH_LENGTH;
    const long last = eidWalkItems(id_rn->dta, id_rn->dta_len).last;
    if (last >= 0 && id_rn->dta[last + 1] == EID_PHOTO_HASH_LENGTH) source = id_rn->dta + last + 2;
    unsigned char* buffer = new_eid_buffer(source, EID_PHOTO_HASH_LENGTH);
    if (buffer == nullptr) {
        __tracef(ORVEL_DEBUG, kFn, __FILE__, __LINE__, "ERROR in eidGetIdRnPhotoHash(...), malloc of id_rn_photo_hash.dta failed");
        return -1;
    }
    hash->dta = buffer;
    hash->dta_len = EID_PHOTO_HASH_LENGTH;
    __tracef(ORVEL_DEBUG, kFn, __FILE__, __LINE__, "id_rn_photo_hash->dta_len = %i", EID_PHOTO_HASH_LENGTH);
    __xdump(ORVEL_DEBUG, kFn, __FILE__, __LINE__, buffer, EID_PHOTO_HASH_LENGTH);
    return 0;
}
