#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "alarm/alarm_state.h"
#include "device/acquisition_sink.h"
#include "profile/profile.h"

namespace corvelle {

// The alarms of every terminal that has a profile: each reading is evaluated against its
// terminal's definitions (channel limits in scaled units, inputs), silence and lost
// connections raise "通信中断", and every transition goes out as an alarm event.
// Listens to the connection server like the recorder; Tick lets time pass (delays, silence,
// shelving, chattering) and is called about once a second.
class AlarmEngine final : public AcquisitionSink {
  public:
    using EventOut = std::function<void(const AcquisitionEvent&)>;

    static constexpr const char* kLinkText = "通信中断";

    AlarmEngine(const AlarmClock& clock, EventOut out);
    ~AlarmEngine() override;
    AlarmEngine(const AlarmEngine&) = delete;
    AlarmEngine& operator=(const AlarmEngine&) = delete;

    // The poll interval, from which a terminal's default silence limit follows.
    void SetPollInterval(std::uint32_t milliseconds) { pollIntervalMs_ = milliseconds; }

    void OnReading(const Reading& reading) override;
    void OnEvent(const AcquisitionEvent& event) override;
    void Tick();
    // Where terminals' profiles come from (nullptr: nowhere), read again now and whenever the
    // profiles change: a definition removed or changed clears its alarm.
    void SetProfiles(const ProfileLookup* profiles);

    // The operator's acts; false when there was nothing to do.
    bool Acknowledge(std::span<const std::uint8_t> name, AlarmSource source, const std::string& by);
    // Every unacknowledged alarm; how many were.
    std::size_t AcknowledgeAll(const std::string& by);
    bool Shelve(std::span<const std::uint8_t> name, AlarmSource source);

    // Every alarm that is not normal.
    std::vector<AlarmSnapshot> Alarms() const;

  private:
    struct Terminal;
    struct ChannelWatch;

    Terminal* Find(std::span<const std::uint8_t> name) const;
    AlarmPoint* FindPoint(std::span<const std::uint8_t> name, AlarmSource source) const;
    void Attach(const AcquisitionEvent& event);
    void Detach(const AcquisitionEvent& event);
    // Builds the terminal's alarms from its profile, keeping those whose definition stayed.
    void Define(Terminal& terminal, std::shared_ptr<const TerminalProfile> profile);
    std::int64_t SilentAfterMs(const Terminal& terminal) const;
    void Flush();

    std::shared_ptr<const TerminalProfile> Lookup(std::span<const std::uint8_t> name) const;

    const AlarmClock& clock_;
    const ProfileLookup* profiles_ = nullptr;
    EventOut out_;
    std::uint32_t pollIntervalMs_ = 1000;
    // By name as received (bytes).
    std::map<std::string, std::unique_ptr<Terminal>, std::less<>> terminals_;
    // By slot (1-based), while attached.
    std::vector<Terminal*> bySlot_;
    std::vector<AlarmTransition> pending_;
};

// The event that carries a transition to the sinks, its detail in words.
AcquisitionEvent AlarmEvent(const AlarmTransition& transition, const LocalDateTime& time);

// What raised it: "高限 8" for a channel, the text of an input or the link.
std::string ConditionText(const AlarmSnapshot& alarm);
// The value it was raised or changed with ("8.52"); empty for the link.
std::string AlarmValueText(const AlarmSnapshot& alarm);

// The alarm of a channel, input or link in words, for the events file and logs:
// "AD3 水位 高限 8 值 8.52" (limit names in Chinese).
std::string AlarmDetail(const AlarmSnapshot& alarm);

}  // namespace corvelle
