// State the two faces share for the life of the process (zero at load,
// unguarded: one call at a time).
#ifndef TARVIK_FACES_FACE_STATE_H
#define TARVIK_FACES_FACE_STATE_H

#include <cstddef>

inline constexpr std::size_t FACE_READER_NAME_SIZE = 1024;
inline constexpr std::size_t FACE_SESSION_ID_LENGTH = 32;

// The reader the plain openDevice was last given (read by the Portuguese
// read); at most FACE_READER_NAME_SIZE - 1 characters.
extern char selected_reader_name[FACE_READER_NAME_SIZE];

#endif
