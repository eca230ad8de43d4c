#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "profile/profile.h"

namespace corvelle {

// Longer texts are refused unread: a meta JSON comes from a file or a message anyone may have
// written.
inline constexpr std::size_t kMaxMetaJsonBytes = 64 * 1024;

// The profile a meta JSON object describes (MetaJson's form read back), or nothing when text is
// not one. Strict JSON (RFC 8259: no comments, no trailing commas, no leading zeros, escapes and
// surrogate pairs checked, nothing after the object) nested at most a few levels deep; the keys
// MetaJson writes may come in any order, and keys it does not write are passed over, so that a
// newer writer's additions do not hide the rest. Refused as a whole: a channel, input or relay
// number outside 1 to 12 or given twice, a name or unit longer than a profile file allows,
// decimals outside 0 to kMaxDecimals, an axis other than "left" or "right", raw without scaled
// or the other way round, two equal raw points, a number that is not finite.
std::optional<TerminalProfile> ReadMetaJson(std::string_view text);

}  // namespace corvelle
