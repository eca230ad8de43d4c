#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace corvelle::sim {

// Ways a terminal can misbehave on purpose, to exercise the console's error paths. Zero or
// false means the fault is off.
struct Faults {
    int replyDelayMs = 0;               // every reply, the module reply included, goes out late
    int splitGapMs = 0;                 // every reply goes out in two writes this far apart
    int corruptLrcEvery = 0;            // every k-th board reply carries a wrong LRC
    int dropEveryReply = 0;             // every k-th board reply is never sent
    bool lowerCaseHex = false;          // board replies in lower-case hex
    int noiseBytes = 0;                 // line noise before the colon of every board reply
    bool silentModule = false;          // the module query is never answered
    int disconnectAfterMs = 0;          // each connection is closed after this long
    bool badRegistrationFirst = false;  // each connection first registers with a bad CRC
};

// Frames the board's replies for the line and applies the reply faults. Board replies are
// counted from 1 across the terminal's life, so every k-th means the same replies however
// the connection comes and goes.
class ReplyShaper {
  public:
    explicit ReplyShaper(const Faults& faults);

    // The wire text of one board reply (address, function, data; no LRC), or nothing when
    // this reply is to be dropped.
    std::optional<std::string> Shape(std::span<const std::uint8_t> reply);

  private:
    Faults faults_;
    std::uint64_t count_ = 0;
};

// The same packet with its CRC field broken, so that the console rejects it.
std::vector<std::uint8_t> BreakRegistrationCrc(std::vector<std::uint8_t> packet);

}  // namespace corvelle::sim
