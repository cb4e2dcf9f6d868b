// The Portuguese identity read through the outside middleware.
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "platform/markup_text.h"
#include "tarvik/faces/face_state.h"
#include "tarvik/faces/face_trace.h"
#include "tarvik.h"
#include "tarvik/reader/outside_libraries.h"
#include "platform/export_guard.h"
#include "platform/library_lock.h"

namespace {

constexpr long kNoCard = 9;
constexpr const char* kTraceName = "readPtEidPubDataIdentify";
constexpr std::string_view kAddressText = "STREET_AND_NUMBER=\nZIPCODE=\nMUNICIPALITY=\n";

bool g_binding_attempted = false;

bool all_bound(const PteidEntryPoints& pt) {
    return pt.PTEID_Init && pt.PTEID_GetID && pt.PTEID_GetPic && pt.PTEID_Exit;
}

// The zero-terminated member at offset, never read past the record, as a
// NAME=value line's value.
std::string member(const PTEID_ID& record, std::size_t offset) {
    const char* start = reinterpret_cast<const char*>(record.bytes) + offset;
    std::string value;
    kit::platform::append_line_value(value, {start, strnlen(start, sizeof record.bytes - offset)});
    return value;
}

std::string identity_text(const PTEID_ID& id) {
    using namespace pteid_layout;
    std::string text;
    text.append("CARD_NUMBER=").append(member(id, kCardNumber));
    text.append("\nCHIP_NUMBER=").append(member(id, kCardPan));
    text.append("\nSTART_DATE=").append(member(id, kDeliveryDate));
    text.append("\nEND_DATE=").append(member(id, kValidityDate));
    text.append("\nDELIVERY_MUNICIPALITY=").append(member(id, kDeliveryLocality));
    text.append("\nNATIONAL_NUMBER=").append(member(id, kTaxNumber));
    text.append("\nNAME=").append(member(id, kName));
    text.append("\nFIRST_NAMES=").append(member(id, kFirstNames));
    text.append("\nNATIONALITY=").append(member(id, kNationality));
    text.append("\nBIRTH_LOCATION=");
    text.append("\nBIRTH_DATE=").append(member(id, kBirthDate));
    text.append("\nSEX=").append(member(id, kSex));
    text.append("\nDOC_TYPE=").append(member(id, kDocumentType));
    text.append("\nNOBLE_CONDITION=\nSPECIAL_STATUS=0\nHASH_PHOTO=\n\n");
    return text;
}

void write_text(char* out, std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    out[text.size()] = '\0';
}

// 0 with both texts written, the middleware's code, or -1 when the texts
// would not fit their buffers.
int read_identity(const PteidEntryPoints& pt, char* identity_out, char* address_out) {
    PTEID_ID id{};
    const long rc = pt.PTEID_GetID(&id);
    if (rc != 0) {
        FACE_TRACE(kTraceName, "ERROR in readPtEidPubDataIdentify(), PTEID_GetID() answered %ld", rc);
        return rc == kNoCard ? -2 : static_cast<int>(rc);
    }
    const std::string text = identity_text(id);
    if (identity_out == nullptr || address_out == nullptr || text.size() >= PLAIN_PT_TEXT_SIZE) return -1;
    write_text(identity_out, text);
    write_text(address_out, kAddressText);
    return 0;
}

// 0 with the picture copied, 1 when the middleware gave none (nothing
// written), -1 for a length beyond the record or a missing output.
int read_picture(const PteidEntryPoints& pt, unsigned char* photo, int* photo_len) {
    static PTEID_PIC picture;  // 14 KiB: kept off the host's stack
    std::memset(&picture, 0, sizeof picture);
    if (pt.PTEID_GetPic(&picture) != 0) return 1;
    uint32_t length = 0;
    std::memcpy(&length, picture.bytes + pteid_layout::kPictureLength, sizeof length);
    if (length > pteid_layout::kPictureMax || photo == nullptr || photo_len == nullptr) {
        FACE_TRACE(kTraceName, "ERROR in readPtEidPubDataIdentify(), picture length %u refused", length);
        return -1;
    }
    std::memcpy(photo, picture.bytes + pteid_layout::kPictureBytes, length);
    *photo_len = static_cast<int>(length);
    return 0;
}

}  // namespace

extern "C" TARVIK_EXPORT int readPtEidPubDataIdentify(int, int, int, int want_identity, int want_photo,
                                                      char* identity_text_out, char* address_text_out,
                                                      unsigned char* photo, int* photo_len) try {
    const kit::LibraryCall call;
    if (!g_binding_attempted) {
        g_binding_attempted = true;
        load_mw_portugal_dll();
        return -3;
    }
    const PteidEntryPoints& pt = pteid_entry_points();
    if (!all_bound(pt)) {
        FACE_TRACE(kTraceName, "ERROR in readPtEidPubDataIdentify(), the identity middleware is not bound");
        return -1;
    }
    int result = static_cast<int>(pt.PTEID_Init(selected_reader_name));
    if (want_identity == 1) {
        result = read_identity(pt, identity_text_out, address_text_out);
        if (result != 0) {
            pt.PTEID_Exit(0);
            return result;
        }
    }
    if (want_photo == 1 && read_picture(pt, photo, photo_len) < 0) result = -1;
    pt.PTEID_Exit(0);
    return result;
} catch (...) {
    return kit::export_failure(__func__, -1);
}
