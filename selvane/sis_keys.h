// The SIS key table handed to the card-terminal library's data reads.
#ifndef SELVANE_SIS_KEYS_H
#define SELVANE_SIS_KEYS_H

namespace selvane::ctm {

// kKeyCount pointers to kKeyRecordBytes-byte key records, then two nulls.
// The records hold placeholders: the real keys belong to the card issuer and
// take their place in a deployment.
const unsigned char* const* sis_key_table();

}  // namespace selvane::ctm

#endif
