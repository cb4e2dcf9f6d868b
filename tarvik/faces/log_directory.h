// Where the faces put their log files, and the expansion of "%NAME%"
// environment references in path texts.
#ifndef TARVIK_FACES_LOG_DIRECTORY_H
#define TARVIK_FACES_LOG_DIRECTORY_H

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr std::size_t LOG_DIRECTORY_SIZE = 260;  // bytes of a directory text, terminator included

// "%NAME%" replaced by the variable's value; an unset variable stays as
// written, except USERNAME, which falls back to USER.
std::string expand_environment(std::string_view text);

// Fills directory (LOG_DIRECTORY_SIZE bytes) with the expansion of
// "%APPDATA%" when that names a directory this process can enter, else
// with the current directory. The current directory is never changed.
// Returns 0, or -1 for a null buffer or a directory text that does not fit
// (the buffer is then the empty string).
int getLogDirectory(char* directory);

// The log directory as the faces hand it to the engine, which adds no
// separator before its file names: with its trailing "/", or "./" (the
// current directory) when getLogDirectory fails.
std::string face_log_directory();

// Joins a directory and a name with "/" (none added after a trailing "/");
// empty when the directory is empty (never a path at the filesystem root)
// or when the result would not fit in capacity bytes (terminator included).
std::string join_bounded(std::string_view directory, std::string_view name, std::size_t capacity);

#endif
