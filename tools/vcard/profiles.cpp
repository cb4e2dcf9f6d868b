#include "tools/vcard/profiles.h"

namespace vcard {

namespace {

constexpr std::size_t kMemorySize = 1024;

// T=0 card, eight historical bytes "KITEID01".
const Bytes kEidAtr{0x3B, 0x98, 0x13, 0x40, 0x0A, 0x4B, 0x49, 0x54, 0x45, 0x49, 0x44, 0x30, 0x31};
// Synchronous memory card as PC/SC presents it.
const Bytes kSle4418Atr{0x3B, 0x04, 0x92, 0x23, 0x10, 0x91};

// T=1 only: TD1 announces T=0 for TD2, TD2 gives T=1; TCK closes it.
Bytes t1_atr() {
    Bytes atr{0x3B, 0x88, 0x80, 0x01, 0x4B, 0x49, 0x54, 0x54, 0x31, 0x43, 0x44, 0x31};
    uint8_t tck = 0;
    for (std::size_t i = 1; i < atr.size(); ++i) tck ^= atr[i];
    atr.push_back(tck);
    return atr;
}

void install_eid_files(Card& card) {
    card.files.put("3F00/DF01/4031", default_file_content(0x4031, 300));  // identity
    card.files.put("3F00/DF01/4033", default_file_content(0x4033, 120));  // address
    card.files.put("3F00/DF01/4035", default_file_content(0x4035, 600));  // photo
    card.files.put("3F00/DF00/5031", default_file_content(0x5031, 64));
    card.on(0x00, 0xA4, select_by_fid);
    card.on(0x00, 0xB0, read_binary);
}

}  // namespace

uint8_t default_memory_byte(std::size_t address) { return static_cast<uint8_t>((address * 7 + 3) & 0xFF); }

Bytes default_file_content(uint16_t fid, std::size_t size) {
    Bytes content(size);
    for (std::size_t i = 0; i < size; ++i) content[i] = static_cast<uint8_t>((fid + i * 13) & 0xFF);
    return content;
}

std::optional<Card> make_profile(std::string_view name) {
    Card card;
    if (name == "eid" || name == "eid-t1") {
        card.atr = name == "eid" ? kEidAtr : t1_atr();
        install_eid_files(card);
        return card;
    }
    if (name == "sle4418") {
        card.atr = kSle4418Atr;
        card.memory.resize(kMemorySize);
        for (std::size_t i = 0; i < kMemorySize; ++i) card.memory[i] = default_memory_byte(i);
        card.on(0xFF, 0xB0, read_memory);
        return card;
    }
    return std::nullopt;
}

}  // namespace vcard
