// The eID card's files made from a test PKI folder (tools/testpki): the
// identity, address and photo files with their signatures under 3F00/DF01
// and the five certificates (DER) under 3F00/DF00.
#ifndef KIT_VCARD_EID_PKI_PROFILE_H
#define KIT_VCARD_EID_PKI_PROFILE_H

#include <string>
#include <string_view>

#include "tools/vcard/card.h"

namespace vcard {

// Variants (empty: the good card):
//   tampered-identity  one byte of the identity file changed
//   tampered-address   one byte of the address file changed
//   wrong-photo-hash   a photo whose SHA-1 differs from the identity file's
//   foreign-root       certificate 6 is another root of the same name
//   selfsigned-rrn     certificates 8 and 6 are one self-signed certificate
//                      over the national-register key
//   selfsigned-ca      certificate 4 is a self-signed CA of its own that
//                      issued certificates 2 and 3; certificate 6 is the root
//   big-photo          a photo of 5,000 bytes
//   zero-tail          photo hash and identity signature end in a zero byte
//   tag0-hash-00       identity file begins with a tag-0 item, photo hash
//                      ends in one zero byte
//   tag0-hash-0000     the same with two zero bytes
// false when a file cannot be read or the variant is unknown.
bool install_eid_pki(Card& card, const std::string& folder, std::string_view variant);

}  // namespace vcard

#endif
