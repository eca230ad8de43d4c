#pragma once

#include <QString>
#include <cstdint>
#include <span>

namespace corvelle {

// A device name as the tabs, the tree, the logs and the recordings show it: the received
// GB2312 bytes decoded as GB18030 (a superset that also decodes what a terminal may wrongly
// send), undecodable bytes as replacement characters and control characters replaced, so that
// a name never breaks a layout or a line.
QString DeviceNameText(std::span<const std::uint8_t> name);

// Whether this Qt build can decode GB18030. Checked once; when it cannot, one warning goes to
// standard error and names are shown with EscapedNameText instead.
bool NameDecoderAvailable();

// Printable ASCII as it is, every other byte as "\xNN".
QString EscapedNameText(std::span<const std::uint8_t> name);

}  // namespace corvelle
