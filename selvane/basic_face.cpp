// BASIC-style face: 32-bit integer arguments of which only the low 16 bits
// count, strings by reference, BSTR results that the caller owns. Each call
// runs the flat API on zeroed buffers of its own.
#include <cstdio>
#include <span>
#include <string_view>
#include <vector>

#include "platform/export_guard.h"
#include "platform/library_lock.h"
#include "platform/file_writer.h"
#include "platform/sleep.h"
#include "selvane.h"
#include "selvane/bstr.h"

namespace {

constexpr int kStatusTries = 5;
constexpr int kStatusPauseMs = 150;

// The low 16 bits as the signed short a BASIC host passed.
int32_t low16(int32_t value) { return static_cast<int16_t>(static_cast<uint16_t>(value & 0xFFFF)); }

const char* referenced(char** text) { return text && *text ? *text : ""; }

using Buffer = std::vector<char>;
Buffer zeroed(std::size_t size) { return Buffer(size, '\0'); }

// Stores text in *slot when there is a slot to store it in.
void give(BSTR* slot, std::string_view text) {
    if (slot) selvane::bstr::replace(slot, text);
}

int32_t sis_read_private(int32_t handle, int32_t mode, const char* pin, BSTR* pbdf, BSTR* isdf, BSTR* sfdf) {
    Buffer isdf_text = zeroed(SELVANE_SIS_TEXT_SIZE);
    Buffer pbdf_text = zeroed(SELVANE_SIS_TEXT_SIZE);
    Buffer sfdf_text = zeroed(SELVANE_SFDF_TEXT_SIZE);
    const int32_t result = PCSC_SIS_Read_Private(low16(handle), low16(mode), pin, isdf_text.data(), pbdf_text.data(),
                                                 sfdf_text.data());
    if (result == 1) {
        give(pbdf, pbdf_text.data());
        give(isdf, isdf_text.data());
        give(sfdf, sfdf_text.data());
    }
    return result;
}

bool write_file(const char* path, const unsigned char* bytes, int32_t length) {
    return kit::platform::write_file(path, std::span(bytes, static_cast<std::size_t>(length))) ==
           kit::platform::WriteResult::written;
}

}  // namespace

extern "C" {

int32_t BASIC_PCSC_Get_devices(int32_t mode, BSTR* list) {
    return kit::guarded(__func__, -1, [&] {
        Buffer devices = zeroed(SELVANE_DEVICES_SIZE);
        const int32_t result = PCSC_Get_devices(low16(mode), devices.data());
        if (result == 0) give(list, devices.data());
        return result;
    });
}

int32_t BASIC_PCSC_Open_device(char** reader) try {
    const kit::LibraryCall call;
    return PCSC_Open_device(referenced(reader));
} catch (...) {
    return kit::export_failure(__func__, -1);
}

int32_t BASIC_PCSC_SIS_Read(int32_t handle, int32_t mode, BSTR* isdf, BSTR* pbdf) {
    return kit::guarded(__func__, -1, [&] {
        Buffer isdf_text = zeroed(SELVANE_SIS_TEXT_SIZE);
        Buffer pbdf_text = zeroed(SELVANE_SIS_TEXT_SIZE);
        const int32_t result = PCSC_SIS_Read(low16(handle), low16(mode), isdf_text.data(), pbdf_text.data());
        if (result == 1) {
            give(isdf, isdf_text.data());
            give(pbdf, pbdf_text.data());
        }
        return result;
    });
}

int32_t BASIC_PCSC_SIS_Read_Private(int32_t handle, int32_t mode, const char* pin, BSTR* pbdf, BSTR* isdf,
                                    BSTR* sfdf) {
    return kit::guarded(__func__, -1, [&] {
        const int32_t result = sis_read_private(handle, mode, pin, pbdf, isdf, sfdf);
        return result == SELVANE_SAM_NO_REPLY ? -1 : result;
    });
}

int32_t BASIC_PCSC_SIS_Read_Private2(int32_t handle, int32_t mode, char** pin, BSTR* pbdf, BSTR* isdf, BSTR* sfdf) {
    return kit::guarded(__func__, -1,
                        [&] { return sis_read_private(handle, mode, pin ? *pin : nullptr, pbdf, isdf, sfdf); });
}

int32_t BASIC_PCSC_SIS_Read_NISS(int32_t handle, BSTR* out) {
    return kit::guarded(__func__, -1, [&] {
        char unused[1] = {};
        const int32_t result = PCSC_SIS_Read_NISS(low16(handle), unused);
        if (result == 0) give(out, "");
        return result;
    });
}

int32_t BASIC_PCSC_EID_Read(int32_t handle, int32_t mode, BSTR* identity, BSTR* address, char** photo_path) {
    return kit::guarded(__func__, -1, [&] {
        // A path pointer that points to null asks for no photo, like no pointer.
        const bool want_photo = photo_path && *photo_path;
        Buffer identity_text = zeroed(SELVANE_EID_ID_TEXT_SIZE);
        Buffer address_text = zeroed(SELVANE_EID_ADDRESS_TEXT_SIZE);
        std::vector<unsigned char> photo(SELVANE_PHOTO_SIZE, 0);
        int32_t photo_length = want_photo ? 0 : -1;
        const int32_t result = PCSC_EID_Read(low16(handle), low16(mode), identity_text.data(), address_text.data(),
                                             photo.data(), &photo_length);
        if (result != 0) return result;
        give(identity, identity_text.data());
        give(address, address_text.data());
        if (want_photo) {
            const int32_t length = photo_length < 0 || photo_length > SELVANE_PHOTO_SIZE ? 0 : photo_length;
            if (!write_file(*photo_path, photo.data(), length)) return SELVANE_PHOTO_FILE_FAILED;
        }
        return result;
    });
}

int32_t BASIC_PCSC_Reader_Status(int32_t handle, int16_t* powered, int16_t* removed, BSTR* atr) {
    return kit::guarded(__func__, -1, [&] {
        if (powered) *powered = 0;
        if (removed) *removed = 1;
        int32_t is_powered = 0;
        int32_t is_removed = 1;
        unsigned char atr_bytes[SELVANE_ATR_SIZE] = {};
        int32_t atr_length = 0;
        int32_t result = -1;
        for (int attempt = 0; attempt < kStatusTries; ++attempt) {
            result = PCSC_Reader_Status(low16(handle), &is_powered, &is_removed, atr_bytes, &atr_length);
            if (result == 0) break;
            kit::platform::sleep_ms(kStatusPauseMs);
        }
        if (result != 0) return result;
        if (powered) *powered = static_cast<int16_t>(is_powered);
        if (removed) *removed = static_cast<int16_t>(is_removed);
        if (atr_length < 0 || atr_length > SELVANE_ATR_SIZE) atr_length = 0;
        give(atr, std::string_view(reinterpret_cast<const char*>(atr_bytes), static_cast<std::size_t>(atr_length)));
        return result;
    });
}

int32_t BASIC_PCSC_Display_Message(int32_t handle, char** text, int32_t a, int32_t b) try {
    const kit::LibraryCall call;
    return PCSC_Display_Message(low16(handle), referenced(text), low16(a), low16(b));
} catch (...) {
    return kit::export_failure(__func__, -1);
}

int32_t BASIC_PCSC_Beep(int32_t handle, int32_t a) try {
    const kit::LibraryCall call;
    return PCSC_Beep(low16(handle), low16(a));
} catch (...) {
    return kit::export_failure(__func__, -1);
}

int32_t BASIC_QUARLO_Get_devices(int32_t mode, BSTR* list) { return BASIC_PCSC_Get_devices(mode, list); }
int32_t BASIC_QUARLO_Open_device(char** reader) { return BASIC_PCSC_Open_device(reader); }
int32_t BASIC_QUARLO_SIS_Read(int32_t handle, int32_t mode, BSTR* isdf, BSTR* pbdf) {
    return BASIC_PCSC_SIS_Read(handle, mode, isdf, pbdf);
}
int32_t BASIC_QUARLO_SIS_Read_Private(int32_t handle, int32_t mode, const char* pin, BSTR* pbdf, BSTR* isdf,
                                      BSTR* sfdf) {
    return BASIC_PCSC_SIS_Read_Private(handle, mode, pin, pbdf, isdf, sfdf);
}
int32_t BASIC_QUARLO_SIS_Read_Private2(int32_t handle, int32_t mode, char** pin, BSTR* pbdf, BSTR* isdf,
                                       BSTR* sfdf) {
    return BASIC_PCSC_SIS_Read_Private2(handle, mode, pin, pbdf, isdf, sfdf);
}
int32_t BASIC_QUARLO_SIS_Read_NISS(int32_t handle, BSTR* out) { return BASIC_PCSC_SIS_Read_NISS(handle, out); }
int32_t BASIC_QUARLO_EID_Read(int32_t handle, int32_t mode, BSTR* identity, BSTR* address, char** photo_path) {
    return BASIC_PCSC_EID_Read(handle, mode, identity, address, photo_path);
}
int32_t BASIC_QUARLO_Reader_Status(int32_t handle, int16_t* powered, int16_t* removed, BSTR* atr) {
    return BASIC_PCSC_Reader_Status(handle, powered, removed, atr);
}
int32_t BASIC_QUARLO_Display_Message(int32_t handle, char** text, int32_t a, int32_t b) {
    return BASIC_PCSC_Display_Message(handle, text, a, b);
}
int32_t BASIC_QUARLO_Beep(int32_t handle, int32_t a) { return BASIC_PCSC_Beep(handle, a); }

}  // extern "C"
