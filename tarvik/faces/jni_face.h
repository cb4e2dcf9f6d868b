// The native methods of com.velmora.tessaro.client.pcsc.common.DuzEdorire
// (java/), exported under their JNI names.
//
// Results of the transaction natives: 0 complete (retval = 0, retval_xml
// set); 1 transaction done without a transaction identifier; 7001 hash
// empty or not hexadecimal (eidSigningData, before the card is touched);
// -1 a field of the object is missing or memory ran out (no Java exception
// is left pending); otherwise the engine's code (1000-1105, 3000-3018,
// reader-layer codes). retval and retval_xml change only on 0.
// Texts handed to Java are valid modified UTF-8. Limits: reader list 4,096
// bytes; server URL 1,023 characters (a longer authen_host leaves no URL);
// secure-PIN-entry library name 251 characters, its path 4,095.
#ifndef TARVIK_FACES_JNI_FACE_H
#define TARVIK_FACES_JNI_FACE_H

#include <jni.h>

#define DUZEDORIRE_NATIVE(name) Java_com_velmora_tessaro_client_pcsc_common_DuzEdorire_##name
#define DUZEDORIRE_MASKS jint m0, jint m1, jint m2, jint m3, jint m4, jint m5, jint m6, jint m7, jint m8, jint m9

extern "C" {

// Empties the card-data cache. 0.
JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(destroyApplet)(JNIEnv* env, jobject self);
// Log file "<log directory>/digIDs/eidzundelog.txt", engine with the server
// exchange and data directory "<log directory>/digIDs", server URL from
// authen_host (a null field keeps the previous URL), str_getIccList = the
// reader-list XML or "no readers". 0, or -1 when a field is missing.
JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(getIccList)(JNIEnv* env, jobject self);
// New session identifier, empty cache, reader selected and opened: the
// device handle (or -1 / -2 when the reader cannot be opened).
JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(openDevice)(JNIEnv* env, jobject self, jstring reader_name);
// Identity capture, online. Sets str_ID_Address (mask 0 not 0),
// str_ID_RN (mask 2 not 0; "" when the identity file was not read),
// str_ascii_photo and photo_size (mask 3 not 0) after the transaction;
// a missing text field is skipped.
JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(readEidPublicIdentify)(JNIEnv* env, jobject self, jint handle, jint format,
                                                                 DUZEDORIRE_MASKS);
// Public-data capture and verification, online.
JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(readEidPublic)(JNIEnv* env, jobject self, jint handle, jint unused,
                                                         DUZEDORIRE_MASKS);
JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(eidPubDataVerify)(JNIEnv* env, jobject self, jint handle, jint unused,
                                                            DUZEDORIRE_MASKS);
// Authentication and signing, online, after the PIN check. The PIN text
// is passed whole (4 to 12 digits; the engine refuses anything else before
// the card sees it). The hash is at most 40 hexadecimal digits (fewer leave
// the last bytes 0); the document reference is sent as given.
JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(eidAuthentication)(JNIEnv* env, jobject self, jint handle, jint unused,
                                                             DUZEDORIRE_MASKS, jstring pin);
JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(eidSigningData)(JNIEnv* env, jobject self, jint handle, jint unused,
                                                          DUZEDORIRE_MASKS, jstring pin, jstring hash,
                                                          jstring document_reference);

// Secure-PIN-entry readers. getXMLListSupportedSPEReaders: the provider's
// list into str_XMLListSupportedSPEReaders (PIN-pad mode off), 0.
// setSPELibrary: looks for the library "<name>.dll" as the platform names it
// (libname.so) in each absolute directory of PATH, never in the current
// directory or a relative entry, and hands its path to the engine: 0
// (whatever the engine answered), or -1 for a null argument, an over-long
// name, a name holding "/" or "..", or no such file.
// getSCReaderName: str_getSCReaderName = the selected reader, or "error"; 0.
// isSupportedSPESCReader / isOperationalSPESCReader: 1 or 0, -1 on failure.
JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(getXMLListSupportedSPEReaders)(JNIEnv* env, jobject self);
JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(setSPELibrary)(JNIEnv* env, jobject self, jstring reader_name,
                                                         jstring library_name);
JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(getSCReaderName)(JNIEnv* env, jobject self);
JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(isSupportedSPESCReader)(JNIEnv* env, jobject self, jstring reader_name);
JNIEXPORT jint JNICALL DUZEDORIRE_NATIVE(isOperationalSPESCReader)(JNIEnv* env, jobject self, jstring reader_name);

// SHA-1 of the UTF-8 bytes of text as 40 upper-case hexadecimal digits; the
// empty string for an empty or null text; null when memory ran out. The int
// arguments are not used.
JNIEXPORT jstring JNICALL DUZEDORIRE_NATIVE(gethash)(JNIEnv* env, jobject self, jint unused1, jstring text,
                                                      jint unused3);

}  // extern "C"

#endif
