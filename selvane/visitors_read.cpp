#include "selvane/visitors_read.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <exception>
#include <span>

#include "platform/sleep.h"
#include "selvane/tarvik_binding.h"
#include "platform/markup_text.h"

namespace selvane::visitors {

namespace {

constexpr std::size_t kCommandSize = 1024;
constexpr std::size_t kMaxData = 1019;
constexpr int kModeLines = 0;
constexpr int kModeXml = 1;

constexpr std::array<ItemName, 18> kIdentityNames{{
    {0, "FILE_STRUCT-VERSION", ItemKind::Hex},  {1, "CARD_NUMBER", ItemKind::Text},
    {2, "CHIP_NUMBER", ItemKind::Hex},          {3, "START_DATE", ItemKind::Text},
    {4, "END_DATE", ItemKind::Text},            {5, "DELIVERY_MUNICIPALITY", ItemKind::Label},
    {6, "NATIONAL_NUMBER", ItemKind::Text},     {7, "NAME", ItemKind::Label},
    {8, "FIRST_NAMES", ItemKind::Label},        {9, "INITIAL_3_NAME", ItemKind::Label},
    {10, "NATIONALITY", ItemKind::Label},       {11, "BIRTH_LOCATION", ItemKind::Label},
    {12, "BIRTH_DATE", ItemKind::Label},        {13, "SEX", ItemKind::Text},
    {14, "NOBLE_CONDITION", ItemKind::Label},   {15, "DOC_TYPE", ItemKind::Text},
    {16, "SPECIAL_STATUS", ItemKind::Text},     {17, "HASH_PHOTO", ItemKind::Hex},
}};

constexpr std::array<ItemName, 4> kAddressNames{{
    {0, "FILE_STRUCT-VERSION", ItemKind::Hex},
    {1, "STREET_AND_NUMBER", ItemKind::Label},
    {2, "ZIPCODE", ItemKind::Text},
    {3, "MUNICIPALITY", ItemKind::Label},
}};

constexpr unsigned char kSelectDf[5] = {0x00, 0xA4, 0x01, 0x00, 0x02};
constexpr unsigned char kSelectEf[5] = {0x00, 0xA4, 0x02, 0x00, 0x02};
constexpr std::string_view kMasterFile{"\x3F\x00\x00", 3};
constexpr std::string_view kEidDirectory{"\xDF\x01\x00", 3};
constexpr std::string_view kIdentityFile{"\x40\x31\x00", 3};
constexpr std::string_view kAddressFile{"\x40\x33\x00", 3};

int read_binary(int handle, std::size_t offset, unsigned le, std::string* response) {
    const unsigned char header[5] = {0x00, 0xB0, static_cast<unsigned char>(offset / 256),
                                     static_cast<unsigned char>(offset % 256), static_cast<unsigned char>(le)};
    const int sw = exchange(handle, header, {}, response);
    kit::platform::sleep_ms(kPauseMs);
    return sw;
}

// Places a chunk at offset, never past the read buffer.
void place(std::string& buffer, std::size_t offset, std::string_view bytes) {
    if (offset >= buffer.size()) return;
    const std::size_t n = std::min(bytes.size(), buffer.size() - offset);
    buffer.replace(offset, n, bytes.substr(0, n));
}

std::string value_text(std::span<const unsigned char> value, ItemKind kind) {
    std::string text;
    if (kind == ItemKind::Hex) {
        char pair[3];
        for (unsigned char b : value) {
            std::snprintf(pair, sizeof pair, "%02X", b);
            text.append(pair, 2);
        }
        return text;
    }
    // Text up to the first zero byte, as the value's own buffer reads.
    for (unsigned char b : value) {
        if (b == 0) break;
        text.push_back(static_cast<char>(b));
    }
    return text;
}

template <std::size_t N>
void render(std::string_view file, const std::array<ItemName, N>& table, int mode, std::string& out) {
    auto byte_at = [&](std::size_t i) -> unsigned char {
        return i < file.size() ? static_cast<unsigned char>(file[i]) : 0;
    };
    std::size_t pos = 0;
    std::array<unsigned char, 256> value{};
    for (std::size_t item = 0; item < N; ++item) {
        const unsigned tag = byte_at(pos);
        const std::size_t len = byte_at(pos + 1);
        for (std::size_t i = 0; i < len; ++i) value[i] = byte_at(pos + 2 + i);
        pos += 2 + len;
        const auto row = std::find_if(table.begin(), table.end(), [&](const ItemName& r) { return r.tag == tag; });
        if (row == table.end()) continue;
        const std::string text = value_text(std::span(value.data(), len), row->kind);
        if (mode == kModeXml) {
            out.append("<").append(row->name).append(">");
            kit::platform::append_xml_escaped(out, text);
            out.append("</").append(row->name).append(">");
        } else {
            out.append(row->name).append("=");
            kit::platform::append_line_value(out, text);
            out.append("\n");
        }
    }
}

// Appends text to a C string in a buffer of `size` bytes, cut to fit.
void append_bounded(char* buffer, std::size_t size, std::string_view text) {
    const std::size_t used = strnlen(buffer, size - 1);
    const std::size_t n = std::min(text.size(), size - 1 - used);
    std::memcpy(buffer + used, text.data(), n);
    buffer[used + n] = '\0';
}

int select(int handle, const unsigned char (&header)[5], std::string_view id) {
    std::string ignored;
    return exchange(handle, header, id, &ignored);
}

// What the read does while tarvik holds the card for it.
struct HeldRead {
    int handle;
    int mode;
    char* identity;
    std::size_t identity_size;
    char* address;
    std::size_t address_size;
    int result = kOk;
    // Nothing thrown may cross tarvik's frames: it is kept until tarvik has
    // let go of the card.
    std::exception_ptr thrown{};
};

int read_both_files(const HeldRead& r) {
    for (const auto& [header, id] : {std::pair{&kSelectDf, kMasterFile}, std::pair{&kSelectDf, kEidDirectory},
                                     std::pair{&kSelectEf, kIdentityFile}}) {
        if (const int sw = select(r.handle, *header, id); sw != kSwOk) return sw;
    }
    std::string file;
    if (const int result = read_file(r.handle, 80, file); result != kOk) return result;
    const bool writes = r.mode == kModeXml || r.mode == kModeLines;
    if (writes) {
        std::string text = r.mode == kModeXml ? "<ID_RN>" : "";
        render_identity(file, r.mode, text);
        if (r.mode == kModeXml) text.append("</ID_RN>");
        append_bounded(r.identity, r.identity_size, text);
    }
    if (const int sw = select(r.handle, kSelectEf, kAddressFile); sw != kSwOk) return sw;
    if (const int result = read_file(r.handle, 128, file); result != kOk) return result;
    if (writes) {
        std::string text = r.mode == kModeXml ? "<ID_ADDRESS>" : "";
        render_address(file, r.mode, text);
        if (r.mode == kModeXml) text.append("</ID_ADDRESS>");
        append_bounded(r.address, r.address_size, text);
    }
    return kOk;
}

void run_held_read(void* context, const Pcsc_Common*) {
    auto& read = *static_cast<HeldRead*>(context);
    try {
        read.result = read_both_files(read);
    } catch (...) {
        read.thrown = std::current_exception();
    }
}

}  // namespace

int exchange(int handle, const unsigned char (&header)[5], std::string_view data, std::string* response) {
    std::array<unsigned char, kCommandSize> command{};
    const std::size_t data_len = std::min(data.size(), kMaxData);
    std::memcpy(command.data(), header, 5);
    if (data_len > 0) std::memcpy(command.data() + 5, data.data(), data_len);
    std::array<unsigned char, kCommandSize> reply{};
    unsigned int reply_len = 0;
    unsigned short sw = 0;
    const int result = call::cardCommand_T0_T1(handle, command.data(), static_cast<int>(5 + data_len), reply.data(),
                                               &reply_len, &sw);
    if (result != 0) return result;
    response->assign(reinterpret_cast<const char*>(reply.data()), std::min<std::size_t>(reply_len, reply.size()));
    return sw;
}

int read_file(int handle, unsigned chunk, std::string& file) {
    std::string buffer(kReadBufferSize, '\0');
    std::size_t total = 0;
    std::string response;
    for (int i = 0; i < kMaxChunks; ++i) {
        const std::size_t offset = static_cast<std::size_t>(i) * chunk;
        if (offset >= kReadBufferSize) break;  // the buffer is full: the file ends here
        const int sw = read_binary(handle, offset, chunk, &response);
        if (sw == kSwOk) {
            place(buffer, offset, response);
            total = std::min(offset + chunk, kReadBufferSize);
            continue;
        }
        if (sw >= 0x6C00 && sw <= 0x6CFF) {
            const int again = read_binary(handle, offset, static_cast<unsigned>(sw & 0xFF), &response);
            if (again != kSwOk) return again;
            place(buffer, offset, response);
            total = std::min(offset + response.size(), kReadBufferSize);
            break;
        }
        // Past the end of the file: 6A86, or 6B00 (offset outside the file,
        // as cards of this kind answer) once something was read.
        if (sw == 0x6A86 || (sw == 0x6B00 && offset > 0)) break;
        return sw;
    }
    file.assign(buffer, 0, total);
    return kOk;
}

void render_identity(std::string_view file, int mode, std::string& out) { render(file, kIdentityNames, mode, out); }
void render_address(std::string_view file, int mode, std::string& out) { render(file, kAddressNames, mode, out); }

int read(int handle, int mode, char* identity, std::size_t identity_size, char* address, std::size_t address_size) {
    HeldRead held{handle, mode, identity, identity_size, address, address_size};
    // tarvik reads the card's status and holds the card, then runs the read.
    const int result = call::with_card(handle, true, run_held_read, &held);
    if (held.thrown) std::rethrow_exception(held.thrown);
    if (result != 0) return result == kStatusNoCard ? kNoCard : result;
    return held.result;
}

}  // namespace selvane::visitors

#include "selvane.h"
#include "selvane/current_device.h"
#include "platform/export_guard.h"
#include "platform/library_lock.h"

extern "C" int32_t PCSC_Visitors_Read(int32_t handle, int32_t mode, char* identity, char* address, int32_t,
                                      int32_t) try {
    const kit::LibraryCall call;
    if (!address) return SELVANE_EID_NO_ADDRESS_BUFFER;
    if (!identity) return SELVANE_EID_NO_ID_BUFFER;
    handle = selvane::device_or_current(handle);
    if (!selvane::is_tarvik_device(handle)) return selvane::kNoDevice;
    return selvane::visitors::read(handle, mode, identity, SELVANE_VISITORS_ID_TEXT_SIZE, address,
                                   SELVANE_VISITORS_ADDRESS_TEXT_SIZE);
} catch (...) {
    return kit::export_failure(__func__, -1);
}
