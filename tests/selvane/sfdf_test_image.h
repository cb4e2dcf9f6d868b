// Builds SFDF items by hand for the tests: tag, length byte, value.
#ifndef TESTS_SELVANE_SFDF_TEST_IMAGE_H
#define TESTS_SELVANE_SFDF_TEST_IMAGE_H

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

inline std::string item(unsigned char tag, std::string_view value) {
    std::string out{static_cast<char>(tag), static_cast<char>(value.size())};
    return out.append(value);
}

inline std::span<const std::uint8_t> bytes_of(std::string_view image) {
    return {reinterpret_cast<const std::uint8_t*>(image.data()), image.size()};
}

#endif
