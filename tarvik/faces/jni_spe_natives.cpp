// The JNI natives of the secure-PIN-entry readers and the selected reader.
#include <cstdlib>
#include <string>

#include "tarvik/engine/eid_spe_readers.h"
#include "tarvik/faces/face_trace.h"
#include "tarvik/faces/jni_face.h"
#include "tarvik/faces/jni_support.h"
#include "tarvik/faces/spe_library_search.h"
#include "platform/export_guard.h"
#include "platform/library_lock.h"

#define NATIVE_NAME(name) "Java_com_velmora_tessaro_client_pcsc_common_DuzEdorire_" #name

namespace {

using jni_support::Utf8Chars;

// Runs a yes/no question about a reader: its answer, or -1 (traced).
int ask_about_reader(JNIEnv* env, jstring reader_name, int (*question)(const char*, int*), const char* name,
                     const char* error) {
    Utf8Chars reader(env, reader_name);
    int answer = 0;
    if (reader.get() == nullptr || question(reader.get(), &answer) != 0) {
        FACE_TRACE(name, "%s", error);
        return -1;
    }
    return answer;
}

}  // namespace

extern "C" {

JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(getXMLListSupportedSPEReaders)(JNIEnv* env, jobject self) try {
    const kit::LibraryCall call;
    char xml[EID_SPE_READER_LIST_MAX] = {};
    eidGetXMLSuportedSPEReaders(xml);
    if (!jni_support::set_string_field(env, self, "str_XMLListSupportedSPEReaders", xml)) {
        FACE_TRACE(NATIVE_NAME(getXMLListSupportedSPEReaders),
                   "ERROR in DuzEdorire_getXMLListSupportedSPEReaders(), field str_XMLListSupportedSPEReaders missing");
        return -1;
    }
    return 0;
} catch (...) {
    return kit::export_failure(__func__, -1);
}

JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(setSPELibrary)(JNIEnv* env, jobject, jstring reader_name,
                                                         jstring library_name) try {
    const kit::LibraryCall call;
    constexpr const char* kName = NATIVE_NAME(setSPELibrary);
    Utf8Chars reader(env, reader_name);
    Utf8Chars library(env, library_name);
    if (reader.get() == nullptr) {
        FACE_TRACE(kName, "ERROR in DuzEdorire_setSPELibrary(), const char * spe_reader_name is NULL");
        return -1;
    }
    if (library.get() == nullptr) {
        FACE_TRACE(kName, "ERROR in DuzEdorire_setSPELibrary(), const char * spe_lib_name is NULL");
        return -1;
    }
    const std::string path = find_spe_library(library.get());
    if (path.empty()) {
        FACE_TRACE(kName, "ERROR in DuzEdorire_setSPELibrary(), char spe_dll_filename_path_buffer[] is empty");
        return -1;
    }
    eidSetSPELibrary(reader.get(), library.get(), path.c_str());
    return 0;
} catch (...) {
    return kit::export_failure(__func__, -1);
}

JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(getSCReaderName)(JNIEnv* env, jobject self) try {
    const kit::LibraryCall call;
    char* name = nullptr;
    const int rc = eidGetSCReaderName(&name);
    std::string text = rc == 0 && name != nullptr ? std::string(name) : std::string("error");
    std::free(name);
    if (rc != 0)
        FACE_TRACE(NATIVE_NAME(getSCReaderName), "ERROR in DuzEdorire_getSCReaderName() while calling eidGetSCReaderName()");
    if (!jni_support::set_string_field(env, self, "str_getSCReaderName", text)) {
        FACE_TRACE(NATIVE_NAME(getSCReaderName), "ERROR in DuzEdorire_getSCReaderName(), field str_getSCReaderName missing");
        return -1;
    }
    return 0;
} catch (...) {
    return kit::export_failure(__func__, -1);
}

JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(isSupportedSPESCReader)(JNIEnv* env, jobject, jstring reader_name) try {
    const kit::LibraryCall call;
    return ask_about_reader(env, reader_name, eidIsSupportedSPEReader, NATIVE_NAME(isSupportedSPESCReader),
                            "ERROR in DuzEdorire_isSupportedSPESCReader() while calling eidIsSupportedSPEReader()");
} catch (...) {
    return kit::export_failure(__func__, -1);
}

JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(isOperationalSPESCReader)(JNIEnv* env, jobject, jstring reader_name) try {
    const kit::LibraryCall call;
    return ask_about_reader(env, reader_name, eidIsOperationalSPESCReader, NATIVE_NAME(isOperationalSPESCReader),
                            "ERROR in DuzEdorire_isOperationalSPESCReader() while calling eidIsOperationalSPESCReader()");
} catch (...) {
    return kit::export_failure(__func__, -1);
}

}  // extern "C"
