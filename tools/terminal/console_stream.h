#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace corvelle::sim {

enum class ConsoleItemKind : std::uint8_t {
    ModuleQuery,        // the exact 18-byte identification request
    RegistrationReply,  // an intact 9-byte reply, 55 AA ...
    AsciiFrame,         // ':' up to and including CR LF
    Discarded,          // bytes that start none of the above
};

struct ConsoleItem {
    ConsoleItemKind kind = ConsoleItemKind::Discarded;
    std::vector<std::uint8_t> bytes;
};

// Splits what the console sends into items. TCP keeps no message boundaries: one read may
// hold several items (the module query and the registration reply arrive back to back when
// the console is quick), and an item may arrive over several reads. Incomplete items wait
// in a buffer that never grows past one ASCII frame's limit.
class ConsoleStream {
  public:
    // A request longer than this without CR LF is line garbage, not a frame.
    static constexpr std::size_t kMaxAsciiFrame = 256;

    void Append(std::span<const std::uint8_t> bytes);

    // The next complete item, or nothing while the buffered bytes may still become one.
    std::optional<ConsoleItem> Next();

    std::size_t Buffered() const { return buffer_.size(); }
    void Clear() { buffer_.clear(); }

  private:
    std::optional<ConsoleItem> NextAscii();
    ConsoleItem Take(ConsoleItemKind kind, std::size_t count);

    std::vector<std::uint8_t> buffer_;
};

}  // namespace corvelle::sim
