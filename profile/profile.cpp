#include "profile/profile.h"

#include <array>
#include <charconv>

namespace corvelle {

std::shared_ptr<const TerminalProfile> ProfileSet::Find(std::string_view terminal) const {
    const auto it = terminals.find(terminal);
    return it == terminals.end() ? nullptr : it->second;
}

std::string JsonString(std::string_view text) {
    std::string quoted = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            quoted += '\\';
            quoted += c;
        } else if (byte < 0x20) {
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
        json += ",\"decimals\":" + std::to_string(channel->decimals) + ",\"axis\":" +
                (channel->axis == Axis::Right ? "\"right\"" : "\"left\"") + "}";
    }
    json += "]";
    for (const auto& [key, items] : {std::pair{"inputs", &profile.inputs},
                                     std::pair{"relays", &profile.relays}}) {
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
