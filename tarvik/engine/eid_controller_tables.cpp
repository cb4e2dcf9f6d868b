#include "tarvik/engine/eid_controller_tables.h"

#include "orvel.h"
#include "tarvik/engine/crypto/eid_crypto.h"
#include "tarvik/engine/eid_card_files.h"
#include "tarvik/engine/eid_session.h"

namespace {

constexpr int32_t kOfflineBits = 0x2492;
constexpr int32_t kPubDataBit = 0x60000;
constexpr int32_t kPhotoBit = 0x80000;
constexpr int32_t kSignedDataBit = 0x924;
constexpr int32_t kPhotoCheckBit = 0x4124;
constexpr int32_t kCertBit = 0x124;
constexpr int32_t kCaCertsBit = 0x4;

bool requested(int32_t mask, int32_t bit) { return (mask & bit) != 0; }

int failed(const char* dispatcher, const char* what, int32_t code,
           const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    __tracef(ORVEL_DEBUG, dispatcher, file, line, "controler.%s = %i", what, code);
    return code;
}

int no_status_check(const S_EID_CERT*, int*) { return 0; }

// A read that succeeded leaves a buffer, even of no bytes: one read per
// file and transaction.
bool already_read(const S_EID_DATA* file) { return file != nullptr && file->dta != nullptr; }
bool already_read(const S_EID_CERT* cert) { return cert != nullptr && cert->crt != nullptr; }

template <typename Table, typename Dispatch>
int run_rows(const Table& table, Dispatch dispatch) {
    for (const auto& row : table) {
        const int result = dispatch(row);
        if (result != 0) return result;
    }
    return 0;
}

}  // namespace

int eidBuildReadPubDataTable(int handle, const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out,
                             EidReadFileTable& table) {
    if (in == nullptr || out == nullptr) return -1;
    const int32_t* m = in->request_mask;
    table = {{
        {m[0], kPubDataBit, handle, &out->id_rn, eidReadIdRn, 1005},
        {m[0], kPubDataBit, handle, &out->id_address, eidReadIdAddress, 1105},
        {m[3], kPhotoBit, handle, &out->id_photo, eidReadIdPhoto, 1006},
        {m[1], kSignedDataBit, handle, &out->sgn_rn, eidReadSgnRn, 1007},
        {m[1], kSignedDataBit, handle, &out->sgn_address, eidReadSgnAddress, 1008},
        {m[4], kPhotoCheckBit, handle, &out->id_photo, eidReadIdPhoto, 1006},
        {m[4], kPhotoCheckBit, handle, &out->id_rn, eidReadIdRn, 1005},
        {m[4], kPhotoCheckBit, handle, &out->sgn_rn, eidReadSgnRn, 1007},
        {m[1], kSignedDataBit, handle, &out->id_rn, eidReadIdRn, 1005},
        {m[1], kSignedDataBit, handle, &out->id_address, eidReadIdAddress, 1105},
    }};
    return 0;
}

int eidBuildReadCertTable(int handle, const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out,
                          EidReadCertTable& table) {
    if (in == nullptr || out == nullptr) return -1;
    const int32_t* m = in->request_mask;
    table = {{
        {m[5], kCertBit, handle, &out->cert2, 2, eidReadCertificate, 1001},
        {m[6], kCertBit, handle, &out->cert3, 3, eidReadCertificate, 1020},
        {m[7], kCertBit, handle, &out->cert4, 4, eidReadCertificate, 1002},
        {m[8], kCertBit, handle, &out->cert6, 6, eidReadCertificate, 1003},
        {m[9], kCertBit, handle, &out->cert8, 8, eidReadCertificate, 1004},
        {m[1], kSignedDataBit, handle, &out->cert8, 8, eidReadCertificate, 1004},
        {m[4], kPhotoCheckBit, handle, &out->cert8, 8, eidReadCertificate, 1004},
        {m[5], kCaCertsBit, handle, &out->cert4, 4, eidReadCertificate, 1002},
        {m[5], kCaCertsBit, handle, &out->cert6, 6, eidReadCertificate, 1003},
        {m[6], kCaCertsBit, handle, &out->cert4, 4, eidReadCertificate, 1002},
        {m[6], kCaCertsBit, handle, &out->cert6, 6, eidReadCertificate, 1003},
    }};
    return 0;
}

int eidBuildSaveX509Table(const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, const EidCertFileNames* names,
                          EidSaveTable& table) {
    if (in == nullptr || out == nullptr || names == nullptr) return -1;
    const int32_t* m = in->request_mask;
    table = {{
        {m[5], kOfflineBits, &out->cert2, names->cert2, eidSaveX509, 1024},
        {m[5], kOfflineBits, &out->cert4, names->cert4, eidSaveX509, 1026},
        {m[5], kOfflineBits, &out->cert6, names->cert6, eidSaveX509, 1027},
        {m[6], kOfflineBits, &out->cert3, names->cert3, eidSaveX509, 1025},
        {m[6], kOfflineBits, &out->cert4, names->cert4, eidSaveX509, 1026},
        {m[6], kOfflineBits, &out->cert6, names->cert6, eidSaveX509, 1027},
        {m[1], kOfflineBits, &out->cert8, names->cert8, eidSaveX509, 1028},
        {m[4], kOfflineBits, &out->cert8, names->cert8, eidSaveX509, 1028},
    }};
    return 0;
}

int eidBuildPhotoHashTable(const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, EidPhotoHashTable& table) {
    if (in == nullptr || out == nullptr) return -1;
    table = {{{in->request_mask[4], kOfflineBits, &out->id_rn, &out->id_rn_photo_hash, eidGetIdRnPhotoHash, 1029}}};
    return 0;
}

int eidBuildVerifySgnTable(const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, EidVerifySgnTable& table) {
    if (in == nullptr || out == nullptr) return -1;
    const int32_t* m = in->request_mask;
    table = {{
        {m[1], kOfflineBits, &out->id_rn, nullptr, &out->sgn_rn, &out->cert8, &out->id_rn_stat, eidVerifySgnRn, 1010},
        {m[4], kOfflineBits, &out->id_photo, &out->id_rn, &out->sgn_rn, &out->cert8, &out->id_photo_stat,
         eidVerifySgnPhoto, 1012},
        {m[1], kOfflineBits, &out->id_address, &out->sgn_rn, &out->sgn_address, &out->cert8, &out->id_address_stat,
         eidVerifySgnAddress, 1011},
    }};
    return 0;
}

int eidBuildCcvCheckTable(const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, EidChainTable& table) {
    if (in == nullptr || out == nullptr) return -1;
    const int32_t* m = in->request_mask;
    table = {{
        {m[5], kOfflineBits, &out->cert2, &out->cert4, &out->cert6, &out->cert2_ccv_stat, eidVerifyCertificateChain,
         1019},
        {m[6], kOfflineBits, &out->cert3, &out->cert4, &out->cert6, &out->cert3_ccv_stat, eidVerifyCertificateChain,
         1023},
    }};
    return 0;
}

int eidBuildCertStatusTable(const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, EidCertStatusTable& table) {
    if (in == nullptr || out == nullptr) return -1;
    const int32_t* m = in->request_mask;
    table = {{
        {m[5], kOfflineBits, &out->cert2, 2, &out->cert2_stat, no_status_check, 1014},
        {m[6], kOfflineBits, &out->cert3, 3, &out->cert3_stat, no_status_check, 1015},
        {m[7], kOfflineBits, &out->cert4, 4, &out->cert4_stat, no_status_check, 1016},
        {m[8], kOfflineBits, &out->cert6, 6, &out->cert6_stat, no_status_check, 1017},
        {m[9], kOfflineBits, &out->cert8, 8, &out->cert8_stat, no_status_check, 1018},
    }};
    return 0;
}

int eidBuildCertAuxStatusTable(const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out,
                               EidCertAuxStatusTable& table) {
    if (in == nullptr || out == nullptr) return -1;
    table = {{
        {in->request_mask[5], 0x100, &out->cert2, 2, &out->cert2_aux_stat, no_status_check, 1020},
        {in->request_mask[6], 0x100, &out->cert3, 3, &out->cert3_aux_stat, no_status_check, 1021},
    }};
    return 0;
}

int eidReadPubDataControler(const EidReadFileRow& row) {
    if (!requested(row.mask, row.bit) || already_read(row.target)) return 0;
    if (row.operation(row.handle, row.target) == 0) return 0;
    return failed("eidReadPubDataControler", "error_code_eidread", row.code);
}

int eidReadCertControler(const EidReadCertRow& row) {
    if (!requested(row.mask, row.bit) || already_read(row.target)) return 0;
    if (row.operation(row.handle, static_cast<unsigned int>(row.number), row.target) == 0) return 0;
    return failed("eidReadCertControler", "error_code_eidread", row.code);
}

int eidSaveX509Controler(const EidSaveRow& row) {
    if (!requested(row.mask, row.bit) || !is_empty_S_EID_CERT_dsc(row.certificate) ||
        is_empty_S_EID_CERT(row.certificate))
        return 0;
    if (row.operation(row.certificate, row.file_name) == 0) return 0;
    return failed("eidSaveX509Controler", "error_code_save_x509", row.code);
}

int eidGetPhotoHashControler(const EidPhotoHashRow& row) {
    if (!requested(row.mask, row.bit) || !is_empty_S_EID_DATA(row.target)) return 0;
    if (row.operation(row.id_rn, row.target) == 0) return 0;
    return failed("eidGetPhotoHashControler", "error_code_get_photo_hash", row.code);
}

int eidVerifySgnControler(const EidVerifySgnRow& row) {
    if (!requested(row.mask, row.bit)) return 0;
    if (row.operation(row.data, row.second, row.signature, row.certificate, row.status) == 0) return 0;
    return failed("eidVerifySgnControler", "error_code_eidverify", row.code);
}

int eidCcvCheckControler(const EidChainRow& row) {
    if (!requested(row.mask, row.bit)) return 0;
    if (row.operation(row.certificate, row.intermediate, row.root, row.status) == 0) return 0;
    return failed("eidCcvCheckControler", "error_code_ccv_check", row.code);
}

int eidCrlCheckControler(const EidCertStatusRow& row) {
    if (!requested(row.mask, row.bit)) return 0;
    if (row.operation(row.certificate, row.status) == 0) return 0;
    return failed("eidCrlCheckControler", "error_code_crl_check", row.code);
}

int eidCrlCheckControlerSilent(const EidCertStatusRow& row) {
    if (!requested(row.mask, row.bit)) return 0;
    return row.operation(row.certificate, row.status) == 0 ? 0 : row.code;
}

const char* eid_table_dispatcher_name(EidTable table) {
    switch (table) {
        case EidTable::ReadPubData: return "eidReadPubDataControler";
        case EidTable::ReadCert: return "eidReadCertControler";
        case EidTable::SaveX509: return "eidSaveX509Controler";
        case EidTable::PhotoHash: return "eidGetPhotoHashControler";
        case EidTable::VerifySgn: return "eidVerifySgnControler";
        case EidTable::CcvCheck: return "eidCcvCheckControler";
    }
    return "";
}

int eidRunControllerTable(EidTable which, int handle, const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out,
                          const EidCertFileNames* names) {
    if (in == nullptr || out == nullptr) return -1;
    switch (which) {
        case EidTable::ReadPubData: {
            EidReadFileTable table{};
            eidBuildReadPubDataTable(handle, in, out, table);
            return run_rows(table, eidReadPubDataControler);
        }
        case EidTable::ReadCert: {
            EidReadCertTable table{};
            eidBuildReadCertTable(handle, in, out, table);
            return run_rows(table, eidReadCertControler);
        }
        case EidTable::SaveX509: {
            EidSaveTable table{};
            if (names == nullptr) return -1;
            eidBuildSaveX509Table(in, out, names, table);
            return run_rows(table, eidSaveX509Controler);
        }
        case EidTable::PhotoHash: {
            EidPhotoHashTable table{};
            eidBuildPhotoHashTable(in, out, table);
            return run_rows(table, eidGetPhotoHashControler);
        }
        case EidTable::VerifySgn: {
            EidVerifySgnTable table{};
            eidBuildVerifySgnTable(in, out, table);
            return run_rows(table, eidVerifySgnControler);
        }
        case EidTable::CcvCheck: {
            EidChainTable table{};
            eidBuildCcvCheckTable(in, out, table);
            return run_rows(table, eidCcvCheckControler);
        }
    }
    return -1;
}

int eidRunControllerTables(int handle, const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out,
                           const EidCertFileNames* names, EidTable last, EidTable* failed_table) {
    if (in == nullptr || out == nullptr || failed_table == nullptr) return -1;
    for (int i = 0; i <= static_cast<int>(last); ++i) {
        const auto table = static_cast<EidTable>(i);
        const int result = eidRunControllerTable(table, handle, in, out, names);
        if (result != 0) {
            *failed_table = table;
            return result;
        }
    }
    return 0;
}

int eidFailedCheckCode(const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out) {
    if (in == nullptr || out == nullptr) return -1;
    const auto first_unverified = [](const auto& table) -> int {
        for (const auto& row : table)
            if (requested(row.mask, row.bit) && *row.status != 1) return row.code;
        return 0;
    };
    EidVerifySgnTable signatures{};
    eidBuildVerifySgnTable(in, out, signatures);
    if (const int code = first_unverified(signatures); code != 0) return code;
    EidChainTable chains{};
    eidBuildCcvCheckTable(in, out, chains);
    return first_unverified(chains);
}
