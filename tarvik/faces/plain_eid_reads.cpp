// The plain eID reads: identity, address and photo, read only or read and
// verified.
#include <cstring>

#include "tarvik/engine/crypto/eid_crypto.h"
#include "tarvik/engine/eid_controller_tables.h"
#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/eid_public_transactions.h"
#include "tarvik/engine/renderings.h"
#include "tarvik/faces/face_state.h"
#include "tarvik.h"
#include "tarvik/reader/hcl.h"
#include "platform/export_guard.h"
#include "platform/library_lock.h"

namespace {

constexpr int32_t kFilesBit = 0x60000;  // identity and address files
constexpr int32_t kIdentityMask2 = 0x8000;
constexpr int32_t kPhotoBits = 0x82492;
constexpr int32_t kSignedDataBits = 0xD24;
constexpr int32_t kPhotoCheckBits = 0x6124;
constexpr int32_t kRootCertBits = 0x124;  // mask 8: the card's root certificate, read only

// A failed check answers the code of the engine row that ran it; the
// national-register chain, checked here, takes the chain checks' code.
constexpr int kChainFailed = 1019;

using Transaction = int (*)(int, S_EID_FUNCTION_INPUT*, S_EID_FUNCTION_OUTPUT*);

struct Wants {
    bool address, identity, photo;
};

struct Outputs {
    char* identity_text;
    char* address_text;
    unsigned char* photo;
    int* photo_len;
};

// The identity file is read together with the address file, so an
// identity-only request also sets that bit.
void identify_masks(const Wants& wants, int32_t (&masks)[EID_REQUEST_MASKS]) {
    masks[0] = wants.address || wants.identity ? kFilesBit : 0;
    masks[2] = wants.identity ? kIdentityMask2 : 0;
    masks[3] = wants.photo ? kPhotoBits : 0;
}

void verify_masks(const Wants& wants, int32_t (&masks)[EID_REQUEST_MASKS]) {
    identify_masks(wants, masks);
    masks[1] = kSignedDataBits;
    masks[4] = kPhotoCheckBits;
    masks[8] = kRootCertBits;
}

// 1 when the national-register certificate hangs under the card's root;
// the root is saved beside it as a PEM file for the check.
int national_register_chain(S_EID_FUNCTION_OUTPUT& out) {
    EidCertFileNames names{};
    if (eidMakeCertFileNames(&out, &names) != 0 || eidSaveX509(&out.cert6, names.cert6) != 0) return -1;
    int status = 0;
    if (eidVerifyCertificateChain(&out.cert8, &out.cert6, &out.cert6, &status) != 0) return -1;
    return status;
}

int failed_check(const S_EID_FUNCTION_INPUT& in, S_EID_FUNCTION_OUTPUT& out) {
    if (const int code = eidFailedCheckCode(&in, &out); code != 0) return code;
    return national_register_chain(out) == 1 ? 0 : kChainFailed;
}

// A file that was not read gives the empty text.
int render(int (*renderer)(const S_EID_DATA*, int, char*, std::size_t), const S_EID_DATA& file, int format,
           char* text, std::size_t capacity) {
    if (text == nullptr) return -1;
    if (!has_data(file)) {
        text[0] = '\0';
        return 0;
    }
    return renderer(&file, format, text, capacity);
}

int copy_photo(const S_EID_DATA& photo, const Outputs& outputs) {
    if (outputs.photo_len == nullptr) return -1;
    if (!has_data(photo)) {
        *outputs.photo_len = 0;
        return 0;
    }
    if (outputs.photo == nullptr || photo.dta_len > PLAIN_PHOTO_SIZE) return -1;
    std::memcpy(outputs.photo, photo.dta, photo.dta_len);
    *outputs.photo_len = static_cast<int>(photo.dta_len);
    return 0;
}

int write_outputs(const S_EID_FUNCTION_OUTPUT& out, int format, const Wants& wants, const Outputs& outputs) {
    int rc = 0;
    if (wants.identity && render(generateIdRnText, out.id_rn, format, outputs.identity_text, PLAIN_ID_TEXT_SIZE) != 0)
        rc = -1;
    if (wants.address &&
        render(generateIdAddressText, out.id_address, format, outputs.address_text, PLAIN_ADDRESS_TEXT_SIZE) != 0)
        rc = -1;
    if (wants.photo) {
        if (copy_photo(out.id_photo, outputs) != 0) rc = -1;
    } else if (outputs.photo_len != nullptr) {
        *outputs.photo_len = 0;
    }
    return rc;
}

int read_public_data(int handle, int format, const Wants& wants, const Outputs& outputs, bool verify) {
    if (!is_open_device(handle)) return HCL_E_UNKNOWN_HANDLE;
    int32_t masks[EID_REQUEST_MASKS] = {};
    verify ? verify_masks(wants, masks) : identify_masks(wants, masks);
    TransactionRecords records(verify ? PUB_DATA_VER_OFFLINE : IDENT_CAP_OFFLINE, masks);
    const Transaction transaction = verify ? eidPubDataVerify : eidPubDataCaptureIdentify;
    int rc = transaction(handle, &records.in, &records.out);
    if (rc == 0 && verify) rc = failed_check(records.in, records.out);
    if (rc != 0) return rc;
    return write_outputs(records.out, format, wants, outputs);
}

}  // namespace

extern "C" {

TARVIK_EXPORT int readEidPubDataIdentify(int handle, int format, int want_address, int want_identity, int want_photo,
                                         char* identity_text, char* address_text, unsigned char* photo,
                                         int* photo_len) try {
    const kit::LibraryCall call;
    return read_public_data(handle, format, {want_address == 1, want_identity == 1, want_photo == 1},
                            {identity_text, address_text, photo, photo_len}, false);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

TARVIK_EXPORT int readEidPubDataVerify(int handle, int format, int want_address, int want_identity, int want_photo,
                                       char* identity_text, char* address_text, unsigned char* photo,
                                       int* photo_len) try {
    const kit::LibraryCall call;
    return read_public_data(handle, format, {want_address == 1, want_identity == 1, want_photo == 1},
                            {identity_text, address_text, photo, photo_len}, true);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

}  // extern "C"
