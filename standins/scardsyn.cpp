// Synchronous memory-card library stand-in: reads card memory with the
// PC/SC storage-card READ BINARY (FF B0 addr-hi addr-lo len).
#include <array>
#include <cstring>

#include "standins/standin_export.h"
#include "tarvik/reader/outside_interfaces.h"

namespace {

constexpr long kNotSupported = 0x80100022L;  // SCARD_E_UNSUPPORTED_FEATURE

[[maybe_unused]] long exchange(SCARDHANDLE card, const unsigned char* command, DWORD length, unsigned char* reply, DWORD* reply_len) {
    const DWORD capacity = *reply_len;
    long result = SCardTransmit(card, SCARD_PCI_T0, command, length, nullptr, reply, reply_len);
    if (result != SCARD_S_SUCCESS) {
        *reply_len = capacity;
        result = SCardTransmit(card, SCARD_PCI_T1, command, length, nullptr, reply, reply_len);
    }
    return result;
}

}  // namespace

#ifndef STANDIN_WITHOUT_SCard3WBPPresentPIN
STANDIN_EXPORT long SCard3WBPPresentPIN(SCARDHANDLE, unsigned long, const unsigned char*) { return kNotSupported; }
#endif

#ifndef STANDIN_WITHOUT_SCard3WBPReadData
// 0 when all count bytes came back with 9000; the status word or the PC/SC
// error otherwise.
STANDIN_EXPORT long SCard3WBPReadData(SCARDHANDLE card, unsigned long count, unsigned char* buffer,
                                      unsigned long address) {
    if (count == 0) return 0;
    if (count > 255 || address > 0xFFFF || !buffer) return kNotSupported;
    const std::array<unsigned char, 5> command{0xFF, 0xB0, static_cast<unsigned char>(address >> 8),
                                               static_cast<unsigned char>(address & 0xFF),
                                               static_cast<unsigned char>(count)};
    std::array<unsigned char, 258> reply{};
    DWORD reply_len = reply.size();
    const long result = exchange(card, command.data(), command.size(), reply.data(), &reply_len);
    if (result != SCARD_S_SUCCESS) return result;
    if (reply_len < 2) return kNotSupported;
    const long sw = reply[reply_len - 2] * 256L + reply[reply_len - 1];
    if (sw != 0x9000) return sw;
    if (reply_len - 2 != count) return kNotSupported;
    std::memcpy(buffer, reply.data(), count);
    return 0;
}
#endif

#ifndef STANDIN_WITHOUT_SCard3WBPWriteData
STANDIN_EXPORT long SCard3WBPWriteData(SCARDHANDLE, unsigned long, const unsigned char*, unsigned long,
                                       unsigned long) {
    return kNotSupported;
}
#endif

#ifndef STANDIN_WITHOUT_SCard3WBPChangePIN
STANDIN_EXPORT long SCard3WBPChangePIN(SCARDHANDLE, unsigned long, const unsigned char*, unsigned long,
                                       const unsigned char*) {
    return kNotSupported;
}
#endif

#ifndef STANDIN_WITHOUT_SCard3WBPCompareAndProtect
STANDIN_EXPORT long SCard3WBPCompareAndProtect(SCARDHANDLE, unsigned char, unsigned long) { return kNotSupported; }
#endif

#ifndef STANDIN_WITHOUT_SCard3WBPVerifyProtectBit
STANDIN_EXPORT long SCard3WBPVerifyProtectBit(SCARDHANDLE, unsigned long, int*) { return kNotSupported; }
#endif
