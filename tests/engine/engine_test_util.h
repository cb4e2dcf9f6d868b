// Small helpers the engine tests share: byte records and a private temporary
// directory per test.
#ifndef TESTS_ENGINE_ENGINE_TEST_UTIL_H
#define TESTS_ENGINE_ENGINE_TEST_UTIL_H

#include "tarvik/engine/eid_records.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

using Bytes = std::vector<unsigned char>;

inline Bytes read_bytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void write_text(const std::filesystem::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

// Hexadecimal text as the card logs write it (digests: lower case).
inline std::string hex_bytes(const unsigned char* bytes, std::size_t count, bool upper = true) {
    std::string text;
    char pair[3];
    for (std::size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, upper ? "%02X" : "%02x", bytes[i]);
        text += pair;
    }
    return text;
}
// A number in at least `digits` upper-case hexadecimal digits.
inline std::string hex_number(int value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}
// The SELECT of a file by its identifier, as the engine sends it.
inline std::string select_apdu(int fid) { return "00A4020C02" + hex_number(fid, 4); }

// A record member replaced by a copy of bytes (a certificate with its number).
inline void fill(S_EID_DATA& member, const Bytes& bytes) {
    free_S_EID_DATA(&member);
    init_S_EID_DATA(&member, bytes.data(), static_cast<int32_t>(bytes.size()), nullptr, 0);
}
inline void fill(S_EID_CERT& member, const Bytes& bytes, uint32_t number) {
    free_S_EID_CERT(&member);
    init_S_EID_CERT(&member, bytes.data(), static_cast<int32_t>(bytes.size()), number, nullptr, 0);
}

// Both records of a transaction, initialised and freed.
struct Records {
    S_EID_FUNCTION_INPUT in{};
    S_EID_FUNCTION_OUTPUT out{};
    Records() {
        init_S_EID_FUNCTION_INPUT(&in);
        init_S_EID_FUNCTION_OUTPUT(&out);
    }
    ~Records() {
        free_S_EID_FUNCTION_INPUT(&in);
        free_S_EID_FUNCTION_OUTPUT(&out);
    }
    Records(const Records&) = delete;
    Records& operator=(const Records&) = delete;
};

// An S_EID_DATA that frees itself.
struct Data {
    S_EID_DATA d{};
    Data() { init_S_EID_DATA(&d); }
    explicit Data(const Bytes& bytes) {
        init_S_EID_DATA(&d);
        if (!bytes.empty()) init_S_EID_DATA(&d, bytes.data(), static_cast<int32_t>(bytes.size()), nullptr, 0);
    }
    explicit Data(const std::string& text) : Data(Bytes(text.begin(), text.end())) {}
    ~Data() { free_S_EID_DATA(&d); }
    Data(const Data&) = delete;
    Data& operator=(const Data&) = delete;
    S_EID_DATA* operator&() { return &d; }
    Bytes bytes() const { return d.dta == nullptr ? Bytes{} : Bytes(d.dta, d.dta + d.dta_len); }
};

// A directory of its own under the system's temporary directory, removed at
// the end.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "engine-test-XXXXXX").string();
        if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

#endif
