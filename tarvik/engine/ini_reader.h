// A small reader of INI-style text files: "[section]" headers, key=value
// lines, "#" and ";" comment lines, continuation lines (a physical line
// ending in a backslash goes on with the next one) and backslash escapes.
// Section names compare case-sensitively, keys without regard to case.
//
// Limits: a logical line holds at most INI_LINE_MAX - 1 characters (a longer
// one is skipped whole, continuation lines included); at most
// INI_MAX_REQUESTS value requests per call. Texts returned through char**
// are heap copies; free them with free(), lists with ini_free_list.
#ifndef TARVIK_ENGINE_INI_READER_H
#define TARVIK_ENGINE_INI_READER_H

#include <cstddef>
#include <cstdio>
#include <span>

inline constexpr std::size_t INI_LINE_MAX = 4096;
inline constexpr std::size_t INI_MAX_REQUESTS = 80;
inline constexpr int INI_UNESCAPE = 1;  // request flag: resolve backslash escapes in the value

// One value wanted from a section. Formats:
//   "%s"  copies the value as text; `capacity` is the size of the destination
//         in bytes, and a value that does not fit (with its terminator) fails
//         the call with -1 instead of being cut;
//   "%S"  stores the address of a heap copy (free()) in a char* destination
//         (a key met twice frees the first copy);
//   "%B"  stores 1 for "yes", "y", "true", "1" and 0 for "no", "n", "false",
//         "0" (any case) in an int destination; other values fail with -1;
//   one numeric scanf conversion ("%d", "%lu", "%lf", ...) into a destination
//   of at least the conversion's size; other formats fail with -1.
struct IniRequest {
    const char* key;
    const char* format;
    void* destination;
    std::size_t capacity;
    int flags;
};

// Reads the requested values of the section (null: from the file's start up
// to the first header). Result: the number of values stored (a key present
// twice is stored and counted twice); 0 when the section is missing; -1 on
// error (too many requests, file not readable, unusable request or value).
// ini_last_error tells which keys were not found.
int ini_get_values(const char* file_name, const char* section, std::span<const IniRequest> requests);

// Number of sections, names in *sections (null when none); -1 on error.
int ini_get_sections(const char* file_name, char*** sections);

// Number of logical lines of the section (null: up to the first header), each
// a heap copy in *lines, escapes resolved with INI_UNESCAPE; 0 when the
// section is missing; -1 on error.
int ini_get_section_lines(const char* file_name, const char* section, char*** lines, int flags);

// Splits "key = value" at the first "=": 0 with heap copies of the key
// (trailing blanks and tabs removed) and the value; -1 when there is no "=".
int ini_split_line(const char* text, char** key, char** value);

// Frees each non-null text of the list and the list.
void ini_free_list(char** list, int count);

// The text of the last failure (emptied by each ini_get_values call).
const char* ini_last_error();

// Reads one logical line (continuations joined, comments and lines longer
// than size - 1 characters skipped) into buffer of `size` bytes; the buffer, or null at the end of the file with nothing
// read, on a read error or when size is below 2.
char* fgetll(char* buffer, int size, std::FILE* file);

// 0 with the file positioned after the header of the section, 1 when the
// file ends first, -1 on a read error.
int ini_find_section(std::FILE* file, const char* section);

// 1 when the first non-blank character is "#" or ";", else 0.
int ini_is_comment(const char* text);

// Writes source to destination (capacity bytes, terminator included) with
// "\\", "\"", "\E", "\f", "\n", "\r", "\t" resolved; a backslash before any
// other character stays; a lone backslash at the end is dropped. Output that
// does not fit is cut at capacity - 1 characters.
void ini_unescape(char* destination, std::size_t capacity, const char* source);

#endif
