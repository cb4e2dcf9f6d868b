#include "tarvik/engine/sis_card.h"

#include <array>
#include <cstdint>

#include "orvel.h"
#include "tarvik/reader/hcl.h"

namespace {

constexpr int kStatusCallFailed = 3000;
constexpr int kBadStatusWord = 3001;
constexpr int kAtrStartsWithFF = 3002;

struct Area {
    unsigned char* buffer;
    std::uint16_t address;
    std::uint16_t length;
};

}  // namespace

int sisCheckCard(int handle) {
    std::array<unsigned char, 256> atr{};
    unsigned int atr_len = atr.size();
    std::uint16_t sw = 0x9000;
    if (HCL_card_status(handle, atr.data(), &atr_len, &sw) != 0) return kStatusCallFailed;
    if (sw != 0x9000) return kBadStatusWord;
    if (atr[0] == 0xFF) return kAtrStartsWithFF;
    return 0;
}

int readSisCardData(int handle, unsigned char* pbdf, unsigned char* isdf, unsigned char* head) {
    static constexpr const char* kFn = "readSisCardData";
    __tracef(ORVEL_DEBUG, kFn, __FILE__, __LINE__, ">>>");
    if (sisCheckCard(handle) != 0) {
        __tracef(ORVEL_ERR, kFn, __FILE__, __LINE__, "HCL_NO_SIS_CARD_INSERTED");
        return SIS_NO_CARD;
    }
    const std::array<Area, 3> areas{{
        {head, SIS_HEAD_ADDRESS, static_cast<std::uint16_t>(SIS_HEAD_SIZE)},
        {pbdf, SIS_PBDF_ADDRESS, static_cast<std::uint16_t>(SIS_PBDF_SIZE)},
        {isdf, SIS_ISDF_ADDRESS, static_cast<std::uint16_t>(SIS_ISDF_SIZE)},
    }};
    for (const Area& area : areas) {
        if (area.buffer == nullptr || HCL_sync_card_read(handle, area.buffer, area.address, area.length, 0) != 0) {
            __tracef(ORVEL_ERR, kFn, __FILE__, __LINE__, "-1");
            return SIS_READ_FAILED;
        }
    }
    __tracef(ORVEL_DEBUG, kFn, __FILE__, __LINE__, "<<<");
    return SIS_OK;
}

int sisReadCard(int handle, int type, char* isdf_out, std::size_t isdf_capacity, char* pbdf_out,
                std::size_t pbdf_capacity) {
    static constexpr const char* kFn = "sisReadCard";
    __tracef(ORVEL_DEBUG, kFn, __FILE__, __LINE__, ">>>");
    std::array<unsigned char, 256> pbdf{};
    std::array<unsigned char, 256> isdf{};
    std::array<unsigned char, 256> head{};
    int rc = readSisCardData(handle, pbdf.data(), isdf.data(), head.data());
    if (rc == SIS_OK) {
        const std::span<const unsigned char, SIS_PBDF_SIZE> pbdf_area(pbdf.data(), SIS_PBDF_SIZE);
        const std::span<const unsigned char, SIS_ISDF_SIZE> isdf_area(isdf.data(), SIS_ISDF_SIZE);
        rc = sis_check_bytes(pbdf_area, isdf_area);
        if (rc == SIS_OK)
            rc = sis_write_outputs(sis_decode(pbdf_area, isdf_area), type, isdf_out, isdf_capacity, pbdf_out,
                                   pbdf_capacity);
    }
    if (rc != SIS_OK) {
        __tracef(ORVEL_ERR, kFn, __FILE__, __LINE__, "retval=%d", rc);
        return rc;
    }
    __tracef(ORVEL_DEBUG, kFn, __FILE__, __LINE__, "<<<");
    return SIS_OK;
}
