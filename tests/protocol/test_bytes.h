#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace corvelle::test {

inline std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

}  // namespace corvelle::test
