#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace corvelle {

enum class RegistrationStatus : std::uint8_t { Rejected = 0, Accepted = 1, NoFreeSlot = 2 };

inline constexpr std::size_t kRegistrationReplySize = 9;
// Largest name a packet can carry: the length field is 16 bits.
inline constexpr std::size_t kMaxRegistrationName = 0xFFFF;

// The device name of an intact registration packet (raw bytes, cut at the first zero
// byte), or nothing. A read may end after the first trailer byte; bytes after the packet
// are ignored.
std::optional<std::vector<std::uint8_t>> ParseRegistration(std::span<const std::uint8_t> bytes);

// The constant 9-byte reply for a status.
std::span<const std::uint8_t, kRegistrationReplySize> RegistrationReply(RegistrationStatus status);

// Terminal side: the packet for a name of at most kMaxRegistrationName bytes (longer names
// are cut there), and the status carried by an intact reply.
std::vector<std::uint8_t> BuildRegistrationPacket(std::span<const std::uint8_t> name);
std::optional<std::uint8_t> ParseRegistrationReply(std::span<const std::uint8_t> bytes);

}  // namespace corvelle
