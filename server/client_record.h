#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace corvelle {

class DevicePage;

// One accepted TCP connection, as the connection server drives it. Implementations must
// never call back into the server from inside these calls: a close or an overfull write
// is reported later, from the event loop.
class Connection {
  public:
    virtual ~Connection() = default;
    virtual void Write(std::span<const std::uint8_t> bytes) = 0;
    virtual void Close() = 0;
    // While paused, nothing is read from the connection; bytes wait in the network stack.
    virtual void SetReadingPaused(bool paused) = 0;
    // "address:port" of the peer.
    virtual std::string PeerAddress() const = 0;
};

struct ClientRecord {
    std::unique_ptr<Connection> socket;
    // 1 once a device registered on this connection and is bound to a slot.
    std::uint8_t registered = 0;
    // The page the connection is bound to; meaningful only while registered.
    DevicePage* pageWindow = nullptr;
    // Slot whose registration reply and tab text still wait for the attach gap, or -1,
    // and the name that slot's tab then takes.
    int pendingSlot = -1;
    std::vector<std::uint8_t> pendingName;
    // What the page sent during the attach gap, after its module query: it follows the reply.
    std::vector<std::uint8_t> heldBytes;
    // When the connection was accepted, on a monotonic millisecond clock.
    std::uint64_t acceptedAtMs = 0;
    // A refused registration has been reported: one report per connection, however many
    // segments it sends.
    bool refusalReported = false;
    // Valid replies its page has taken, and since when (monotonic) the count last stood still.
    std::uint64_t validReplies = 0;
    std::uint64_t repliesSeen = 0;
    std::uint64_t silentSinceMs = 0;
};

}  // namespace corvelle
