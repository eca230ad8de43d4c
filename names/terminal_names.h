#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace corvelle {

// The forms a terminal's name takes outside the console. Both start from the name as the tabs
// show it (UTF-8) and are usable as one path component on Linux and Windows: control characters
// and the characters Windows forbids become "_", leading and trailing spaces and dots go, device
// names such as "CON" or "com1.txt" get a leading "_", and the result is at most 120 bytes of
// UTF-8, never empty, "." or "..". Whenever that changes the name, or the name carries U+FFFD or
// already ends like a suffix, a suffix of "~" and 16 hex digits of a hash of the raw bytes
// follows, so that two raw names never share a form and one raw name always gets the same.

// The folder of a terminal's day files in the recording folder. Also suffixed: a name with a
// letter that another name could match in another case (two folders would be one on NTFS, FAT
// and macOS volumes), and a name that a file of the recording folder itself could have, in any
// case (an events file).
std::string FolderName(std::span<const std::uint8_t> raw, std::string_view decodedUtf8);

// The terminal's level in MQTT topics. Letter case is kept; "+" and "#" (wildcards) and the code
// points MQTT forbids or discourages (noncharacters) count as unsafe too.
std::string TopicLevel(std::span<const std::uint8_t> raw, std::string_view decodedUtf8);

// Whether text contains a letter whose case could make it equal to another text on a
// case-insensitive file system.
bool HasCasedLetter(std::string_view utf8);

}  // namespace corvelle
