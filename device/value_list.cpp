#include "device/value_list.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>

namespace corvelle {

std::string FixedPointText(std::int32_t value, std::int32_t scale, int decimals, const char* unit) {
    const std::int32_t magnitude = std::abs(value);
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%s%d.%0*d%s", value < 0 ? "-" : "", magnitude / scale,
                  decimals, magnitude % scale, unit);
    return text.data();
}

std::vector<ValueRow> BuildValueRows(
    int channelRows, const std::array<std::uint8_t, kChannelCount>& channelNumbers,
    const std::array<std::int32_t, kChannelCount>& channelMillivolts, const RegisterBlock& block,
    const TerminalProfile* profile, const std::array<double, kChannelCount>& values) {
    const auto rows =
        static_cast<std::size_t>(std::clamp(channelRows, 0, static_cast<int>(kChannelCount)));
    std::vector<ValueRow> list;
    list.reserve(rows + 4);
    for (std::size_t i = 0; i < rows; ++i) {
        ValueRow row{std::to_string(i),
                     "AD" + std::to_string(channelNumbers[i]),
                     FixedPointText(channelMillivolts[i], 1000, 3, "V"),
                     {}};
        const std::size_t channel = channelNumbers[i] - 1U;
        if (profile != nullptr && channel < kChannelCount && profile->channels[channel]) {
            const ChannelProfile& meaning = *profile->channels[channel];
            row.detail = row.label + " " + row.value;
            if (!meaning.name.empty()) {
                row.label = meaning.name;
            }
            if (meaning.scaling) {
                row.value = ValueText(values[channel], meaning.decimals, meaning.unit);
            }
        }
        list.push_back(std::move(row));
    }
    list.push_back({"", "温度", FixedPointText(block.temperatureCentidegrees, 100, 2, "℃"), {}});
    list.push_back({"", "基准", FixedPointText(block.referenceMillivolts, 1000, 3, "V"), {}});
    list.push_back({"", "电源", FixedPointText(block.supplyCentivolts, 100, 2, "V"), {}});
    list.push_back({"", "信号", std::to_string(block.signalValue), {}});
    return list;
}

}  // namespace corvelle
