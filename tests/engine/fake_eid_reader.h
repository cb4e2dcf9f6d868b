// A reader layer of the test's own with an eID card in it. It serves the
// card's files to SELECT and READ BINARY as the card does (9000 blocks, 6Cxx
// for the last part, 6B00 past the end), answers the PIN and signing
// commands, and logs every call a test may want to see, pauses included.
// Linked instead of the real reader layer.
#ifndef TESTS_ENGINE_FAKE_EID_READER_H
#define TESTS_ENGINE_FAKE_EID_READER_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

struct FakeEidCard {
    std::map<int, std::vector<unsigned char>> files;  // file identifier -> content
    // Commands whose hex text starts with the key get that status word.
    std::map<std::string, uint16_t> refuse;
    // READ BINARY of these files (by identifier) gets that status word.
    std::map<int, uint16_t> refuse_read;
    // Commands whose hex text starts with one of these: the exchange fails.
    std::vector<std::string> cut;
    int start_result = 0;  // HCL_card_Start_transaction's
    // The calls, in order: "status", "begin MS", "end", "sleep MS", and one
    // "COMMAND SW" (hex; "COMMAND cut" for a failed exchange) per exchange.
    std::vector<std::string> log;
    int selected = 0;
};

// The card of the process, emptied (no files, no faults, empty log).
FakeEidCard& fake_eid_card();
void reset_fake_eid_card();

#endif
