#include "tarvik/engine/renderings.h"

#include <array>
#include <cctype>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "orvel.h"
#include "platform/markup_text.h"
#include "tarvik/engine/text_output.h"

namespace {

enum class ValueKind { binary, text };

struct NameRow {
    unsigned char tag;
    const char* name;
    ValueKind kind;
};

constexpr std::array<NameRow, 18> kIdentityRows{{
    {0, "FILE_STRUCT-VERSION", ValueKind::binary},
    {1, "CARD_NUMBER", ValueKind::text},
    {2, "CHIP_NUMBER", ValueKind::binary},
    {3, "START_DATE", ValueKind::text},
    {4, "END_DATE", ValueKind::text},
    {5, "DELIVERY_MUNICIPALITY", ValueKind::text},
    {6, "NATIONAL_NUMBER", ValueKind::text},
    {7, "NAME", ValueKind::text},
    {8, "FIRST_NAMES", ValueKind::text},
    {9, "INITIAL_3_NAME", ValueKind::text},
    {10, "NATIONALITY", ValueKind::text},
    {11, "BIRTH_LOCATION", ValueKind::text},
    {12, "BIRTH_DATE", ValueKind::text},
    {13, "SEX", ValueKind::text},
    {14, "NOBLE_CONDITION", ValueKind::text},
    {15, "DOC_TYPE", ValueKind::text},
    {16, "SPECIAL_STATUS", ValueKind::text},
    {17, "HASH_PHOTO", ValueKind::binary},
}};

constexpr std::array<NameRow, 4> kAddressRows{{
    {0, "FILE_STRUCT-VERSION", ValueKind::binary},
    {1, "STREET_AND_NUMBER", ValueKind::text},
    {2, "ZIPCODE", ValueKind::text},
    {3, "MUNICIPALITY", ValueKind::text},
}};

struct FileLayout {
    std::span<const NameRow> rows;
    int item_count;  // one fewer than the rows: the cards' files carry no tag-0 item
    const char* element;
};

constexpr FileLayout kIdentity{kIdentityRows, 17, "ID_RN"};
constexpr FileLayout kAddress{kAddressRows, 3, "ID_ADDRESS"};

struct Item {
    unsigned char tag;
    std::span<const unsigned char> value;
};

// Reads the item at pos when its header and value lie within the file.
std::optional<Item> read_item(std::span<const unsigned char> file, std::size_t& pos) {
    if (file.size() - pos < 2) return std::nullopt;
    const unsigned char tag = file[pos];
    const std::size_t length = file[pos + 1];
    if (file.size() - pos - 2 < length) return std::nullopt;
    Item item{tag, file.subspan(pos + 2, length)};
    pos += 2 + length;
    return item;
}

const NameRow* find_row(std::span<const NameRow> rows, unsigned char tag) {
    for (const NameRow& row : rows)
        if (row.tag == tag) return &row;
    return nullptr;
}

std::string value_text(const NameRow& row, std::span<const unsigned char> value) {
    if (row.kind == ValueKind::binary) return tarvik::text::upper_hex(value);
    // Text values end at their first zero byte.
    const auto* chars = reinterpret_cast<const char*>(value.data());
    return std::string(chars, strnlen(chars, value.size()));
}

std::span<const unsigned char> file_bytes(const S_EID_DATA* file) {
    if (file == nullptr || file->dta == nullptr) return {};
    return {file->dta, file->dta_len};
}

std::string render(const FileLayout& layout, std::span<const unsigned char> file, int format) {
    std::string out;
    if (format == RENDER_XML) out += std::string("<") + layout.element + ">";
    std::size_t pos = 0;
    for (int i = 0; i < layout.item_count; ++i) {
        const auto item = read_item(file, pos);
        if (!item) break;
        const NameRow* row = find_row(layout.rows, item->tag);
        if (row == nullptr) continue;
        const std::string value = value_text(*row, item->value);
        if (format == RENDER_XML) {
            out += std::string("<") + row->name + ">";
            kit::platform::append_xml_escaped(out, value);
            out += std::string("</") + row->name + ">";
        } else {
            out += std::string(row->name) + "=";
            kit::platform::append_line_value(out, value);
            out += "\n";
        }
    }
    if (format == RENDER_XML) out += std::string("</") + layout.element + ">";
    return out;
}

int render_into(const FileLayout& layout, const S_EID_DATA* file, int format, char* text, std::size_t capacity) {
    if (format != RENDER_XML && format != RENDER_LINES) {
        tarvik::text::replace_bounded(text, capacity, "");
        return 0;
    }
    return tarvik::text::replace_bounded(text, capacity, render(layout, file_bytes(file), format)) ? 0 : -1;
}

}  // namespace

int generateIdRnText(const S_EID_DATA* id_rn, int format, char* text, std::size_t capacity) {
    return render_into(kIdentity, id_rn, format, text, capacity);
}

int generateIdAddressText(const S_EID_DATA* id_address, int format, char* text, std::size_t capacity) {
    return render_into(kAddress, id_address, format, text, capacity);
}

int generateTransactionXml(const S_EID_DATA* id_transaction, char* text, std::size_t capacity) {
    static constexpr const char* kFn = "generateTransactionXml";
    tarvik::text::replace_bounded(text, capacity, "");
    if (id_transaction == nullptr) {
        __tracef(ORVEL_DEBUG, kFn, __FILE__, __LINE__,
                 "ERROR in generateTransactionXml(...), S_EID_DATA * id_transaction is NULL");
        return -1;
    }
    if (id_transaction->dta == nullptr || id_transaction->dta_len == 0) {
        __tracef(ORVEL_DEBUG, kFn, __FILE__, __LINE__,
                 "ERROR in generateTransactionXml(...), S_EID_DATA * id_transaction is empty");
        return -1;
    }
    const auto* chars = reinterpret_cast<const char*>(id_transaction->dta);
    const std::size_t limit = id_transaction->dta_len < 32 ? id_transaction->dta_len : 32;
    std::string xml = "<eid_card><id_transaction>";
    kit::platform::append_xml_escaped(xml, std::string_view(chars, strnlen(chars, limit)));
    xml += "</id_transaction></eid_card>";
    return tarvik::text::replace_bounded(text, capacity, xml) ? 0 : -1;
}

void hexToData(unsigned char* data, const char* hex, unsigned int count) {
    if (data == nullptr) return;
    const std::size_t n = hex == nullptr ? 0 : std::strlen(hex);
    for (std::size_t i = 0; i < count; ++i) {
        unsigned int byte = 0;
        if (2 * i < n) {
            byte = static_cast<unsigned int>(hexDigitValue(hex[2 * i])) << 4;
            if (2 * i + 1 < n) byte |= static_cast<unsigned int>(hexDigitValue(hex[2 * i + 1]));
        }
        data[i] = static_cast<unsigned char>(byte & 0xFFu);
    }
}

int hexDigitValue(char c) {
    const int upper = std::toupper(static_cast<unsigned char>(c));
    if (upper >= '0' && upper <= '9') return upper - '0';
    return upper - 55;
}
