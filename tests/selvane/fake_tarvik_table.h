// A tarvik of the test's own, installed in selvane's binding table: it
// knows one device handle, records what it was called with, and answers
// what the test sets.
#ifndef KIT_TESTS_SELVANE_FAKE_TARVIK_TABLE_H
#define KIT_TESTS_SELVANE_FAKE_TARVIK_TABLE_H

#include <functional>
#include <string>
#include <vector>

#include "selvane/tarvik_binding.h"

namespace fake {

inline constexpr int kHandle = 0x1A2B;

struct Tarvik {
    // Export names, in order ("tarvik_with_card hold" when it holds the
    // card, then "card held" and "card let go" around its task; not when it
    // only reads the reader object).
    std::vector<std::string> calls;
    std::vector<int> handles;           // the handle of each call that took one
    std::string reader_list = "<?xml version=\"1.0\" encoding=\"iso-8859-1\"?><PCSC_Get_devices></PCSC_Get_devices>";
    int list_result = 0;
    int open_result = kHandle;
    std::string opened;                 // the reader name openDevice got
    int status_result = 0;              // getCardStatus, and the status read of tarvik_with_card
    int begin_result = 0;               // the begin of tarvik_with_card
    Pcsc_Common* reader = nullptr;      // what tarvik_with_card hands its task (null: an empty object)
    int read_result = 0;
    std::vector<int> read_args;         // format, want address, want identity, want photo
    std::string start_url;
    std::vector<int> masks;
    std::string pin;
    // cardCommand_T0_T1: command bytes in, response bytes and status word out.
    std::function<int(const std::string& apdu, std::string& response, unsigned short& sw)> card;
};

// The fake in use; install() empties it and fills selvane's table.
Tarvik& state();
void install();

}  // namespace fake

#endif
