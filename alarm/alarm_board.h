#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <string>
#include <vector>

#include "alarm/alarm_state.h"
#include "device/acquisition_sink.h"

namespace corvelle {

// What an operator's alarm list shows, kept from the alarm events: every alarm that is
// neither normal nor shelved, newest first, and what is unacknowledged where.
class AlarmBoard {
  public:
    // Takes an alarm event; false for any other event and for one that changes nothing shown.
    bool Take(const AcquisitionEvent& event);

    // The rows, most recently raised first.
    std::vector<const AlarmSnapshot*> Rows() const;
    std::size_t UnackedCount() const;
    // Whether a terminal (name as received) has an unacknowledged alarm, shelved ones aside.
    bool Unacked(std::span<const std::uint8_t> name) const;
    // Bit i: channel AD(i+1) of the terminal is active, its alarm shown.
    std::uint16_t ActiveChannels(std::span<const std::uint8_t> name) const;

  private:
    struct Entry {
        AlarmSnapshot alarm;
        // Order of raising.
        std::uint64_t raised = 0;
    };
    // By terminal name (bytes) and source.
    std::map<std::pair<std::string, AlarmSource>, Entry> entries_;
    std::uint64_t raises_ = 0;
};

// Whether the operator still has to acknowledge it.
inline bool IsUnacked(const AlarmSnapshot& alarm) {
    return alarm.state == AlarmState::ActiveUnacked || alarm.state == AlarmState::ReturnedUnacked;
}

}  // namespace corvelle
