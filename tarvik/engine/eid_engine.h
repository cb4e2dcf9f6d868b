// Engine start-up, the server exchange, and the frame every eID transaction
// follows: reader selected, card check, PC/SC transaction (ended on every
// path), function-code check, the transaction's own work.
//
// Results are int. Failures are traced at level 8 under the failing
// function's (or transaction's) name. Process-wide state is guarded by the
// library's lock, which every export holds (one call at a time).
#ifndef TARVIK_ENGINE_EID_ENGINE_H
#define TARVIK_ENGINE_EID_ENGINE_H

#include <cstddef>
#include <cstdint>

#include "tarvik/engine/eid_callback.h"
#include "tarvik/engine/eid_records.h"
#include "tarvik/engine/eid_tllv.h"

// Function codes: one operation bit per transaction, an online and an
// offline code each, and the _NF codes, which every transaction refuses.
inline constexpr int32_t PUB_DATA_CAP = 0x100000;
inline constexpr int32_t PUB_DATA_VER = 0x200000;
inline constexpr int32_t AUTHENT = 0x400000;
inline constexpr int32_t SIGNING = 0x800000;
inline constexpr int32_t IDENT_CAP = 0x1000000;
inline constexpr int32_t IDENT_CAP_ONLINE = 0x1001249;
inline constexpr int32_t IDENT_CAP_OFFLINE = 0x1002492;
inline constexpr int32_t IDENT_CAP_NF = 0x10012DB;
inline constexpr int32_t PUB_DATA_CAP_ONLINE = 0x101249;
inline constexpr int32_t PUB_DATA_CAP_OFFLINE = 0x102492;
inline constexpr int32_t PUB_DATA_CAP_NF = 0x1036DB;
inline constexpr int32_t PUB_DATA_VER_ONLINE = 0x201249;
inline constexpr int32_t PUB_DATA_VER_OFFLINE = 0x202492;
inline constexpr int32_t PUB_DATA_VER_NF = 0x2036DB;
inline constexpr int32_t AUTHENT_ONLINE = 0x401241;
inline constexpr int32_t AUTHENT_OFFLINE = 0x402492;
inline constexpr int32_t AUTHENT_NF = 0x4036D2;
inline constexpr int32_t SIGNING_ONLINE = 0x801249;
inline constexpr int32_t SIGNING_OFFLINE = 0x802492;
inline constexpr int32_t SIGNING_NF = 0x8036DB;

// Transaction results shared by all transactions.
inline constexpr int EID_WRONG_FUNCTION = 1000;
inline constexpr int EID_NO_READER_SELECTED = 3018;
// Time-out of the transaction's PC/SC transaction.
inline constexpr int EID_TRANSACTION_TIMEOUT_MS = 10000;

// Data directory: at most 1,023 characters.
inline constexpr std::size_t EID_DATA_DIRECTORY_SIZE = 1024;
// Secure-PIN-entry reader name buffer (cleared by start-up).
inline constexpr std::size_t EID_SPE_READER_NAME_SIZE = 256;
// A certificate's PEM file name: 255 characters and the terminating zero.
inline constexpr std::size_t EID_CERT_FILE_NAME_SIZE = 256;
// A transaction identifier from the server is used in names and XML only
// when it is 1 to this many letters, digits, "_" or "-".
inline constexpr std::size_t EID_SAFE_TRANSACTION_ID_MAX = 64;

// Start-up: stores the callback (null too) and the data directory (null:
// empty; used as given, no separator added), clears the secure-PIN-entry
// reader name, and traces whether the card service runs. 0, or -1 when the
// directory has 1,024 characters or more (nothing is changed then).
int eidInit(eid_communication_callback callback, const char* directory);
int eidInitWeb(eid_communication_callback callback, const char* directory);

// The stored data directory ("" before start-up).
const char* eid_data_directory();
// The secure-PIN-entry reader name buffer (EID_SPE_READER_NAME_SIZE bytes).
char* eid_spe_reader_name();

// One server exchange: encodes the members of in/out that request_selector
// selects, calls the stored callback with a zero-filled reply buffer of
// EID_REPLY_BUFFER_SIZE bytes, and stores the reply's items that
// reply_selector selects. A transaction identifier the reply brings that is
// not safe (see EID_SAFE_TRANSACTION_ID_MAX) is dropped.
// Result: 0; -1 when there is nothing to send, no callback is stored or an
// argument is null; the callback's non-zero result (nothing decoded); or the
// decoder's non-zero result. A reply length outside 0..EID_REPLY_BUFFER_SIZE
// is clamped into it.
int communicationCallBack(const S_EID_TLLV_SELECTOR* request_selector, S_EID_FUNCTION_INPUT* in,
                          const S_EID_TLLV_SELECTOR* reply_selector, S_EID_FUNCTION_OUTPUT* out);

// Ends the PC/SC transaction (its result ignored) and returns result.
int eidEndTransaction(int handle, int result);

// id_card := SHA-1 of the identity signature file (4032) of the card in the
// reader. 0; 3018 no reader selected; -1 null id_card; eidCheckCard's code;
// 1007 the signature file could not be read; eidSha1's non-zero result.
int eidGetCardIdentifier(int handle, S_EID_DATA* id_card);

// True when the record holds 1 to 64 letters, digits, "_" or "-".
bool eid_transaction_id_is_safe(const S_EID_DATA* id);

// The five PEM file names of certificates 2, 3, 4, 6 and 8.
struct EidCertFileNames {
    char cert2[EID_CERT_FILE_NAME_SIZE];
    char cert3[EID_CERT_FILE_NAME_SIZE];
    char cert4[EID_CERT_FILE_NAME_SIZE];
    char cert6[EID_CERT_FILE_NAME_SIZE];
    char cert8[EID_CERT_FILE_NAME_SIZE];
};
// Zero-fills the five names.
void eidClearCertFileNames(EidCertFileNames* names);
// "<data directory><id>_certN.pem", id being the output's transaction
// identifier when it is safe, else "DEFAULT". 0, or -1 (names left empty)
// when a name would not fit EID_CERT_FILE_NAME_SIZE or an argument is null.
int eidMakeCertFileNames(const S_EID_FUNCTION_OUTPUT* out, EidCertFileNames* names);

// Keeps the PC/SC transaction of a transaction begun, and ends it through
// eidEndTransaction when it goes out of scope.
class EidPcscTransaction {
public:
    // result(): 0 when begun, else HCL_card_Start_transaction's result.
    EidPcscTransaction(int handle, int timeout_ms);
    ~EidPcscTransaction();
    EidPcscTransaction(const EidPcscTransaction&) = delete;
    EidPcscTransaction& operator=(const EidPcscTransaction&) = delete;
    int result() const { return result_; }

private:
    int handle_;
    int result_;
};

// What distinguishes one transaction in the shared frame: its name, codes
// and trace texts.
struct EidTransactionProfile {
    const char* name;  // function name of the trace lines
    int32_t operation_bit;
    int32_t online_code;
    int32_t offline_code;
    const char* no_reader_text;
    const char* check_card_text;  // null: none; with_code: "%d (0x%08X)" of the code
    bool check_card_text_with_code;
    const char* missing_bit_text;
    const char* wrong_code_text;
    const char* transaction_id_text;
};

// The transaction's own work, run inside the PC/SC transaction after the
// mode is settled (offline: the transaction identifier is made). Its result
// is the transaction's.
using EidTransactionWork = int (*)(int handle, S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out, bool online);

// The frame: 3018 without a reader; eidCheckCard's code; -1 when the PC/SC
// transaction is not begun; 1000 for a code without the operation bit or
// that is neither the online nor the offline code; the result of
// eidGenerateTransactionID (offline); then work's result. -1 for null
// records. The PC/SC transaction is ended on every path after it began.
int eid_run_transaction(const EidTransactionProfile& profile, int handle, S_EID_FUNCTION_INPUT* in,
                        S_EID_FUNCTION_OUTPUT* out, EidTransactionWork work);

#endif
