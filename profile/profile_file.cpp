#include "profile/profile_file.h"

#include <toml++/toml.h>

#include <algorithm>
#include <array>
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
// Delays and silence longer than a day are typing errors.
constexpr double kMostSeconds = 86400;
constexpr std::array kPriorities{AlarmPriority::Urgent, AlarmPriority::High, AlarmPriority::Low};
constexpr std::array kLimitKindsInFileOrder{LimitKind::HighHigh, LimitKind::High, LimitKind::Low,
                                            LimitKind::LowLow};

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
            } else if (name == "silent_after") {
                profile.silentAfter = Seconds(node, name);
                if (*profile.silentAfter <= 0) {
                    Throw(Kind::OutOfRange, node, name);
                }
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
                        Switch(Table(value, terminal_, path), path, inputs);
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
            } else if (const auto kind = LimitOf(name)) {
                channel.alarms.limits.at(static_cast<std::size_t>(*kind)) = Limit(node, at);
            } else if (name == "deadband") {
                channel.alarms.deadband = Number(node, at);
                if (channel.alarms.deadband < 0) {
                    Throw(Kind::OutOfRange, node, at);
                }
            } else if (name == "on_delay") {
                channel.alarms.onDelay = Seconds(node, at);
            } else if (name == "off_delay") {
                channel.alarms.offDelay = Seconds(node, at);
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
        // Each limit at or beyond the one before it, from high_high down to low_low.
        std::optional<double> above;
        for (const LimitKind kind : kLimitKindsInFileOrder) {
            const auto& limit = channel.alarms.limits.at(static_cast<std::size_t>(kind));
            if (!limit) {
                continue;
            }
            if (above && limit->limit > *above) {
                Throw(Kind::LimitsOutOfOrder, table.source(), terminal_, path);
            }
            above = limit->limit;
        }
        return channel;
    }

    SwitchProfile Switch(const toml::table& table, const std::string& path, bool input) const {
        SwitchProfile item;
        std::optional<bool> whenOn;
        std::string text;
        AlarmPriority priority = AlarmPriority::High;
        bool alarmKeys = false;
        for (const auto& [key, node] : table) {
            const std::string name(key.str());
            std::string at = path;
            at.append(".").append(name);
            if (name == "name") {
                item.name = Text(node, at, kMaxChannelNameChars);
            } else if (input && name == "alarm_when") {
                const std::string when = Text(node, at, 16);
                if (when != "on" && when != "off") {
                    Throw(Kind::BadAlarmWhen, node, at);
                }
                whenOn = when == "on";
            } else if (input && name == "text") {
                text = Text(node, at, kMaxAlarmTextChars);
                alarmKeys = true;
            } else if (input && name == "priority") {
                priority = Priority(node, at);
                alarmKeys = true;
            } else {
                Throw(Kind::UnknownKey, key.source(), terminal_, at);
            }
        }
        if (alarmKeys && !whenOn) {
            Throw(Kind::AlarmIncomplete, table.source(), terminal_, path);
        }
        if (whenOn) {
            item.alarm = InputAlarm{*whenOn, std::move(text), priority};
        }
        return item;
    }

    double Number(const toml::node& node, const std::string& key) const {
        if (!node.is_number()) {
            Throw(Kind::WrongType, node, key);
        }
        const double value = node.value<double>().value_or(0);
        if (!std::isfinite(value)) {
            Throw(Kind::OutOfRange, node, key);
        }
        return value;
    }

    double Seconds(const toml::node& node, const std::string& key) const {
        const double seconds = Number(node, key);
        if (seconds < 0 || seconds > kMostSeconds) {
            Throw(Kind::OutOfRange, node, key);
        }
        return seconds;
    }

    AlarmPriority Priority(const toml::node& node, const std::string& key) const {
        const std::string text = Text(node, key, 16);
        for (const AlarmPriority priority : kPriorities) {
            if (text == PriorityText(priority)) {
                return priority;
            }
        }
        Throw(Kind::BadPriority, node, key);
    }

    static std::optional<LimitKind> LimitOf(std::string_view key) {
        for (const LimitKind kind : kLimitKindsInFileOrder) {
            if (key == LimitKey(kind)) {
                return kind;
            }
        }
        return std::nullopt;
    }

    // "high = 8.0" or "high = { limit = 8.0, priority = "紧急" }".
    AlarmLimit Limit(const toml::node& node, const std::string& key) const {
        if (node.is_number()) {
            return {Number(node, key), AlarmPriority::High};
        }
        std::optional<double> limit;
        AlarmPriority priority = AlarmPriority::High;
        for (const auto& [name, value] : Table(node, terminal_, key)) {
            const std::string at = key + "." + std::string(name.str());
            if (name.str() == "limit") {
                limit = Number(value, at);
            } else if (name.str() == "priority") {
                priority = Priority(value, at);
            } else {
                Throw(Kind::UnknownKey, name.source(), terminal_, at);
            }
        }
        if (!limit) {
            Throw(Kind::LimitMissing, node, key);
        }
        return {*limit, priority};
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
        case Kind::OutOfRange:
            return {"数值超出范围（秒数须为 0 到 86400，死区不能为负）",
                    "number out of range (seconds 0 to 86400, deadband not negative)"};
        case Kind::BadPriority:
            return {"priority 须为 \"紧急\"、\"重要\" 或 \"一般\"",
                    "priority must be \"紧急\", \"重要\" or \"一般\""};
        case Kind::BadAlarmWhen:
            return {"alarm_when 须为 \"on\" 或 \"off\"", "alarm_when must be \"on\" or \"off\""};
        case Kind::LimitMissing:
            return {"须给出 limit", "limit is missing"};
        case Kind::LimitsOutOfOrder:
            return {"限值须满足 high_high ≥ high ≥ low ≥ low_low",
                    "limits must keep high_high ≥ high ≥ low ≥ low_low"};
        case Kind::AlarmIncomplete:
            return {"text 和 priority 须与 alarm_when 同用", "text and priority need alarm_when"};
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

// A channel's alarm keys, one line each; nothing for a channel without limits.
std::string AlarmKeys(const ChannelAlarms& alarms) {
    std::string text;
    for (const LimitKind kind : kLimitKindsInFileOrder) {
        const auto& limit = alarms.limits.at(static_cast<std::size_t>(kind));
        if (!limit) {
            continue;
        }
        text += std::string(LimitKey(kind)) + " = ";
        text += limit->priority == AlarmPriority::High
                    ? NumberText(limit->limit)
                    : "{ limit = " + NumberText(limit->limit) + ", priority = \"" +
                          PriorityText(limit->priority) + "\" }";
        text += "\n";
    }
    for (const auto& [key, value] :
         {std::pair{"deadband", alarms.deadband}, std::pair{"on_delay", alarms.onDelay},
          std::pair{"off_delay", alarms.offDelay}}) {
        if (value != 0) {
            text += std::string(key) + " = " + NumberText(value) + "\n";
        }
    }
    return text;
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
        const std::string table = "terminals." + JsonString(name);
        text += "[" + table + "]\n";
        if (!profile->description.empty()) {
            text += "description = " + JsonString(profile->description) + "\n";
        }
        if (profile->silentAfter) {
            text += "silent_after = " + NumberText(*profile->silentAfter) + "\n";
        }
        text += "\n";
        for (std::size_t i = 0; i < kProfileChannels; ++i) {
            const auto& channel = profile->channels[i];
            if (!channel) {
                continue;
            }
            text += "[" + table + ".channels.AD" + std::to_string(i + 1) + "]\n";
            if (!channel->name.empty()) {
                text += "name = " + JsonString(channel->name) + "\n";
            }
            if (!channel->unit.empty()) {
                text += "unit = " + JsonString(channel->unit) + "\n";
            }
            if (const auto& s = channel->scaling) {
                text += "raw = [" + NumberText(s->rawLow) + ", " + NumberText(s->rawHigh) + "]\n";
                text += "scaled = [" + NumberText(s->scaledLow) + ", " + NumberText(s->scaledHigh) +
                        "]\n";
            }
            text += "decimals = " + std::to_string(channel->decimals) + "\n";
            text += std::string("axis = ") +
                    (channel->axis == Axis::Right ? "\"right\"" : "\"left\"") + "\n";
            text += AlarmKeys(channel->alarms) + "\n";
        }
        for (const auto& [kind, prefix, items] : {std::tuple{"inputs", "IN", &profile->inputs},
                                                  std::tuple{"relays", "RL", &profile->relays}}) {
            for (std::size_t i = 0; i < kProfileSwitches; ++i) {
                const SwitchProfile& item = (*items)[i];
                if (item.name.empty() && !item.alarm) {
                    continue;
                }
                text += "[" + table + "." + kind + "." + prefix + std::to_string(i + 1) + "]\n";
                if (!item.name.empty()) {
                    text += "name = " + JsonString(item.name) + "\n";
                }
                if (const auto& alarm = item.alarm) {
                    text += std::string("alarm_when = ") + (alarm->whenOn ? "\"on\"" : "\"off\"") +
                            "\n";
                    if (!alarm->text.empty()) {
                        text += "text = " + JsonString(alarm->text) + "\n";
                    }
                    text += std::string("priority = \"") + PriorityText(alarm->priority) + "\"\n";
                }
                text += "\n";
            }
        }
    }
    return text;
}

}  // namespace corvelle
