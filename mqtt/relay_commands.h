#pragma once

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <vector>

namespace corvelle {

// The relay commands from the broker that wait for their terminal's echo, each to end with one
// result: "done on" / "done off" once the terminal confirms that state, "not linked" when it
// leaves first, "timed out" when it stays silent.
class RelayCommands {
  public:
    // Commands waiting at once, at most: past it the oldest is forgotten without a result.
    static constexpr std::size_t kMostWaiting = 1024;

    struct Result {
        QByteArray level;
        int relay = 0;
        QByteArray words;
    };

    static QByteArray Done(bool on);

    void Add(const QByteArray& level, int relay, bool on, std::int64_t deadlineMs);
    // The terminal confirmed that relay is now on (off): the oldest command waiting for that
    // state is done. Commands are carried out in order, so any still waiting for the other
    // state keep waiting for its echo.
    std::optional<Result> Echo(const QByteArray& level, int relay, bool on);
    // The terminal left: its commands end "not linked".
    std::vector<Result> Detached(const QByteArray& level);
    std::vector<Result> Expire(std::int64_t nowMs);
    bool Empty() const { return waiting_.empty(); }

  private:
    struct Waiting {
        QByteArray level;
        int relay = 0;
        bool on = false;
        std::int64_t deadlineMs = 0;
    };
    std::deque<Waiting> waiting_;
};

}  // namespace corvelle
