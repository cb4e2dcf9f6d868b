#include "tarvik/engine/sis_decode.h"

#include <array>
#include <cstdio>
#include <cstring>

#include "platform/markup_text.h"
#include "tarvik/engine/text_output.h"

namespace {

enum class SisKind { hex, text, number };

struct SisRow {
    const char* name;
    SisKind kind;
    std::size_t text_len;   // characters of the record field
    std::size_t byte_len;   // bytes in the card area
    std::size_t offset;     // in the card area
    std::size_t field;      // offset of the field in the text record
    bool decoded = true;
};

constexpr std::array<SisRow, 12> kPbdfRows{{
    {"PBDF_FIDN", SisKind::hex, 4, 2, 0, 133},
    {"PBDF_FSKI", SisKind::hex, 2, 1, 2, 0},
    {"PBDF_SSIN", SisKind::hex, 12, 6, 3, 3},
    {"PBDF_DCDT", SisKind::hex, 8, 4, 9, 16},
    {"PBDF_NAME", SisKind::text, 48, 48, 13, 25},
    {"PBDF_SNME", SisKind::text, 24, 24, 61, 74},
    {"PBDF_INIT", SisKind::text, 1, 1, 85, 99},
    {"PBDF_SEXE", SisKind::text, 1, 1, 86, 101},
    {"PBDF_BRDT", SisKind::hex, 8, 4, 87, 103},
    {"PBDF_FILLER", SisKind::hex, 8, 4, 91, 121},
    {"PBDF_FCTF", SisKind::hex, 8, 4, 95, 112},
    {"PBDF_FCSM", SisKind::hex, 2, 1, 99, 130},
}};

// ISDF_FILLER's 7 bytes would need 14 characters in a 7-character field; it
// is never decoded and always renders empty.
constexpr std::array<SisRow, 12> kIsdfRows{{
    {"ISDF_FIDN", SisKind::hex, 4, 2, 0, 70},
    {"ISDF_FSKI", SisKind::hex, 2, 1, 2, 0},
    {"ISDF_SSIN", SisKind::hex, 12, 6, 3, 3},
    {"ISDF_DCDT", SisKind::hex, 8, 4, 9, 16},
    {"ISDF_CNME", SisKind::text, 6, 6, 13, 25},
    {"ISDF_CLAN", SisKind::text, 1, 1, 19, 32},
    {"ISDF_CLGN", SisKind::number, 8, 4, 20, 61},
    {"ISDF_CBDT", SisKind::hex, 8, 4, 24, 34},
    {"ISDF_CEDT", SisKind::hex, 8, 4, 28, 43},
    {"ISDF_FILLER", SisKind::hex, 7, 7, 32, 78, false},
    {"ISDF_FCTF", SisKind::hex, 8, 4, 39, 52},
    {"ISDF_FCSM", SisKind::hex, 2, 1, 43, 75},
}};

unsigned char xor_of(std::span<const unsigned char> bytes) {
    unsigned char x = 0;
    for (unsigned char b : bytes) x = static_cast<unsigned char>(x ^ b);
    return x;
}

std::string number_text(std::span<const unsigned char> bytes) {
    double value = 0;
    for (unsigned char b : bytes) value = value * 256 + b;
    char text[32];
    std::snprintf(text, sizeof text, "%08.0f", value);
    return text;
}

std::string value_text(const SisRow& row, std::span<const unsigned char> area) {
    if (!row.decoded) return {};
    const auto bytes = area.subspan(row.offset, row.byte_len);
    switch (row.kind) {
        case SisKind::hex: return tarvik::text::upper_hex(bytes);
        case SisKind::number: return number_text(bytes);
        case SisKind::text: {
            const auto* chars = reinterpret_cast<const char*>(bytes.data());
            return std::string(chars, strnlen(chars, bytes.size()));
        }
    }
    return {};
}

template <std::size_t N>
SisRows decode_area(const std::array<SisRow, 12>& rows, std::span<const unsigned char> area,
                    unsigned char (&record)[N]) {
    SisRows out;
    std::memset(record, 0, N);
    for (const SisRow& row : rows) {
        std::string value = value_text(row, area);
        // The field keeps its terminating zero: a wider value is not stored.
        if (value.size() <= row.text_len) std::memcpy(record + row.field, value.data(), value.size());
        out.emplace_back(row.name, std::move(value));
    }
    return out;
}

std::string lines_of(const SisRows& rows) {
    std::string out;
    for (const auto& [name, value] : rows) {
        out += name + "=";
        kit::platform::append_line_value(out, value);
        out += "\n";
    }
    return out;
}

std::string xml_of(const SisRows& rows, const char* element) {
    std::string out = std::string("<") + element + ">\n";
    for (const auto& [name, value] : rows) {
        out += "<" + name + ">";
        kit::platform::append_xml_escaped(out, value);
        out += "</" + name + ">\n";
    }
    out += std::string("</") + element + ">\n";
    return out;
}

bool fits_after(const char* out, std::size_t capacity, std::size_t length) {
    if (out == nullptr || capacity == 0) return false;
    const std::size_t used = strnlen(out, capacity);
    return used < capacity && length < capacity - used;
}

int append_both(const std::string& isdf_text, char* isdf_out, std::size_t isdf_capacity, const std::string& pbdf_text,
                char* pbdf_out, std::size_t pbdf_capacity) {
    if (!fits_after(isdf_out, isdf_capacity, isdf_text.size()) ||
        !fits_after(pbdf_out, pbdf_capacity, pbdf_text.size()))
        return SIS_OUTPUT_TOO_SMALL;
    tarvik::text::append_bounded(pbdf_out, pbdf_capacity, pbdf_text);
    tarvik::text::append_bounded(isdf_out, isdf_capacity, isdf_text);
    return SIS_OK;
}

}  // namespace

int sis_check_bytes(std::span<const unsigned char, SIS_PBDF_SIZE> pbdf,
                    std::span<const unsigned char, SIS_ISDF_SIZE> isdf) {
    if (xor_of(pbdf.first(SIS_PBDF_SIZE - 1)) != pbdf[SIS_PBDF_SIZE - 1]) return SIS_PBDF_CHECK_FAILED;
    if (xor_of(isdf.first(SIS_ISDF_SIZE - 1)) != isdf[SIS_ISDF_SIZE - 1]) return SIS_ISDF_CHECK_FAILED;
    return SIS_OK;
}

SisDecoded sis_decode(std::span<const unsigned char, SIS_PBDF_SIZE> pbdf,
                      std::span<const unsigned char, SIS_ISDF_SIZE> isdf) {
    SisDecoded decoded;
    decoded.pbdf = decode_area(kPbdfRows, pbdf, decoded.pbdf_record);
    decoded.isdf = decode_area(kIsdfRows, isdf, decoded.isdf_record);
    return decoded;
}

int sis_write_outputs(const SisDecoded& decoded, int type, char* isdf_out, std::size_t isdf_capacity, char* pbdf_out,
                      std::size_t pbdf_capacity) {
    switch (type) {
        case SIS_OUTPUT_LINES:
            return append_both(lines_of(decoded.isdf), isdf_out, isdf_capacity, lines_of(decoded.pbdf), pbdf_out,
                               pbdf_capacity);
        case SIS_OUTPUT_XML:
            return append_both(xml_of(decoded.isdf, "SIS_ISDF"), isdf_out, isdf_capacity,
                               xml_of(decoded.pbdf, "SIS_PBDF"), pbdf_out, pbdf_capacity);
        case SIS_OUTPUT_RECORDS:
            if (isdf_out == nullptr || pbdf_out == nullptr || isdf_capacity < SIS_ISDF_RECORD_SIZE ||
                pbdf_capacity < SIS_PBDF_RECORD_SIZE)
                return SIS_OUTPUT_TOO_SMALL;
            std::memcpy(pbdf_out, decoded.pbdf_record, SIS_PBDF_RECORD_SIZE);
            std::memcpy(isdf_out, decoded.isdf_record, SIS_ISDF_RECORD_SIZE);
            return SIS_OK;
        default:
            return SIS_OK;
    }
}
