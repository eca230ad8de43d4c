#include "protocol/frame_text.h"

#include <algorithm>

namespace corvelle {
namespace {

// Binary frames longer than this are shown by their head and tail: the module reply alone
// would fill a screen.
constexpr std::size_t kFullHexLimit = 48;
constexpr std::size_t kHeadBytes = 24;
constexpr std::size_t kTailBytes = 4;

std::string HexPairs(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

std::string Hex(std::span<const std::uint8_t> bytes) {
    if (bytes.size() <= kFullHexLimit) {
        return HexPairs(bytes);
    }
    return HexPairs(bytes.first(kHeadBytes)) + " ... " + HexPairs(bytes.last(kTailBytes)) + " (" +
           std::to_string(bytes.size()) + " bytes)";
}

}  // namespace

std::string DescribeFrame(std::span<const std::uint8_t> bytes) {
    const auto colon = std::find(bytes.begin(), bytes.end(), std::uint8_t{':'});
    const auto textStart =
        colon == bytes.end() ? std::size_t{0} : static_cast<std::size_t>(colon - bytes.begin());
    const auto text = bytes.subspan(textStart);
    const bool printable = !text.empty() && std::all_of(text.begin(), text.end(), [](auto c) {
        return (c >= 0x20 && c < 0x7F) || c == '\r' || c == '\n';
    });
    if (!printable) {
        return Hex(bytes);
    }
    std::string shown;
    for (const std::uint8_t c : text) {
        if (c == '\r') {
            shown += "\\r";
        } else if (c == '\n') {
            shown += "\\n";
        } else {
            shown += static_cast<char>(c);
        }
    }
    return textStart > 0 ? "[noise " + Hex(bytes.first(textStart)) + "] " + shown : shown;
}

}  // namespace corvelle
