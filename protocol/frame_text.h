#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace corvelle {

// A frame as a trace shows it: Modbus ASCII as text with CR LF spelled out ("\r\n") and any
// line noise before the colon in hex ("[noise 0D 7F] :0A04..."); anything else as upper-case
// hex pairs, long binary frames by their head and tail with the byte count.
std::string DescribeFrame(std::span<const std::uint8_t> bytes);

}  // namespace corvelle
