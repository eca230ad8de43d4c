#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <cstdint>
#include <span>
#include <variant>
#include <vector>

#include "alarm/alarm_state.h"
#include "device/acquisition_sink.h"

namespace corvelle {

// A reading with its place in its terminal's run: 1 for the first after it identified, so that
// consumers can drop QoS 1 duplicates and see gaps.
struct NumberedReading {
    Reading reading;
    std::uint64_t seq = 0;
};

// How a relay command ended, for P/ID/<level>/relay/<k>/result.
struct RelayResult {
    QByteArray level;
    int relay = 0;
    // "done on", "not linked", ...
    QByteArray words;
};

// What waits in the queue to be published, as the UI thread handed it over; formatting waits
// for the network thread. Retained topics are not queued: they live in the RetainedStore.
using Outgoing = std::variant<NumberedReading, AcquisitionEvent, RelayResult>;

struct MqttMessage {
    QByteArray topic;
    QByteArray payload;
    bool retained = false;
};

struct RelayCommand {
    // The terminal's topic level; the owner's thread finds the terminal it stands for.
    QByteArray level;
    // 1..12.
    int relay = 0;
    bool on = false;
};

// An acknowledgement of an alarm from the broker.
struct AlarmAck {
    QByteArray level;
    // "AD3", "IN1", "link".
    AlarmSource source;
    // Who acknowledged: the payload, made safe, or "MQTT".
    std::string by;
};

// The longest name of whoever acknowledges by MQTT.
inline constexpr qsizetype kMostAckerBytes = 64;

// Whether events of this kind are published: bare connections and refusals are not.
bool IsPublished(EventKind kind);

// The retained topics of a terminal, below "prefix/id/": "<level>/status" holds "online" or
// "offline".
QByteArray StatusTopic(const QByteArray& level);
inline const QByteArray kOnline = QByteArrayLiteral("online");
inline const QByteArray kOffline = QByteArrayLiteral("offline");

// "<level>/alarm/<source>", below "prefix/id/".
QByteArray AlarmTopic(const QByteArray& level, const AlarmSource& source);
// An alarm's retained state as one compact JSON object; empty (removing the topic) once it is
// normal.
QByteArray AlarmPayload(const AlarmSnapshot& alarm);

// Device names as the tabs show them and as topic levels, worked out once per name: a cache,
// bounded, whose forgotten names are worked out again when they come back.
class DeviceNames {
  public:
    struct Name {
        QString text;
        QByteArray level;
    };

    const Name& Of(std::span<const std::uint8_t> raw);

  private:
    QHash<QByteArray, Name> byRaw_;
};

// The topics and payloads of one console, all under "prefix/id/".
class MqttTopics {
  public:
    MqttTopics(const QString& prefix, const QString& clientId);

    // "prefix/id/", in front of every topic of this node.
    const QByteArray& Base() const { return base_; }
    // The console's own "online" / "offline", also its last will.
    QByteArray ClientStatus() const;
    // "prefix/id/#": what the node reads back of its own at every connection.
    QByteArray OwnFilter() const;
    // Where the node sends itself a mark after the retained messages it reads back.
    QByteArray SyncTopic() const;
    // "prefix/id/+/relay/+/set".
    QByteArray RelayCommandFilter() const;
    // "prefix/id/+/alarm/+/ack".
    QByteArray AlarmAckFilter() const;
    // A reading or event as one compact JSON object, a relay result as plain words.
    MqttMessage Format(const Outgoing& item, DeviceNames& names) const;
    // The "dropped" event of the node itself.
    MqttMessage FormatDropped(std::uint64_t count, const LocalDateTime& time) const;
    // A command to carry out, or why it is ignored.
    std::variant<RelayCommand, QString> ParseRelayCommand(const QByteArray& topic,
                                                          const QByteArray& payload,
                                                          bool retained) const;
    std::variant<AlarmAck, QString> ParseAlarmAck(const QByteArray& topic,
                                                  const QByteArray& payload, bool retained) const;

  private:
    MqttMessage FormatReading(const NumberedReading& numbered, DeviceNames& names) const;
    MqttMessage FormatEvent(const AcquisitionEvent& event, DeviceNames& names) const;

    QByteArray base_;
};

}  // namespace corvelle
