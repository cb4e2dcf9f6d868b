// Pcsc_Common::transmit over a PC/SC layer of the test's own (these
// definitions take the place of pcsc-lite's), which may report more
// response bytes than the buffer it was handed can hold.
#include <gtest/gtest.h>

#include <PCSC/winscard.h>

#include <cstring>
#include <vector>

#include "tarvik/reader/pcsc_common.h"

namespace {
DWORD g_reported = 0;
}  // namespace

extern "C" {

LONG SCardBeginTransaction(SCARDHANDLE) { return SCARD_S_SUCCESS; }

LONG SCardEndTransaction(SCARDHANDLE, DWORD) { return SCARD_S_SUCCESS; }

// Writes only the buffer it was given (0x55 bytes, 90 00 last when the
// reported length fits), then reports g_reported bytes.
LONG SCardTransmit(SCARDHANDLE, const SCARD_IO_REQUEST*, LPCBYTE, DWORD, SCARD_IO_REQUEST*, LPBYTE received,
                   LPDWORD received_length) {
    std::memset(received, 0x55, *received_length);
    if (g_reported >= 2 && g_reported <= *received_length) {
        received[g_reported - 2] = 0x90;
        received[g_reported - 1] = 0x00;
    }
    *received_length = g_reported;
    return SCARD_S_SUCCESS;
}

}  // extern "C"

namespace {

constexpr unsigned char kHeader[5] = {0x00, 0xB0, 0x00, 0x00, 0x00};

TEST(TransmitOverALyingLibrary, ALengthBeyondTheBufferIsAFailedExchange) {
    for (const DWORD reported : {DWORD{1025}, DWORD{1026}, DWORD{4096}}) {
        g_reported = reported;
        Pcsc_Common reader;
        reader.card = 1;
        std::vector<unsigned char> data(Pcsc_Common::kApduBufferSize, 0xAA);
        unsigned int length = 0;
        int sw = 7;
        EXPECT_LT(reader.transmit(kHeader, 0, data.data(), data.size(), &length, &sw), 4096) << reported;
        EXPECT_EQ(sw, 7);
        EXPECT_LE(length, Pcsc_Common::kApduBufferSize);
        EXPECT_EQ(data, std::vector<unsigned char>(data.size(), 0xAA)) << reported;
    }
}

TEST(TransmitOverALyingLibrary, AFullBufferIsStillAnAnswer) {
    g_reported = Pcsc_Common::kApduBufferSize;
    Pcsc_Common reader;
    reader.card = 1;
    std::vector<unsigned char> data(Pcsc_Common::kApduBufferSize, 0xAA);
    unsigned int length = 0;
    int sw = 0;
    EXPECT_EQ(reader.transmit(kHeader, 0, data.data(), data.size(), &length, &sw), 0x9000);
    EXPECT_EQ(length, Pcsc_Common::kApduBufferSize - 2);
    EXPECT_EQ(data[0], 0x55);
}

}  // namespace
