#include "selvane/sfdf.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "orvel.h"
#include "selvane/insurance_period.h"
#include "platform/markup_text.h"

namespace selvane::sfdf {
namespace {

constexpr std::uint8_t kFileVersionTag = 0x81;
constexpr std::uint8_t kFlagTag = 0x80;
constexpr std::uint8_t kPer1Tag = 0x81;
constexpr std::uint8_t kPer2Tag = 0x82;
constexpr std::uint8_t kBeginDateTag = 0x84;
constexpr std::uint8_t kEndDateTag = 0x85;

struct PeriodTag {
    PeriodField field;
    std::uint8_t tag;
};
constexpr std::array<PeriodTag, 6> kPeriodTags{{
    {PeriodField::Iedt, kEndDateTag},
    {PeriodField::Ibdt, kBeginDateTag},
    {PeriodField::Inid, 0x80},
    {PeriodField::Inum, 0x81},
    {PeriodField::Ict1, 0x82},
    {PeriodField::Ict2, 0x83},
}};
constexpr std::string_view kNoCategory = "000";

std::string_view as_text(Bytes bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The first two characters of the file version read as a hexadecimal number,
// in decimal, two characters kept.
std::string insurance_version(std::string_view file_version) {
    int value = 0;
    for (const char c : file_version.substr(0, 2)) {
        const int digit = hex_digit(c);
        if (digit < 0) {
            break;
        }
        value = value * 16 + digit;
    }
    std::string text = std::to_string(value);
    if (text.size() < 2) {
        text.insert(0, 1, '0');
    }
    return text.substr(0, 2);
}

// A two-character flag is written by its second character.
std::string_view flag_of(std::optional<Bytes> value) {
    if (!value || value->empty()) {
        return "0";
    }
    const std::string_view text = as_text(*value);
    return text.size() == 2 ? text.substr(1, 1) : text.substr(0, 1);
}

void fill_general_data(Record& record, Bytes tlv) {
    if (const auto version = find_item(tlv, kFileVersionTag)) {
        record.set(kFileVerRow, as_text(*version));
        record.set(kVerEnsuranceRow, insurance_version(as_text(*version)));
    }
    record.set(kFlagRow, flag_of(find_in_container(tlv, kGeneralDataTag, 1, kFlagTag)));
    if (const auto per1 = find_in_container(tlv, kGeneralDataTag, 1, kPer1Tag)) {
        record.set(kPer1Row, as_text(*per1));
    }
    if (const auto per2 = find_in_container(tlv, kGeneralDataTag, 1, kPer2Tag)) {
        record.set(kPer2Row, as_text(*per2));
    }
}

void fill_period(Record& record, Bytes tlv, unsigned period) {
    record.set(period_row(period, PeriodField::Ict1), kNoCategory);
    record.set(period_row(period, PeriodField::Ict2), kNoCategory);
    for (const PeriodTag& item : kPeriodTags) {
        if (const auto value = find_in_container(tlv, kPeriodTag, period, item.tag)) {
            record.set(period_row(period, item.field), as_text(*value));
        }
    }
}

// The dates as the card gives them, each cut to its field's width.
PeriodDates dates_of(Bytes tlv, unsigned period) {
    const auto date = [&](std::uint8_t tag, PeriodField field) -> std::optional<std::string_view> {
        const auto value = find_in_container(tlv, kPeriodTag, period, tag);
        if (!value) {
            return std::nullopt;
        }
        return as_text(*value).substr(0, kFields[period_row(period, field)].width);
    };
    return {date(kBeginDateTag, PeriodField::Ibdt), date(kEndDateTag, PeriodField::Iedt)};
}

void choose_period(Record& record, Bytes tlv, unsigned containers) {
    std::vector<PeriodDates> periods;
    for (unsigned k = 1; k <= std::min(containers, kPeriodSlots); ++k) {
        periods.push_back(dates_of(tlv, k));
    }
    const PeriodChoice choice = select_period(periods, date_number(record.value(kReadDateRow)));
    if (choice.number == 0) {
        return;
    }
    record.selected_period = choice.number;
    const char regime =
        payment_regime(record.value(period_row(choice.number, PeriodField::Ict1)),
                       record.value(period_row(choice.number, PeriodField::Ict2)), choice.outside_today);
    record.set(kPayRegRow, std::string_view(&regime, 1));
    __tracef(ORVEL_DEBUG, __func__, __FILE__, __LINE__, "SFDF period %u of %u selected%s, payment regime %c",
             choice.number, containers, choice.outside_today ? " outside today" : "", regime);
}

// Rows of period n are written as "PERIOD_n_" plus their name.
std::string period_prefix(std::size_t row) {
    const std::size_t first = period_row(1, PeriodField::Inid);
    const std::size_t last = period_row(kPeriodSlots, PeriodField::Iedt);
    if (row < first || row > last) {
        return {};
    }
    return "PERIOD_" + std::to_string((row - first) / 6 + 1) + "_";
}

std::string render_lines(const Record& record) {
    std::string text;
    for (std::size_t row = 0; row < kRowCount; ++row) {
        text.append(period_prefix(row)).append(kFields[row].name).append("=");
        kit::platform::append_line_value(text, record.value(row));
        text.append("\n");
    }
    return text;
}

void append_element(std::string& xml, const Record& record, std::size_t row) {
    const std::string_view name = kFields[row].name;
    xml.append("<").append(name).append(">");
    kit::platform::append_xml_escaped(xml, record.value(row));
    xml.append("</").append(name).append(">\n");
}

void append_period_xml(std::string& xml, const Record& record, unsigned period) {
    const std::string tag = "PERIOD_" + std::to_string(period);
    xml.append("<").append(tag).append(">\n");
    for (std::size_t row = period_row(period, PeriodField::Inid); row <= period_row(period, PeriodField::Iedt);
         ++row) {
        append_element(xml, record, row);
    }
    xml.append("</").append(tag).append(">\n");
}

std::string render_xml(const Record& record) {
    std::string xml = "<SIS_SFDF>\n";
    append_element(xml, record, kFlagRow);
    xml.append("<SIS_SFDF_PERIODS>\n");
    xml.append("<SELECTED_PERIOD>").append(std::to_string(record.selected_period)).append("</SELECTED_PERIOD>\n");
    for (unsigned period = 1; period <= kPeriodSlots; ++period) {
        append_period_xml(xml, record, period);
    }
    xml.append("</SIS_SFDF_PERIODS>\n");
    for (std::size_t row = kCertificateRow; row < kRowCount; ++row) {
        append_element(xml, record, row);
    }
    xml.append("</SIS_SFDF>\n");
    return xml;
}

}  // namespace

std::string_view Record::value(std::size_t row) const {
    const auto& field = fields[row];
    const auto* const end = field.data() + kFields[row].width;
    return {field.data(), static_cast<std::size_t>(std::find(field.data(), end, '\0') - field.data())};
}

void Record::set(std::size_t row, std::string_view text) {
    auto& field = fields[row];
    field.fill('\0');
    text = text.substr(0, kFields[row].width);
    std::copy(text.begin(), text.end(), field.begin());
}

Record decode(Bytes tlv, Bytes certificate, std::string_view read_date) {
    Record record;
    record.set(kCertificateRow, as_text(certificate.first(std::min(certificate.size(), kCertificateBytes))));
    record.set(kReadDateRow, read_date);
    record.set(kPayRegRow, "X");
    fill_general_data(record, tlv);
    const unsigned containers = count_items(tlv, kPeriodTag);
    if (containers == 0) {
        return record;
    }
    for (unsigned period = 1; period <= kPeriodSlots; ++period) {
        fill_period(record, tlv, period);
    }
    choose_period(record, tlv, containers);
    return record;
}

std::string render(const Record& record, int mode) {
    switch (mode) {
    case kTextMode: return render_lines(record);
    case kXmlMode: return render_xml(record);
    default: return {};
    }
}

}  // namespace selvane::sfdf
