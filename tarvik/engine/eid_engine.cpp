#include "tarvik/engine/eid_engine.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "orvel.h"
#include "platform/ascii.h"
#include "tarvik/engine/crypto/eid_crypto.h"
#include "tarvik/engine/crypto/parsed_certificates.h"
#include "tarvik/engine/eid_card_files.h"
#include "tarvik/engine/eid_session.h"
#include "tarvik/reader/hcl.h"

#define ENGINE_TRACE(fn, ...) __tracef(ORVEL_DEBUG, fn, __FILE__, __LINE__, __VA_ARGS__)

namespace {

constexpr const char* kCardService = "dAZ Irerove Zevezuz";

eid_communication_callback g_callback = nullptr;
std::array<char, EID_DATA_DIRECTORY_SIZE> g_data_directory{};
std::array<char, EID_SPE_READER_NAME_SIZE> g_spe_reader_name{};

int start_up(const char* fn, eid_communication_callback callback, const char* directory) {
    if (directory != nullptr && strnlen(directory, EID_DATA_DIRECTORY_SIZE) >= EID_DATA_DIRECTORY_SIZE) {
        ENGINE_TRACE(fn, "ERROR in %s(), data directory of %zu characters or more refused", fn,
                     EID_DATA_DIRECTORY_SIZE);
        return -1;
    }
    g_spe_reader_name.fill('\0');
    g_data_directory.fill('\0');
    if (directory != nullptr) std::strcpy(g_data_directory.data(), directory);
    g_callback = callback;
    int running = 0;
    const int probe = HCL_service_running(kCardService, &running);
    if (probe != 0) {
        ENGINE_TRACE(fn, "ERROR in eidInit() while calling HCL_service_running(). Error code: %d (0x%08X)", probe,
                     static_cast<unsigned>(probe));
        return probe;
    }
    return 0;
}

struct FreeDeleter {
    void operator()(unsigned char* p) const { std::free(p); }
};

// The server's transaction identifier goes into file names and XML: drop it
// when it could carry anything but a plain name.
void drop_unsafe_transaction_id(S_EID_FUNCTION_OUTPUT* out) {
    if (is_empty_S_EID_DATA(&out->id_transaction) || eid_transaction_id_is_safe(&out->id_transaction)) return;
    ENGINE_TRACE("communicationCallBack", "ERROR: id_transaction of the reply refused (%u bytes)",
                 out->id_transaction.dta_len);
    free_S_EID_DATA(&out->id_transaction);
}

bool make_name(char* name, const char* directory, const char* id, const char* suffix) {
    const int written = std::snprintf(name, EID_CERT_FILE_NAME_SIZE, "%s%s%s", directory, id, suffix);
    return written >= 0 && static_cast<std::size_t>(written) < EID_CERT_FILE_NAME_SIZE;
}

}  // namespace

int eidInit(eid_communication_callback callback, const char* directory) {
    return start_up("eidInit", callback, directory);
}

int eidInitWeb(eid_communication_callback callback, const char* directory) {
    return start_up("eidInitWeb", callback, directory);
}

const char* eid_data_directory() { return g_data_directory.data(); }

char* eid_spe_reader_name() { return g_spe_reader_name.data(); }

int communicationCallBack(const S_EID_TLLV_SELECTOR* request_selector, S_EID_FUNCTION_INPUT* in,
                          const S_EID_TLLV_SELECTOR* reply_selector, S_EID_FUNCTION_OUTPUT* out) {
    static constexpr const char* kFn = "communicationCallBack";
    if (request_selector == nullptr || in == nullptr || reply_selector == nullptr || out == nullptr) return -1;
    if (g_callback == nullptr) {
        ENGINE_TRACE(kFn, "ERROR in communicationCallBack(...), no communication callback is stored");
        return -1;
    }
    auto reply = std::make_unique<std::array<unsigned char, EID_REPLY_BUFFER_SIZE>>();
    int reply_len = 0;
    uint32_t request_len = 0;
    std::unique_ptr<unsigned char, FreeDeleter> request(eidStructs2TLLV(in, out, request_selector, &request_len));
    if (!request) {
        ENGINE_TRACE(kFn, "ERROR in communicationCallBack(...), unsigned char * tllv_buf is NULL");
        return -1;
    }
    const int sent = g_callback(request.get(), static_cast<int>(request_len), reply->data(), &reply_len);
    request.reset();
    if (sent != 0) {
        ENGINE_TRACE(kFn, "ERROR in communicationCallBack(...) while calling global_communication_callback_function(...)");
        return sent;
    }
    if (reply_len < 0) reply_len = 0;
    if (reply_len > EID_REPLY_BUFFER_SIZE) reply_len = EID_REPLY_BUFFER_SIZE;
    const int decoded = eidTLLV2Structs(reply->data(), static_cast<uint32_t>(reply_len), in, out, reply_selector);
    if (decoded != 0) ENGINE_TRACE(kFn, "ERROR in communicationCallBack(...) while calling eidTLLV2Structs(...)");
    drop_unsafe_transaction_id(out);
    return decoded;
}

int eidEndTransaction(int handle, int result) {
    HCL_card_End_transaction(handle);
    return result;
}

int eidGetCardIdentifier(int handle, S_EID_DATA* id_card) {
    static constexpr const char* kFn = "eidGetCardIdentifier";
    S_EID_DATA file{};
    init_S_EID_DATA(&file);
    if (eid_selected_reader_name()[0] == '\0') {
        ENGINE_TRACE(kFn, "ERROR in eidGetCardIdentifier(). No smartcard reader selected, char * reader_name is empty");
        return EID_NO_READER_SELECTED;
    }
    if (id_card == nullptr) {
        ENGINE_TRACE(kFn, "ERROR in eidReadCardIdentifier(...), S_EID_DATA * id_card is NULL");
        return -1;
    }
    const int checked = eidCheckCard(handle);
    if (checked != 0) {
        ENGINE_TRACE(kFn, "ERROR in eidReadCardIdentifier(...), while calling eidCheckCard(...)");
        return checked;
    }
    if (eidReadSgnRn(handle, &file) != 0) {
        ENGINE_TRACE(kFn, "ERROR in eidReadCardIdentifier(...), while calling eidReadSgnRn(...)");
        free_S_EID_DATA(&file);
        return 1007;
    }
    const int hashed = eidSha1(&file, id_card);
    if (hashed != 0) ENGINE_TRACE(kFn, "ERROR in eidReadCardIdentifier(...), while calling eidSha1(...)");
    free_S_EID_DATA(&file);
    return hashed;
}

bool eid_transaction_id_is_safe(const S_EID_DATA* id) {
    if (id == nullptr || id->dta == nullptr || id->dta_len == 0 || id->dta_len > EID_SAFE_TRANSACTION_ID_MAX)
        return false;
    for (uint32_t i = 0; i < id->dta_len; ++i) {
        const unsigned char c = id->dta[i];
        if (!kit::platform::is_ascii_alnum(c) && c != '_' && c != '-') return false;
    }
    return true;
}

void eidClearCertFileNames(EidCertFileNames* names) {
    if (names != nullptr) std::memset(names, 0, sizeof *names);
}

int eidMakeCertFileNames(const S_EID_FUNCTION_OUTPUT* out, EidCertFileNames* names) {
    if (out == nullptr || names == nullptr) return -1;
    eidClearCertFileNames(names);
    const bool named = eid_transaction_id_is_safe(&out->id_transaction);
    const char* id = named ? reinterpret_cast<const char*>(out->id_transaction.dta) : "DEFAULT";
    const char* directory = eid_data_directory();
    const bool fit = make_name(names->cert2, directory, id, "_cert2.pem") &&
                     make_name(names->cert3, directory, id, "_cert3.pem") &&
                     make_name(names->cert4, directory, id, "_cert4.pem") &&
                     make_name(names->cert6, directory, id, "_cert6.pem") &&
                     make_name(names->cert8, directory, id, "_cert8.pem");
    if (!fit) {
        ENGINE_TRACE("eidMakeCertFileNames", "ERROR: certificate file names longer than %zu characters refused",
                     EID_CERT_FILE_NAME_SIZE - 1);
        eidClearCertFileNames(names);
        return -1;
    }
    return 0;
}

EidPcscTransaction::EidPcscTransaction(int handle, int timeout_ms)
    : handle_(handle), result_(HCL_card_Start_transaction(handle, timeout_ms)) {}

EidPcscTransaction::~EidPcscTransaction() {
    if (result_ == 0) eidEndTransaction(handle_, 0);
}

int eid_run_transaction(const EidTransactionProfile& profile, int handle, S_EID_FUNCTION_INPUT* in,
                        S_EID_FUNCTION_OUTPUT* out, EidTransactionWork work) {
    const char* fn = profile.name;
    if (in == nullptr || out == nullptr || work == nullptr) return -1;
    if (eid_selected_reader_name()[0] == '\0') {
        ENGINE_TRACE(fn, "%s", profile.no_reader_text);
        return EID_NO_READER_SELECTED;
    }
    const int checked = eidCheckCard(handle);
    if (checked != 0) {
        if (profile.check_card_text != nullptr && profile.check_card_text_with_code)
            ENGINE_TRACE(fn, "%s Error code: %d (0x%08X)", profile.check_card_text, checked,
                         static_cast<unsigned>(checked));
        else if (profile.check_card_text != nullptr)
            ENGINE_TRACE(fn, "%s", profile.check_card_text);
        return checked;
    }
    const EidPcscTransaction pcsc(handle, EID_TRANSACTION_TIMEOUT_MS);
    if (pcsc.result() != 0) {
        ENGINE_TRACE(fn, "HCL_card_Start_transaction failed rv = %d", pcsc.result());
        return -1;
    }
    copy_S_EID_DATA(&in->id_session, &out->id_session);
    if ((in->function_id & profile.operation_bit) == 0) {
        ENGINE_TRACE(fn, "%s", profile.missing_bit_text);
        return EID_WRONG_FUNCTION;
    }
    out->function_id = in->function_id;
    bool online = false;
    if (out->function_id == profile.offline_code) {
        const int made = eidGenerateTransactionID(&out->id_transaction);
        if (made != 0) {
            ENGINE_TRACE(fn, "%s", profile.transaction_id_text);
            return made;
        }
    } else if (out->function_id == profile.online_code) {
        online = true;
    } else {
        ENGINE_TRACE(fn, "%s", profile.wrong_code_text);
        return EID_WRONG_FUNCTION;
    }
    const tarvik::crypto::ParsedCertificateScope certificates;
    return work(handle, in, out, online);
}
