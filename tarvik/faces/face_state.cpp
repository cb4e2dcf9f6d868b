#include "tarvik/faces/face_state.h"

#include <cstdlib>
#include <cstring>

#include "tarvik/reader/pcsc_common.h"
#include "platform/secret_wipe.h"

char face_session_id[FACE_SESSION_ID_LENGTH + 1];
S_EID_CARD_CACHE face_card_cache;

void clear_card_cache() { std::memset(&face_card_cache, 0, sizeof face_card_cache); }

TransactionRecords::TransactionRecords(int32_t function_id, const int32_t (&masks)[EID_REQUEST_MASKS]) {
    init_S_EID_FUNCTION_INPUT(&in);
    init_S_EID_FUNCTION_OUTPUT(&out);
    in.function_id = function_id;
    std::memcpy(in.request_mask, masks, sizeof in.request_mask);
}

TransactionRecords::~TransactionRecords() {
    wipe_secret(in.pincode.dta, in.pincode.dta_len);
    free_S_EID_FUNCTION_OUTPUT(&out);
    free_S_EID_FUNCTION_INPUT(&in);
}

bool has_data(const S_EID_DATA& data) { return data.dta != nullptr && data.dta_len > 0; }

bool is_open_device(int handle) { return tarvik_resolve_device(handle) != nullptr; }

int set_session_id(S_EID_FUNCTION_INPUT& in) {
    return init_S_EID_DATA(&in.id_session, reinterpret_cast<const unsigned char*>(face_session_id),
                           static_cast<int32_t>(FACE_SESSION_ID_LENGTH), nullptr, 0);
}

int set_pincode(S_EID_FUNCTION_INPUT& in, const char* pin) {
    // A PIN cut to its first four characters would be a wrong PIN on the
    // card and cost a try, so it is passed whole.
    constexpr std::size_t kMinimumBuffer = 5;
    const std::size_t length = pin != nullptr ? std::strlen(pin) : 0;
    const std::size_t size = length + 1 > kMinimumBuffer ? length + 1 : kMinimumBuffer;
    auto* buffer = static_cast<unsigned char*>(std::calloc(size, 1));
    if (buffer == nullptr) return -1;
    if (length > 0) std::memcpy(buffer, pin, length);
    wipe_secret(in.pincode.dta, in.pincode.dta_len);
    free_S_EID_DATA(&in.pincode);
    in.pincode.dta = buffer;
    in.pincode.dta_len = static_cast<uint32_t>(length < 4 ? 4 : length);
    return 0;
}

void use_card_cache(const S_EID_FUNCTION_INPUT& in, S_EID_FUNCTION_OUTPUT& out) {
    const S_EID_DATA& id = out.id_card;
    const bool same_card = has_data(id) && id.dta_len == face_card_cache.id_card_len &&
                           id.dta_len <= sizeof face_card_cache.id_card &&
                           std::memcmp(id.dta, face_card_cache.id_card, id.dta_len) == 0;
    if (same_card)
        eidLoadFromCardCache(&face_card_cache, &in, &out);
    else
        clear_card_cache();
}
