#include "alarm/alarm_board.h"

#include <algorithm>

namespace corvelle {
namespace {

std::string Key(std::span<const std::uint8_t> name) {
    return {name.begin(), name.end()};
}

bool Shown(const AlarmSnapshot& alarm) {
    return alarm.state != AlarmState::Normal && !alarm.shelved;
}

}  // namespace

bool AlarmBoard::Take(const AcquisitionEvent& event) {
    if (!IsAlarm(event.kind) || !event.alarm) {
        return false;
    }
    const AlarmSnapshot& alarm = event.alarm->alarm;
    const auto key = std::pair{Key(alarm.name), alarm.source};
    const auto found = entries_.find(key);
    const bool wasShown = found != entries_.end() && Shown(found->second.alarm);
    if (alarm.state == AlarmState::Normal) {
        if (found != entries_.end()) {
            entries_.erase(found);
        }
        return wasShown;
    }
    Entry& entry = entries_[key];
    if (event.kind == EventKind::AlarmRaised || entry.raised == 0) {
        entry.raised = ++raises_;
    }
    entry.alarm = alarm;
    return wasShown || Shown(alarm);
}

std::vector<const AlarmSnapshot*> AlarmBoard::Rows() const {
    std::vector<const Entry*> shown;
    for (const auto& [key, entry] : entries_) {
        if (Shown(entry.alarm)) {
            shown.push_back(&entry);
        }
    }
    std::sort(shown.begin(), shown.end(),
              [](const Entry* a, const Entry* b) { return a->raised > b->raised; });
    std::vector<const AlarmSnapshot*> rows;
    rows.reserve(shown.size());
    for (const Entry* entry : shown) {
        rows.push_back(&entry->alarm);
    }
    return rows;
}

std::size_t AlarmBoard::UnackedCount() const {
    return static_cast<std::size_t>(std::count_if(
        entries_.begin(), entries_.end(),
        [](const auto& item) { return Shown(item.second.alarm) && IsUnacked(item.second.alarm); }));
}

bool AlarmBoard::Unacked(std::span<const std::uint8_t> name) const {
    const std::string key = Key(name);
    for (auto it = entries_.lower_bound({key, AlarmSource{AlarmSource::Kind::Channel, 0}});
         it != entries_.end() && it->first.first == key; ++it) {
        if (Shown(it->second.alarm) && IsUnacked(it->second.alarm)) {
            return true;
        }
    }
    return false;
}

std::uint16_t AlarmBoard::ActiveChannels(std::span<const std::uint8_t> name) const {
    const std::string key = Key(name);
    std::uint16_t active = 0;
    for (auto it = entries_.lower_bound({key, AlarmSource{AlarmSource::Kind::Channel, 0}});
         it != entries_.end() && it->first.first == key; ++it) {
        const AlarmSnapshot& alarm = it->second.alarm;
        if (alarm.source.kind == AlarmSource::Kind::Channel && IsActive(alarm.state) &&
            !alarm.shelved) {
            active = static_cast<std::uint16_t>(active | (1U << alarm.source.index));
        }
    }
    return active;
}

}  // namespace corvelle
