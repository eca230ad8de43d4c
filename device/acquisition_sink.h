#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/file_fault.h"
#include "device/page_ports.h"
#include "device/register_block.h"
#include "profile/profile.h"

namespace corvelle {

// An alarm's change, which only the alarm library and the sinks that show alarms look into.
struct AlarmTransition;

// One accepted poll reply, exactly as the value list and the lamps then show it.
struct Reading {
    LocalDateTime time;
    // 1-based, as the tabs count.
    int slot = 0;
    // As received: GB2312 bytes.
    std::vector<std::uint8_t> name;
    // 4, 6 or 12; 0 while the board is not identified. Channels past it are not carried.
    std::uint8_t channelCount = 0;
    std::array<std::int32_t, kChannelCount> channelMillivolts{};
    // Index i: input or relay i+1; 1 = active / on.
    std::array<std::uint8_t, kChannelCount> inputs{};
    std::array<std::uint8_t, kChannelCount> relays{};
    std::int16_t temperatureCentidegrees = 0;
    std::int16_t referenceMillivolts = 0;
    std::int16_t supplyCentivolts = 0;
    std::int16_t signalValue = 0;
    // The terminal's profile when the reply came (nullptr: none), and each channel's value
    // under it, scaled where it scales and volts elsewhere, as the value list shows it.
    std::shared_ptr<const TerminalProfile> profile;
    std::array<double, kChannelCount> values{};
};

enum class EventKind : std::uint8_t {
    // A connection was accepted.
    Connected,
    // A terminal registered and was bound to the slot.
    Registered,
    // A registration was answered with status 0 or 2 (value).
    Refused,
    // The board was identified with value channels: the page shows "已连接".
    Identified,
    // The terminal left the page: it shows "已断开".
    Detached,
    // The board confirmed relay value (1..12) switched on or off.
    RelayEcho,
    // The console closed a connection for reason.
    ClosedByConsole,
    // value connections from the address in peer were refused for reason since the last report:
    // connections the console refuses are reported per address and minute, not one by one.
    // Refused registrations are summed so too, for the log only.
    ConnectionsRefused,
    // A listener had to drop value readings; written by that listener itself.
    ReadingsDropped,
    // The recorder's own events, which it writes itself and hands to the other listeners.
    // Recording started into detail (the folder).
    RecordingStarted,
    // Recording ended: value rows written, dropped rows in the detail; error when it failed.
    RecordingStopped,
    // A terminal's day file (no name: the events file) could not be written for a minute; its
    // rows are dropped, and counted, until it can. error says why, detail names the file.
    TerminalRecordingFailed,
    // ...and it can again; value rows were dropped meanwhile.
    TerminalRecordingResumed,
    // Little room is left on the recording's disk: value bytes free.
    RecordingSpaceLow,
    // Retention removed an old day file, named in detail.
    RecordingFileRemoved,
    // A day file was replaced or removed under the recorder, which went on writing into whatever
    // its path (detail) now names.
    RecordingFileReopened,
    // An alarm changed; alarm holds it, detail says it in words ("AD3 水位 高限 8 值 8.52 重要").
    AlarmRaised,
    AlarmAcknowledged,
    AlarmCleared,
    AlarmShelved,
    // The hour of a shelving is up: the alarm shows again.
    AlarmUnshelved,
    // The recorder's note of the profile a terminal's rows are written under from now on (on
    // its first row of a recording and of a day, and when it changes): its meta JSON in detail.
    ProfileInForce,
};

enum class CloseReason : std::uint8_t {
    // A newer connection registered under the same name.
    TakenOver,
    // The peer stopped reading and too much waited to be sent to it.
    WriteBacklog,
    // The connection did not register in time.
    RegistrationTimeout,
    // Its address is not among the allowed ones.
    NotAllowed,
    // Too many connections were waiting to register; this was the oldest.
    UnregisteredLimit,
    // A registered terminal gave no valid reply for longer than allowed.
    SilentTimeout,
    // Registrations answered with status 0 (not a valid registration) or 2 (no free slot): the
    // connection stays, but a stream of them is summed like the closes.
    InvalidRegistration,
    NoFreeSlot,
};
inline constexpr std::size_t kCloseReasonCount =
    static_cast<std::size_t>(CloseReason::NoFreeSlot) + 1;

struct AcquisitionEvent {
    LocalDateTime time;
    EventKind kind = EventKind::Connected;
    // 1-based; 0 when the connection is bound to no slot.
    int slot = 0;
    // The slot's name as received; empty when there is no slot.
    std::vector<std::uint8_t> name;
    // "address:port" of the connection concerned, where there is one.
    std::string peer;
    // Channels, relay number, refusal status or dropped readings, by kind.
    std::int64_t value = 0;
    // RelayEcho: the relay is now on.
    bool on = false;
    CloseReason reason = CloseReason::TakenOver;
    // What the kind needs besides: a folder, a file, a count (UTF-8).
    std::string detail;
    // What went wrong, for the kinds that report a failure.
    std::optional<FileError> error;
    // Set for the alarm kinds.
    std::shared_ptr<const AlarmTransition> alarm;
};

// Where pages and the connection server hand their readings and events, on the UI thread.
// Implementations return at once: whatever takes time happens elsewhere.
class AcquisitionSink {
  public:
    virtual ~AcquisitionSink() = default;
    virtual void OnReading(const Reading& reading) = 0;
    virtual void OnEvent(const AcquisitionEvent& event) = 0;
};

// Hands every reading and event to several sinks in the order they were added.
class SinkFanout final : public AcquisitionSink {
  public:
    void Add(AcquisitionSink* sink);
    void Remove(AcquisitionSink* sink);
    bool Empty() const { return sinks_.empty(); }
    void OnReading(const Reading& reading) override;
    void OnEvent(const AcquisitionEvent& event) override;
    // To every sink but the one the event came from.
    void OnEventFrom(const AcquisitionEvent& event, const AcquisitionSink* source);

  private:
    std::vector<AcquisitionSink*> sinks_;
};

// The listeners of a console or service, which its connection server sees as one sink, or as
// none at no cost while there are none.
class HostSinks {
  public:
    // attach hands the server the sink it is to use from now on (nullptr: none).
    explicit HostSinks(std::function<void(AcquisitionSink*)> attach) : attach_(std::move(attach)) {}
    void Add(AcquisitionSink* sink) {
        fanout_.Add(sink);
        attach_(&fanout_);
    }
    void Remove(AcquisitionSink* sink) {
        fanout_.Remove(sink);
        attach_(fanout_.Empty() ? nullptr : &fanout_);
    }
    // An event of one sink's own making, for the others.
    void OnEventFrom(const AcquisitionEvent& event, const AcquisitionSink* source) {
        fanout_.OnEventFrom(event, source);
    }

  private:
    std::function<void(AcquisitionSink*)> attach_;
    SinkFanout fanout_;
};

// A summary of refused registrations: they were never recorded or published, only logged.
inline bool IsRegistrationRefusal(const AcquisitionEvent& event) {
    return event.kind == EventKind::ConnectionsRefused &&
           (event.reason == CloseReason::InvalidRegistration ||
            event.reason == CloseReason::NoFreeSlot);
}

inline bool IsAlarm(EventKind kind) {
    return kind >= EventKind::AlarmRaised && kind <= EventKind::AlarmUnshelved;
}

// What happened, in English, without time, slot or name: "identified with 12 channels".
std::string DescribeEvent(const AcquisitionEvent& event);

}  // namespace corvelle
