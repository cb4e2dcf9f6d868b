#include <vector>

#include "tarvik/engine/crypto/eid_crypto.h"
#include "tarvik/engine/crypto/openssl_handles.h"

int eidTruncate(const S_EID_DATA* input, S_EID_DATA* output) {
    if (input == nullptr || ctrl_S_EID_DATA(input) != 0) {
        CRYPTO_TRACE("ERROR in eidTruncate(...) while calling ctrl_S_EID_DATA(...)");
        return -1;
    }
    if (output == nullptr) {
        CRYPTO_TRACE("ERROR in eidTruncate(...), S_EID_DATA *eid_data_truncate is NULL");
        return -1;
    }
    uint32_t kept = input->dta_len;
    while (kept > 0 && input->dta[kept - 1] == 0) --kept;
    free_S_EID_DATA(output);
    if (kept == 0) return 0;
    return init_S_EID_DATA(output, input->dta, static_cast<int32_t>(kept), nullptr, 0) == 0 ? 0 : -1;
}

int eidConcat(const S_EID_DATA* first, const S_EID_DATA* second, S_EID_DATA* output) {
    if (first == nullptr || second == nullptr || ctrl_S_EID_DATA(first) != 0 || ctrl_S_EID_DATA(second) != 0 ||
        output == nullptr) {
        CRYPTO_TRACE("ERROR in eidConcat(...) while calling ctrl_S_EID_DATA(...)");
        return -1;
    }
    std::vector<unsigned char> joined(first->dta, first->dta + first->dta_len);
    joined.insert(joined.end(), second->dta, second->dta + second->dta_len);
    free_S_EID_DATA(output);
    if (joined.size() > static_cast<std::size_t>(INT32_MAX) ||
        init_S_EID_DATA(output, joined.data(), static_cast<int32_t>(joined.size()), nullptr, 0) != 0) {
        CRYPTO_TRACE(
            "ERROR in eidConcat(...), eid_data_concat->dta is NULL or eid_data_concat->dta_len is non-positive");
        return -1;
    }
    return 0;
}
