// Entry points and records of the outside reader libraries, as the reader
// layer calls them. The stand-ins in standins/ implement these signatures.
#ifndef TARVIK_READER_OUTSIDE_INTERFACES_H
#define TARVIK_READER_OUTSIDE_INTERFACES_H

#include <PCSC/winscard.h>

#include <cstddef>
#include <cstdint>

extern "C" {

// --- scardsyn: synchronous memory cards. 0 is success.
typedef long (*SCard3WBPPresentPIN_t)(SCARDHANDLE card, unsigned long pin_length, const unsigned char* pin);
// Fills buffer with count (0..255) bytes of card memory starting at address.
typedef long (*SCard3WBPReadData_t)(SCARDHANDLE card, unsigned long count, unsigned char* buffer, unsigned long address);
typedef long (*SCard3WBPWriteData_t)(SCARDHANDLE card, unsigned long count, const unsigned char* data,
                                     unsigned long address, unsigned long protect);
typedef long (*SCard3WBPChangePIN_t)(SCARDHANDLE card, unsigned long old_length, const unsigned char* old_pin,
                                     unsigned long new_length, const unsigned char* new_pin);
typedef long (*SCard3WBPCompareAndProtect_t)(SCARDHANDLE card, unsigned char data, unsigned long address);
typedef long (*SCard3WBPVerifyProtectBit_t)(SCARDHANDLE card, unsigned long address, int* protect);

// --- secure-PIN-entry reader library: the call records.
struct S_SPE_BYTES {
    unsigned char* data;  // length + 1 bytes, zero-filled
    uint32_t length;
};
struct S_SPE_CARD {
    SCARDHANDLE card_handle;
    char* language;  // two letters and a zero
    S_SPE_BYTES id;
    int reserved;
};
struct S_SPE_APPLICATION {
    S_SPE_BYTES id;
    char* short_name;
    char* long_name;
};
struct S_SPE_PIN_USAGE {
    int code;
    char* short_name;
    char* long_name;
};

// 0 on success; out is not used by the caller.
typedef long (*SCR_Init_t)(const char* reader_name, int value, int* out);
// 0: the PIN dialogue ran and the card's status word is in result[0..1];
// 0x80100002: the cardholder cancelled; anything else: a library error.
typedef long (*SCR_VerifyPIN_t)(const S_SPE_CARD* card, unsigned char value, const S_SPE_PIN_USAGE* usage,
                                const S_SPE_APPLICATION* application, unsigned char* result);
typedef long (*SCR_ChangePIN_t)(const S_SPE_CARD* card, unsigned char value, const S_SPE_PIN_USAGE* usage,
                                const S_SPE_APPLICATION* application, unsigned char* result);

// --- list provider of supported secure-PIN-entry readers: *xml points to
// a text that stays the provider's. 0 on success.
typedef int (*getxmlsupportedspescreaders_t)(char** xml);

// --- identity-card middleware: records read at fixed byte offsets.
struct PTEID_ID {
    unsigned char bytes[1536];
};
struct PTEID_PIC {
    unsigned char bytes[14336];
};
typedef long (*PTEID_Init_t)(const char* reader_name);
typedef long (*PTEID_GetID_t)(PTEID_ID* identity);  // 9: no card
typedef long (*PTEID_GetPic_t)(PTEID_PIC* picture);
typedef long (*PTEID_Exit_t)(unsigned long mode);

}  // extern "C"

// Offsets of the zero-terminated members of PTEID_ID and of the picture.
namespace pteid_layout {
inline constexpr std::size_t kDocumentType = 126;
inline constexpr std::size_t kCardNumber = 162;
inline constexpr std::size_t kCardPan = 192;
inline constexpr std::size_t kDeliveryDate = 244;
inline constexpr std::size_t kDeliveryLocality = 266;
inline constexpr std::size_t kValidityDate = 328;
inline constexpr std::size_t kName = 350;
inline constexpr std::size_t kFirstNames = 472;
inline constexpr std::size_t kSex = 594;
inline constexpr std::size_t kNationality = 598;
inline constexpr std::size_t kBirthDate = 606;
inline constexpr std::size_t kTaxNumber = 1146;
inline constexpr std::size_t kPictureBytes = 82;      // in PTEID_PIC
inline constexpr std::size_t kPictureLength = 14324;  // uint32_t in PTEID_PIC
inline constexpr std::size_t kPictureMax = kPictureLength - kPictureBytes;
}  // namespace pteid_layout

#endif
