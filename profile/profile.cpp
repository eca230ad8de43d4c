#include "profile/profile.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

namespace corvelle {

std::shared_ptr<const TerminalProfile> ProfileSet::Find(std::string_view terminal) const {
    const auto it = terminals.find(terminal);
    return it == terminals.end() ? nullptr : it->second;
}

double ChannelValue(const TerminalProfile* profile, std::size_t index, double volts) {
    if (profile == nullptr || index >= kProfileChannels) {
        return volts;
    }
    const auto& channel = profile->channels[index];
    return channel && channel->scaling ? channel->scaling->Apply(volts) : volts;
}

std::string ValueText(double value, int decimals, std::string_view unit) {
    std::array<char, 64> text{};
    const int places = std::clamp(decimals, 0, kMaxDecimals);
    // Beyond 1e15 fixed notation would not fit; such a scaling is a mistake to see, not hide.
    const bool huge = !(std::abs(value) < 1e15);
    // Rounded as consumers of the number are given it, half away from zero.
    const int length =
        huge ? std::snprintf(text.data(), text.size(), "%g", value)
             : std::snprintf(text.data(), text.size(), "%.*f", places, RoundedValue(value, places));
    std::string shown(text.data(), static_cast<std::size_t>(std::clamp(length, 0, 63)));
    if (shown.starts_with('-') && shown.find_first_not_of("-0.") == std::string::npos) {
        shown.erase(0, 1);
    }
    if (!unit.empty()) {
        shown.append(" ").append(unit);
    }
    return shown;
}

double RoundedValue(double value, int decimals) {
    const double factor = std::pow(10.0, std::clamp(decimals, 0, kMaxDecimals));
    return std::round(value * factor) / factor;
}

std::string ChannelSummary(const TerminalProfile& profile, std::size_t channelCount) {
    std::string summary;
    for (std::size_t i = 0; i < std::min(channelCount, kProfileChannels); ++i) {
        const auto& channel = profile.channels[i];
        if (!channel) {
            continue;
        }
        summary += (summary.empty() ? ": AD" : ", AD") + std::to_string(i + 1);
        if (!channel->name.empty()) {
            summary += " " + channel->name;
        }
        if (channel->scaling && !channel->unit.empty()) {
            summary += " [" + channel->unit + "]";
        }
    }
    return summary;
}

std::string JsonString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20 || byte == 0x7F) {
            static constexpr std::string_view kHex = "0123456789abcdef";
            quoted += "\\u00";
            quoted += kHex[byte >> 4];
            quoted += kHex[byte & 0xF];
        } else {
            quoted += c;
        }
    }
    return quoted + '"';
}

std::string NumberText(double value) {
    std::array<char, 32> text{};
    const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
    return {text.data(), result.ptr};
}

std::string MetaJson(const TerminalProfile& profile) {
    std::string json = "{\"name\":" + JsonString(profile.terminal) +
                       ",\"description\":" + JsonString(profile.description) + ",\"channels\":[";
    bool first = true;
    for (std::size_t i = 0; i < kProfileChannels; ++i) {
        const auto& channel = profile.channels[i];
        if (!channel) {
            continue;
        }
        json += first ? "{" : ",{";
        first = false;
        json += "\"channel\":" + std::to_string(i + 1) + ",\"name\":" + JsonString(channel->name) +
                ",\"unit\":" + JsonString(channel->unit);
        if (const auto& s = channel->scaling) {
            json += ",\"raw\":[" + NumberText(s->rawLow) + "," + NumberText(s->rawHigh) +
                    "],\"scaled\":[" + NumberText(s->scaledLow) + "," + NumberText(s->scaledHigh) +
                    "]";
        }
        json += ",\"decimals\":" + std::to_string(channel->decimals) +
                ",\"axis\":" + (channel->axis == Axis::Right ? "\"right\"" : "\"left\"") + "}";
    }
    json += "]";
    for (const auto& [key, items] :
         {std::pair{"inputs", &profile.inputs}, std::pair{"relays", &profile.relays}}) {
        json += std::string(",\"") + key + "\":[";
        first = true;
        for (std::size_t i = 0; i < kProfileSwitches; ++i) {
            if ((*items)[i].name.empty()) {
                continue;
            }
            json += (first ? "{\"number\":" : ",{\"number\":") + std::to_string(i + 1) +
                    ",\"name\":" + JsonString((*items)[i].name) + "}";
            first = false;
        }
        json += "]";
    }
    return json + "}";
}

}  // namespace corvelle
