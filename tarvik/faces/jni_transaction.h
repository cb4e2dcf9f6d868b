// The steps every transaction native of the JNI face takes: records,
// card identifier, card cache, the transaction, its checks, the transaction
// XML into retval / retval_xml, and the cache saved.
#ifndef TARVIK_FACES_JNI_TRANSACTION_H
#define TARVIK_FACES_JNI_TRANSACTION_H

#include <jni.h>

#include <cstdint>
#include <functional>

#include "tarvik/engine/eid_records.h"

// Trace texts of one native; the code-carrying ones take "%d (0x%08X)".
struct JniTransactionTexts {
    const char* name;            // the native's exported name
    const char* card_id_error;   // with code; null when no card identifier is read
    const char* input_error;     // a heap buffer could not be made
    const char* transaction_error;  // with code
    const char* empty_id_error;  // null: none; a "%d" in it gets 0
    const char* xml_error;       // with code when it holds "%d"
};

struct JniTransaction {
    JniTransactionTexts texts;
    int32_t function_code;
    int (*transaction)(int, S_EID_FUNCTION_INPUT*, S_EID_FUNCTION_OUTPUT*);
    // Native-specific input members: 0, or the native's result.
    std::function<int(S_EID_FUNCTION_INPUT&)> fill_input;
    // Run after a successful transaction (readEidPublicIdentify's fields):
    // 0, or the native's result.
    std::function<int(const S_EID_FUNCTION_OUTPUT&)> after_transaction;
    // Save the output to the cache as soon as the transaction succeeded.
    bool save_cache_early = false;
    // A verifying native: a check the masks asked for that did not verify
    // answers its row's code (eidFailedCheckCode), and nothing is handed
    // back or cached.
    bool answer_failed_checks = false;
};

// Runs the native's steps; the masks are the ten jint arguments.
int run_jni_transaction(JNIEnv* env, jobject self, int handle, const jint (&masks)[EID_REQUEST_MASKS],
                        const JniTransaction& spec);

#endif
