// File name of the library or program that holds a code address.
#pragma once

namespace orvel {

// The module's file name without directory, or null when the lookup fails or
// the name is 80 characters or longer. The text lives as long as the module
// stays loaded.
const char* module_base_name(const void* code_address) noexcept;

}  // namespace orvel
