// The two transactions that use the card's private keys after a PIN check:
// authentication (the card signs a 20-byte challenge with the
// authentication key) and signing (the card signs the caller's hash with
// the signature key). Both follow the frame of eid_engine.h.
//
// Results (besides the frame's 3018, 1000, -1 and eidCheckCard's codes):
//   0           done; offline, auth_stat / sign_stat hold 1 (signature good)
//               or -1 (signature wrong)
//   3005        the challenge or hash cannot be signed (empty, or more than
//               EID_SIGN_INPUT_MAX bytes): refused before the PIN is
//               presented, so no PIN try is spent; or the card did not sign
//   3004, 3007 to 3017, SCR_VerifyPIN errors: the PIN step (eid_pin.h)
//   -1, 3006    the signing step (eid_sign.h); -1 also for certificate file
//               names that do not fit
//   1001 to 1029, 1105: a failed controller row (eid_controller_tables.h)
//   other       certificate read, challenge or identifier generation,
//               offline verification, or (online) the closing server
//               exchange's result
//
// Online authentication makes two server exchanges: the first (its output
// function_id 0x2000000 while it runs; its result is not used) brings the
// challenge and the transaction identifier; the second sends the results
// and decides the result. Online signing makes one exchange at the end.
// Certificate files: "<data directory><id>_certN.pem", id the transaction
// identifier or "DEFAULT"; offline, the certificate of the key used is saved
// there when no other row saved it.
#ifndef TARVIK_ENGINE_EID_KEY_TRANSACTIONS_H
#define TARVIK_ENGINE_EID_KEY_TRANSACTIONS_H

#include "tarvik/engine/eid_records.h"

// Function code of the output while the first authentication exchange runs.
inline constexpr int32_t EID_AUTHENT_FIRST_EXCHANGE = 0x2000000;

// input->function_id: AUTHENT_ONLINE or AUTHENT_OFFLINE; input->pincode the
// PIN text (not used with a secure-PIN-entry reader).
int eidAuthentication(int handle, S_EID_FUNCTION_INPUT* input, S_EID_FUNCTION_OUTPUT* output);
// input->function_id: SIGNING_ONLINE or SIGNING_OFFLINE; input->hash1 the
// bytes to sign (20 for a SHA-1 hash), copied into output->sign_hash.
int eidSigningData(int handle, S_EID_FUNCTION_INPUT* input, S_EID_FUNCTION_OUTPUT* output);

#endif
