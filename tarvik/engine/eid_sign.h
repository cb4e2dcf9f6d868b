// Having the card sign a byte string with the key selected by the last PIN
// operation: PSO COMPUTE DIGITAL SIGNATURE, then GET RESPONSE.
#ifndef TARVIK_ENGINE_EID_SIGN_H
#define TARVIK_ENGINE_EID_SIGN_H

#include <cstddef>

#include "tarvik/engine/eid_records.h"

// Bytes the card can be asked to sign in one command.
inline constexpr std::size_t EID_SIGN_INPUT_MAX = 251;

inline constexpr int EID_SIGN_OK = 0;
inline constexpr int EID_SIGN_FAILED = -1;          // an exchange failed, or no memory
inline constexpr int EID_SIGN_REFUSED = 3005;       // no 61xx answer, or input not 1..EID_SIGN_INPUT_MAX bytes
inline constexpr int EID_SIGN_NO_RESPONSE = 3006;   // GET RESPONSE refused

// 0 when `length` bytes can be sent to be signed, else EID_SIGN_REFUSED.
// The transactions ask this before the PIN is presented.
int eid_sign_input_check(std::size_t length);

// Signs challenge->dta (challenge->dta_len bytes). On 0, signature->dta is a
// new buffer by the records' allocation rule (what it held before is freed)
// and dta_len the signature's length (up to 256 bytes). On failure the
// signature record is left as it was; a null record gives -1.
int eidSignChallenge(int handle, const S_EID_DATA* challenge, S_EID_DATA* signature);

#endif
