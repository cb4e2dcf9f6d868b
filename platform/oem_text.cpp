#include "platform/oem_text.h"

#include <iconv.h>
#include <locale.h>

#include <array>
#include <cstring>

namespace kit::platform {

namespace {

class Converter {
public:
    Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~Converter() {
        if (ok()) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts one byte; the number of output bytes, 0 when it failed.
    std::size_t one(unsigned char byte, char* out, std::size_t room) {
        char in = static_cast<char>(byte);
        char* in_ptr = &in;
        std::size_t in_left = 1;
        char* out_ptr = out;
        std::size_t out_left = room;
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        if (iconv(cd_, &in_ptr, &in_left, &out_ptr, &out_left) == static_cast<std::size_t>(-1)) return 0;
        return room - out_left;
    }

private:
    iconv_t cd_;
};

// iconv transliterates by the calling thread's locale: the tables are made
// under the C locale, so the host's locale never changes a card's text.
class CLocaleOnThisThread {
public:
    CLocaleOnThisThread() : c_(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr))) {
        if (c_ != nullptr) previous_ = uselocale(c_);
    }
    ~CLocaleOnThisThread() {
        if (c_ == nullptr) return;
        uselocale(previous_);
        freelocale(c_);
    }
    CLocaleOnThisThread(const CLocaleOnThisThread&) = delete;
    CLocaleOnThisThread& operator=(const CLocaleOnThisThread&) = delete;

private:
    locale_t c_;
    locale_t previous_ = nullptr;
};

std::array<char, 256> make_oem_table() {
    const CLocaleOnThisThread c_locale;
    std::array<char, 256> table{};
    Converter converter("CP1252//TRANSLIT", "CP850");
    for (unsigned byte = 0; byte < 256; ++byte) {
        char out[8] = {};
        const std::size_t n = converter.ok() ? converter.one(static_cast<unsigned char>(byte), out, sizeof out) : 0;
        table[byte] = n == 1 ? out[0] : (byte < 0x80 ? static_cast<char>(byte) : '?');
    }
    // The dotless i: the C locale's transliteration has no "i" for it, the
    // best fit of Windows hosts (and a UTF-8 locale's) does.
    table[0xD5] = 'i';
    return table;
}

std::array<char16_t, 256> make_ansi_table() {
    std::array<char16_t, 256> table{};
    Converter converter("UTF-16LE", "CP1252");
    for (unsigned byte = 0; byte < 256; ++byte) {
        unsigned char out[8] = {};
        const std::size_t n =
            converter.ok() ? converter.one(static_cast<unsigned char>(byte), reinterpret_cast<char*>(out), sizeof out)
                           : 0;
        table[byte] = n == 2 ? static_cast<char16_t>(out[0] | (out[1] << 8)) : static_cast<char16_t>(byte);
    }
    return table;
}

}  // namespace

std::string oem_to_ansi(std::string_view oem) {
    static const std::array<char, 256> table = make_oem_table();
    std::string out;
    out.reserve(oem.size());
    for (unsigned char c : oem) out.push_back(table[c]);
    return out;
}

std::u16string ansi_to_utf16(std::string_view ansi) {
    static const std::array<char16_t, 256> table = make_ansi_table();
    std::u16string out;
    out.reserve(ansi.size());
    for (unsigned char c : ansi) out.push_back(table[c]);
    return out;
}

}  // namespace kit::platform
