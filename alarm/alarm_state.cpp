#include "alarm/alarm_state.h"

namespace corvelle {
namespace {

// A channel's condition past a more severe limit than the one it was raised for.
bool MoreSevere(const AlarmCondition& now, const AlarmCondition& before) {
    return now.limitKind && before.limitKind && *now.limitKind < *before.limitKind;
}

}  // namespace

std::string AlarmSource::Id() const {
    switch (kind) {
        case Kind::Channel:
            return "AD" + std::to_string(index + 1);
        case Kind::Input:
            return "IN" + std::to_string(index + 1);
        case Kind::Link:
            break;
    }
    return "link";
}

std::optional<AlarmSource> AlarmSource::FromId(std::string_view id) {
    if (id == "link") {
        return AlarmSource{};
    }
    const bool channel = id.starts_with("AD");
    if (!channel && !id.starts_with("IN")) {
        return std::nullopt;
    }
    const std::string_view digits = id.substr(2);
    if (digits.empty() || digits.size() > 2 || digits.front() == '0') {
        return std::nullopt;
    }
    int number = 0;
    for (const char c : digits) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        number = number * 10 + (c - '0');
    }
    if (number > static_cast<int>(kChannelCount)) {
        return std::nullopt;
    }
    return AlarmSource{channel ? Kind::Channel : Kind::Input,
                       static_cast<std::uint8_t>(number - 1)};
}

void AlarmPoint::Update(const AlarmCondition& condition, double value, std::int64_t nowMs,
                        const LocalDateTime& now, std::vector<AlarmTransition>& out) {
    alarm_.value = value;
    const bool wasActive = conditionActive_;
    conditionActive_ = condition.active;
    if (!condition.active) {
        if (!IsActive(alarm_.state) || !wasActive) {
            return;
        }
        if (alarm_.chattering) {
            clearSinceMs_ = nowMs;
        } else {
            Clear(out);
        }
        return;
    }
    if (!wasActive) {
        raises_.push_back(nowMs);
        while (nowMs - raises_.front() > kChatterWindowMs || raises_.size() > kChatterRaises + 1) {
            raises_.pop_front();
        }
        alarm_.chattering = alarm_.chattering || raises_.size() > kChatterRaises;
    }
    if (IsActive(alarm_.state) && !MoreSevere(condition, alarm_.condition)) {
        // A lesser limit of an alarm already raised, or a chattering alarm coming back.
        alarm_.condition = condition;
        return;
    }
    alarm_.condition = condition;
    alarm_.state = AlarmState::ActiveUnacked;
    alarm_.raisedAt = now;
    alarm_.ackedAt.reset();
    alarm_.ackedBy.clear();
    Emit(AlarmChange::Raised, out);
}

void AlarmPoint::Tick(std::int64_t nowMs, const LocalDateTime&, std::vector<AlarmTransition>& out) {
    if (alarm_.chattering && !conditionActive_ && IsActive(alarm_.state) &&
        nowMs - clearSinceMs_ >= kChatterWindowMs) {
        alarm_.chattering = false;
        raises_.clear();
        Clear(out);
    }
    if (alarm_.shelved && nowMs >= shelvedUntilMs_) {
        alarm_.shelved = false;
        Emit(AlarmChange::Unshelved, out);
    }
}

bool AlarmPoint::Acknowledge(const std::string& by, const LocalDateTime& now,
                             std::vector<AlarmTransition>& out) {
    if (alarm_.state == AlarmState::ActiveUnacked) {
        alarm_.state = AlarmState::ActiveAcked;
    } else if (alarm_.state == AlarmState::ReturnedUnacked) {
        alarm_.state = AlarmState::Normal;
    } else {
        return false;
    }
    alarm_.ackedAt = now;
    alarm_.ackedBy = by;
    Emit(AlarmChange::Acknowledged, out);
    return true;
}

bool AlarmPoint::Shelve(std::int64_t nowMs, std::vector<AlarmTransition>& out) {
    if (alarm_.state == AlarmState::Normal || alarm_.shelved) {
        return false;
    }
    alarm_.shelved = true;
    shelvedUntilMs_ = nowMs + kShelveMs;
    Emit(AlarmChange::Shelved, out);
    return true;
}

void AlarmPoint::Reset(std::vector<AlarmTransition>& out) {
    const bool wasNormal = alarm_.state == AlarmState::Normal;
    alarm_.state = AlarmState::Normal;
    alarm_.shelved = false;
    alarm_.chattering = false;
    conditionActive_ = false;
    raises_.clear();
    if (!wasNormal) {
        Emit(AlarmChange::Cleared, out);
    }
}

void AlarmPoint::Clear(std::vector<AlarmTransition>& out) {
    alarm_.state =
        alarm_.state == AlarmState::ActiveAcked ? AlarmState::Normal : AlarmState::ReturnedUnacked;
    Emit(AlarmChange::Cleared, out);
}

const char* StateKey(const AlarmSnapshot& alarm) {
    if (alarm.shelved) {
        return "shelved";
    }
    switch (alarm.state) {
        case AlarmState::ActiveUnacked:
            return "active_unacked";
        case AlarmState::ActiveAcked:
            return "active_acked";
        case AlarmState::ReturnedUnacked:
            return "returned_unacked";
        case AlarmState::Normal:
            break;
    }
    return "normal";
}

const char* StateText(const AlarmSnapshot& alarm) {
    if (alarm.shelved) {
        return "已搁置";
    }
    switch (alarm.state) {
        case AlarmState::ActiveUnacked:
            return "未确认";
        case AlarmState::ActiveAcked:
            return "已确认";
        case AlarmState::ReturnedUnacked:
            return "已恢复未确认";
        case AlarmState::Normal:
            break;
    }
    return "已恢复";
}

}  // namespace corvelle
