#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "profile/profile.h"

namespace corvelle {

// What is wrong with a profile file, and where: nothing of a file with a fault is applied.
struct ProfileError {
    enum class Kind {
        CannotRead,
        TooLarge,
        Syntax,
        UnknownKey,
        WrongType,
        TooLong,
        DecimalsOutOfRange,
        EqualRawPoints,
        ScalingIncomplete,
        NotTwoNumbers,
        BadAxis,
        OutOfRange,
        BadPriority,
        BadAlarmWhen,
        LimitMissing,
        LimitsOutOfOrder,
        AlarmIncomplete,
        ControlCharacter,
    };
    Kind kind = Kind::Syntax;
    std::string file;
    // 1-based; 0 when the fault has no place (the file cannot be read).
    std::size_t line = 0;
    std::size_t column = 0;
    // The terminal and the key within its table, where the fault lies in one.
    std::string terminal;
    std::string key;
    // The parser's own words, for syntax errors.
    std::string detail;

    // "terminals.toml:12:5: 终端"一号泵站" 键 channels.AD3.decimals：小数位数须为 0 到 6"
    std::string ChineseText() const;
    // "terminals.toml:12:5: terminal "一号泵站", key channels.AD3.decimals: decimals must be 0 to
    // 6"
    std::string EnglishText() const;
};

// Larger files are refused unread: the file is untrusted input.
inline constexpr std::uintmax_t kMaxProfileFileBytes = 4 << 20;

// Reads profiles from TOML text. fileName only names the file in errors.
std::variant<ProfileSet, ProfileError> ParseProfiles(std::string_view text,
                                                     std::string_view fileName);
std::variant<ProfileSet, ProfileError> ReadProfileFile(const std::filesystem::path& path);

// What the file would say is wrong with profile, were it saved (a name too long, equal raw
// points, ...), without a place; nothing when it can be saved.
std::optional<ProfileError> CheckProfile(const TerminalProfile& profile);

// The whole set as TOML that ParseProfiles reads back the same, in a fixed order. Comments of a
// file read earlier are not kept.
std::string FormatProfiles(const ProfileSet& profiles);

}  // namespace corvelle
