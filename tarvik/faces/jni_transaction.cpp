#include "tarvik/faces/jni_transaction.h"

#include <cstring>
#include <string>

#include "tarvik/engine/eid_controller_tables.h"
#include "tarvik/engine/eid_engine.h"
#include "tarvik/engine/renderings.h"
#include "tarvik/faces/face_state.h"
#include "tarvik/faces/face_trace.h"
#include "tarvik/faces/jni_support.h"

namespace {

void trace_code(const char* name, const char* text, int code,
                const char* file = __builtin_FILE(), int line = __builtin_LINE()) {
    if (std::strstr(text, "%d") != nullptr)
        __tracef(FACE_TRACE_LEVEL, name, file, line, text, code, static_cast<unsigned>(code));
    else
        __tracef(FACE_TRACE_LEVEL, name, file, line, "%s", text);
}

// 0 with retval and retval_xml set, or the failing step's code.
int hand_back_transaction_xml(JNIEnv* env, jobject self, const S_EID_FUNCTION_OUTPUT& out,
                              const JniTransactionTexts& texts) {
    char xml[RENDER_TRANSACTION_XML_MAX] = {};
    const int rc = generateTransactionXml(&out.id_transaction, xml, sizeof xml);
    if (rc != 0) {
        trace_code(texts.name, texts.xml_error, rc);
        return rc;
    }
    if (!jni_support::set_int_field(env, self, "retval", 0) ||
        !jni_support::set_string_field(env, self, "retval_xml", xml)) {
        FACE_TRACE(texts.name, "ERROR in %s(), field retval or retval_xml missing", texts.name);
        return -1;
    }
    return 0;
}

}  // namespace

int run_jni_transaction(JNIEnv* env, jobject self, int handle, const jint (&masks)[EID_REQUEST_MASKS],
                        const JniTransaction& spec) {
    const JniTransactionTexts& texts = spec.texts;
    int32_t request_masks[EID_REQUEST_MASKS];
    for (int i = 0; i < EID_REQUEST_MASKS; ++i) request_masks[i] = masks[i];
    TransactionRecords records(spec.function_code, request_masks);
    if (set_session_id(records.in) != 0) {
        FACE_TRACE(texts.name, "%s", texts.input_error);
        return -1;
    }
    if (texts.card_id_error != nullptr) {
        const int rc = eidGetCardIdentifier(handle, &records.out.id_card);
        if (rc != 0) {
            trace_code(texts.name, texts.card_id_error, rc);
            return rc;
        }
    }
    use_card_cache(records.in, records.out);
    if (spec.fill_input) {
        if (const int rc = spec.fill_input(records.in); rc != 0) return rc;
    }
    if (const int rc = spec.transaction(handle, &records.in, &records.out); rc != 0) {
        trace_code(texts.name, texts.transaction_error, rc);
        return rc;
    }
    if (spec.answer_failed_checks) {
        if (const int rc = eidFailedCheckCode(&records.in, &records.out); rc != 0) {
            trace_code(texts.name, texts.transaction_error, rc);
            return rc;
        }
    }
    if (spec.save_cache_early) eidSaveToCardCache(&face_card_cache, &records.out);
    if (spec.after_transaction) {
        if (const int rc = spec.after_transaction(records.out); rc != 0) return rc;
    }
    if (!has_data(records.out.id_transaction)) {
        if (texts.empty_id_error != nullptr) trace_code(texts.name, texts.empty_id_error, 0);
        return 1;
    }
    if (const int rc = hand_back_transaction_xml(env, self, records.out, texts); rc != 0) return rc;
    if (!spec.save_cache_early) eidSaveToCardCache(&face_card_cache, &records.out);
    return 0;
}
