#include "names/terminal_names.h"

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace corvelle {
namespace {

constexpr std::size_t kMaxBytes = 120;
// "~" and 16 hex digits.
constexpr std::size_t kSuffixBytes = 17;
constexpr char32_t kReplacement = 0xFFFD;
constexpr std::string_view kHexDigits = "0123456789abcdef";

// Sorted, inclusive ranges.
constexpr std::pair<char32_t, char32_t> kCasedLetters[] = {
#include "names/cased_letters.inc"
};

// What makes a character unsafe besides controls and the characters Windows forbids.
struct Rules {
    std::string_view extraForbidden;
    bool noncharacters = false;
};

struct CodePoint {
    char32_t value;
    std::size_t length;
};

// The code point text starts with; nothing when it does not start with well-formed UTF-8.
std::optional<CodePoint> DecodeUtf8(std::string_view text) {
    const auto lead = static_cast<unsigned char>(text[0]);
    if (lead < 0x80) {
        return CodePoint{lead, 1};
    }
    std::size_t length = 0;
    char32_t value = 0;
    char32_t minimum = 0;
    if ((lead & 0xE0) == 0xC0) {
        length = 2, value = lead & 0x1F, minimum = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, value = lead & 0x0F, minimum = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, value = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() < length) {
        return std::nullopt;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if ((byte & 0xC0) != 0x80) {
            return std::nullopt;
        }
        value = (value << 6) | (byte & 0x3F);
    }
    if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return std::nullopt;
    }
    return CodePoint{value, length};
}

bool IsNoncharacter(char32_t c) {
    return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

bool Forbidden(char32_t c, const Rules& rules) {
    // C0, DEL and C1 controls.
    if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) {
        return true;
    }
    if (rules.noncharacters && IsNoncharacter(c)) {
        return true;
    }
    const std::string_view extra = rules.extraForbidden;
    constexpr std::string_view kWindowsForbidden = R"(<>:"/\|?*)";
    if (c < 0x80 && kWindowsForbidden.find(static_cast<char>(c)) != std::string_view::npos) {
        return true;
    }
    for (std::size_t i = 0; i < extra.size();) {
        const auto cp = DecodeUtf8(extra.substr(i));
        if (cp && cp->value == c) {
            return true;
        }
        i += cp ? cp->length : 1;
    }
    return false;
}

// Windows opens a device instead of a file for these, whatever the extension and letter case.
bool IsDeviceName(std::string_view name) {
    std::string base(name.substr(0, name.find('.')));
    while (!base.empty() && base.back() == ' ') {
        base.pop_back();
    }
    for (char& c : base) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    constexpr std::array<std::string_view, 6> kNames = {"CON", "PRN",    "AUX",
                                                        "NUL", "CONIN$", "CONOUT$"};
    for (const std::string_view device : kNames) {
        if (base == device) {
            return true;
        }
    }
    if (!base.starts_with("COM") && !base.starts_with("LPT")) {
        return false;
    }
    const std::string_view number = std::string_view(base).substr(3);
    // Digits 0-9 and the superscripts 1, 2 and 3 (U+00B9, U+00B2, U+00B3).
    return (number.size() == 1 && number[0] >= '0' && number[0] <= '9') || number == "\xC2\xB9" ||
           number == "\xC2\xB2" || number == "\xC2\xB3";
}

bool EndsWithSuffix(std::string_view name) {
    if (name.size() < kSuffixBytes || name[name.size() - kSuffixBytes] != '~') {
        return false;
    }
    return name.substr(name.size() - kSuffixBytes + 1).find_first_not_of(kHexDigits) ==
           std::string_view::npos;
}

std::string Suffix(std::span<const std::uint8_t> raw) {
    std::uint64_t hash = 14695981039346656037ULL;
    for (const std::uint8_t byte : raw) {
        hash = (hash ^ byte) * 1099511628211ULL;
    }
    std::string suffix(kSuffixBytes, '~');
    for (std::size_t i = kSuffixBytes - 1; i > 0; --i, hash >>= 4) {
        suffix[i] = kHexDigits[hash & 0xF];
    }
    return suffix;
}

bool IsCased(char32_t c) {
    const auto* const end = std::end(kCasedLetters);
    const auto* const range =
        std::upper_bound(std::begin(kCasedLetters), end, c,
                         [](char32_t value, const auto& r) { return value < r.first; });
    return range != std::begin(kCasedLetters) && c <= std::prev(range)->second;
}

// An events file's name in any letter case: "events-" and "YYYY-MM-DD.csv".
bool LooksLikeEventsFile(std::string_view name) {
    constexpr std::string_view kStem = "events-";
    constexpr std::string_view kPattern = "0000-00-00.csv";
    if (name.size() != kStem.size() + kPattern.size()) {
        return false;
    }
    const auto lower = [](char c) {
        return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    };
    for (std::size_t i = 0; i < name.size(); ++i) {
        const char c = lower(name[i]);
        if (i < kStem.size()) {
            if (c != kStem[i]) {
                return false;
            }
        } else if (const char p = kPattern[i - kStem.size()];
                   p == '0' ? (c < '0' || c > '9') : c != p) {
            return false;
        }
    }
    return true;
}

std::string SafeName(std::span<const std::uint8_t> raw, std::string_view decodedUtf8,
                     const Rules& rules, bool suffixAnyway) {
    std::string name;
    name.reserve(decodedUtf8.size());
    bool replacement = false;
    for (std::size_t i = 0; i < decodedUtf8.size();) {
        const auto cp = DecodeUtf8(decodedUtf8.substr(i));
        if (!cp) {
            name += '_';
            ++i;
            continue;
        }
        replacement = replacement || cp->value == kReplacement;
        if (Forbidden(cp->value, rules)) {
            name += '_';
        } else {
            name.append(decodedUtf8.substr(i, cp->length));
        }
        i += cp->length;
    }
    const auto first = name.find_first_not_of(" .");
    if (first == std::string::npos) {
        name.assign(1, '_');
    } else {
        name.erase(name.find_last_not_of(" .") + 1).erase(0, first);
        if (IsDeviceName(name)) {
            name.insert(name.begin(), '_');
        }
    }
    // A name that already looks suffixed gets a suffix too, so that it cannot meet the
    // suffixed form of another name.
    if (name == decodedUtf8 && !replacement && !suffixAnyway && !EndsWithSuffix(name) &&
        name.size() <= kMaxBytes) {
        return name;
    }
    std::size_t stem = std::min(name.size(), kMaxBytes - kSuffixBytes);
    while (stem > 0 && (static_cast<unsigned char>(name[stem]) & 0xC0) == 0x80) {
        --stem;
    }
    name.resize(stem);
    return name + Suffix(raw);
}

}  // namespace

bool HasCasedLetter(std::string_view utf8) {
    for (std::size_t i = 0; i < utf8.size();) {
        const auto cp = DecodeUtf8(utf8.substr(i));
        if (cp && IsCased(cp->value)) {
            return true;
        }
        i += cp ? cp->length : 1;
    }
    return false;
}

std::string FolderName(std::span<const std::uint8_t> raw, std::string_view decodedUtf8) {
    return SafeName(raw, decodedUtf8, {},
                    HasCasedLetter(decodedUtf8) || LooksLikeEventsFile(decodedUtf8));
}

std::string TopicLevel(std::span<const std::uint8_t> raw, std::string_view decodedUtf8) {
    return SafeName(raw, decodedUtf8, {.extraForbidden = "+#", .noncharacters = true}, false);
}

}  // namespace corvelle
