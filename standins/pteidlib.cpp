// Identity-card middleware stand-in: a fixed test identity and picture in
// records laid out at the offsets the reader layer reads. KIT_PTEID_NO_CARD
// in the environment makes PTEID_GetID answer 9 (no card).
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "standins/standin_export.h"
#include "tarvik/reader/outside_interfaces.h"

namespace {

[[maybe_unused]] void put(unsigned char* record, std::size_t offset, const char* text) {
    std::memcpy(record + offset, text, std::strlen(text) + 1);
}

}  // namespace

#ifndef STANDIN_WITHOUT_PTEID_Init
STANDIN_EXPORT long PTEID_Init(const char*) { return 0; }
#endif

#ifndef STANDIN_WITHOUT_PTEID_GetID
STANDIN_EXPORT long PTEID_GetID(PTEID_ID* identity) {
    if (!identity) return -1;
    if (std::getenv("KIT_PTEID_NO_CARD")) return 9;
    std::memset(identity, 0, sizeof *identity);
    using namespace pteid_layout;
    unsigned char* r = identity->bytes;
    put(r, kDocumentType, "TEST IDENTITY CARD");
    put(r, kCardNumber, "99000001 0 ZZ9");
    put(r, kCardPan, "0000000000000001");
    put(r, kDeliveryDate, "01 01 2020");
    put(r, kDeliveryLocality, "TESTE");
    put(r, kValidityDate, "01 01 2030");
    put(r, kName, "EXEMPLO");
    put(r, kFirstNames, "MARIA TESTE");
    put(r, kSex, "F");
    put(r, kNationality, "PRT");
    put(r, kBirthDate, "02 03 1980");
    put(r, kTaxNumber, "123456789");
    return 0;
}
#endif

#ifndef STANDIN_WITHOUT_PTEID_GetPic
// A 16-byte stand-in picture: 0x00 to 0x0F.
STANDIN_EXPORT long PTEID_GetPic(PTEID_PIC* picture) {
    if (!picture) return -1;
    std::memset(picture, 0, sizeof *picture);
    const uint32_t length = 16;
    for (uint32_t i = 0; i < length; ++i) picture->bytes[pteid_layout::kPictureBytes + i] = static_cast<unsigned char>(i);
    std::memcpy(picture->bytes + pteid_layout::kPictureLength, &length, sizeof length);
    return 0;
}
#endif

#ifndef STANDIN_WITHOUT_PTEID_Exit
STANDIN_EXPORT long PTEID_Exit(unsigned long) { return 0; }
#endif
