// Secure-PIN-entry (SPE) readers: which readers qualify (spinpad.txt in the
// data directory), loading the reader library the host names, the engine's
// SPE mode, and the list of supported readers from the list provider.
//
// spinpad.txt: sections "reader00", "reader01", ... read in order until the
// first one that is missing or holds neither key; keys `name` (a text a
// PC/SC reader name must contain) and `lib`, each at most
// EID_SPINPAD_VALUE_MAX - 1 characters (a longer value ends the list); a
// section lacking one key is skipped. At most EID_SPINPAD_SECTIONS sections
// ("reader00" to "reader09") are read.
//
// Results are 0 on success; each failure writes one trace line (level 8).
#ifndef TARVIK_ENGINE_EID_SPE_READERS_H
#define TARVIK_ENGINE_EID_SPE_READERS_H

#include <cstddef>
#include <cstdint>

inline constexpr std::size_t EID_SPINPAD_VALUE_MAX = 256;   // name and lib buffers, terminator included
inline constexpr std::size_t EID_SPINPAD_PATH_MAX = 1024;   // data directory, "/" unless it ends in one, "spinpad.txt" and a terminator
inline constexpr int EID_SPINPAD_SECTIONS = 10;
inline constexpr std::size_t EID_SPE_READER_LIST_MAX = 4096; // caller's buffer of eidGetXMLSuportedSPEReaders
inline constexpr const char* EID_SPINPAD_FILE_NAME = "spinpad.txt";

// One reader of spinpad.txt; texts are heap copies.
struct S_SPINPAD_READER {
    int32_t number;  // 0 for "reader00"
    char* name;
    char* lib;
    S_SPINPAD_READER* next;
};

// Builds the list of ini_filename in section order into *spinpad_reader,
// which must hold null. 0 (a missing or empty file gives an empty list), or
// -1 for a null argument or a list that is not empty.
int eidParseSPinpadIni(const char* ini_filename, S_SPINPAD_READER** spinpad_reader);
// Frees a list built by eidParseSPinpadIni.
void eidFreeSPinpadList(S_SPINPAD_READER* spinpad_reader);

// Looks reader_name up in the spinpad.txt of the data directory stored by
// eidInit / eidInitWeb: the same as eidIsSupportedSPEReaderIn.
int eidIsSupportedSPEReader(const char* reader_name, int* supported);

// Looks reader_name up in the spinpad.txt of data_directory: *supported = 1
// when the name contains a listed reader's `name` (else left as it was).
// 0; -1 for null arguments, a path longer than EID_SPINPAD_PATH_MAX - 1 or
// an empty list (also: no file).
int eidIsSupportedSPEReaderIn(const char* data_directory, const char* reader_name, int* supported);

// Loads the reader library at library (file name or path), calls its
// SCR_Init for reader_name, and only when that succeeds switches SPE mode on
// and keeps spe_reader_name (see eid_spe_reader_name() in eid_engine.h).
// 0; -1 for a null or over-long (>= EID_SPE_READER_NAME_SIZE) argument or a library that did not load and
// bind completely; else SCR_Init's result, SPE mode then 0.
int eidSetSPELibrary(const char* reader_name, const char* spe_reader_name, const char* library);

// Switches SPE mode off, then copies the provider's XML list into xml (a
// buffer of EID_SPE_READER_LIST_MAX bytes). 0; -1 no provider or a null
// buffer; -2 provider without its entry point; the provider's own result;
// -3 when the list does not fit (xml is then empty).
int eidGetXMLSuportedSPEReaders(char* xml);

// *screader_name := a heap copy (free()) of the selected reader name.
// 0, or -1 for a null out or a failed allocation (*screader_name then null).
int eidGetSCReaderName(char** screader_name);

// *operational := 1 when reader_name equals the selected reader name exactly
// and SPE mode is on, else 0. Always 0 (a null out is skipped).
int eidIsOperationalSPESCReader(const char* reader_name, int* operational);

// 1 while a reader library is loaded and initialised, else 0.
int eid_spe_mode();

#endif
