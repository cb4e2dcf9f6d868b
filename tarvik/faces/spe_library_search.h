// Finding the secure-PIN-entry reader library a host names.
#ifndef TARVIK_FACES_SPE_LIBRARY_SEARCH_H
#define TARVIK_FACES_SPE_LIBRARY_SEARCH_H

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr std::size_t SPE_LIBRARY_NAME_MAX = 251;  // characters; "<name>.dll" fits 256 bytes
inline constexpr std::size_t SPE_LIBRARY_PATH_MAX = 4095;

// The full path of the platform's file for "<name>.dll" (libname.so) in the
// current directory, else in the first directory of PATH (":"-separated,
// quotes dropped) that holds it; empty when there is none, or the name is
// empty or longer than SPE_LIBRARY_NAME_MAX.
std::string find_spe_library(std::string_view name);

#endif
