// Finding the secure-PIN-entry reader library a host names.
#ifndef TARVIK_FACES_SPE_LIBRARY_SEARCH_H
#define TARVIK_FACES_SPE_LIBRARY_SEARCH_H

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr std::size_t SPE_LIBRARY_NAME_MAX = 251;  // characters; "<name>.dll" fits 256 bytes
inline constexpr std::size_t SPE_LIBRARY_PATH_MAX = 4095;

// The full path of the platform's file for "<name>.dll" (libname.so) in the
// first absolute directory of PATH (":"-separated, quotes dropped) that
// holds it; never in the working directory or a relative PATH entry. Empty
// when there is none, or the name is empty, longer than
// SPE_LIBRARY_NAME_MAX, or holds "/" or "..".
std::string find_spe_library(std::string_view name);

#endif
