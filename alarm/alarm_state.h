#pragma once

#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "alarm/alarm_definition.h"
#include "device/page_ports.h"
#include "device/register_block.h"

namespace corvelle {

// The alarm states operators know: the condition is active or has returned, and the operator
// has acknowledged it or not. Returned and acknowledged is normal.
enum class AlarmState : std::uint8_t { Normal, ActiveUnacked, ActiveAcked, ReturnedUnacked };

// Whether its condition holds (or held until acknowledged): active, acknowledged or not.
inline bool IsActive(AlarmState state) {
    return state == AlarmState::ActiveUnacked || state == AlarmState::ActiveAcked;
}

// Where an alarm comes from within its terminal: a channel, an input, or the link itself.
struct AlarmSource {
    enum class Kind : std::uint8_t { Channel, Input, Link };
    Kind kind = Kind::Link;
    // 0-based channel or input; 0 for the link.
    std::uint8_t index = 0;

    // "AD3", "IN1", "link": a topic level and the events file's words.
    std::string Id() const;
    // The source of Id()'s text, when it is one.
    static std::optional<AlarmSource> FromId(std::string_view id);
    auto operator<=>(const AlarmSource&) const = default;
};

// The time source of the alarms: monotonic milliseconds for delays, the wall clock for what
// operators read.
class AlarmClock {
  public:
    virtual ~AlarmClock() = default;
    virtual std::int64_t MonotonicMs() const = 0;
    virtual LocalDateTime Now() const = 0;
};

// The condition an alarm follows: what is active now, if anything.
struct AlarmCondition {
    bool active = false;
    AlarmPriority priority = AlarmPriority::High;
    // Set for a channel's limit.
    std::optional<LimitKind> limitKind;
    double limit = 0;
};

// One alarm as its terminal's list row, retained topic and log line show it.
struct AlarmSnapshot {
    // The terminal's name as received (GB2312) and its latest slot.
    std::vector<std::uint8_t> name;
    int slot = 0;
    AlarmSource source;
    // The channel's or input's name in the profile, or its text; empty when it has none.
    std::string label;
    AlarmState state = AlarmState::Normal;
    bool shelved = false;
    // Raised and cleared too often: held active until clear for a full minute ("频繁").
    bool chattering = false;
    AlarmCondition condition;
    // In the channel's scaled units; for inputs 0 or 1.
    double value = 0;
    // The text of an input's or the link's alarm.
    std::string text;
    LocalDateTime raisedAt;
    std::optional<LocalDateTime> ackedAt;
    std::string ackedBy;
};

enum class AlarmChange : std::uint8_t {
    Raised,
    Acknowledged,
    Cleared,
    Shelved,
    // The hour of a shelving is up: the alarm shows again.
    Unshelved,
};

// One change of an alarm, with the alarm as it is after it.
struct AlarmTransition {
    AlarmChange change = AlarmChange::Raised;
    AlarmSnapshot alarm;
};

// The state machine of one alarm: raised and cleared by its condition, acknowledged and shelved
// by operators, with the chattering rule. Each method appends the transitions it makes to out.
class AlarmPoint {
  public:
    static constexpr std::int64_t kShelveMs = 3600 * 1000;
    static constexpr std::int64_t kChatterWindowMs = 60 * 1000;
    // More raises than this within the window make an alarm chatter.
    static constexpr std::size_t kChatterRaises = 5;

    explicit AlarmPoint(AlarmSnapshot identity) : alarm_(std::move(identity)) {}

    // The condition as of now, with the value it was evaluated from.
    void Update(const AlarmCondition& condition, double value, std::int64_t nowMs,
                const LocalDateTime& now, std::vector<AlarmTransition>& out);
    // Lets time pass: a chattering alarm's quiet minute, a shelving's hour.
    void Tick(std::int64_t nowMs, const LocalDateTime& now, std::vector<AlarmTransition>& out);
    // False when there is nothing to acknowledge.
    bool Acknowledge(const std::string& by, const LocalDateTime& now,
                     std::vector<AlarmTransition>& out);
    // Hides an alarm that is not normal for an hour; false when it is normal or shelved.
    bool Shelve(std::int64_t nowMs, std::vector<AlarmTransition>& out);
    // The definition went away or changed: back to normal, said as a clear when it was not.
    void Reset(std::vector<AlarmTransition>& out);

    const AlarmSnapshot& Snapshot() const { return alarm_; }
    AlarmSnapshot& Snapshot() { return alarm_; }

  private:
    void Emit(AlarmChange change, std::vector<AlarmTransition>& out) const {
        out.push_back({change, alarm_});
    }
    void Clear(std::vector<AlarmTransition>& out);

    AlarmSnapshot alarm_;
    // Whether the condition is active, which the alarm may outlast while it chatters.
    bool conditionActive_ = false;
    std::int64_t clearSinceMs_ = 0;
    std::int64_t shelvedUntilMs_ = 0;
    std::deque<std::int64_t> raises_;
};

// "active_unacked", "active_acked", "returned_unacked", "shelved" ("normal" when none).
const char* StateKey(const AlarmSnapshot& alarm);
// "未确认", "已确认", "已恢复未确认", "已搁置".
const char* StateText(const AlarmSnapshot& alarm);

}  // namespace corvelle
