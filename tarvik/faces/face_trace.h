// Trace lines of the faces: level 8, under the name the host knows the
// call by.
#ifndef TARVIK_FACES_FACE_TRACE_H
#define TARVIK_FACES_FACE_TRACE_H

#include "orvel.h"

inline constexpr unsigned FACE_TRACE_LEVEL = 8;

#define FACE_TRACE(function, ...) __tracef(FACE_TRACE_LEVEL, function, __FILE__, __LINE__, __VA_ARGS__)

#endif
