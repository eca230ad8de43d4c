#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "device/page_ports.h"
#include "device/register_block.h"
#include "profile/profile.h"

namespace corvelle {

// value / scale with `decimals` fraction digits and the unit after it; the sign goes in front of
// the whole number, so that -50 centidegrees reads "-0.50", not "0.-50".
std::string FixedPointText(std::int32_t value, std::int32_t scale, int decimals,
                           const char* unit = "");

// The whole value list: channelRows channel rows (none when 0 or less, at most 12), then the
// four status rows, top to bottom "温度", "基准", "电源", "信号". A channel the profile
// (nullptr: none) describes shows its name and, when scaled, its value from values (index:
// channel number - 1) with its unit, its raw volts going to the row's detail.
std::vector<ValueRow> BuildValueRows(
    int channelRows, const std::array<std::uint8_t, kChannelCount>& channelNumbers,
    const std::array<std::int32_t, kChannelCount>& channelMillivolts, const RegisterBlock& block,
    const TerminalProfile* profile = nullptr, const std::array<double, kChannelCount>& values = {});

}  // namespace corvelle
