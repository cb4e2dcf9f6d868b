#include "tarvik/engine/eid_tllv.h"

#include "orvel.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <span>
#include <variant>

namespace {

using In = S_EID_FUNCTION_INPUT;
using Out = S_EID_FUNCTION_OUTPUT;
using Sel = S_EID_TLLV_SELECTOR;

// The caller's file and line by the builtins: clang 14 (fuzz builds) has no std::source_location.
int fail(const char* function, const char* message, const char* file = __builtin_FILE(),
         int line = __builtin_LINE()) {
    __trace(ORVEL_DEBUG, function, file, line, __tracev("%s", message));
    return -1;
}

unsigned char* no_buffer(const char* function, const char* message, const char* file = __builtin_FILE(),
                         int line = __builtin_LINE()) {
    fail(function, message, file, line);
    return nullptr;
}

// Which record member a row maps.
struct MaskIndex {
    int index;  // into the input's request_mask
};
using Member = std::variant<int32_t Out::*, MaskIndex, S_EID_DATA Out::*, S_EID_CERT Out::*>;

struct RowSpec {
    uint8_t tag;
    Member member;
    int32_t Sel::*flag;
};

// The mapping table. Its order is the wire order in both directions (it is
// not the tag order: 59 follows 58), and decoding depends on it.
static_assert(sizeof(Sel) == 32 * sizeof(int32_t), "the selector is 32 flags");

constexpr std::array<RowSpec, EID_TLLV_ROWS> kRows = {{
    {1, &Out::function_id, &Sel::function_id},
    {2, &Out::id_reference, &Sel::id_reference},
    {4, &Out::id_transaction, &Sel::id_transaction},
    {5, &Out::id_session, &Sel::id_session},
    {6, MaskIndex{0}, &Sel::request_mask},
    {7, MaskIndex{1}, &Sel::request_mask},
    {8, MaskIndex{2}, &Sel::request_mask},
    {9, MaskIndex{3}, &Sel::request_mask},
    {10, MaskIndex{4}, &Sel::request_mask},
    {11, MaskIndex{5}, &Sel::request_mask},
    {12, MaskIndex{6}, &Sel::request_mask},
    {13, MaskIndex{7}, &Sel::request_mask},
    {14, MaskIndex{8}, &Sel::request_mask},
    {15, MaskIndex{9}, &Sel::request_mask},
    {56, &Out::id_rn, &Sel::id_rn},
    {57, &Out::id_address, &Sel::id_address},
    {58, &Out::id_photo, &Sel::id_photo},
    {59, &Out::id_rn_photo_hash, &Sel::id_rn_photo_hash},
    {66, &Out::id_rn_aux, &Sel::id_rn_aux},
    {67, &Out::id_address_aux, &Sel::id_address_aux},
    {68, &Out::id_photo_aux, &Sel::id_photo_aux},
    {76, &Out::sgn_rn, &Sel::sgn_rn},
    {77, &Out::sgn_address, &Sel::sgn_address},
    {78, &Out::sgn_photo, &Sel::sgn_photo},
    {86, &Out::id_rn_stat, &Sel::id_rn_stat},
    {87, &Out::id_address_stat, &Sel::id_address_stat},
    {88, &Out::id_photo_stat, &Sel::id_photo_stat},
    {96, &Out::aux_96, &Sel::aux_96},
    {101, &Out::cert2, &Sel::certs},
    {102, &Out::cert3, &Sel::certs},
    {103, &Out::cert4, &Sel::certs},
    {104, &Out::cert6, &Sel::certs},
    {105, &Out::cert8, &Sel::certs},
    {111, &Out::cert2_aux, &Sel::certs_aux},
    {112, &Out::cert3_aux, &Sel::certs_aux},
    {113, &Out::cert4_aux, &Sel::certs_aux},
    {114, &Out::cert6_aux, &Sel::certs_aux},
    {115, &Out::cert8_aux, &Sel::certs_aux},
    {121, &Out::cert2_ccv_stat, &Sel::ccv_stat},
    {122, &Out::cert3_ccv_stat, &Sel::ccv_stat},
    {126, &Out::cert2_aux_stat, &Sel::cert_aux_stat},
    {127, &Out::cert3_aux_stat, &Sel::cert_aux_stat},
    {131, &Out::cert2_stat, &Sel::cert_stat},
    {132, &Out::cert3_stat, &Sel::cert_stat},
    {133, &Out::cert4_stat, &Sel::cert_stat},
    {134, &Out::cert6_stat, &Sel::cert_stat},
    {135, &Out::cert8_stat, &Sel::cert_stat},
    {141, &Out::aux_141, &Sel::aux_141},
    {146, &Out::auth_chal, &Sel::auth_chal},
    {147, &Out::auth_sgn, &Sel::auth_sgn},
    {148, &Out::auth_stat, &Sel::auth_stat},
    {156, &Out::sign_hash, &Sel::sign_hash},
    {157, &Out::sign_sgn, &Sel::sign_sgn},
    {158, &Out::sign_stat, &Sel::sign_stat},
    {166, &Out::aux_166, &Sel::aux_166},
}};

template <class... F>
struct Overloaded : F... {
    using F::operator()...;
};
template <class... F>
Overloaded(F...) -> Overloaded<F...>;

// A byte-string row for encoding; false when the member cannot travel.
bool bytes_row(S_EID_TLLV_TAG& row, const unsigned char* bytes, uint32_t length) {
    if (bytes == nullptr) length = 0;  // no buffer: nothing to send
    if (row.selected > 0 && length > EID_TLLV_MAX_VALUE) return false;
    row.kind = TLLV_KIND_BYTES;
    row.length = static_cast<uint16_t>(length);
    // data2tllv only reads through an encoding row's value.
    row.value = const_cast<unsigned char*>(bytes);
    return true;
}

// Builds the encoding rows; false when a selected member is too long to travel.
bool encoding_rows(const In& input, const Out& output, const Sel& selector,
                   std::array<S_EID_TLLV_TAG, EID_TLLV_ROWS>& rows) {
    for (size_t i = 0; i < kRows.size(); ++i) {
        S_EID_TLLV_TAG& row = rows[i];
        row = {kRows[i].tag, 0, nullptr, 0, selector.*kRows[i].flag};
        const auto integer_row = [&row](const int32_t& member) {
            row.kind = TLLV_KIND_INTEGER;
            row.length = 4;
            row.value = const_cast<int32_t*>(&member);
            return true;
        };
        const bool ok = std::visit(
            Overloaded{
                [&](int32_t Out::*m) { return integer_row(output.*m); },
                [&](MaskIndex m) { return integer_row(input.request_mask[m.index]); },
                [&](S_EID_DATA Out::*m) { return bytes_row(row, (output.*m).dta, (output.*m).dta_len); },
                [&](S_EID_CERT Out::*m) { return bytes_row(row, (output.*m).crt, (output.*m).crt_len); },
            },
            kRows[i].member);
        if (!ok) return false;
    }
    return true;
}

void decoding_rows(In& input, Out& output, const Sel& selector, std::array<S_EID_TLLV_TAG, EID_TLLV_ROWS>& rows) {
    for (size_t i = 0; i < kRows.size(); ++i) {
        S_EID_TLLV_TAG& row = rows[i];
        row = {kRows[i].tag, 0, nullptr, 0, selector.*kRows[i].flag};
        std::visit(Overloaded{
                       [&](int32_t Out::*m) { row.kind = TLLV_KIND_INTEGER; row.value = &(output.*m); },
                       [&](MaskIndex m) { row.kind = TLLV_KIND_INTEGER; row.value = &input.request_mask[m.index]; },
                       [&](S_EID_DATA Out::*m) { row.kind = TLLV_KIND_DATA; row.value = &(output.*m); },
                       [&](S_EID_CERT Out::*m) { row.kind = TLLV_KIND_CERT; row.value = &(output.*m); },
                   },
                   kRows[i].member);
    }
}

bool row_travels(const S_EID_TLLV_TAG& row) { return row.length != 0 && row.selected > 0; }

void put_le32(unsigned char* out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<unsigned char>(v >> (8 * i));
}

uint32_t get_le32(const unsigned char* in) {
    return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 | static_cast<uint32_t>(in[2]) << 16 |
           static_cast<uint32_t>(in[3]) << 24;
}

// Writes one item at `out`; returns the bytes written.
uint32_t write_item(const S_EID_TLLV_TAG& row, unsigned char* out) {
    out[0] = static_cast<unsigned char>(row.tag);
    out[1] = static_cast<unsigned char>(row.length);
    out[2] = static_cast<unsigned char>(row.length >> 8);
    unsigned char* value = out + 3;
    if (row.kind == TLLV_KIND_INTEGER && row.length == 4 && row.value != nullptr) {
        put_le32(value, static_cast<uint32_t>(*static_cast<const int32_t*>(row.value)));
    } else if ((row.kind == TLLV_KIND_INTEGER || row.kind == TLLV_KIND_BYTES) && row.value != nullptr) {
        std::memcpy(value, row.value, row.length);
    } else {
        // A row with no bytes to give still owns its counted space: never leave it uninitialised.
        std::memset(value, 0, row.length);
    }
    return 3u + row.length;
}

struct Item {
    uint8_t tag;
    uint16_t length;
    const unsigned char* value;
};

// Splits the buffer into items; stops at a 0 tag, at `limit` items and at an
// item whose header or value would run past the received bytes.
uint32_t parse_items(std::span<const unsigned char> received, std::span<Item> items) {
    uint32_t count = 0;
    size_t offset = 0;
    while (offset < received.size() && count < items.size()) {
        const uint8_t tag = received[offset];
        if (tag == 0) break;
        if (received.size() - offset < 3) break;
        const auto length = static_cast<uint16_t>(received[offset + 1] | received[offset + 2] << 8);
        if (received.size() - offset - 3 < length) break;
        items[count++] = {tag, length, received.data() + offset + 3};
        offset += 3u + length;
    }
    return count;
}

enum class Stored { Yes, Refused, NoMemory };

// Puts a fresh buffer holding the item into a byte-string member, releasing
// the one it held only once the new one exists.
template <typename Byte>
Stored replace_bytes(Byte*& pointer, uint32_t& length, const Item& item) {
    unsigned char* fresh = new_eid_buffer(item.value, item.length);
    if (fresh == nullptr) return Stored::NoMemory;
    std::free(pointer);
    pointer = fresh;
    length = item.length;
    return Stored::Yes;
}

Stored store_item(const S_EID_TLLV_TAG& row, const Item& item) {
    if (row.value == nullptr) return Stored::Yes;
    switch (row.kind) {
        case TLLV_KIND_INTEGER:
        case TLLV_KIND_BYTES: {
            // Only a 4-byte value may land on a 32-bit member.
            if (item.length != 4) return Stored::Refused;
            const auto value = static_cast<int32_t>(get_le32(item.value));
            std::memcpy(row.value, &value, sizeof value);
            return Stored::Yes;
        }
        case TLLV_KIND_DATA: {
            auto* data = static_cast<S_EID_DATA*>(row.value);
            return replace_bytes(data->dta, data->dta_len, item);
        }
        case TLLV_KIND_CERT: {
            auto* cert = static_cast<S_EID_CERT*>(row.value);
            return replace_bytes(cert->crt, cert->crt_len, item);
        }
        default:
            return Stored::Yes;  // an unknown kind stores nothing, the item still counts as taken
    }
}

}  // namespace

int init_S_EID_TLLV_SELECTOR(S_EID_TLLV_SELECTOR* selector) {
    if (selector == nullptr)
        return fail("init_S_EID_TLLV_SELECTOR", "ERROR: in init_S_EID_TLLV_SELECTOR(...), S_EID_TLLV_SELECTOR is NULL");
    // Every flag has at least one row, so setting the flags of all rows sets all 32.
    for (const RowSpec& spec : kRows) (*selector).*spec.flag = 1;
    return 0;
}

unsigned char* eidStructs2TLLV(const S_EID_FUNCTION_INPUT* input, const S_EID_FUNCTION_OUTPUT* output,
                               const S_EID_TLLV_SELECTOR* selector, uint32_t* length) {
    constexpr const char* self = "eidStructs2TLLV";
    if (input == nullptr) return no_buffer(self, "ERROR in eidStructs2TLLV, S_EID_FUNCTION_INPUT * is NULL");
    if (output == nullptr) return no_buffer(self, "ERROR in eidStructs2TLLV, S_EID_FUNCTION_OUTPUT * is NULL");
    if (selector == nullptr) return no_buffer(self, "ERROR in eidStructs2TLLV, S_EID_TLLV_SELECTOR * is NULL");
    if (length == nullptr) return no_buffer(self, "ERROR in eidStructs2TLLV, unsigned int * is NULL");
    *length = 0;

    std::array<S_EID_TLLV_TAG, EID_TLLV_ROWS> rows{};
    if (!encoding_rows(*input, *output, *selector, rows))
        return no_buffer(self, "ERROR in eidStructs2TLLV, a selected member is longer than 65535 bytes");

    std::array<unsigned char, EID_TLLV_MAX_ENCODED> work{};
    uint32_t written = 0;
    if (data2tllv(rows.data(), EID_TLLV_ROWS, work.data(), EID_TLLV_MAX_ENCODED, &written) != 0)
        return no_buffer(self, "ERROR in eidStructs2TLLV while calling data2tllv");
    if (written == 0) return nullptr;

    unsigned char* buffer = new_eid_buffer(work.data(), written);
    if (buffer == nullptr) return no_buffer("eidGetTLLVFinalOutput", "ERROR in eidGetTLLVFinalOutput, malloc failed");
    *length = written;
    return buffer;
}

int data2tllv(const S_EID_TLLV_TAG* table, int32_t rows, unsigned char* destination, uint32_t size,
              uint32_t* written) {
    constexpr const char* self = "data2tllv";
    if (table == nullptr) return fail(self, "ERROR in data2tllv, S_EID_TLLV_TAG is NULL");
    if (destination == nullptr) return fail(self, "ERROR in data2tllv, unsigned char * is NULL");
    if (written == nullptr) return fail(self, "ERROR in data2tllv, unsigned int * is NULL");
    if (rows < 0) return fail(self, "ERROR in data2tllv, negative row count");
    const std::span<const S_EID_TLLV_TAG> span(table, static_cast<size_t>(rows));

    uint64_t needed = 0;
    for (const auto& row : span)
        if (row_travels(row)) needed += 3u + row.length;
    if (needed > size) return fail(self, "ERROR in data2tllv, unsigned int is too small");

    uint32_t offset = 0;
    for (const auto& row : span)
        if (row_travels(row)) offset += write_item(row, destination + offset);
    *written = offset;
    return 0;
}

int eidTLLV2Structs(const unsigned char* buffer, uint32_t length, S_EID_FUNCTION_INPUT* input,
                    S_EID_FUNCTION_OUTPUT* output, const S_EID_TLLV_SELECTOR* selector) {
    constexpr const char* self = "eidTLLV2Structs";
    if (input == nullptr) return fail(self, "ERROR in eidTLLV2Structs, S_EID_FUNCTION_INPUT * is NULL");
    if (output == nullptr) return fail(self, "ERROR in eidTLLV2Structs, S_EID_FUNCTION_OUTPUT * is NULL");
    if (selector == nullptr) return fail(self, "ERROR in eidTLLV2Structs, S_EID_TLLV_SELECTOR * is NULL");

    std::array<S_EID_TLLV_TAG, EID_TLLV_ROWS> rows{};
    decoding_rows(*input, *output, *selector, rows);
    uint32_t parsed = 0;
    if (const int result = tllv2data(buffer, length, rows.data(), EID_TLLV_ROWS, &parsed); result != 0) {
        fail(self, "ERROR in eidTLLV2Structs while calling tllv2data");
        return result;
    }
    return 0;
}

int tllv2data(const unsigned char* buffer, uint32_t length, S_EID_TLLV_TAG* table, uint32_t rows,
              uint32_t* parsed) {
    constexpr const char* self = "tllv2data";
    if (buffer == nullptr) return fail(self, "ERROR in tllv_data, unsigned char * is NULL");
    if (table == nullptr) return fail(self, "ERROR in tllv_data, S_EID_TLLV_TAG * is NULL");
    if (parsed == nullptr) return fail(self, "ERROR in tllv_data, unsigned int * is NULL");

    std::array<Item, EID_TLLV_MAX_ITEMS> scratch{};
    const auto limit = std::min<size_t>(rows, scratch.size());
    const uint32_t count = parse_items({buffer, length}, std::span(scratch).first(limit));
    *parsed = count;

    uint32_t next = 0;
    for (const auto& row : std::span(table, rows)) {
        if (next == count) break;
        const Item& item = scratch[next];
        if (item.tag != row.tag || row.selected <= 0) continue;
        const Stored stored = store_item(row, item);
        if (stored == Stored::NoMemory) return fail(self, "ERROR in tllv_data, malloc failed");
        if (stored == Stored::Refused) {
            fail(self, "ERROR in tllv_data, integer item whose length is not 4");
            break;
        }
        ++next;
    }
    return 0;
}
