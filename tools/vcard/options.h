// Command line of kit-vcard:
//   --port N            vpcd port to connect to (default 35963)
//   --host ADDR         vpcd address (default 127.0.0.1)
//   --profile NAME      eid | eid-t1 | sle4418 (default eid)
//   --atr HEX           replaces the profile's ATR
//   --file PATH=HEX     puts a file ("3F00/DF01/4031=0102..."); PATH=@FILE reads the bytes from FILE
//   --memory HEX|@FILE  replaces the memory image
//   --sw PREFIX=SW[:N]  APDUs beginning with PREFIX get status word SW (N times; default always)
//   --answer PREFIX=HEX[:N]  as --sw, the answer HEX being response bytes and status word
//   --key REF=PATH      eid profiles: RSA private key (PEM) for key reference 82 or 83
//   --pin DIGITS        eid profiles: the card's PIN (default 1234; three tries)
//   --cut PREFIX        an APDU beginning with PREFIX closes the link without an answer (card gone)
//   --absent            starts removed (insert with SIGUSR2)
//   --pki DIR           eID files, certificates and the two keys from a testpki folder (eid_pki_profile.h)
//   --variant NAME      a variant of those files (eid_pki_profile.h)
//   --log FILE          APDU log, one line per event
//   --driver-timeout S  gives up (exit 1) when vpcd has not answered for S seconds (default 30)
//   --help              usage on standard output
// A bad command line is refused with one line on standard error (exit 2).
// Signals: SIGUSR1 removes the card, SIGUSR2 inserts it again, SIGHUP writes
// out the log lines held in memory, SIGTERM ends.
#ifndef KIT_VCARD_OPTIONS_H
#define KIT_VCARD_OPTIONS_H

#include <optional>
#include <string>
#include <vector>

#include "tools/vcard/card.h"

namespace vcard {

struct Options {
    std::string host = "127.0.0.1";
    int port = 35963;
    std::string log_path;
    bool start_absent = false;
    std::vector<Bytes> cut_prefixes;
    int driver_timeout_seconds = 30;
};

extern const char* const kUsage;

// True when --help (or -h) stands where an option may.
bool help_requested(int argc, char** argv);

// Builds the card and options; prints the reason and returns nullopt on a bad line.
std::optional<std::pair<Options, Card>> parse_options(int argc, char** argv);

}  // namespace vcard

#endif
