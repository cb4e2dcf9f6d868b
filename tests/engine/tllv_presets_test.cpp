#include "tarvik/engine/tllv_presets.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using Sel = S_EID_TLLV_SELECTOR;

const std::vector<std::pair<std::string, int32_t Sel::*>> kAllFlags = {
    {"id_reference", &Sel::id_reference}, {"id_transaction", &Sel::id_transaction},
    {"id_session", &Sel::id_session}, {"function_id", &Sel::function_id}, {"request_mask", &Sel::request_mask},
    {"id_rn", &Sel::id_rn}, {"id_rn_aux", &Sel::id_rn_aux}, {"sgn_rn", &Sel::sgn_rn},
    {"id_rn_stat", &Sel::id_rn_stat}, {"id_address", &Sel::id_address}, {"id_address_aux", &Sel::id_address_aux},
    {"sgn_address", &Sel::sgn_address}, {"id_address_stat", &Sel::id_address_stat}, {"id_photo", &Sel::id_photo},
    {"id_photo_aux", &Sel::id_photo_aux}, {"sgn_photo", &Sel::sgn_photo},
    {"id_rn_photo_hash", &Sel::id_rn_photo_hash}, {"id_photo_stat", &Sel::id_photo_stat},
    {"aux_96", &Sel::aux_96}, {"certs", &Sel::certs}, {"certs_aux", &Sel::certs_aux},
    {"ccv_stat", &Sel::ccv_stat}, {"cert_aux_stat", &Sel::cert_aux_stat}, {"cert_stat", &Sel::cert_stat},
    {"aux_141", &Sel::aux_141}, {"auth_chal", &Sel::auth_chal}, {"auth_sgn", &Sel::auth_sgn},
    {"auth_stat", &Sel::auth_stat}, {"sign_hash", &Sel::sign_hash}, {"sign_sgn", &Sel::sign_sgn},
    {"sign_stat", &Sel::sign_stat}, {"aux_166", &Sel::aux_166},
};

struct Preset {
    const char* name;
    int (*apply)(Sel*);
    std::set<std::string> flags;
};

const std::set<std::string> kTransactionOnly = {"id_transaction"};

const std::vector<Preset> kPresets = {
    {"identify_tx", init_S_EID_TLLV_SELECTOR_identify_tx, {"id_reference", "id_session", "function_id"}},
    {"identify_rx", init_S_EID_TLLV_SELECTOR_identify_rx, kTransactionOnly},
    {"capture_tx",
     init_S_EID_TLLV_SELECTOR_capture_tx,
     {"id_reference", "id_session", "function_id", "request_mask", "id_rn", "id_address", "id_photo",
      "id_rn_photo_hash", "aux_96"}},
    {"capture_rx", init_S_EID_TLLV_SELECTOR_capture_rx, kTransactionOnly},
    {"verify_tx",
     init_S_EID_TLLV_SELECTOR_verify_tx,
     {"id_reference", "id_session", "function_id", "request_mask", "id_rn", "sgn_rn", "id_address", "sgn_address",
      "id_photo", "aux_96", "certs"}},
    {"verify_rx", init_S_EID_TLLV_SELECTOR_verify_rx, kTransactionOnly},
    {"authen1_tx", init_S_EID_TLLV_SELECTOR_authen1_tx, {"id_reference", "id_session", "function_id"}},
    {"authen1_rx",
     init_S_EID_TLLV_SELECTOR_authen1_rx,
     {"id_reference", "id_transaction", "id_session", "function_id", "auth_chal"}},
    {"authen2_tx",
     init_S_EID_TLLV_SELECTOR_authen2_tx,
     {"id_reference", "id_transaction", "id_session", "function_id", "request_mask", "id_rn", "sgn_rn",
      "id_address", "sgn_address", "id_photo", "certs", "auth_chal", "auth_sgn"}},
    {"authen2_rx", init_S_EID_TLLV_SELECTOR_authen2_rx, kTransactionOnly},
    {"signing_tx",
     init_S_EID_TLLV_SELECTOR_signing_tx,
     {"id_reference", "id_session", "function_id", "request_mask", "aux_96", "certs", "aux_141", "sign_hash",
      "sign_sgn", "aux_166"}},
    {"signing_rx", init_S_EID_TLLV_SELECTOR_signing_rx, kTransactionOnly},
};

// Each preset sets exactly its flags, clears every other one and leaves
// sgn_photo alone, whatever the selector held before.
TEST(TllvPresets, SetExactlyTheirFlagsAndLeaveSgnPhoto) {
    for (const Preset& preset : kPresets) {
        for (int32_t before : {7, -1, 0}) {
            Sel sel;
            for (const auto& [name, flag] : kAllFlags) sel.*flag = before;
            ASSERT_EQ(preset.apply(&sel), 0);
            for (const auto& [name, flag] : kAllFlags) {
                const int32_t expected = name == "sgn_photo" ? before : (preset.flags.count(name) ? 1 : 0);
                EXPECT_EQ(sel.*flag, expected) << preset.name << " " << name;
            }
        }
    }
}

TEST(TllvPresets, AfterStartTheReplyAcceptsTransactionAndSgnPhoto) {
    Sel sel;
    ASSERT_EQ(init_S_EID_TLLV_SELECTOR(&sel), 0);
    for (const auto& [name, flag] : kAllFlags) EXPECT_EQ(sel.*flag, 1) << name;
    ASSERT_EQ(init_S_EID_TLLV_SELECTOR_identify_rx(&sel), 0);
    for (const auto& [name, flag] : kAllFlags)
        EXPECT_EQ(sel.*flag, name == "id_transaction" || name == "sgn_photo" ? 1 : 0) << name;
}

TEST(TllvPresets, NullSelectorIsIgnored) {
    for (const Preset& preset : kPresets) EXPECT_EQ(preset.apply(nullptr), 0) << preset.name;
}

}  // namespace
