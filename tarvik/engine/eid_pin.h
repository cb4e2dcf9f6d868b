// PIN verification for the card's authentication key (82) and signature key
// (83): MSE SET, then either a VERIFY built here or the PIN dialogue of a
// secure-PIN-entry reader (SCR_VerifyPIN), chosen by the secure-PIN-entry
// mode of eid_spe_readers.h.
//
// The PIN is a text of EID_PIN_MIN_DIGITS to EID_PIN_MAX_DIGITS decimal
// digits; the VERIFY block is ISO 9564 format 2 with the PIN's real length.
// On the VERIFY path a null PIN, a non-digit or a wrong length is refused
// with EID_PIN_FORMAT_REFUSED before any command reaches the card. On the
// secure-PIN-entry path the PIN argument is not used (it is typed on the
// reader).
//
// Results of eidPresentPinAuthen / eidPresentPinSign:
//   0     the card accepted the PIN
//   3004  MSE SET or VERIFY exchange failed, or MSE SET refused
//   3007  no card handle for secure PIN entry (also: no reader library bound)
//   3008  wrong PIN, 5 tries left (63C5)     3012  wrong PIN, 1 try left (63C1)
//   3009  wrong PIN, 4 tries left (63C4)     3013  wrong PIN, no try left (63C0)
//   3010  wrong PIN, 3 tries left (63C3)     3014  wrong PIN, more than 5 left (63C6-63CF)
//   3011  wrong PIN, 2 tries left (63C2)     3015  PIN blocked (6983)
//   3016  PIN entry cancelled (6401, or the cardholder cancelled on the reader)
//   3017  PIN not verified (any other status word); also EID_PIN_FORMAT_REFUSED
//   any other non-zero value: an error of SCR_VerifyPIN, passed through
#ifndef TARVIK_ENGINE_EID_PIN_H
#define TARVIK_ENGINE_EID_PIN_H

#include <array>
#include <cstdint>
#include <optional>

inline constexpr int EID_PIN_MIN_DIGITS = 4;
inline constexpr int EID_PIN_MAX_DIGITS = 12;

inline constexpr int EID_PIN_OK = 0;
inline constexpr int EID_PIN_EXCHANGE_FAILED = 3004;
inline constexpr int EID_PIN_NO_CARD_HANDLE = 3007;
inline constexpr int EID_PIN_CANCELLED = 3016;
inline constexpr int EID_PIN_NOT_VERIFIED = 3017;
inline constexpr int EID_PIN_FORMAT_REFUSED = EID_PIN_NOT_VERIFIED;

// What SCR_VerifyPIN answers when the cardholder cancels on the reader.
inline constexpr long EID_SPE_CANCELLED = 0x80100002L;

// handle: the device handle of the open reader; pin: a NUL-terminated text.
int eidPresentPinAuthen(int handle, const char* pin);
int eidPresentPinSign(int handle, const char* pin);

// The 8-byte VERIFY block of a PIN, or nullopt when the PIN is refused.
std::optional<std::array<unsigned char, 8>> eid_pin_block(const char* pin);
// The result code of a VERIFY status word (the table above).
int eid_pin_status_result(uint16_t sw);

#endif
