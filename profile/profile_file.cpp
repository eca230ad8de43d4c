#include "profile/profile_file.h"

#include <toml++/toml.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <sstream>
#include <system_error>
#include <tuple>

namespace corvelle {
namespace {

using Kind = ProfileError::Kind;

constexpr std::string_view kChannelPrefix = "AD";
constexpr std::string_view kInputPrefix = "IN";
constexpr std::string_view kRelayPrefix = "RL";

std::size_t CharCount(std::string_view utf8) {
    std::size_t count = 0;
    for (const char c : utf8) {
        count += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return count;
}

// 0-based index of "AD3"-style keys from 1 to count, or nothing.
std::optional<std::size_t> Numbered(std::string_view key, std::string_view prefix,
                                    std::size_t count) {
    if (!key.starts_with(prefix)) {
        return std::nullopt;
    }
    const std::string_view digits = key.substr(prefix.size());
    if (digits.empty() || digits.size() > 2 || digits.front() == '0') {
        return std::nullopt;
    }
    std::size_t number = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + static_cast<std::size_t>(c - '0');
    }
    return number >= 1 && number <= count ? std::optional(number - 1) : std::nullopt;
}

// Walks the document and turns it into profiles, throwing the first fault.
class Reader {
  public:
    explicit Reader(std::string_view file) : file_(file) {}

    ProfileSet Read(const toml::table& root) {
        ProfileSet profiles;
        for (const auto& [key, node] : root) {
            if (key.str() != "terminals") {
                Throw(Kind::UnknownKey, key.source(), {}, std::string(key.str()));
            }
            const toml::table& terminals = Table(node, {}, "terminals");
            for (const auto& [name, table] : terminals) {
                terminal_ = name.str();
                profiles.terminals[terminal_] =
                    std::make_shared<const TerminalProfile>(Terminal(Table(table, terminal_, {})));
            }
        }
        return profiles;
    }

  private:
    [[noreturn]] void Throw(Kind kind, const toml::source_region& where, std::string terminal,
                            std::string key, std::string detail = {}) const {
        throw ProfileError{kind,
                           file_,
                           where.begin.line,
                           where.begin.column,
                           std::move(terminal),
                           std::move(key),
                           std::move(detail)};
    }
    [[noreturn]] void Throw(Kind kind, const toml::node& node, const std::string& key) const {
        Throw(kind, node.source(), terminal_, key);
    }

    const toml::table& Table(const toml::node& node, const std::string& terminal,
                             const std::string& key) const {
        const toml::table* table = node.as_table();
        if (table == nullptr) {
            Throw(Kind::WrongType, node.source(), terminal, key);
        }
        return *table;
    }

    std::string Text(const toml::node& node, const std::string& key, std::size_t maxChars) const {
        const auto* text = node.as_string();
        if (text == nullptr) {
            Throw(Kind::WrongType, node, key);
        }
        if (CharCount(text->get()) > maxChars) {
            Throw(Kind::TooLong, node, key);
        }
        // Names go into log lines, captions and CSV cells, where a line break would forge one.
        if (std::any_of(text->get().begin(), text->get().end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7F; })) {
            Throw(Kind::ControlCharacter, node, key);
        }
        return text->get();
    }

    std::pair<double, double> Points(const toml::node& node, const std::string& key) const {
        const toml::array* array = node.as_array();
        if (array == nullptr || array->size() != 2 || !(*array)[0].is_number() ||
            !(*array)[1].is_number()) {
            Throw(Kind::NotTwoNumbers, node, key);
        }
        const double low = (*array)[0].value<double>().value_or(0);
        const double high = (*array)[1].value<double>().value_or(0);
        // TOML has inf and nan; a scale through them shows nothing sensible.
        if (!std::isfinite(low) || !std::isfinite(high)) {
            Throw(Kind::NotTwoNumbers, node, key);
        }
        return {low, high};
    }

    TerminalProfile Terminal(const toml::table& table) const {
        TerminalProfile profile;
        profile.terminal = terminal_;
        for (const auto& [key, node] : table) {
            const std::string name(key.str());
            if (name == "description") {
                // A tool tip: generous, but bounded like everything read.
                profile.description = Text(node, name, 1024);
            } else if (name == "channels") {
                for (const auto& [channel, value] : Table(node, terminal_, name)) {
                    const std::string path = name + "." + std::string(channel.str());
                    const auto index = Numbered(channel.str(), kChannelPrefix, kProfileChannels);
                    if (!index) {
                        Throw(Kind::UnknownKey, channel.source(), terminal_, path);
                    }
                    profile.channels.at(*index) = Channel(Table(value, terminal_, path), path);
                }
            } else if (name == "inputs" || name == "relays") {
                const bool inputs = name == "inputs";
                for (const auto& [item, value] : Table(node, terminal_, name)) {
                    const std::string path = name + "." + std::string(item.str());
                    const auto index = Numbered(item.str(), inputs ? kInputPrefix : kRelayPrefix,
                                                kProfileSwitches);
                    if (!index) {
                        Throw(Kind::UnknownKey, item.source(), terminal_, path);
                    }
                    (inputs ? profile.inputs : profile.relays).at(*index) =
                        Switch(Table(value, terminal_, path), path);
                }
            } else {
                Throw(Kind::UnknownKey, key.source(), terminal_, name);
            }
        }
        return profile;
    }

    ChannelProfile Channel(const toml::table& table, const std::string& path) const {
        ChannelProfile channel;
        std::optional<std::pair<double, double>> raw;
        std::optional<std::pair<double, double>> scaled;
        for (const auto& [key, node] : table) {
            const std::string name(key.str());
            const std::string at = path + "." + name;
            if (name == "name") {
                channel.name = Text(node, at, kMaxChannelNameChars);
            } else if (name == "unit") {
                channel.unit = Text(node, at, kMaxUnitChars);
            } else if (name == "raw") {
                raw = Points(node, at);
                if (raw->first == raw->second) {
                    Throw(Kind::EqualRawPoints, node, at);
                }
            } else if (name == "scaled") {
                scaled = Points(node, at);
            } else if (name == "decimals") {
                const auto decimals = node.value<std::int64_t>();
                if (!node.is_integer() || !decimals) {
                    Throw(Kind::WrongType, node, at);
                }
                if (*decimals < 0 || *decimals > kMaxDecimals) {
                    Throw(Kind::DecimalsOutOfRange, node, at);
                }
                channel.decimals = static_cast<int>(*decimals);
            } else if (name == "axis") {
                const std::string axis = Text(node, at, 8);
                if (axis != "left" && axis != "right") {
                    Throw(Kind::BadAxis, node, at);
                }
                channel.axis = axis == "right" ? Axis::Right : Axis::Left;
            } else {
                Throw(Kind::UnknownKey, key.source(), terminal_, at);
            }
        }
        if (raw.has_value() != scaled.has_value()) {
            Throw(Kind::ScalingIncomplete, table.source(), terminal_, path);
        }
        if (raw) {
            channel.scaling = Scaling{raw->first, raw->second, scaled->first, scaled->second};
        }
        return channel;
    }

    SwitchProfile Switch(const toml::table& table, const std::string& path) const {
        SwitchProfile item;
        for (const auto& [key, node] : table) {
            const std::string at = path + "." + std::string(key.str());
            if (key.str() != "name") {
                Throw(Kind::UnknownKey, key.source(), terminal_, at);
            }
            item.name = Text(node, at, kMaxChannelNameChars);
        }
        return item;
    }

    std::string file_;
    std::string terminal_;
};

struct Texts {
    const char* chinese;
    const char* english;
};

Texts TextsOf(Kind kind) {
    switch (kind) {
        case Kind::CannotRead:
            return {"无法读取", "cannot be read"};
        case Kind::TooLarge:
            return {"文件过大", "the file is too large"};
        case Kind::Syntax:
            return {"语法错误", "syntax error"};
        case Kind::UnknownKey:
            return {"未知的键", "unknown key"};
        case Kind::WrongType:
            return {"值的类型不对", "wrong type of value"};
        case Kind::TooLong:
            return {"文字过长（名称至多 32 个字符，单位至多 16 个）",
                    "text too long (names at most 32 characters, units 16)"};
        case Kind::DecimalsOutOfRange:
            return {"小数位数须为 0 到 6", "decimals must be 0 to 6"};
        case Kind::EqualRawPoints:
            return {"raw 的两个值不能相同", "the two raw values must differ"};
        case Kind::ScalingIncomplete:
            return {"raw 和 scaled 须同时给出", "raw and scaled go together"};
        case Kind::NotTwoNumbers:
            return {"须为两个数的数组", "must be an array of two numbers"};
        case Kind::BadAxis:
            return {"axis 须为 \"left\" 或 \"right\"", "axis must be \"left\" or \"right\""};
        case Kind::ControlCharacter:
            return {"文字中不能有控制字符", "text must not contain control characters"};
    }
    return {"有误", "invalid"};
}

std::string Place(const ProfileError& error) {
    std::string place = error.file;
    if (error.line > 0) {
        place += ":" + std::to_string(error.line) + ":" + std::to_string(error.column);
    }
    return place;
}

// A TOML basic string: quotes and backslashes escaped, control characters as \uXXXX.
std::string TomlString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            static constexpr std::string_view kHex = "0123456789ABCDEF";
            quoted += "\\u00";
            quoted += kHex[byte >> 4];
            quoted += kHex[byte & 0xF];
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

}  // namespace

std::string ProfileError::ChineseText() const {
    std::string text = Place(*this);
    text += text.empty() ? "" : "：";
    if (!terminal.empty()) {
        text += "终端“" + terminal + "” ";
    }
    if (!key.empty()) {
        text += "键 " + key + "：";
    }
    text += TextsOf(kind).chinese;
    return detail.empty() ? text : text + "（" + detail + "）";
}

std::string ProfileError::EnglishText() const {
    std::string text = Place(*this);
    text += text.empty() ? "" : ": ";
    if (!terminal.empty()) {
        text += "terminal \"" + terminal + "\", ";
    }
    if (!key.empty()) {
        text += "key " + key + ": ";
    }
    text += TextsOf(kind).english;
    return detail.empty() ? text : text + " (" + detail + ")";
}

std::variant<ProfileSet, ProfileError> ParseProfiles(std::string_view text,
                                                     std::string_view fileName) {
    try {
        const toml::table root = toml::parse(text, fileName);
        return Reader(fileName).Read(root);
    } catch (const toml::parse_error& error) {
        const auto& where = error.source().begin;
        return ProfileError{
            Kind::Syntax, std::string(fileName),           where.line, where.column, {},
            {},           std::string(error.description())};
    } catch (ProfileError& error) {
        return std::move(error);
    }
}

std::optional<ProfileError> CheckProfile(const TerminalProfile& profile) {
    ProfileSet one;
    one.terminals[profile.terminal] = std::make_shared<const TerminalProfile>(profile);
    auto read = ParseProfiles(FormatProfiles(one), {});
    auto* error = std::get_if<ProfileError>(&read);
    if (error == nullptr) {
        return std::nullopt;
    }
    // The text checked is not the operator's: its lines and columns would mislead.
    error->line = error->column = 0;
    return std::move(*error);
}

std::variant<ProfileSet, ProfileError> ReadProfileFile(const std::filesystem::path& path) {
    const std::u8string name = path.filename().u8string();
    const std::string file(name.begin(), name.end());
    std::error_code ec;
    const auto size = std::filesystem::file_size(path, ec);
    if (ec) {
        return ProfileError{Kind::CannotRead, file, 0, 0, {}, {}, ec.message()};
    }
    if (size > kMaxProfileFileBytes) {
        return ProfileError{Kind::TooLarge, file, 0, 0, {}, {}, {}};
    }
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in) {
        return ProfileError{Kind::CannotRead, file, 0, 0, {}, {}, {}};
    }
    return ParseProfiles(text.str(), file);
}

std::string FormatProfiles(const ProfileSet& profiles) {
    std::string text;
    for (const auto& [name, profile] : profiles.terminals) {
        const std::string table = "terminals." + TomlString(name);
        text += "[" + table + "]\n";
        if (!profile->description.empty()) {
            text += "description = " + TomlString(profile->description) + "\n";
        }
        text += "\n";
        for (std::size_t i = 0; i < kProfileChannels; ++i) {
            const auto& channel = profile->channels[i];
            if (!channel) {
                continue;
            }
            text += "[" + table + ".channels.AD" + std::to_string(i + 1) + "]\n";
            if (!channel->name.empty()) {
                text += "name = " + TomlString(channel->name) + "\n";
            }
            if (!channel->unit.empty()) {
                text += "unit = " + TomlString(channel->unit) + "\n";
            }
            if (const auto& s = channel->scaling) {
                text += "raw = [" + NumberText(s->rawLow) + ", " + NumberText(s->rawHigh) + "]\n";
                text += "scaled = [" + NumberText(s->scaledLow) + ", " + NumberText(s->scaledHigh) +
                        "]\n";
            }
            text += "decimals = " + std::to_string(channel->decimals) + "\n";
            text += std::string("axis = ") +
                    (channel->axis == Axis::Right ? "\"right\"" : "\"left\"") + "\n\n";
        }
        for (const auto& [kind, prefix, items] : {std::tuple{"inputs", "IN", &profile->inputs},
                                                  std::tuple{"relays", "RL", &profile->relays}}) {
            for (std::size_t i = 0; i < kProfileSwitches; ++i) {
                if (!(*items)[i].name.empty()) {
                    text += "[" + table + "." + kind + "." + prefix + std::to_string(i + 1) +
                            "]\nname = " + TomlString((*items)[i].name) + "\n\n";
                }
            }
        }
    }
    return text;
}

}  // namespace corvelle
