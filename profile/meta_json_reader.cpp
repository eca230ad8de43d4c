#include "profile/meta_json_reader.h"

#include <charconv>
#include <cmath>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace corvelle {
namespace {

// Deep enough for MetaJson's object, array, object, array; a newer writer's additions get a
// little more.
constexpr int kMaxDepth = 8;
constexpr std::size_t kMaxDescriptionChars = 1024;
constexpr std::size_t kMaxAxisChars = 8;

struct Json {
    enum class Type { Null, Bool, Number, Text, Array, Object };
    Type type = Type::Null;
    double number = 0;
    std::string text;
    // An array's items, or an object's values beside their keys (vector may hold an incomplete
    // type, pair may not).
    std::vector<Json> items;
    std::vector<std::string> keys;
};

class Parser {
  public:
    explicit Parser(std::string_view text) : text_(text) {}

    std::optional<Json> Document() {
        Json value;
        if (!Value(value, 0)) {
            return std::nullopt;
        }
        SkipSpace();
        return at_ == text_.size() ? std::optional(std::move(value)) : std::nullopt;
    }

  private:
    void SkipSpace() {
        while (at_ < text_.size() && (text_[at_] == ' ' || text_[at_] == '\t' ||
                                      text_[at_] == '\n' || text_[at_] == '\r')) {
            ++at_;
        }
    }
    bool Take(char c) {
        SkipSpace();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }
    bool Word(std::string_view word) {
        if (text_.substr(at_, word.size()) != word) {
            return false;
        }
        at_ += word.size();
        return true;
    }

    bool Value(Json& value, int depth) {
        if (depth > kMaxDepth) {
            return false;
        }
        SkipSpace();
        if (at_ == text_.size()) {
            return false;
        }
        switch (text_[at_]) {
            case '{':
                value.type = Json::Type::Object;
                return Object(value, depth);
            case '[':
                value.type = Json::Type::Array;
                return Array(value, depth);
            case '"':
                value.type = Json::Type::Text;
                return String(value.text);
            case 't':
            case 'f':
                value.type = Json::Type::Bool;
                return Word("true") || Word("false");
            case 'n':
                return Word("null");
            default:
                value.type = Json::Type::Number;
                return Number(value.number);
        }
    }

    bool Object(Json& value, int depth) {
        ++at_;
        if (Take('}')) {
            return true;
        }
        do {
            SkipSpace();
            value.keys.emplace_back();
            value.items.emplace_back();
            if (at_ == text_.size() || text_[at_] != '"' || !String(value.keys.back()) ||
                !Take(':') || !Value(value.items.back(), depth + 1)) {
                return false;
            }
        } while (Take(','));
        return Take('}');
    }

    bool Array(Json& value, int depth) {
        ++at_;
        if (Take(']')) {
            return true;
        }
        do {
            value.items.emplace_back();
            if (!Value(value.items.back(), depth + 1)) {
                return false;
            }
        } while (Take(','));
        return Take(']');
    }

    // -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?
    bool Number(double& number) {
        const std::size_t start = at_;
        const auto digits = [&] {
            const std::size_t from = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9') {
                ++at_;
            }
            return at_ - from;
        };
        const auto is = [&](char c) { return at_ < text_.size() && text_[at_] == c; };
        if (is('-')) {
            ++at_;
        }
        const std::size_t intStart = at_;
        const std::size_t intDigits = digits();
        if (intDigits == 0 || (intDigits > 1 && text_[intStart] == '0')) {
            return false;
        }
        if (is('.')) {
            ++at_;
            if (digits() == 0) {
                return false;
            }
        }
        if (is('e') || is('E')) {
            ++at_;
            if (is('+') || is('-')) {
                ++at_;
            }
            if (digits() == 0) {
                return false;
            }
        }
        const char* const first = text_.data() + start;
        const char* const last = text_.data() + at_;
        const auto [end, error] = std::from_chars(first, last, number);
        return error == std::errc() && end == last && std::isfinite(number);
    }

    bool Hex4(std::uint32_t& unit) {
        if (text_.size() - at_ < 4) {
            return false;
        }
        const char* const first = text_.data() + at_;
        const auto [end, error] = std::from_chars(first, first + 4, unit, 16);
        at_ += 4;
        return error == std::errc() && end == first + 4;
    }

    static void AppendUtf8(std::string& out, std::uint32_t code) {
        if (code < 0x80) {
            out += static_cast<char>(code);
        } else if (code < 0x800) {
            out += static_cast<char>(0xC0 | (code >> 6));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else if (code < 0x10000) {
            out += static_cast<char>(0xE0 | (code >> 12));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (code >> 18));
            out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (code & 0x3F));
        }
    }

    bool Escape(std::string& out) {
        if (at_ == text_.size()) {
            return false;
        }
        const char c = text_[at_++];
        constexpr std::string_view kFrom = "\"\\/bfnrt";
        constexpr std::string_view kTo = "\"\\/\b\f\n\r\t";
        if (const auto i = kFrom.find(c); i != std::string_view::npos) {
            out += kTo[i];
            return true;
        }
        std::uint32_t code = 0;
        if (c != 'u' || !Hex4(code)) {
            return false;
        }
        if (code >= 0xDC00 && code <= 0xDFFF) {
            return false;
        }
        if (code >= 0xD800 && code <= 0xDBFF) {
            std::uint32_t low = 0;
            if (!Word("\\u") || !Hex4(low) || low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
        }
        AppendUtf8(out, code);
        return true;
    }

    bool String(std::string& out) {
        ++at_;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"') {
                return true;
            }
            if (static_cast<unsigned char>(c) < 0x20) {
                return false;
            }
            if (c != '\\') {
                out += c;
            } else if (!Escape(out)) {
                return false;
            }
        }
        return false;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

// Characters as a profile file counts them: UTF-8 sequences, each lead byte one.
std::size_t Chars(std::string_view text) {
    std::size_t chars = 0;
    for (const char c : text) {
        chars += (static_cast<unsigned char>(c) & 0xC0) != 0x80 ? 1 : 0;
    }
    return chars;
}

const Json* Member(const Json& object, std::string_view key) {
    for (std::size_t i = 0; i < object.keys.size(); ++i) {
        if (object.keys[i] == key) {
            return &object.items[i];
        }
    }
    return nullptr;
}

// A text member: absent is empty; anything but text, or longer than maxChars, is refused.
bool TextOf(const Json& object, std::string_view key, std::size_t maxChars, std::string& out) {
    const Json* value = Member(object, key);
    if (value == nullptr) {
        return true;
    }
    if (value->type != Json::Type::Text || Chars(value->text) > maxChars) {
        return false;
    }
    out = value->text;
    return true;
}

std::optional<int> IntegerOf(const Json* value, int low, int high) {
    if (value == nullptr || value->type != Json::Type::Number || value->number < low ||
        value->number > high || value->number != std::floor(value->number)) {
        return std::nullopt;
    }
    return static_cast<int>(value->number);
}

std::optional<std::pair<double, double>> PointsOf(const Json* value) {
    if (value == nullptr || value->type != Json::Type::Array || value->items.size() != 2 ||
        value->items[0].type != Json::Type::Number || value->items[1].type != Json::Type::Number) {
        return std::nullopt;
    }
    return std::pair(value->items[0].number, value->items[1].number);
}

bool ReadChannel(const Json& item, TerminalProfile& profile) {
    const auto number = IntegerOf(Member(item, "channel"), 1, static_cast<int>(kProfileChannels));
    if (item.type != Json::Type::Object || !number) {
        return false;
    }
    auto& slot = profile.channels.at(static_cast<std::size_t>(*number - 1));
    if (slot) {
        return false;
    }
    ChannelProfile channel;
    if (!TextOf(item, "name", kMaxChannelNameChars, channel.name) ||
        !TextOf(item, "unit", kMaxUnitChars, channel.unit)) {
        return false;
    }
    const Json* raw = Member(item, "raw");
    const Json* scaled = Member(item, "scaled");
    if ((raw == nullptr) != (scaled == nullptr)) {
        return false;
    }
    if (raw != nullptr) {
        const auto rawPoints = PointsOf(raw);
        const auto scaledPoints = PointsOf(scaled);
        if (!rawPoints || !scaledPoints || rawPoints->first == rawPoints->second) {
            return false;
        }
        channel.scaling =
            Scaling{rawPoints->first, rawPoints->second, scaledPoints->first, scaledPoints->second};
    }
    if (const Json* decimals = Member(item, "decimals")) {
        const auto value = IntegerOf(decimals, 0, kMaxDecimals);
        if (!value) {
            return false;
        }
        channel.decimals = *value;
    }
    std::string axis = "left";
    if (!TextOf(item, "axis", kMaxAxisChars, axis) || (axis != "left" && axis != "right")) {
        return false;
    }
    channel.axis = axis == "right" ? Axis::Right : Axis::Left;
    slot = std::move(channel);
    return true;
}

bool ReadSwitches(const Json* list, std::array<SwitchProfile, kProfileSwitches>& switches) {
    if (list == nullptr) {
        return true;
    }
    if (list->type != Json::Type::Array) {
        return false;
    }
    std::array<bool, kProfileSwitches> seen{};
    for (const Json& item : list->items) {
        const auto number =
            IntegerOf(Member(item, "number"), 1, static_cast<int>(kProfileSwitches));
        if (item.type != Json::Type::Object || !number ||
            std::exchange(seen.at(static_cast<std::size_t>(*number - 1)), true)) {
            return false;
        }
        if (!TextOf(item, "name", kMaxChannelNameChars,
                    switches.at(static_cast<std::size_t>(*number - 1)).name)) {
            return false;
        }
    }
    return true;
}

}  // namespace

std::optional<TerminalProfile> ReadMetaJson(std::string_view text) {
    if (text.size() > kMaxMetaJsonBytes) {
        return std::nullopt;
    }
    const auto json = Parser(text).Document();
    if (!json || json->type != Json::Type::Object) {
        return std::nullopt;
    }
    TerminalProfile profile;
    if (!TextOf(*json, "name", kMaxDescriptionChars, profile.terminal) ||
        !TextOf(*json, "description", kMaxDescriptionChars, profile.description)) {
        return std::nullopt;
    }
    if (const Json* channels = Member(*json, "channels")) {
        if (channels->type != Json::Type::Array) {
            return std::nullopt;
        }
        for (const Json& item : channels->items) {
            if (!ReadChannel(item, profile)) {
                return std::nullopt;
            }
        }
    }
    if (!ReadSwitches(Member(*json, "inputs"), profile.inputs) ||
        !ReadSwitches(Member(*json, "relays"), profile.relays)) {
        return std::nullopt;
    }
    return profile;
}

}  // namespace corvelle
