// Renderings of the identity file (4031) and the address file (4033) as XML
// or as NAME=value lines, the transaction XML, and hexadecimal text to bytes.
//
// The files are items of {tag: 1 byte, length: 1 byte, value}. Items are read
// only within dta_len: a file that ends early renders the items that are
// whole and stops there. A record with no dta renders no items.
//
// Every text function empties the output first and never writes more than
// `capacity` bytes (terminator included). Results:
//   0   the whole text was written;
//  -1   the text did not fit in `capacity` (the output is left empty), or, for
//       generateTransactionXml, the identifier record is absent or empty.
// Sizes that always suffice: RENDER_ID_RN_MAX for the identity file,
// RENDER_ID_ADDRESS_MAX for the address file (XML with every value escaped).
#ifndef TARVIK_ENGINE_RENDERINGS_H
#define TARVIK_ENGINE_RENDERINGS_H

#include <cstddef>

#include "tarvik/engine/eid_records.h"

inline constexpr int RENDER_LINES = 0;  // NAME=value lines, each ending in "\n"
inline constexpr int RENDER_XML = 1;    // <ID_RN>...</ID_RN>, values escaped
// Largest outputs: 17 (or 3) items of at most 255 value bytes, each byte at
// most 5 characters once escaped, plus names and markup.
inline constexpr std::size_t RENDER_ID_RN_MAX = 17 * (2 * 24 + 5 + 255 * 5) + 32;
inline constexpr std::size_t RENDER_ID_ADDRESS_MAX = 3 * (2 * 24 + 5 + 255 * 5) + 32;
inline constexpr std::size_t RENDER_TRANSACTION_XML_MAX = 64 + 32 * 5;

// Identity file: the first 17 items; any format other than 0 and 1 gives the
// empty text and 0.
int generateIdRnText(const S_EID_DATA* id_rn, int format, char* text, std::size_t capacity);
// Address file: the first 3 items.
int generateIdAddressText(const S_EID_DATA* id_address, int format, char* text, std::size_t capacity);
// "<eid_card><id_transaction>ID</id_transaction></eid_card>", ID being at most
// 32 characters of dta up to its first zero byte.
int generateTransactionXml(const S_EID_DATA* id_transaction, char* text, std::size_t capacity);

// Writes exactly `count` bytes from pairs of hexadecimal digits, high nibble
// first; characters missing at the end give zero nibbles. No validation.
void hexToData(unsigned char* data, const char* hex, unsigned int count);
// '0'-'9' give 0-9; any other character its upper-case code minus 55.
int hexDigitValue(char c);

#endif
