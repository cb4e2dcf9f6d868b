// The visitors read: the eID identity (4031) and address (4033) files by
// direct SELECT and READ BINARY commands through tarvik's raw exchange, no
// PIN and no signature check, rendered here with name tables of its own.
//
// Both files are read in one call of tarvik (tarvik_with_card): under its
// lock, so no other thread's command comes between a SELECT and its READ
// BINARY, and inside one PC/SC transaction, so no other process's does. The
// card's status is read with the transaction's begin: a card another
// process holds gives 2 once the begin's 10 s have passed.
//
// Results: 1 success; a status word other than 0x9000 (the first met); the
// failure of tarvik's status read, transaction begin (2: the card was not
// granted in time) or cardCommand_T0_T1; kNoDevice; kNoCard when the status
// read reports the card removed or the reader unavailable (its own code for
// that, 1, would read as success).
#ifndef SELVANE_VISITORS_READ_H
#define SELVANE_VISITORS_READ_H

#include <cstddef>
#include <string>
#include <string_view>

namespace selvane::visitors {

inline constexpr int kOk = 1;
inline constexpr int kStatusNoCard = 1;  // getCardStatus: card removed or reader unavailable
inline constexpr int kNoCard = -99;
inline constexpr int kSwOk = 0x9000;
inline constexpr std::size_t kReadBufferSize = 8192;  // a file is cut here
inline constexpr int kMaxChunks = 100;
inline constexpr int kPauseMs = 20;  // after every exchange

enum class ItemKind { Text = 3, Hex = 4, Label = 8 };
struct ItemName {
    unsigned tag;
    std::string_view name;
    ItemKind kind;
};

// One exchange: header (5 bytes) and data out; the response (status word
// excluded, at most `capacity` bytes kept) comes back in `response`. The
// status word, or tarvik's failure.
int exchange(int handle, const unsigned char (&header)[5], std::string_view data, std::string* response);

// Reads the selected file in chunks of `chunk` bytes into file. kOk or the
// failure met; the file stops at kReadBufferSize bytes.
int read_file(int handle, unsigned chunk, std::string& file);

// Renders the first `items` items of file (tag, length, value; bytes past
// its end read as zeros) with the table into out, mode 1 XML (values
// escaped), 0 NAME=value lines.
void render_identity(std::string_view file, int mode, std::string& out);
void render_address(std::string_view file, int mode, std::string& out);

// The whole read; texts are appended, each buffer kept within its size.
int read(int handle, int mode, char* identity, std::size_t identity_size, char* address,
         std::size_t address_size);

}  // namespace selvane::visitors

#endif
