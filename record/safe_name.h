#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace corvelle {

// A file-system name for a device name, usable as one path component on Linux and Windows:
// control characters, the characters Windows forbids and those of extraForbidden (UTF-8) become
// "_", leading and trailing spaces and dots go, device names such as "CON" or "com1.txt" get a
// leading "_", and the result is at most 120 bytes of UTF-8, never empty, "." or "..".
// Whenever that changes the decoded name, or the decoded name carries U+FFFD or already ends
// like a suffix, a suffix of "~" and 16 hex digits of a hash of the raw bytes follows, so that
// two raw names never share a result and one raw name always gets the same.
std::string SafeName(std::span<const std::uint8_t> raw, std::string_view decodedUtf8,
                     std::string_view extraForbidden = {});

}  // namespace corvelle
