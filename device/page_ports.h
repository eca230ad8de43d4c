#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace corvelle {

// Defined by the connection server. A page only stores the address of its terminal's
// record and hands it back with every send; it never looks inside.
struct ClientRecord;

// Where a page hands its send envelopes: a 16-bit big-endian payload length followed by
// the payload. The envelope lives only for the call.
class DeviceSender {
  public:
    virtual ~DeviceSender() = default;
    virtual void SendToDevice(std::span<const std::uint8_t> envelope, ClientRecord* record) = 0;
    // The terminal of record gave a valid reply: a connection that answers is alive.
    virtual void NoteValidReply(ClientRecord* record) = 0;
};

// The page's poll timer: one-shot; Start replaces a running period.
class OneShotTimer {
  public:
    virtual ~OneShotTimer() = default;
    virtual void Start(std::uint32_t milliseconds) = 0;
    virtual void Stop() = 0;
};

struct LocalDateTime {
    int year = 2000;
    int month = 1;
    int day = 1;
    int hour = 0;
    int minute = 0;
    int second = 0;
    int millisecond = 0;
    // Local time minus UTC, for consumers in other time zones.
    int utcOffsetSeconds = 0;
};

class Clock {
  public:
    virtual ~Clock() = default;
    virtual LocalDateTime Now() const = 0;
};

// One row of the value list: the row number, the label and the value column (UTF-8).
struct ValueRow {
    std::string number;
    std::string label;
    std::string value;
    // What the row's cells mean besides, for tool tips and screen readers: a profiled channel's
    // number and raw volts ("AD3 2.341V"); empty otherwise.
    std::string detail;
    bool operator==(const ValueRow&) const = default;
};

// The widgets of a page, as the behaviour sees them. Texts are UTF-8.
class PageView {
  public:
    virtual ~PageView() = default;
    virtual void SetStatusText(std::string_view text) = 0;
    // Replaces every row of the value list.
    virtual void SetValueRows(std::span<const ValueRow> rows) = 0;
    // index 0..11: input 1..12.
    virtual void SetInputLamp(std::size_t index, bool lit) = 0;
    // index 0..11: relay 1..12; the lamp and the caption of its button.
    virtual void SetRelay(std::size_t index, bool lit, std::string_view caption) = 0;
    // index 0..11: what input (relay == false) or relay index+1 is called, on its caption and
    // for screen readers. A view without captions ignores it.
    virtual void SetSwitchName(bool relay, std::size_t index, std::string_view name) {
        static_cast<void>(relay), static_cast<void>(index), static_cast<void>(name);
    }
};

}  // namespace corvelle
