// Call shapes of the card-terminal library "ctmwin.dll" (libctmwin.so), which
// reaches a SIS card through a security module (SAM) in a second reader.
//
// Every call returns a 16-bit status, 0 on success. Handles are 32-bit.
// Lengths passed by address are in/out: in, the capacity of the buffer beside
// them; out, the bytes written (never more than the capacity).
#ifndef SELVANE_CTM_INTERFACE_H
#define SELVANE_CTM_INTERFACE_H

#include <cstddef>
#include <cstdint>

namespace selvane::ctm {

using Handle = std::uint32_t;
using Status = std::uint16_t;

// File identifiers of BncsReadData and BncsGetData.
inline constexpr std::uint8_t kIsdfFile = 0x11;
inline constexpr std::uint8_t kPbdfFile = 0x12;
inline constexpr std::uint8_t kSfdfFile = 0x43;

// A SIS key record, and the key table: kKeyCount records then two nulls.
inline constexpr std::size_t kKeyRecordBytes = 25;
inline constexpr std::size_t kKeyCount = 16;
inline constexpr std::size_t kKeyTableSlots = kKeyCount + 2;

extern "C" {
using OpenFn = Status (*)(Handle* application);
using CloseFn = Status (*)(Handle application);
using ResOpenFn = Status (*)(Handle application, const char* resource_name, Handle* resource);
using ResCloseFn = Status (*)(Handle resource);
using SetExclusivityFn = Status (*)(Handle resource, int exclusive);
using CtResetFn = Status (*)(Handle resource);
using CardCommandFn = Status (*)(Handle resource, Handle unit, std::uint16_t command_length,
                                 const unsigned char* command, std::uint16_t* reply_length, unsigned char* reply,
                                 std::uint8_t* card_status, std::uint16_t* status);
using CardOpenFn = Status (*)(Handle resource, const char* prompt, std::uint8_t option, std::uint16_t timeout,
                              std::uint16_t* atr_length, unsigned char* atr, std::uint8_t* card_status,
                              std::uint16_t* status);
using IsSisCardFn = Status (*)(Handle resource, int* is_sis_card);
using BncsInitialiseFn = Status (*)(Handle sis, Handle sam, const char* config_file, void* tracing_data);
using BncsTerminateFn = Status (*)(Handle sis);
using BncsReadDataFn = Status (*)(Handle sis, std::uint8_t file, std::uint8_t option,
                                  const unsigned char* const* keys);
using BncsWriteDataFn = Status (*)(Handle sis, std::uint8_t file, const unsigned char* data, std::uint16_t length,
                                   const unsigned char* const* keys);
using BncsGetDataFn = Status (*)(Handle sis, std::uint8_t file, std::uint16_t* length, unsigned char* data,
                                 std::uint16_t* certificate_length, unsigned char* certificate);
}

}  // namespace selvane::ctm

#endif
