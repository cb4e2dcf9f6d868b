#include "tarvik/engine/tllv_presets.h"

#include <initializer_list>

namespace {

using Sel = S_EID_TLLV_SELECTOR;
using Flags = std::initializer_list<int32_t Sel::*>;

int apply(Sel* selector, Flags flags) {
    if (selector == nullptr) return 0;
    // No preset writes sgn_photo: it keeps what the transaction's start gave it.
    const int32_t sgn_photo = selector->sgn_photo;
    *selector = Sel{};
    selector->sgn_photo = sgn_photo;
    for (auto flag : flags) (*selector).*flag = 1;
    return 0;
}

// The request of the identity capture and the first authentication request
// carry the identifiers and the function code only.
const Flags kIdentifiersOnly = {&Sel::id_reference, &Sel::id_session, &Sel::function_id};
// Every reply but the first authentication reply accepts the transaction identifier only.
const Flags kTransactionOnly = {&Sel::id_transaction};

}  // namespace

int init_S_EID_TLLV_SELECTOR_identify_tx(Sel* selector) { return apply(selector, kIdentifiersOnly); }
int init_S_EID_TLLV_SELECTOR_identify_rx(Sel* selector) { return apply(selector, kTransactionOnly); }

int init_S_EID_TLLV_SELECTOR_capture_tx(Sel* selector) {
    return apply(selector, {&Sel::id_reference, &Sel::id_session, &Sel::function_id, &Sel::request_mask,
                            &Sel::id_rn, &Sel::id_address, &Sel::id_photo, &Sel::id_rn_photo_hash, &Sel::aux_96});
}
int init_S_EID_TLLV_SELECTOR_capture_rx(Sel* selector) { return apply(selector, kTransactionOnly); }

int init_S_EID_TLLV_SELECTOR_verify_tx(Sel* selector) {
    return apply(selector, {&Sel::id_reference, &Sel::id_session, &Sel::function_id, &Sel::request_mask,
                            &Sel::id_rn, &Sel::sgn_rn, &Sel::id_address, &Sel::sgn_address, &Sel::id_photo,
                            &Sel::aux_96, &Sel::certs});
}
int init_S_EID_TLLV_SELECTOR_verify_rx(Sel* selector) { return apply(selector, kTransactionOnly); }

int init_S_EID_TLLV_SELECTOR_authen1_tx(Sel* selector) { return apply(selector, kIdentifiersOnly); }
int init_S_EID_TLLV_SELECTOR_authen1_rx(Sel* selector) {
    return apply(selector,
                 {&Sel::id_reference, &Sel::id_transaction, &Sel::id_session, &Sel::function_id, &Sel::auth_chal});
}

int init_S_EID_TLLV_SELECTOR_authen2_tx(Sel* selector) {
    return apply(selector, {&Sel::id_reference, &Sel::id_transaction, &Sel::id_session, &Sel::function_id,
                            &Sel::request_mask, &Sel::id_rn, &Sel::sgn_rn, &Sel::id_address, &Sel::sgn_address,
                            &Sel::id_photo, &Sel::certs, &Sel::auth_chal, &Sel::auth_sgn});
}
int init_S_EID_TLLV_SELECTOR_authen2_rx(Sel* selector) { return apply(selector, kTransactionOnly); }

int init_S_EID_TLLV_SELECTOR_signing_tx(Sel* selector) {
    return apply(selector, {&Sel::id_reference, &Sel::id_session, &Sel::function_id, &Sel::request_mask,
                            &Sel::aux_96, &Sel::certs, &Sel::aux_141, &Sel::sign_hash, &Sel::sign_sgn,
                            &Sel::aux_166});
}
int init_S_EID_TLLV_SELECTOR_signing_rx(Sel* selector) { return apply(selector, kTransactionOnly); }
