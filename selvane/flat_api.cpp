// The flat exports: PCSC_* and their QUARLO_* twins, which forward to
// tarvik with the current device standing in for handle 0.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "orvel.h"
#include "selvane.h"
#include "selvane/current_device.h"
#include "selvane/reader_file.h"
#include "selvane/reader_list.h"
#include "selvane/tarvik_binding.h"
#include "platform/export_guard.h"
#include "platform/library_lock.h"

namespace {

using namespace selvane;

constexpr const char* kGetDevices = "PCSC_Get_devices";

// Copies text into a buffer of `capacity` bytes, cut to fit.
void copy_text(char* out, std::size_t capacity, std::string_view text) {
    const std::size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

int32_t get_devices(int32_t mode, char* devices) {
    __tracef(ORVEL_DEBUG, kGetDevices, __FILE__, __LINE__, "PCSC_Get_devices()");
    if (!devices) return kNotBound;
    devices[0] = '\0';
    char list[SELVANE_DEVICES_SIZE] = {};
    const int result = call::getIccList(list);
    if (result != 0) {
        __tracef(ORVEL_DEBUG, kGetDevices, __FILE__, __LINE__, "getIccList(icc_lst) retval != %d", result);
        return result;
    }
    list[sizeof list - 1] = '\0';
    __tracef(ORVEL_DEBUG, kGetDevices, __FILE__, __LINE__, "getIccList(%s)", list);
    if (mode == SELVANE_MODE_XML) {
        __tracef(ORVEL_DEBUG, kGetDevices, __FILE__, __LINE__, "XML");
        copy_text(devices, SELVANE_DEVICES_SIZE, list);
    } else if (mode == SELVANE_MODE_LINES) {
        __tracef(ORVEL_DEBUG, kGetDevices, __FILE__, __LINE__, "NO XML");
        copy_text(devices, SELVANE_DEVICES_SIZE, reader_names(list));
        __tracef(ORVEL_DEBUG, kGetDevices, __FILE__, __LINE__, "devices=%s", devices);
    }
    return 0;
}

int32_t open_device(const char* reader) {
    const int handle = call::openDevice(reader);
    set_current_device(handle);
    if (handle > 0 && reader) remember_reader(reader);
    return handle;
}

int32_t reader_status(int32_t handle, int32_t* powered, int32_t* removed, unsigned char* atr, int32_t* atr_len) {
    handle = device_or_current(handle);
    if (!is_tarvik_device(handle)) return kNoDevice;
    return call::getCardStatus(handle, powered, removed, atr, reinterpret_cast<unsigned int*>(atr_len));
}

int32_t sis_read(int32_t handle, int32_t mode, char* isdf, char* pbdf) {
    if (!isdf) return SELVANE_SIS_NO_ISDF_BUFFER;
    if (!pbdf) return SELVANE_SIS_NO_PBDF_BUFFER;
    handle = device_or_current(handle);
    if (!is_tarvik_device(handle)) return kNoDevice;
    return call::readSisCard(handle, mode, isdf, pbdf);
}

int32_t eid_read(int32_t handle, int32_t mode, char* identity, char* address, unsigned char* photo,
                 int32_t* photo_len) {
    if (!address) return SELVANE_EID_NO_ADDRESS_BUFFER;
    if (!identity) return SELVANE_EID_NO_ID_BUFFER;
    if (!photo_len || (*photo_len != -1 && !photo)) return SELVANE_EID_NO_PHOTO_BUFFER;
    identity[0] = '\0';
    address[0] = '\0';
    handle = device_or_current(handle);
    if (handle == 0) return 0;
    if (!is_tarvik_device(handle)) return kNoDevice;
    const int want_photo = *photo_len != -1 ? 1 : 0;
    return call::readEidPubDataIdentify(handle, mode, 1, 1, want_photo, identity, address, photo, photo_len);
}

int32_t authenticate(int32_t handle, const char* server_url, const int (&masks)[10], const char* pin,
                     char* transaction_id) {
    if (!is_tarvik_device(handle)) return kNoDevice;
    call::eidStartOnline(server_url);
    return call::eidAuthenticationOnline(handle, masks, pin, transaction_id);
}

}  // namespace

extern "C" {

int32_t PCSC_Get_devices(int32_t mode, char* devices) try {
    const kit::LibraryCall call;
    return get_devices(mode, devices);
} catch (...) {
    return kit::export_failure(__func__, -1);
}
int32_t QUARLO_Get_devices(int32_t mode, char* devices) try {
    const kit::LibraryCall call;
    return get_devices(mode, devices);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

int32_t PCSC_Open_device(const char* reader) try {
    const kit::LibraryCall call;
    return open_device(reader);
} catch (...) {
    return kit::export_failure(__func__, -1);
}
int32_t QUARLO_Open_device(const char* reader) try {
    const kit::LibraryCall call;
    return open_device(reader);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

int32_t PCSC_Reader_Status(int32_t handle, int32_t* powered, int32_t* removed, unsigned char* atr,
                           int32_t* atr_len) try {
    const kit::LibraryCall call;
    return reader_status(handle, powered, removed, atr, atr_len);
} catch (...) {
    return kit::export_failure(__func__, -1);
}
int32_t QUARLO_Reader_Status(int32_t handle, int32_t* powered, int32_t* removed, unsigned char* atr,
                             int32_t* atr_len) try {
    const kit::LibraryCall call;
    return reader_status(handle, powered, removed, atr, atr_len);
} catch (...) {
    return kit::export_failure(__func__, -1);
}
int32_t PCSC_SIS_Status(int32_t handle, int32_t* powered, int32_t* removed, unsigned char* atr, int32_t* atr_len) try {
    const kit::LibraryCall call;
    return reader_status(handle, powered, removed, atr, atr_len);
} catch (...) {
    return kit::export_failure(__func__, -1);
}
// Forwards like every other twin rather than answering 0 untouched.
int32_t QUARLO_SIS_Status(int32_t handle, int32_t* powered, int32_t* removed, unsigned char* atr,
                          int32_t* atr_len) try {
    const kit::LibraryCall call;
    return reader_status(handle, powered, removed, atr, atr_len);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

int32_t PCSC_SIS_Read(int32_t handle, int32_t mode, char* isdf, char* pbdf) try {
    const kit::LibraryCall call;
    return sis_read(handle, mode, isdf, pbdf);
} catch (...) {
    return kit::export_failure(__func__, -1);
}
int32_t QUARLO_SIS_Read(int32_t handle, int32_t mode, char* isdf, char* pbdf) try {
    const kit::LibraryCall call;
    return sis_read(handle, mode, isdf, pbdf);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

int32_t PCSC_SIS_Read_NISS(int32_t, char*) { return 0; }
int32_t QUARLO_SIS_Read_NISS(int32_t, char*) { return 0; }
int32_t PCSC_SIS_Init(int32_t) { return 0; }
int32_t QUARLO_SIS_Init(int32_t) { return 0; }

int32_t PCSC_EID_Read(int32_t handle, int32_t mode, char* identity, char* address, unsigned char* photo,
                      int32_t* photo_len) try {
    const kit::LibraryCall call;
    return eid_read(handle, mode, identity, address, photo, photo_len);
} catch (...) {
    return kit::export_failure(__func__, -1);
}
int32_t QUARLO_EID_Read(int32_t handle, int32_t mode, char* identity, char* address, unsigned char* photo,
                        int32_t* photo_len) try {
    const kit::LibraryCall call;
    return eid_read(handle, mode, identity, address, photo, photo_len);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

int32_t eidAuthenticateValidationKey(int32_t handle, const char* server_url, int32_t m0, int32_t m1, int32_t m2,
                                     int32_t m3, int32_t m4, int32_t m5, int32_t m6, int32_t m7, int32_t m8,
                                     int32_t m9, const char* pin, char* transaction_id) try {
    const kit::LibraryCall call;
    const int masks[10] = {m0, m1, m2, m3, m4, m5, m6, m7, m8, m9};
    return authenticate(handle, server_url, masks, pin, transaction_id);
} catch (...) {
    return kit::export_failure(__func__, -1);
}
// Forwards like every other twin rather than answering 0 untouched.
int32_t QUARLO_eidAuthenticateValidationKey(int32_t handle, const char* server_url, int32_t m0, int32_t m1,
                                            int32_t m2, int32_t m3, int32_t m4, int32_t m5, int32_t m6, int32_t m7,
                                            int32_t m8, int32_t m9, const char* pin, char* transaction_id) try {
    const kit::LibraryCall call;
    const int masks[10] = {m0, m1, m2, m3, m4, m5, m6, m7, m8, m9};
    return authenticate(handle, server_url, masks, pin, transaction_id);
} catch (...) {
    return kit::export_failure(__func__, -1);
}

}  // extern "C"
