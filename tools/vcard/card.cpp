#include "tools/vcard/card.h"

#include <algorithm>

namespace vcard {

void Card::on(uint8_t cla, uint8_t ins, Handler handler) { handlers_[{cla, ins}] = std::move(handler); }

Bytes Card::process(std::span<const uint8_t> apdu) {
    for (auto& rule : rules_) {
        if (rule.remaining == 0 || apdu.size() < rule.prefix.size()) continue;
        if (!std::equal(rule.prefix.begin(), rule.prefix.end(), apdu.begin())) continue;
        if (rule.remaining > 0) --rule.remaining;
        return Response{rule.data, rule.sw}.encode();
    }
    const auto command = parse_command(apdu);
    if (!command) return Response::status(kSwWrongLength).encode();
    const auto found = handlers_.find({command->cla, command->ins});
    if (found != handlers_.end()) return found->second(*this, *command).encode();
    const bool class_known = std::any_of(handlers_.begin(), handlers_.end(),
                                         [&](const auto& entry) { return entry.first.first == command->cla; });
    return Response::status(class_known ? kSwInsNotSupported : kSwClaNotSupported).encode();
}

Response select_by_fid(Card& card, const Command& command) {
    // P1 01 (a directory) and 02 (a file) both select by FID here; P2 0C asks
    // for no reply data, 00 for the control information, which is not kept.
    const bool by_fid = command.p1 == 0x01 || command.p1 == 0x02;
    if (!by_fid || (command.p2 != 0x0C && command.p2 != 0x00)) return Response::status(kSwWrongP1P2);
    if (command.data.size() != 2) return Response::status(kSwWrongLength);
    const auto fid = static_cast<uint16_t>(command.data[0] << 8 | command.data[1]);
    return Response::status(card.files.select(fid) ? kSwOk : kSwFileNotFound);
}

Response read_binary(Card& card, const Command& command) {
    const FileNode* file = card.files.current_file();
    if (!file) return Response::status(kSwNoCurrentEf);
    const std::size_t offset = static_cast<std::size_t>(command.p1 & 0x7F) << 8 | command.p2;
    const std::size_t size = file->content.size();
    if (offset >= size) return Response::status(kSwWrongP1P2);
    const std::size_t wanted = command.le.value_or(256);
    const std::size_t left = size - offset;
    // Asking past the end gets the exact count to ask for again.
    if (wanted > left) return Response::status(static_cast<uint16_t>(0x6C00 | (left & 0xFF)));
    const auto begin = file->content.begin() + static_cast<std::ptrdiff_t>(offset);
    return Response{Bytes(begin, begin + static_cast<std::ptrdiff_t>(wanted)), kSwOk};
}

Response read_memory(Card& card, const Command& command) {
    const std::size_t address = static_cast<std::size_t>(command.p1) << 8 | command.p2;
    const std::size_t wanted = command.le.value_or(256);
    if (address + wanted > card.memory.size()) return Response::status(kSwWrongP1P2);
    const auto begin = card.memory.begin() + static_cast<std::ptrdiff_t>(address);
    return Response{Bytes(begin, begin + static_cast<std::ptrdiff_t>(wanted)), kSwOk};
}

}  // namespace vcard
