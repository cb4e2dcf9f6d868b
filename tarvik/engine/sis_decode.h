// Decoding of the two public areas of an SIS card (SLE4418 memory): PBDF
// (100 bytes at address 104) and ISDF (44 bytes at address 60), each closed
// by an XOR check byte, into NAME=value lines, XML or two fixed text records.
#ifndef TARVIK_ENGINE_SIS_DECODE_H
#define TARVIK_ENGINE_SIS_DECODE_H

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

inline constexpr std::size_t SIS_PBDF_SIZE = 100;
inline constexpr std::size_t SIS_ISDF_SIZE = 44;
inline constexpr std::size_t SIS_HEAD_SIZE = 61;
inline constexpr std::uint16_t SIS_HEAD_ADDRESS = 0;
inline constexpr std::uint16_t SIS_ISDF_ADDRESS = 60;
inline constexpr std::uint16_t SIS_PBDF_ADDRESS = 104;

// Output types.
inline constexpr int SIS_OUTPUT_LINES = 0;    // NAME=value\n per row, appended
inline constexpr int SIS_OUTPUT_XML = 1;      // <SIS_PBDF>\n<NAME>value</NAME>\n...</SIS_PBDF>\n, appended
inline constexpr int SIS_OUTPUT_RECORDS = 2;  // the fixed text records, copied
// Sizes of the type-2 records; a type-2 output must hold at least these.
inline constexpr std::size_t SIS_PBDF_RECORD_SIZE = 138;
inline constexpr std::size_t SIS_ISDF_RECORD_SIZE = 86;
// Room in bytes that one call needs after the text already in each output
// (types 0 and 1, terminator included) always fits in this.
inline constexpr std::size_t SIS_TEXT_OUTPUT_MAX = 1024;

// Results.
inline constexpr int SIS_OK = 1;
inline constexpr int SIS_NO_CARD = 3100;
inline constexpr int SIS_READ_FAILED = -1;
inline constexpr int SIS_PBDF_CHECK_FAILED = -3;
inline constexpr int SIS_ISDF_CHECK_FAILED = -4;
// An output is null or lacks the room the type needs; nothing was written.
inline constexpr int SIS_OUTPUT_TOO_SMALL = -5;

// Rendered values of one area, in table order (FIDN first).
using SisRows = std::vector<std::pair<std::string, std::string>>;

struct SisDecoded {
    SisRows pbdf;
    SisRows isdf;
    unsigned char pbdf_record[SIS_PBDF_RECORD_SIZE];
    unsigned char isdf_record[SIS_ISDF_RECORD_SIZE];
};

// SIS_OK, SIS_PBDF_CHECK_FAILED or SIS_ISDF_CHECK_FAILED (PBDF checked first).
int sis_check_bytes(std::span<const unsigned char, SIS_PBDF_SIZE> pbdf,
                    std::span<const unsigned char, SIS_ISDF_SIZE> isdf);

// Decodes both areas. A value wider than its record field (an ISDF_CLGN
// above 99,999,999) appears whole in the rows and leaves its field empty.
SisDecoded sis_decode(std::span<const unsigned char, SIS_PBDF_SIZE> pbdf,
                      std::span<const unsigned char, SIS_ISDF_SIZE> isdf);

// Writes the decoded areas to the outputs in the given type: SIS_OK, or
// SIS_OUTPUT_TOO_SMALL (nothing written to either output). Any type other
// than 0, 1 and 2 writes nothing and gives SIS_OK.
int sis_write_outputs(const SisDecoded& decoded, int type, char* isdf_out, std::size_t isdf_capacity,
                      char* pbdf_out, std::size_t pbdf_capacity);

#endif
