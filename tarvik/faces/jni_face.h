// The native methods of com.velmora.tessaro.client.pcsc.common.DuzEdorire
// (java/), exported under their JNI names.
//
// Results of the transaction natives: 0 complete (retval = 0, retval_xml
// set); 1 transaction done without a transaction identifier; 7001 hash
// empty or not hexadecimal (eidSigningData); -1 a field of the object is
// missing or memory ran out (no Java exception is left pending); otherwise
// the engine's code (1000-1105, 3000-3018, reader-layer codes).
// Texts handed to Java are valid modified UTF-8. Limits: reader list 4,096
// bytes, identity and address texts 1,024 bytes, photo at most 8,191 bytes
// (16,384 hexadecimal digits with the terminator), server URL 1,023
// characters, secure-PIN-entry library name 251 characters.
#ifndef TARVIK_FACES_JNI_FACE_H
#define TARVIK_FACES_JNI_FACE_H

#include <jni.h>

#define DUZEDORIRE_NATIVE(name) Java_com_velmora_tessaro_client_pcsc_common_DuzEdorire_##name

extern "C" {

// SHA-1 of the UTF-8 bytes of text as 40 upper-case hexadecimal digits; the
// empty string for an empty or null text. The int arguments are not used.
JNIEXPORT jstring JNICALL DUZEDORIRE_NATIVE(gethash)(JNIEnv* env, jobject self, jint unused1, jstring text,
                                                      jint unused3);

}  // extern "C"

#endif
