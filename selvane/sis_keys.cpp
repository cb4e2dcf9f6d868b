#include "selvane/sis_keys.h"

#include <array>

#include "selvane/ctm_interface.h"

namespace selvane::ctm {

namespace {

using KeyRecord = std::array<unsigned char, kKeyRecordBytes>;

// Placeholder record k: its number, then a fixed filler.
constexpr std::array<KeyRecord, kKeyCount> make_records() {
    std::array<KeyRecord, kKeyCount> records{};
    for (std::size_t k = 0; k < kKeyCount; ++k) {
        records[k][0] = static_cast<unsigned char>(k + 1);
        for (std::size_t i = 1; i < kKeyRecordBytes; ++i) records[k][i] = 0x5A;
    }
    return records;
}

constexpr std::array<KeyRecord, kKeyCount> kRecords = make_records();

constexpr std::array<const unsigned char*, kKeyTableSlots> make_table() {
    std::array<const unsigned char*, kKeyTableSlots> table{};
    for (std::size_t k = 0; k < kKeyCount; ++k) table[k] = kRecords[k].data();
    return table;
}

constexpr std::array<const unsigned char*, kKeyTableSlots> kTable = make_table();

}  // namespace

const unsigned char* const* sis_key_table() { return kTable.data(); }

}  // namespace selvane::ctm
