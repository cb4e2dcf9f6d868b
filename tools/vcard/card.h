// The card model: an ATR, a file tree, an optional memory image, and an
// APDU dispatcher by instruction byte. Profiles install the instructions
// they answer, so a richer card adds handlers rather than rewriting this.
#ifndef KIT_VCARD_CARD_H
#define KIT_VCARD_CARD_H

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tools/vcard/apdu.h"
#include "tools/vcard/file_tree.h"

namespace vcard {

class Card;
using Handler = std::function<Response(Card&, const Command&)>;

// A fault on demand: an APDU whose bytes begin with prefix gets answered
// with data (usually none) and sw (remaining times; negative = always).
struct StatusRule {
    Bytes prefix;
    uint16_t sw = 0;
    int remaining = -1;
    Bytes data;
};

class Card {
public:
    Bytes atr;
    FileTree files;
    Bytes memory;  // storage-card image read with FF B0

    void on(uint8_t cla, uint8_t ins, Handler handler);
    void add_status_rule(StatusRule rule) { rules_.push_back(std::move(rule)); }

    void power_on() { powered_ = true; files.reset(); }
    void power_off() { powered_ = false; }
    void reset() { power_on(); }
    bool powered() const { return powered_; }

    // Answers one APDU: status rules first, then the handler of its CLA and
    // INS (6E00 unknown class, 6D00 unknown instruction, 6700 malformed).
    Bytes process(std::span<const uint8_t> apdu);

private:
    std::map<std::pair<uint8_t, uint8_t>, Handler> handlers_;
    std::vector<StatusRule> rules_;
    bool powered_ = false;
};

// Handlers shared by the profiles.
Response select_by_fid(Card& card, const Command& command);      // 00 A4 02 0C 02 FID
Response read_binary(Card& card, const Command& command);        // 00 B0 with 6Cxx / 6B00 at the end
Response read_memory(Card& card, const Command& command);        // FF B0 hi lo Le

}  // namespace vcard

#endif
