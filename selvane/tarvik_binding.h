// The table of tarvik's plain exports that selvane binds by name at run
// time, and one call wrapper per slot. A wrapper whose slot is empty calls
// nothing and answers kNotBound (openDevice's answers 0, "no device").
//
// While tarvik is not loaded, or lacked one of the ten exports that must be
// there, every slot is empty. eidAuthenticationOnline, eidStartOnline and
// tarvik's own internal exports (resolve_device, begin_transaction,
// end_transaction) may be missing alone.
#ifndef SELVANE_TARVIK_BINDING_H
#define SELVANE_TARVIK_BINDING_H

#include "tarvik/reader/pcsc_common.h"

namespace selvane {

inline constexpr int kNotBound = -1;

// Loader results.
inline constexpr int kTarvikLoaded = 0;
inline constexpr int kTarvikNotLoadable = -1;
inline constexpr int kTarvikIncomplete = -2;

struct TarvikExports {
    using StartAccessRights = int (*)(const char* log_subdirectory);
    using GetIccList = int (*)(char* text);
    using OpenDevice = int (*)(const char* reader);
    using ReadPubData = int (*)(int handle, int format, int want_address, int want_identity, int want_photo,
                                char* identity, char* address, unsigned char* photo, int* photo_len);
    using ReadSisCard = int (*)(int handle, int type, char* isdf, char* pbdf);
    using CardPresent = int (*)(int handle);
    using GetCardStatus = int (*)(int handle, int* powered, int* absent, unsigned char* atr, unsigned int* atr_len);
    using CardCommand = int (*)(int handle, unsigned char* apdu, int apdu_len, unsigned char* response,
                                unsigned int* response_len, unsigned short* sw);
    using AuthenticationOnline = int (*)(int handle, int m0, int m1, int m2, int m3, int m4, int m5, int m6, int m7,
                                         int m8, int m9, const char* pin, char* transaction_id);
    using StartOnline = int (*)(const char* server_url);

    StartAccessRights eidStartAccessRights = nullptr;
    GetIccList getIccList = nullptr;
    OpenDevice openDevice = nullptr;
    ReadPubData readEidPubDataVerify = nullptr;
    ReadPubData readEidPubDataIdentify = nullptr;
    ReadPubData readPtEidPubDataIdentify = nullptr;
    ReadSisCard readSisCard = nullptr;
    CardPresent cardPresent = nullptr;
    GetCardStatus getCardStatus = nullptr;
    CardCommand cardCommand_T0_T1 = nullptr;
    AuthenticationOnline eidAuthenticationOnline = nullptr;
    StartOnline eidStartOnline = nullptr;
    tarvik_with_card_fn with_card = nullptr;
};

// The process's table. Tests may fill it with stand-ins of their own.
TarvikExports& tarvik_exports();

// Loads "tarvik.dll" (libtarvik.so) and binds the table; a held library is
// unloaded first. On kTarvikIncomplete the library is unloaded again and
// the table left empty, so nothing half-bound is ever called.
int load_tarvik();
// Empties the table and unloads the library.
void unload_tarvik();

namespace call {
int getIccList(char* text);
int openDevice(const char* reader);
int readEidPubDataIdentify(int handle, int format, int want_address, int want_identity, int want_photo,
                           char* identity, char* address, unsigned char* photo, int* photo_len);
int readSisCard(int handle, int type, char* isdf, char* pbdf);
int getCardStatus(int handle, int* powered, int* absent, unsigned char* atr, unsigned int* atr_len);
int cardCommand_T0_T1(int handle, unsigned char* apdu, int apdu_len, unsigned char* response,
                      unsigned int* response_len, unsigned short* sw);
int eidAuthenticationOnline(int handle, const int (&masks)[10], const char* pin, char* transaction_id);
int eidStartOnline(const char* server_url);
// tarvik_with_card; kNotBound when not bound.
int with_card(int handle, bool hold, tarvik_card_task task, void* context);
}  // namespace call

}  // namespace selvane

#endif
