/*
 * tarvik - the plain exports of libtarvik.so for native hosts.
 *
 * Device handle: the value openDevice returned; any other value (also that
 * value after a failed open) is refused with -100 before anything else is
 * done (cardPresent answers 0).
 * Result codes: those of the reader layer (-1 failure, -2 no PC/SC context
 * or card absent, -3 card not powered, -99 card removed, 2 PC/SC
 * transaction not obtained in time, -100 unknown handle, PC/SC codes), of
 * the engine transactions (1000 wrong function code, 1001-1029 and 1105 a
 * failed read/save/check step, 3000-3004 card checks, 3005-3006 signing,
 * 3007-3017 PIN entry and PIN results, 3018 no reader selected) and of the
 * SIS read, passed on unchanged, plus the codes listed per export.
 * Output buffers belong to the caller; the sizes below are what a caller
 * must pass.
 * Running out of memory under an export answers -1 (cardPresent: 0); no C++
 * exception leaves the library.
 *
 * Threads and processes: a process has one current reader, the last one
 * opened by openDevice (or libselvane.so's open); every handle means it.
 * Calls from several threads wait for each other: each export holds the
 * library's lock for the whole call, and none when it has returned, so no
 * read ever mixes the texts of two and no thread's commands come between
 * another's. A host that uses two readers from two threads holds its
 * openDevice and its read together under a lock of its own.
 *
 * Another process holding the card: PC/SC makes every call on the card wait
 * until the holder lets go. The transactions bound that wait: a read,
 * verification, authentication or signing answers 2 (not granted in time)
 * when its card check could not have the card at once (it waits at most
 * about half a second), or -1 when its own transaction was not granted
 * within 10 s; the card's status is read within the same bound. Calls that
 * read the card outside a transaction wait as long as the holder:
 * cardPresent, getCardStatus, openDevice, readSisCard, a single
 * cardCommand_T0_T1, and the card-identifier read that
 * eidAuthenticationOnline makes before its transaction. A process that has
 * held the card for 2 s on end leaves it free for 300 ms before its next
 * call's first use of it, so a process waiting for the card gets it within
 * a few seconds.
 *
 * fork: a forked child starts with nothing of its parent's reader or card
 * data: its first call opens the reader again by name on a connection of
 * its own (or answers -100 when that fails); a fork never waits for another
 * thread's call, and the child's calls never wait for a thread it does not
 * have. When pcsc-lite's own lock was held at the fork (another thread
 * inside a PC/SC call), the child's first PC/SC use gets no answer within
 * its 2-second trial: its calls fail meanwhile (-2 from openDevice, -100 on
 * the inherited handle, an empty reader list), and once that use answers,
 * the next call opens the reader again. The parent goes on as before; a
 * child's exit() releases nothing of the parent's. The library stays
 * loaded, whatever the host unloads, once it has started a thread of its
 * own (to wait for the card, or for a child's first PC/SC use).
 *
 * exit(): from its start on, the exports make no PC/SC call and answer as
 * with no PC/SC service (an empty reader list, -2 from openDevice, the
 * PC/SC code SCARD_E_NO_SERVICE, or the export's failure code), so host
 * threads still calling into the kit do not meet pcsc-lite's freed state.
 * A thread that is inside a PC/SC call when pcsc-lite unloads is beyond the
 * kit.
 *
 * What a verified read proves: that the card's files agree with the card's
 * own certificates. The chain is anchored on the card's root certificate
 * (file 3F00/DF00/503B, saved as "<id>_cert6.pem" in the data directory),
 * the only trusted certificate: an intermediate is only a link, so a chain
 * verifies only when it reaches that root. A card that carries a complete
 * PKI of its maker's own passes too, so a host that must know the card was
 * issued by the authority compares that root certificate with the
 * authority's published one; that holds for both faces, plain and JNI.
 * The check judges the certificates the card gave: a saved PEM file that no
 * longer holds exactly what was saved (another writer changed it) fails it,
 * and a certificate to verify that is self-issued or is the intermediate or
 * root it is checked under never passes.
 *
 * The JNI face (class DuzEdorire) answers the same way from its
 * eidPubDataVerify: when the transaction succeeded but a check its masks
 * asked for did not verify, the native answers that check's code (1010
 * identity signature, 1012 photo, 1011 address signature, 1019
 * authentication-certificate chain, 1023 signing-certificate chain, the
 * first in that order), retval and retval_xml are left as they were and the
 * card cache is not filled.
 */
#ifndef TARVIK_H
#define TARVIK_H

#define TARVIK_EXPORT __attribute__((visibility("default")))

#define PLAIN_READER_LIST_SIZE     4096  /* getIccList buffer */
#define PLAIN_ATR_SIZE             64    /* getCardStatus ATR buffer */
#define PLAIN_SIS_TEXT_SIZE        1024  /* readSisCard buffers, types 0 and 1 */
#define PLAIN_PT_TEXT_SIZE         2048  /* readPtEidPubDataIdentify text buffers */
#define PLAIN_PT_PHOTO_SIZE        14242 /* readPtEidPubDataIdentify photo buffer */
#define PLAIN_URL_MAX              1023  /* eidStartOnline: longer URLs are refused */
#define PLAIN_ID_TEXT_SIZE         4096  /* eID identity text buffer */
#define PLAIN_ADDRESS_TEXT_SIZE    1024  /* eID address text buffer */
#define PLAIN_PHOTO_SIZE           8192  /* eID photo buffer */
#define PLAIN_TRANSACTION_ID_SIZE  33    /* eidAuthenticationOnline, zeroed by the caller */

#ifdef __cplusplus
extern "C" {
#endif

// 1 when a card is in the opened reader, else 0 (also when the status cannot
// be read, as when the PC/SC service is gone).
TARVIK_EXPORT int cardPresent(int handle);

// Card state: *powered, *absent, the ATR (a buffer of PLAIN_ATR_SIZE bytes)
// and its length. 0, 1 (card removed / reader unavailable) or a PC/SC code.
TARVIK_EXPORT int getCardStatus(int handle, int* powered, int* absent, unsigned char* atr, unsigned int* atr_len);

// Appends the reader-list XML (root PCSC_Get_devices, reader names with
// "&", "<" and ">" escaped) to the string in text, a buffer of PLAIN_READER_LIST_SIZE bytes; a list that would not fit
// is not appended. Returns 0.
TARVIK_EXPORT int getIccList(char* text);

// Online start-up: server URL (at most PLAIN_URL_MAX characters; a longer
// one leaves no URL, so exchanges fail), log file "eidzundelog.txt" in the
// log directory (%APPDATA% when it can be entered, else the current
// directory; never created), engine with the server exchange and the log
// directory as data directory. Returns 0.
TARVIK_EXPORT int eidStartOnline(const char* url);
// Offline start-up: log file "<log directory>/<sub_directory>/<user>_eiddlllog.txt"
// (the sub-directory must exist), engine without server. Returns 0.
TARVIK_EXPORT int eidStartAccessRights(const char* sub_directory);

// Selects and connects the reader: the device handle, or -1 (connection
// failed, null or over-long name) or -2 (no PC/SC context).
TARVIK_EXPORT int openDevice(const char* reader_name);

// Reads the identity (want_identity 1), address (want_address 1) and
// photo (want_photo 1) of the eID card, offline; flags other than 1 count
// as 0. format 0 NAME=value lines (a line break inside a value written as
// a blank), 1 XML (values escaped). Texts replace what the buffers
// held (PLAIN_ID_TEXT_SIZE and PLAIN_ADDRESS_TEXT_SIZE bytes); the photo
// (PLAIN_PHOTO_SIZE bytes) and its length, or 0 in *photo_len when the
// photo is not wanted. The card cache is neither read nor filled.
// Results: 0; the transaction's code (outputs untouched); -1 when a text
// does not fit, the photo is larger than its buffer (length untouched) or
// an output is null.
TARVIK_EXPORT int readEidPubDataIdentify(int handle, int format, int want_address, int want_identity, int want_photo,
                                         char* identity_text, char* address_text, unsigned char* photo,
                                         int* photo_len);
// The same read, also checking, offline, the signatures of the identity
// and address files with the national-register certificate, the photo
// against the hash in the identity file, and the national-register
// certificate's chain under the card's root certificate (both saved as PEM
// files in the data directory; see "What a verified read proves" above).
// A check that fails answers its code, the outputs untouched: 1010
// identity signature, 1011 address signature, 1012 photo, 1019 chain (also
// when the chain check could not be made, a saved file was changed, or the
// national-register certificate is self-issued or the root itself).
TARVIK_EXPORT int readEidPubDataVerify(int handle, int format, int want_address, int want_identity, int want_photo,
                                       char* identity_text, char* address_text, unsigned char* photo,
                                       int* photo_len);

// Online authentication of the cardholder (eidStartOnline first): PIN
// check with the text whole (4 to 12 digits), challenge from the server
// signed by the card, results sent back. The session identifier is the one
// the JNI face made (zeros when none). When the card is the one the card
// cache holds, its certificates come from the cache. On 0 the transaction
// identifier is written to transaction_id as at most 32 characters without
// a terminator (pass a zeroed buffer of PLAIN_TRANSACTION_ID_SIZE bytes).
// Results: 0; 1 no transaction identifier; -1 no memory or a null
// transaction_id; the card identifier's, the transaction's or the XML
// rendering's code.
TARVIK_EXPORT int eidAuthenticationOnline(int handle, int mask0, int mask1, int mask2, int mask3, int mask4, int mask5,
                                          int mask6, int mask7, int mask8, int mask9, const char* pin,
                                          char* transaction_id);

// One APDU (5-byte header, at most 1,019 data bytes); the response buffer
// must hold the bytes the APDU asks for (at most 1,022). 0 with the status
// word in *sw, or -1 (refused APDU, no status word). At most the APDU's Le
// (short or extended; 00 means 256) response bytes are written: a card that
// answers more gives its first Le bytes and *response_len = Le, and an APDU
// without Le (or of no ISO 7816-4 form) gets no response bytes.
TARVIK_EXPORT int cardCommand_T0_T1(int handle, unsigned char* apdu, int apdu_len, unsigned char* response,
                                    unsigned int* response_len, unsigned short* sw);

// SIS card: type 0 NAME=value lines (a line break inside a value written
// as a blank), 1 XML (both appended to the text the
// PLAIN_SIS_TEXT_SIZE-byte buffers hold), 2 the 86-byte ISDF and 138-byte
// PBDF records. 1 read, 3100 no card, -1 read failed, -3/-4 check bytes of
// PBDF/ISDF wrong, -5 the text does not fit beside what the buffer holds
// (nothing written).
TARVIK_EXPORT int readSisCard(int handle, int type, char* isdf, char* pbdf);

// Portuguese identity card through the outside middleware. The first three
// arguments are ignored. The first call in the process binds the library
// and answers -3 without reading. Later calls: identity and address texts
// (PLAIN_PT_TEXT_SIZE bytes each) when want_identity is 1, the picture
// (PLAIN_PT_PHOTO_SIZE bytes) and its length when want_photo is 1.
// Results: the middleware's PTEID_Init result when nothing else was asked;
// 0 identity read; -2 no card; the PTEID_GetID code when it failed (texts
// untouched); -1 the middleware is not bound or a picture length beyond
// its record (photo length untouched).
TARVIK_EXPORT int readPtEidPubDataIdentify(int ignored_handle, int ignored_format, int ignored_want_address,
                                           int want_identity, int want_photo, char* identity_text,
                                           char* address_text, unsigned char* photo, int* photo_len);

#ifdef __cplusplus
}
#endif

#endif /* TARVIK_H */
