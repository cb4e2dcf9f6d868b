// Another process's turn with the card. pcscd lets a process that waits for
// the card in (its connect, status read or begin) only when it finds the
// card free at one of its polls, about every 200 ms; a process whose
// transactions follow each other with no gap would keep it out for good.
// So once this process has held the card for kHeldOnEnd on end, the first
// begin of its next call leaves the card free for kLeftFree first: a single
// call, and a few calls in a row, never wait, and no call is split. Called
// under the library's lock only.
#ifndef TARVIK_READER_CARD_TURNS_H
#define TARVIK_READER_CARD_TURNS_H

#include <chrono>

namespace tarvik::reader {

inline constexpr std::chrono::milliseconds kHeldOnEnd{2000};
inline constexpr std::chrono::milliseconds kLeftFree{300};

// Before each begin of a PC/SC transaction; may wait kLeftFree.
void leave_card_free_if_held_long();
// After each end of one.
void note_card_let_go();

}  // namespace tarvik::reader

#endif
