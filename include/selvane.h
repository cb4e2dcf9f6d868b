/* libselvane.so: the card-reading SDK. A flat API (PCSC_* and its QUARLO_*
 * twins), a BASIC-style face (BASIC_*), the visitors read and the pinpad
 * calls. The Java class com.velmora.vindra.Vindra has its natives in the
 * same library (they are not declared here; the JVM binds them by name).
 *
 * libselvane.so loads libtarvik.so when it is loaded: first by its plain
 * name through the dynamic loader's search (LD_LIBRARY_PATH, then
 * libselvane.so's RUNPATH $ORIGIN, that is its own folder, then the system's
 * library cache and default folders), and when that finds nothing, from the
 * folder that holds libselvane.so. When tarvik, or one of the ten exports
 * it needs, is missing, the library still loads and every export below that
 * would reach tarvik answers its documented failure without calling
 * anything: SELVANE_NO_TARVIK (-1) for the device list and for the calls
 * that reach tarvik given a non-zero handle, 0 from PCSC_Open_device,
 * SELVANE_NO_DEVICE (-2) for those calls given handle 0 (no open has
 * succeeded) and for the pinpad calls; PCSC_EID_Read with handle 0 answers
 * 0 with both texts emptied, and the private SIS read answers as its
 * public read does (its texts stay as they were).
 *
 * Device handles: the value PCSC_Open_device returned. A handle of 0 means
 * the current device (the result of the last PCSC_Open_device), except in
 * eidAuthenticateValidationKey. A handle that tarvik did not hand out (0
 * after a failed open, -1, -2, anything else) never reaches tarvik: such
 * calls answer SELVANE_NO_DEVICE unless stated otherwise.
 *
 * Running out of memory under an export of this header answers -1; no C++
 * exception leaves the library.
 *
 * Text arguments are NUL-terminated narrow strings. Output buffers belong
 * to the caller, who sizes them as the SELVANE_*_SIZE limits say; texts that
 * are appended need those bytes after the text the buffer already holds, so
 * callers pass empty strings.
 *
 * Threads and processes: a process has one current reader, the last one
 * opened (through this library or libtarvik.so); every handle means it.
 * Calls from several threads wait for each other: each export holds the
 * library's lock for the whole call, and none when it has returned, so no
 * read ever mixes the texts of two. A host that uses two readers from two
 * threads holds its open and its read together under a lock of its own.
 * Another process holding the card makes the calls wait as libtarvik.so's
 * do (tarvik.h): PCSC_EID_Read answers 2 within half a second,
 * PCSC_Visitors_Read 2 after 10 s, and the status, SIS and pinpad calls and
 * the open wait as long as the holder. A forked child starts with nothing of its parent's
 * reader: its first call opens the reader again on a connection of its own
 * (or answers a failure code); a fork never waits for another thread's
 * call, and the child's calls never wait for a thread it does not have.
 * When pcsc-lite's own lock was held at the fork (another thread inside a
 * PC/SC call), the child's PC/SC calls fail after a 2-second trial instead,
 * until that trial answers. The parent goes on as before. From the start of
 * exit() on, the calls answer as with no PC/SC service. */
#ifndef SELVANE_H
#define SELVANE_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define SELVANE_API __attribute__((visibility("default")))

/* ---- Buffer sizes hosts must pass (bytes, terminator included) ---- */
#define SELVANE_DEVICES_SIZE 4096      /* reader list, both modes */
#define SELVANE_ATR_SIZE 64            /* ATR buffer of the status calls */
#define SELVANE_SIS_TEXT_SIZE 1024     /* room for one ISDF or PBDF text */
#define SELVANE_SFDF_TEXT_SIZE 2048    /* room for the SFDF text */
#define SELVANE_EID_ID_TEXT_SIZE 4096  /* identity text of PCSC_EID_Read */
#define SELVANE_EID_ADDRESS_TEXT_SIZE 1024 /* address text of PCSC_EID_Read */
#define SELVANE_PHOTO_SIZE 8192        /* photo bytes of PCSC_EID_Read */
#define SELVANE_TRANSACTION_ID_SIZE 33 /* zeroed output of eidAuthenticateValidationKey */
#define SELVANE_VISITORS_ID_TEXT_SIZE 24576     /* identity text of PCSC_Visitors_Read */
#define SELVANE_VISITORS_ADDRESS_TEXT_SIZE 6144  /* address text of PCSC_Visitors_Read */

/* ---- Result codes ---- */
#define SELVANE_NO_DEVICE (-2)        /* no valid device handle (also pinpad) */
#define SELVANE_NOT_PINPAD (-1)       /* reader name is not a pinpad's */
#define SELVANE_NO_PINPAD_LIBRARY (-3) /* the pinpad reader's library is missing */
#define SELVANE_NO_TARVIK (-1)        /* the tarvik export needed is not bound */
#define SELVANE_EID_NO_PHOTO_BUFFER (-201)
#define SELVANE_EID_NO_ADDRESS_BUFFER (-202)
#define SELVANE_EID_NO_ID_BUFFER (-203)
#define SELVANE_SIS_NO_ISDF_BUFFER (-210)
#define SELVANE_SIS_NO_PBDF_BUFFER (-211)
#define SELVANE_SIS_NO_SFDF_BUFFER (-212)
#define SELVANE_VISITORS_NO_CARD (-99) /* PCSC_Visitors_Read: no card to read */
#define SELVANE_PHOTO_FILE_FAILED (-301) /* BASIC_PCSC_EID_Read: photo file not written */
#define SELVANE_SAM_NO_REPLY 0x9001      /* SAM absent or wrong PIN (empty VERIFY reply) */
#define SELVANE_SAM_NO_CERTIFICATE 0x9002 /* the SFDF came without its certificate */
#define SELVANE_SAM_WRONG_PIN 0x9030     /* VERIFY answered 90 30 */

/* Text form wherever a mode is taken. A line break (CR or LF) inside a
 * value of a NAME=value line is written as a blank; XML values have "&",
 * "<" and ">" written as "&amp;", "&lt;" and "&gt;". */
#define SELVANE_MODE_LINES 0 /* NAME=value lines, each ended by "\n" */
#define SELVANE_MODE_XML 1

/* ==== Flat API. Every QUARLO_ export takes the arguments of its PCSC_
 * namesake and returns what that returns. ==== */

/* Reader list into devices (emptied first; SELVANE_DEVICES_SIZE bytes).
 * Mode 1: the reader-list XML as tarvik gives it (names escaped); mode 0:
 * the reader names as they are, joined by "\n" (none after the last); other modes: empty. Returns 0, or
 * the nonzero result of tarvik's getIccList (SELVANE_NO_TARVIK when not
 * bound); -1 for a null devices. */
SELVANE_API int32_t PCSC_Get_devices(int32_t mode, char* devices);
SELVANE_API int32_t QUARLO_Get_devices(int32_t mode, char* devices);

/* Opens reader and makes the result the current device. Returns the device
 * handle (positive), or tarvik's failure: 0 (also when tarvik is not bound),
 * -1 connection failed, -2 no PC/SC context. On success the reader name is
 * written to "sisreader.txt" in $APPDATA (when that is a directory) or the
 * current directory; a file that cannot be written is ignored. */
SELVANE_API int32_t PCSC_Open_device(const char* reader);
SELVANE_API int32_t QUARLO_Open_device(const char* reader);

/* Card status of handle (0 = current device): powered and removed flags,
 * ATR bytes (atr holds SELVANE_ATR_SIZE) and their count. Returns 0
 * success, 1 card removed or reader unavailable, SELVANE_NO_DEVICE,
 * SELVANE_NO_TARVIK, else a PC/SC code. Outputs are written only by tarvik. */
SELVANE_API int32_t PCSC_Reader_Status(int32_t handle, int32_t* powered, int32_t* removed, unsigned char* atr,
                                       int32_t* atr_len);
SELVANE_API int32_t QUARLO_Reader_Status(int32_t handle, int32_t* powered, int32_t* removed, unsigned char* atr,
                                         int32_t* atr_len);
/* Same as PCSC_Reader_Status (the QUARLO_ twin forwards too). */
SELVANE_API int32_t PCSC_SIS_Status(int32_t handle, int32_t* powered, int32_t* removed, unsigned char* atr,
                                    int32_t* atr_len);
SELVANE_API int32_t QUARLO_SIS_Status(int32_t handle, int32_t* powered, int32_t* removed, unsigned char* atr,
                                      int32_t* atr_len);

/* Public SIS card read (reader name holding "OMNIKEY" or "Cherry"): the
 * ISDF and PBDF texts in the mode asked are appended to isdf and pbdf
 * (SELVANE_SIS_TEXT_SIZE bytes of room each). Returns 1 success,
 * SELVANE_SIS_NO_ISDF_BUFFER, SELVANE_SIS_NO_PBDF_BUFFER, SELVANE_NO_DEVICE,
 * SELVANE_NO_TARVIK, else tarvik's readSisCard result (3100 no card, -1
 * read failed, -3 PBDF check, -4 ISDF check, -5 buffer). */
SELVANE_API int32_t PCSC_SIS_Read(int32_t handle, int32_t mode, char* isdf, char* pbdf);
SELVANE_API int32_t QUARLO_SIS_Read(int32_t handle, int32_t mode, char* isdf, char* pbdf);

/* Private SIS read through a SAM in a second reader: the public read above,
 * then the SFDF text appended to sfdf (a buffer of SELVANE_SFDF_TEXT_SIZE
 * bytes, what it already holds included; pass an empty string).
 * pin: four characters (fewer end at their terminator). Returns 1 success,
 * -210/-211/-212 null ISDF/PBDF/SFDF buffer, -1 terminal library missing,
 * a terminal step failed or the SFDF text would not fit after what sfdf
 * holds (nothing appended), -2 exclusivity refused, SELVANE_SAM_NO_REPLY,
 * SELVANE_SAM_WRONG_PIN, SELVANE_SAM_NO_CERTIFICATE, or the public read's
 * result when that is not 1 (the terminal is then not used). The public
 * texts stay in their buffers whatever happens later. */
SELVANE_API int32_t PCSC_SIS_Read_Private(int32_t handle, int32_t mode, const char* pin, char* isdf, char* pbdf,
                                          char* sfdf);
SELVANE_API int32_t QUARLO_SIS_Read_Private(int32_t handle, int32_t mode, const char* pin, char* isdf, char* pbdf,
                                            char* sfdf);

/* Return 0; write nothing, call nothing. */
SELVANE_API int32_t PCSC_SIS_Read_NISS(int32_t handle, char* text);
SELVANE_API int32_t QUARLO_SIS_Read_NISS(int32_t handle, char* text);
SELVANE_API int32_t PCSC_SIS_Init(int32_t handle);
SELVANE_API int32_t QUARLO_SIS_Init(int32_t handle);

/* eID identity, address and (optionally) photo. identity and address are
 * emptied, then filled in the mode asked (SELVANE_EID_ID_TEXT_SIZE and
 * SELVANE_EID_ADDRESS_TEXT_SIZE bytes). *photo_len: -1 in means no photo
 * (photo may then be null); any other value asks for the photo
 * (SELVANE_PHOTO_SIZE bytes) and receives its byte count. photo_len must not
 * be null. Returns 0 success (also: handle 0 with no current device, texts
 * left empty), -201 photo asked with a null photo buffer, -202 null address
 * buffer, -203 null identity buffer, SELVANE_NO_DEVICE, SELVANE_NO_TARVIK,
 * else tarvik's readEidPubDataIdentify code (-1: a text does not fit,
 * the photo is larger than its buffer). */
SELVANE_API int32_t PCSC_EID_Read(int32_t handle, int32_t mode, char* identity, char* address, unsigned char* photo,
                                  int32_t* photo_len);
SELVANE_API int32_t QUARLO_EID_Read(int32_t handle, int32_t mode, char* identity, char* address, unsigned char* photo,
                                    int32_t* photo_len);

/* Online authentication: starts tarvik online with server_url, then runs
 * the authentication with the ten request masks and the PIN, passed whole
 * (tarvik takes 4 to 12 digits and refuses any other PIN before a command
 * reaches the card). transaction_id (SELVANE_TRANSACTION_ID_SIZE bytes, zeroed by
 * the caller) receives the 32-character transaction identifier without a
 * terminator. handle is not replaced when 0. Returns 0 success, 1 success
 * without a transaction identifier, SELVANE_NO_DEVICE, SELVANE_NO_TARVIK,
 * else tarvik's eidAuthenticationOnline code. The QUARLO_ twin forwards. */
SELVANE_API int32_t eidAuthenticateValidationKey(int32_t handle, const char* server_url, int32_t mask0, int32_t mask1,
                                                 int32_t mask2, int32_t mask3, int32_t mask4, int32_t mask5,
                                                 int32_t mask6, int32_t mask7, int32_t mask8, int32_t mask9,
                                                 const char* pin, char* transaction_id);
SELVANE_API int32_t QUARLO_eidAuthenticateValidationKey(int32_t handle, const char* server_url, int32_t mask0,
                                                        int32_t mask1, int32_t mask2, int32_t mask3, int32_t mask4,
                                                        int32_t mask5, int32_t mask6, int32_t mask7, int32_t mask8,
                                                        int32_t mask9, const char* pin, char* transaction_id);

/* ==== Visitors read: the eID identity and address files by direct APDUs,
 * rendered here. The texts are appended to identity and address, which hold
 * SELVANE_VISITORS_ID_TEXT_SIZE and SELVANE_VISITORS_ADDRESS_TEXT_SIZE bytes
 * (a rendering never goes past them). Mode 1 XML, 0 lines, other modes read
 * and write nothing. reserved1 and reserved2 are ignored. Both files are
 * read in one call of libtarvik.so while the card is held against other
 * processes (one PC/SC transaction, waited for up to 10 seconds as an eID
 * transaction does; the card's status is read within the same wait) and
 * against the other threads. Returns 1
 * success, SELVANE_VISITORS_NO_CARD (card removed or reader unavailable),
 * 2 (another process kept the card for the whole wait), the first status
 * word other than 0x9000 met, SELVANE_NO_DEVICE, SELVANE_NO_TARVIK (also
 * from a tarvik that cannot hold the card), -202/-203 for a null
 * address/identity buffer, else tarvik's status-read (as getCardStatus) or
 * cardCommand_T0_T1 code. A file is read up to
 * 8,192 bytes; 6A86, or 6B00 after the first chunk, ends it. Text already
 * appended stays on failure. ==== */
SELVANE_API int32_t PCSC_Visitors_Read(int32_t handle, int32_t mode, char* identity, char* address, int32_t reserved1,
                                       int32_t reserved2);

/* ==== Pinpad reader (name beginning "ets beid pinpad", any case) ====
 * Show text on the display (a, b handed to the reader's library) or beep.
 * The reader's library, libekryptobeid.so, is loaded by that plain name
 * through the dynamic loader's search on the first such call; selvane loads
 * without it. Returns the reader library's result, SELVANE_NO_DEVICE,
 * SELVANE_NOT_PINPAD, SELVANE_NO_PINPAD_LIBRARY when the library cannot be
 * loaded or lacks one of its two calls, or a PC/SC code when the direct
 * connection (made only when tarvik holds no card connection) fails. */
SELVANE_API int32_t PCSC_Display_Message(int32_t handle, const char* text, int32_t a, int32_t b);
SELVANE_API int32_t QUARLO_Display_Message(int32_t handle, const char* text, int32_t a, int32_t b);
SELVANE_API int32_t PCSC_Beep(int32_t handle, int32_t a);
SELVANE_API int32_t QUARLO_Beep(int32_t handle, int32_t a);

/* ==== BASIC face ====
 * A BSTR here points at the text's bytes (narrow, unconverted), preceded by
 * their count as a 4-byte unsigned integer and followed by two zero bytes.
 * Results are new BSTRs that the caller owns and frees with SysFreeString;
 * the BSTR that a result argument held is freed first (so pass null or a
 * BSTR from SysAllocStringByteLen). A result argument is written only on
 * success. Integer arguments: only their low 16 bits count (the handle
 * included). Strings "by reference" are char** (a BSTR* works too). */
typedef char* BSTR;

/* A new BSTR of len bytes copied from text (zero bytes when text is null);
 * null when memory runs out. */
SELVANE_API BSTR SysAllocStringByteLen(const char* text, uint32_t len);
/* Frees a BSTR; null is ignored. */
SELVANE_API void SysFreeString(BSTR bstr);

/* PCSC_Get_devices; on 0 *list becomes the list. */
SELVANE_API int32_t BASIC_PCSC_Get_devices(int32_t mode, BSTR* list);
SELVANE_API int32_t BASIC_QUARLO_Get_devices(int32_t mode, BSTR* list);
/* PCSC_Open_device with *reader; its full 32-bit result. */
SELVANE_API int32_t BASIC_PCSC_Open_device(char** reader);
SELVANE_API int32_t BASIC_QUARLO_Open_device(char** reader);
/* PCSC_SIS_Read; on 1 both BSTRs set. */
SELVANE_API int32_t BASIC_PCSC_SIS_Read(int32_t handle, int32_t mode, BSTR* isdf, BSTR* pbdf);
SELVANE_API int32_t BASIC_QUARLO_SIS_Read(int32_t handle, int32_t mode, BSTR* isdf, BSTR* pbdf);
/* PCSC_SIS_Read_Private (note PBDF before ISDF); 0x9001 becomes -1; on 1
 * the three BSTRs set. */
SELVANE_API int32_t BASIC_PCSC_SIS_Read_Private(int32_t handle, int32_t mode, const char* pin, BSTR* pbdf, BSTR* isdf,
                                                BSTR* sfdf);
SELVANE_API int32_t BASIC_QUARLO_SIS_Read_Private(int32_t handle, int32_t mode, const char* pin, BSTR* pbdf,
                                                  BSTR* isdf, BSTR* sfdf);
/* As BASIC_PCSC_SIS_Read_Private with the PIN by reference; 0x9001 is
 * returned unchanged. */
SELVANE_API int32_t BASIC_PCSC_SIS_Read_Private2(int32_t handle, int32_t mode, char** pin, BSTR* pbdf, BSTR* isdf,
                                                 BSTR* sfdf);
SELVANE_API int32_t BASIC_QUARLO_SIS_Read_Private2(int32_t handle, int32_t mode, char** pin, BSTR* pbdf, BSTR* isdf,
                                                   BSTR* sfdf);
/* PCSC_SIS_Read_NISS; on 0 *out becomes the empty text. */
SELVANE_API int32_t BASIC_PCSC_SIS_Read_NISS(int32_t handle, BSTR* out);
SELVANE_API int32_t BASIC_QUARLO_SIS_Read_NISS(int32_t handle, BSTR* out);
/* PCSC_EID_Read; a nonzero result is returned at once; then both BSTRs set
 * and, when photo_path is not null and *photo_path is not null, the photo
 * bytes written to that file; SELVANE_PHOTO_FILE_FAILED when it cannot be
 * opened, written or closed, or when its name is a symbolic link (never
 * followed: the link and its target stay as they were). */
SELVANE_API int32_t BASIC_PCSC_EID_Read(int32_t handle, int32_t mode, BSTR* identity, BSTR* address,
                                        char** photo_path);
SELVANE_API int32_t BASIC_QUARLO_EID_Read(int32_t handle, int32_t mode, BSTR* identity, BSTR* address,
                                          char** photo_path);
/* powered = 0 and removed = 1 first; up to five tries of PCSC_Reader_Status
 * with 150 ms after each failed one; on success the flags and the ATR bytes
 * (as a BSTR). Returns the last result. */
SELVANE_API int32_t BASIC_PCSC_Reader_Status(int32_t handle, int16_t* powered, int16_t* removed, BSTR* atr);
SELVANE_API int32_t BASIC_QUARLO_Reader_Status(int32_t handle, int16_t* powered, int16_t* removed, BSTR* atr);
/* PCSC_Display_Message with *text; PCSC_Beep. */
SELVANE_API int32_t BASIC_PCSC_Display_Message(int32_t handle, char** text, int32_t a, int32_t b);
SELVANE_API int32_t BASIC_QUARLO_Display_Message(int32_t handle, char** text, int32_t a, int32_t b);
SELVANE_API int32_t BASIC_PCSC_Beep(int32_t handle, int32_t a);
SELVANE_API int32_t BASIC_QUARLO_Beep(int32_t handle, int32_t a);

#undef SELVANE_API

#ifdef __cplusplus
}
#endif

#endif
