#include "tarvik/engine/eid_records.h"

#include "orvel.h"

#include <array>
#include <cstdlib>
#include <cstring>

namespace {

// The caller's file and line by the builtins: clang 14 (fuzz builds) has no std::source_location.
int fail(const char* function, const char* message, const char* file = __builtin_FILE(),
         int line = __builtin_LINE()) {
    __trace(ORVEL_DEBUG, function, file, line, __tracev("%s", message));
    return -1;
}

// One pointer-and-length pair of a record, filled by the rule shared by both
// filling forms. Returns false only when an allocation failed (the pair is
// then empty).
template <typename Byte>
bool fill_pair(Byte*& pointer, uint32_t& length, const void* source, int32_t source_length) {
    if (source == nullptr) {
        pointer = nullptr;
        length = 0;
        return true;
    }
    if (source_length == 0) return true;
    const auto count = static_cast<uint32_t>(source_length);
    pointer = reinterpret_cast<Byte*>(new_eid_buffer(source, count));
    length = pointer != nullptr ? count : 0;
    return pointer != nullptr;
}

// Lowers `length` past the trailing zero bytes of `bytes`.
void trim_pair(const unsigned char* bytes, uint32_t& length) {
    if (bytes == nullptr) return;
    while (length > 0 && bytes[length - 1] == 0) --length;
}

bool known_certificate_number(uint32_t no) { return no == 2 || no == 3 || no == 4 || no == 6 || no == 8; }

constexpr std::array kInputData = {
    &S_EID_FUNCTION_INPUT::in_aux1, &S_EID_FUNCTION_INPUT::in_aux2, &S_EID_FUNCTION_INPUT::in_aux3,
    &S_EID_FUNCTION_INPUT::id_session, &S_EID_FUNCTION_INPUT::pincode, &S_EID_FUNCTION_INPUT::in_aux4,
    &S_EID_FUNCTION_INPUT::hash1, &S_EID_FUNCTION_INPUT::doc_ref1, &S_EID_FUNCTION_INPUT::in_aux5,
    &S_EID_FUNCTION_INPUT::in_aux6,
};

using Out = S_EID_FUNCTION_OUTPUT;
constexpr std::array kOutputData = {
    &Out::id_reference, &Out::id_transaction, &Out::id_session, &Out::id_rn, &Out::id_address,
    &Out::id_photo, &Out::id_rn_aux, &Out::id_address_aux, &Out::id_photo_aux, &Out::id_rn_photo_hash,
    &Out::sgn_rn, &Out::sgn_address, &Out::sgn_photo, &Out::aux_96, &Out::cert2_aux, &Out::cert3_aux,
    &Out::cert4_aux, &Out::cert6_aux, &Out::cert8_aux, &Out::auth_chal, &Out::auth_sgn, &Out::sign_hash,
    &Out::sign_sgn, &Out::aux_166, &Out::aux_spare, &Out::id_card,
};
constexpr std::array kOutputCerts = {&Out::cert2, &Out::cert3, &Out::cert4, &Out::cert6, &Out::cert8};

}  // namespace

unsigned char* new_eid_buffer(const void* source, uint32_t length) {
    auto* buffer = static_cast<unsigned char*>(std::calloc(static_cast<size_t>(length) + 1, 1));
    if (buffer != nullptr && source != nullptr && length > 0) std::memcpy(buffer, source, length);
    return buffer;
}

int init_S_EID_DATA(S_EID_DATA* eid_data) {
    if (eid_data == nullptr) return fail("init_S_EID_DATA", "WARNING: eid_data is NULL");
    *eid_data = S_EID_DATA{};
    return 0;
}

int init_S_EID_DATA(S_EID_DATA* eid_data, const unsigned char* dta, int32_t dta_len, const unsigned char* dsc,
                    int32_t dsc_len) {
    if (eid_data == nullptr) return fail("init_S_EID_DATA", "WARNING: eid_data is NULL");
    if (dta_len < 0 || dsc_len < 0) return fail("init_S_EID_DATA", "WARNING: negative length");
    const bool dta_ok = fill_pair(eid_data->dta, eid_data->dta_len, dta, dta_len);
    const bool dsc_ok = fill_pair(eid_data->dsc, eid_data->dsc_len, dsc, dsc_len);
    if (!dta_ok || !dsc_ok) return fail("init_S_EID_DATA", "ERROR: malloc failed");
    return 0;
}

int init_S_EID_CERT(S_EID_CERT* eid_cert) {
    if (eid_cert == nullptr) return fail("init_S_EID_CERT", "WARNING: eid_cert is NULL");
    *eid_cert = S_EID_CERT{};
    return 0;
}

int init_S_EID_CERT(S_EID_CERT* eid_cert, const unsigned char* crt, int32_t crt_len, uint32_t no, const char* dsc,
                    int32_t dsc_len) {
    if (eid_cert == nullptr) return fail("init_S_EID_CERT", "WARNING: eid_cert is NULL");
    if (crt_len < 0 || dsc_len < 0) return fail("init_S_EID_CERT", "WARNING: negative length");
    eid_cert->no = known_certificate_number(no) ? no : 0;
    const bool crt_ok = fill_pair(eid_cert->crt, eid_cert->crt_len, crt, crt_len);
    const bool dsc_ok = fill_pair(eid_cert->dsc, eid_cert->dsc_len, dsc, dsc_len);
    if (!crt_ok || !dsc_ok) return fail("init_S_EID_CERT", "ERROR: malloc failed");
    return 0;
}

int init_S_EID_ID_RN_FOR(S_EID_ID_RN_FOR* eid_id_rn_for) {
    if (eid_id_rn_for == nullptr) return fail("init_S_EID_ID_RN_FOR", "WARNING: eid_id_rn_for is NULL");
    *eid_id_rn_for = S_EID_ID_RN_FOR{};
    return 0;
}

int init_S_EID_ID_ADDRESS_FOR(S_EID_ID_ADDRESS_FOR* eid_id_address_for) {
    if (eid_id_address_for == nullptr)
        return fail("init_S_EID_ID_ADDRESS_FOR", "WARNING: eid_id_address_for is NULL");
    *eid_id_address_for = S_EID_ID_ADDRESS_FOR{};
    return 0;
}

int init_S_EID_FUNCTION_INPUT(S_EID_FUNCTION_INPUT* input) {
    if (input == nullptr)
        return fail("init_S_EID_FUNCTION_INPUT",
                    "ERROR: in init_S_EID_FUNCTION_INPUT(...), S_EID_FUNCTION_INPUT is NULL");
    for (auto member : kInputData) init_S_EID_DATA(&(input->*member));
    input->function_id = 0;
    for (auto& mask : input->request_mask) mask = 0;
    return 0;
}

int init_S_EID_FUNCTION_OUTPUT(S_EID_FUNCTION_OUTPUT* output) {
    if (output == nullptr)
        return fail("init_S_EID_FUNCTION_OUTPUT", "ERROR in init_S_EID_FUNCTION_OUTPUT, S_EID_FUNCTION_OUTPUT is NULL");
    // Value-initialising clears every byte string, certificate, status and
    // both text records in one step, whatever members are added later.
    *output = S_EID_FUNCTION_OUTPUT{};
    return 0;
}

int is_empty_S_EID_DATA(const S_EID_DATA* eid_data) {
    return eid_data == nullptr || eid_data->dta == nullptr || eid_data->dta_len == 0 ? 1 : 0;
}

int is_empty_S_EID_CERT(const S_EID_CERT* eid_cert) {
    return eid_cert == nullptr || eid_cert->crt == nullptr || eid_cert->crt_len == 0 ? 1 : 0;
}

int is_empty_S_EID_CERT_dsc(const S_EID_CERT* eid_cert) {
    return eid_cert == nullptr || eid_cert->dsc == nullptr || eid_cert->dsc_len == 0 ? 1 : 0;
}

int ctrl_S_EID_DATA(const S_EID_DATA* eid_data) {
    constexpr const char* self = "ctrl_S_EID_DATA";
    if (eid_data == nullptr) return fail(self, "WARNING: eid_data is NULL");
    if (eid_data->dta == nullptr) return fail(self, "WARNING: eid_data->dta is NULL");
    if (eid_data->dta_len == 0) return fail(self, "WARNING: eid_data->dta_len not greater than 0");
    return 0;
}

int ctrl_S_EID_CERT(const S_EID_CERT* eid_cert) {
    constexpr const char* self = "ctrl_S_EID_CERT";
    if (eid_cert == nullptr) return fail(self, "WARNING: eid_cert is NULL");
    if (eid_cert->crt == nullptr) return fail(self, "WARNING: eid_cert->crt is NULL");
    if (eid_cert->crt_len == 0) return fail(self, "WARNING: eid_cert->crt_len not greater than 0");
    if (!known_certificate_number(eid_cert->no)) return fail(self, "WARNING: eid_cert->no is unknown");
    return 0;
}

int copy_S_EID_DATA(const S_EID_DATA* original_data, S_EID_DATA* copied_data) {
    constexpr const char* self = "copy_S_EID_DATA";
    if (original_data == nullptr)
        return fail(self, "ERROR in copy_S_EID_DATA(...), S_EID_DATA * original_data is NULL");
    if (copied_data == nullptr) return fail(self, "ERROR in copy_S_EID_DATA(...), S_EID_DATA * copied_data is NULL");
    if (original_data == copied_data) return 0;
    // Freeing rather than merely emptying: a copy into a used record must not leak.
    free_S_EID_DATA(copied_data);
    if (is_empty_S_EID_DATA(original_data) != 0) return 0;
    copied_data->dta = new_eid_buffer(original_data->dta, original_data->dta_len);
    if (copied_data->dta == nullptr) return fail(self, "ERROR in copy_S_EID_DATA(...), malloc failed");
    copied_data->dta_len = original_data->dta_len;
    return 0;
}

int trim_S_EID_DATA(S_EID_DATA* eid_data) {
    if (eid_data == nullptr) return fail("trim_S_EID_DATA", "ERROR in trim_S_EID_DATA(...), S_EID_DATA * eid_data is NULL");
    trim_pair(eid_data->dta, eid_data->dta_len);
    return 0;
}

int trim_S_EID_CERT(S_EID_CERT* cert) {
    if (cert == nullptr) return fail("trim_S_EID_CERT", "ERROR in trim_S_EID_CERT(...), S_EID_CERT * cert is NULL");
    trim_pair(cert->crt, cert->crt_len);
    return 0;
}

int free_S_EID_DATA(S_EID_DATA* eid_data) {
    if (eid_data == nullptr) return fail("free_S_EID_DATA", "ERROR in free_S_EID_DATA(...), S_EID_DATA * eid_data is NULL");
    std::free(eid_data->dsc);
    std::free(eid_data->dta);
    *eid_data = S_EID_DATA{};
    return 0;
}

int free_S_EID_CERT(S_EID_CERT* eid_cert) {
    if (eid_cert == nullptr) return fail("free_S_EID_CERT", "ERROR in free_S_EID_CERT(...), S_EID_CERT * eid_cert is NULL");
    std::free(eid_cert->crt);
    std::free(eid_cert->dsc);
    *eid_cert = S_EID_CERT{};
    return 0;
}

int free_S_EID_FUNCTION_INPUT(S_EID_FUNCTION_INPUT* input) {
    if (input == nullptr)
        return fail("free_S_EID_FUNCTION_INPUT",
                    "ERROR: in free_S_EID_FUNCTION_INPUT(...), S_EID_FUNCTION_INPUT is NULL");
    for (auto member : kInputData) free_S_EID_DATA(&(input->*member));
    return init_S_EID_FUNCTION_INPUT(input);
}

int free_S_EID_FUNCTION_OUTPUT(S_EID_FUNCTION_OUTPUT* output) {
    if (output == nullptr)
        return fail("free_S_EID_FUNCTION_OUTPUT",
                    "ERROR: in free_S_EID_FUNCTION_OUTPUT(...), S_EID_FUNCTION_OUTPUT is NULL");
    for (auto member : kOutputData) free_S_EID_DATA(&(output->*member));
    for (auto member : kOutputCerts) free_S_EID_CERT(&(output->*member));
    return init_S_EID_FUNCTION_OUTPUT(output);
}
