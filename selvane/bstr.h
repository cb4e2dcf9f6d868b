// BSTR results of the BASIC face (the type and the exported allocator are in
// selvane.h): a 4-byte byte count, the bytes, then two zero bytes.
#ifndef SELVANE_BSTR_H
#define SELVANE_BSTR_H

#include <cstdint>
#include <string_view>

#include "selvane.h"

namespace selvane::bstr {

// Frees what *slot holds, then stores a new BSTR of `bytes`. false (and
// *slot untouched) when memory runs out.
bool replace(BSTR* slot, std::string_view bytes);

// The byte count stored before a BSTR's bytes; 0 for null.
std::uint32_t byte_length(const char* bstr);

}  // namespace selvane::bstr

#endif
