#include "mqtt/relay_commands.h"

#include <algorithm>

namespace corvelle {
namespace {

const QByteArray kNotLinked = QByteArrayLiteral("not linked");
const QByteArray kTimedOut = QByteArrayLiteral("timed out");

}  // namespace

QByteArray RelayCommands::Done(bool on) {
    return on ? QByteArrayLiteral("done on") : QByteArrayLiteral("done off");
}

void RelayCommands::Add(const QByteArray& level, int relay, bool on, std::int64_t deadlineMs) {
    waiting_.push_back({level, relay, on, deadlineMs});
    while (waiting_.size() > kMostWaiting) {
        waiting_.pop_front();
    }
}

std::optional<RelayCommands::Result> RelayCommands::Echo(const QByteArray& level, int relay,
                                                         bool on) {
    const auto found = std::find_if(waiting_.begin(), waiting_.end(), [&](const Waiting& w) {
        return w.level == level && w.relay == relay && w.on == on;
    });
    if (found == waiting_.end()) {
        return std::nullopt;
    }
    Result result{level, relay, Done(on)};
    waiting_.erase(found);
    return result;
}

std::vector<RelayCommands::Result> RelayCommands::Detached(const QByteArray& level) {
    std::vector<Result> results;
    std::erase_if(waiting_, [&](const Waiting& w) {
        if (w.level != level) {
            return false;
        }
        results.push_back({w.level, w.relay, kNotLinked});
        return true;
    });
    return results;
}

std::vector<RelayCommands::Result> RelayCommands::Expire(std::int64_t nowMs) {
    std::vector<Result> results;
    std::erase_if(waiting_, [&](const Waiting& w) {
        if (w.deadlineMs > nowMs) {
            return false;
        }
        results.push_back({w.level, w.relay, kTimedOut});
        return true;
    });
    return results;
}

}  // namespace corvelle
