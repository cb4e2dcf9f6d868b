// Feeds arbitrary PBDF and ISDF areas to the SIS decoder: byte 0 picks the
// output type, byte 1 the capacity of the text outputs, then 100 PBDF bytes
// and 44 ISDF bytes. Results must be documented codes, the records must keep
// every field's terminating zero, and texts must end within their capacity.
#include "tarvik/engine/sis_decode.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

// Field ends (offset + characters) of the two records: each holds a zero.
constexpr std::size_t kPbdfEnds[] = {2, 15, 24, 73, 98, 100, 102, 111, 120, 129, 132, 137};
constexpr std::size_t kIsdfEnds[] = {2, 15, 24, 31, 33, 42, 51, 60, 69, 74, 77};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    constexpr std::size_t kNeeded = 2 + SIS_PBDF_SIZE + SIS_ISDF_SIZE;
    if (size < kNeeded) return 0;
    const int type = data[0] % 4;
    const std::size_t capacity = static_cast<std::size_t>(data[1]) * 8;
    const std::span<const unsigned char, SIS_PBDF_SIZE> pbdf(data + 2, SIS_PBDF_SIZE);
    const std::span<const unsigned char, SIS_ISDF_SIZE> isdf(data + 2 + SIS_PBDF_SIZE, SIS_ISDF_SIZE);

    const int check = sis_check_bytes(pbdf, isdf);
    if (check != SIS_OK && check != SIS_PBDF_CHECK_FAILED && check != SIS_ISDF_CHECK_FAILED) __builtin_trap();

    const SisDecoded decoded = sis_decode(pbdf, isdf);
    if (decoded.pbdf.size() != 12 || decoded.isdf.size() != 12) __builtin_trap();
    for (std::size_t end : kPbdfEnds)
        if (decoded.pbdf_record[end] != 0) __builtin_trap();
    for (std::size_t end : kIsdfEnds)
        if (decoded.isdf_record[end] != 0) __builtin_trap();

    std::vector<char> isdf_out(capacity + 1, '\0'), pbdf_out(capacity + 1, '\0');
    const int rc = sis_write_outputs(decoded, type, isdf_out.data(), isdf_out.size(), pbdf_out.data(), pbdf_out.size());
    if (rc != SIS_OK && rc != SIS_OUTPUT_TOO_SMALL) __builtin_trap();
    if (type != SIS_OUTPUT_RECORDS && (isdf_out.back() != '\0' || pbdf_out.back() != '\0')) __builtin_trap();
    return 0;
}
