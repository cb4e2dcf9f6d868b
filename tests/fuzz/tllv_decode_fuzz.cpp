// Feeds arbitrary replies to the TLLV decoder. The first four bytes choose the
// reply selector (one bit per flag), the rest is the reply. Whatever is
// stored must survive an encode/decode trip unchanged.
#include "tarvik/engine/eid_tllv.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

void select_by_bits(S_EID_TLLV_SELECTOR& selector, uint32_t bits) {
    int32_t flags[32];
    static_assert(sizeof flags == sizeof selector);
    for (int i = 0; i < 32; ++i) flags[i] = (bits >> i) & 1u ? 1 : 0;
    std::memcpy(&selector, flags, sizeof flags);
}

std::string encode(const S_EID_FUNCTION_INPUT& in, const S_EID_FUNCTION_OUTPUT& out,
                   const S_EID_TLLV_SELECTOR& selector) {
    uint32_t length = 0;
    unsigned char* buffer = eidStructs2TLLV(&in, &out, &selector, &length);
    if (buffer == nullptr) return {};
    std::string bytes(reinterpret_cast<const char*>(buffer), length);
    std::free(buffer);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4 || size > 70000) return 0;
    uint32_t bits = 0;
    std::memcpy(&bits, data, 4);
    S_EID_TLLV_SELECTOR selector;
    select_by_bits(selector, bits);
    const unsigned char* reply = data + 4;
    const auto length = static_cast<uint32_t>(size - 4);

    S_EID_FUNCTION_INPUT in;
    S_EID_FUNCTION_OUTPUT out;
    init_S_EID_FUNCTION_INPUT(&in);
    init_S_EID_FUNCTION_OUTPUT(&out);
    // Twice: the second pass replaces what the first stored.
    if (eidTLLV2Structs(reply, length, &in, &out, &selector) != 0) __builtin_trap();
    if (eidTLLV2Structs(reply, length, &in, &out, &selector) != 0) __builtin_trap();

    S_EID_TLLV_SELECTOR all;
    init_S_EID_TLLV_SELECTOR(&all);
    const std::string first = encode(in, out, all);
    S_EID_FUNCTION_INPUT in2;
    S_EID_FUNCTION_OUTPUT out2;
    init_S_EID_FUNCTION_INPUT(&in2);
    init_S_EID_FUNCTION_OUTPUT(&out2);
    if (eidTLLV2Structs(reinterpret_cast<const unsigned char*>(first.data()), static_cast<uint32_t>(first.size()),
                        &in2, &out2, &all) != 0)
        __builtin_trap();
    if (encode(in2, out2, all) != first) __builtin_trap();

    free_S_EID_FUNCTION_INPUT(&in);
    free_S_EID_FUNCTION_OUTPUT(&out);
    free_S_EID_FUNCTION_INPUT(&in2);
    free_S_EID_FUNCTION_OUTPUT(&out2);
    return 0;
}
