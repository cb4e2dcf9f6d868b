#include "tarvik/engine/eid_card_cache.h"

#include <cstring>
#include <span>

#include "orvel.h"

namespace {

struct Slot {
    uint32_t& length;
    std::span<unsigned char> bytes;
};

template <std::size_t N>
Slot slot(uint32_t& length, unsigned char (&bytes)[N]) {
    return Slot{length, std::span<unsigned char>(bytes, N)};
}

void save(Slot target, const unsigned char* bytes, uint32_t length, const char* what) {
    if (bytes == nullptr || length == 0) return;
    if (length > target.bytes.size()) {
        __tracef(ORVEL_DEBUG, "eidSaveToCardCache", __FILE__, __LINE__,
                 "%s of %u bytes does not fit its slot of %zu bytes: not cached", what, length, target.bytes.size());
        target.length = 0;
        return;
    }
    std::memcpy(target.bytes.data(), bytes, length);
    target.length = length;
}

void save_data(Slot target, const S_EID_DATA& data, const char* what) { save(target, data.dta, data.dta_len, what); }
void save_cert(Slot target, const S_EID_CERT& cert, const char* what) { save(target, cert.crt, cert.crt_len, what); }

bool slot_usable(uint32_t length, std::size_t capacity) { return length > 0 && length <= capacity; }

template <std::size_t N>
void load_data(uint32_t length, const unsigned char (&bytes)[N], S_EID_DATA& member) {
    if (!is_empty_S_EID_DATA(&member) || !slot_usable(length, N)) return;
    init_S_EID_DATA(&member, bytes, static_cast<int32_t>(length), nullptr, 0);
}

template <std::size_t N>
void load_cert(uint32_t length, const unsigned char (&bytes)[N], uint32_t number, S_EID_CERT& member) {
    if (!is_empty_S_EID_CERT(&member) || !slot_usable(length, N)) return;
    init_S_EID_CERT(&member, bytes, static_cast<int32_t>(length), number, nullptr, 0);
}

constexpr int32_t kIdentCap = 0x1000000;
constexpr int32_t kPubDataCap = 0x100000;
constexpr int32_t kPubDataVer = 0x200000;
constexpr int32_t kAuthent = 0x400000;
constexpr int32_t kSigning = 0x800000;

}  // namespace

int eidSaveToCardCache(S_EID_CARD_CACHE* cache, const S_EID_FUNCTION_OUTPUT* out) {
    if (cache == nullptr || out == nullptr) return 0;
    save_data(slot(cache->id_card_len, cache->id_card), out->id_card, "id_card");
    save_data(slot(cache->id_rn_len, cache->id_rn), out->id_rn, "id_rn");
    save_data(slot(cache->id_address_len, cache->id_address), out->id_address, "id_address");
    save_data(slot(cache->id_photo_len, cache->id_photo), out->id_photo, "id_photo");
    save_data(slot(cache->sgn_rn_len, cache->sgn_rn), out->sgn_rn, "sgn_rn");
    save_data(slot(cache->sgn_address_len, cache->sgn_address), out->sgn_address, "sgn_address");
    save_cert(slot(cache->cert2_len, cache->cert2), out->cert2, "cert2");
    save_cert(slot(cache->cert3_len, cache->cert3), out->cert3, "cert3");
    save_cert(slot(cache->cert4_len, cache->cert4), out->cert4, "cert4");
    save_cert(slot(cache->cert6_len, cache->cert6), out->cert6, "cert6");
    save_cert(slot(cache->cert8_len, cache->cert8), out->cert8, "cert8");
    return 0;
}

int eidLoadFromCardCache(const S_EID_CARD_CACHE* cache, const S_EID_FUNCTION_INPUT* in, S_EID_FUNCTION_OUTPUT* out) {
    if (cache == nullptr || in == nullptr || out == nullptr) return 0;
    const S_EID_CARD_CACHE& c = *cache;
    const int32_t code = in->function_id;
    const int32_t* mask = in->request_mask;
    auto id_rn = [&] { load_data(c.id_rn_len, c.id_rn, out->id_rn); };
    auto id_address = [&] { load_data(c.id_address_len, c.id_address, out->id_address); };
    auto id_photo = [&] { load_data(c.id_photo_len, c.id_photo, out->id_photo); };
    auto sgn_rn = [&] { load_data(c.sgn_rn_len, c.sgn_rn, out->sgn_rn); };
    auto sgn_address = [&] { load_data(c.sgn_address_len, c.sgn_address, out->sgn_address); };
    auto cert2 = [&] { load_cert(c.cert2_len, c.cert2, 2, out->cert2); };
    auto cert3 = [&] { load_cert(c.cert3_len, c.cert3, 3, out->cert3); };
    auto cert4 = [&] { load_cert(c.cert4_len, c.cert4, 4, out->cert4); };
    auto cert6 = [&] { load_cert(c.cert6_len, c.cert6, 6, out->cert6); };
    auto cert8 = [&] { load_cert(c.cert8_len, c.cert8, 8, out->cert8); };

    if (code & kIdentCap) id_rn(), id_address(), id_photo();
    if (code & kPubDataCap) id_rn(), id_address();
    if (code & kPubDataVer) id_rn(), id_address(), sgn_rn(), sgn_address(), cert8();
    if (code & kAuthent) cert2(), cert4(), cert6();
    if (code & kSigning) cert3(), cert4(), cert6();
    if ((mask[0] & 0x60000) || (mask[1] & 0x924)) {
        id_rn(), id_address();
        if (mask[1] & 0x924) sgn_rn(), sgn_address(), cert8();
    }
    if ((mask[3] & 0x80000) || (mask[4] & 0x4124)) {
        id_photo();
        if (mask[4] & 0x4124) sgn_rn(), cert8();
    }
    if (mask[5] & (0x4 | 0x20 | 0x100)) {
        cert2();
        if (mask[5] & 0x4) cert4(), cert6();
    }
    if (mask[6] & (0x4 | 0x20 | 0x100)) {
        cert3();
        if (mask[6] & 0x4) cert4(), cert6();
    }
    if (mask[7] & (0x20 | 0x100)) cert4();
    if (mask[8] & (0x20 | 0x100)) cert6();
    if (mask[9] & (0x20 | 0x100)) cert8();
    return 0;
}
