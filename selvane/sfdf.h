// SFDF decoding: the insurance data of a SIS card, read through a SAM, as a
// record of 26 fixed-width text fields, and its rendering as NAME=value lines
// or as XML.
//
// Limits: every value is cut to its field's width (at most kWidestField
// bytes); the certificate is kCertificateBytes; the largest rendering, in
// either mode, is shorter than kTextCapacity (2,048) bytes, so a buffer of
// that size holds it with its terminator.
#ifndef SELVANE_SFDF_H
#define SELVANE_SFDF_H

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

#include "selvane/sfdf_tlv.h"

namespace selvane::sfdf {

inline constexpr std::size_t kRowCount = 26;
inline constexpr std::size_t kWidestField = 32;
inline constexpr std::size_t kCertificateBytes = 32;
inline constexpr std::size_t kTextCapacity = 2048;

struct FieldLayout {
    std::string_view name;
    std::size_t width;
};

// The rows in output order; rows 1-6, 7-12 and 13-18 are periods 1, 2 and 3.
inline constexpr std::array<FieldLayout, kRowCount> kFields{{
    {"SFDF_FLAG", 1},
    {"SFDF_INID", 3}, {"SFDF_INUM", 13}, {"SFDF_ICT1", 3}, {"SFDF_ICT2", 3}, {"SFDF_IBDT", 8}, {"SFDF_IEDT", 8},
    {"SFDF_INID", 3}, {"SFDF_INUM", 13}, {"SFDF_ICT1", 3}, {"SFDF_ICT2", 3}, {"SFDF_IBDT", 8}, {"SFDF_IEDT", 8},
    {"SFDF_INID", 3}, {"SFDF_INUM", 13}, {"SFDF_ICT1", 3}, {"SFDF_ICT2", 3}, {"SFDF_IBDT", 8}, {"SFDF_IEDT", 8},
    {"SFDF_CERTIFICATE", 32},
    {"SFDF_READ_DATE", 8},
    {"SFDF_PAY_REG", 1},
    {"SFDF_PER1", 8},
    {"SFDF_PER2", 8},
    {"SFDF_VER_ENSURANCE", 8},
    {"SFDF_FILE_VER", 8},
}};

inline constexpr std::size_t kFlagRow = 0;
inline constexpr std::size_t kCertificateRow = 19;
inline constexpr std::size_t kReadDateRow = 20;
inline constexpr std::size_t kPayRegRow = 21;
inline constexpr std::size_t kPer1Row = 22;
inline constexpr std::size_t kPer2Row = 23;
inline constexpr std::size_t kVerEnsuranceRow = 24;
inline constexpr std::size_t kFileVerRow = 25;

enum class PeriodField : std::size_t { Inid, Inum, Ict1, Ict2, Ibdt, Iedt };

// Row of a field of period 1, 2 or 3.
constexpr std::size_t period_row(unsigned period, PeriodField field) {
    return 1 + 6 * (period - 1) + static_cast<std::size_t>(field);
}

struct Record {
    // The field's text: at most its width, up to its first zero byte.
    std::string_view value(std::size_t row) const;
    // Replaces the field's text with `text` cut to the field's width.
    void set(std::size_t row, std::string_view text);

    std::array<std::array<char, kWidestField>, kRowCount> fields{};
    unsigned selected_period = 0;  // 1 to 3; 0 when the SFDF holds no period
};

// Decodes the SFDF TLV bytes. `certificate` is the one returned with the SFDF
// (its first kCertificateBytes are kept); `read_date` is today as "YYYYMMDD"
// and also chooses the period that holds today.
Record decode(Bytes tlv, Bytes certificate, std::string_view read_date);

enum : int { kTextMode = 0, kXmlMode = 1 };

// The record as NAME=value lines (kTextMode) or XML with "&", "<" and ">"
// escaped (kXmlMode); any other mode gives an empty text.
std::string render(const Record& record, int mode);

}  // namespace selvane::sfdf

#endif
