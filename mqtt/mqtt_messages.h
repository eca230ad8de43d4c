#pragma once

#include <QByteArray>
#include <QHash>
#include <QString>
#include <cstdint>
#include <optional>
#include <variant>
#include <vector>

#include "device/acquisition_sink.h"

namespace corvelle {

// A device's retained status: online once its board is identified, offline once it detaches.
struct DeviceStatus {
    std::vector<std::uint8_t> name;
    bool online = false;
};

// What waits to be published, as the UI thread handed it over. Formatting waits for the
// network thread.
using Outgoing = std::variant<Reading, AcquisitionEvent, DeviceStatus>;

struct MqttMessage {
    QByteArray topic;
    QByteArray payload;
    bool retained = false;
};

struct RelayCommand {
    // As received from the terminal: GB2312 bytes.
    QByteArray rawName;
    // 1..12.
    int relay = 0;
    bool on = false;
};

// Whether events of this kind are published: bare connections and refusals are not.
bool IsPublished(EventKind kind);

// Device names as the tabs show them and as topic levels, remembered so that a relay command's
// topic level leads back to the raw name.
class DeviceNames {
  public:
    struct Name {
        QString text;
        QByteArray level;
    };

    const Name& Of(const std::vector<std::uint8_t>& raw);
    // The raw name a topic level was made from, if that name has been seen.
    std::optional<QByteArray> RawOf(const QByteArray& level) const;

  private:
    QHash<QByteArray, Name> byRaw_;
    QHash<QByteArray, QByteArray> rawByLevel_;
};

// The topics and payloads of one console, all under "prefix/id/".
class MqttTopics {
  public:
    MqttTopics(const QString& prefix, const QString& clientId);

    // The console's own "online" / "offline", also its last will.
    QByteArray ClientStatus() const;
    // "prefix/id/+/relay/+/set".
    QByteArray RelayCommandFilter() const;
    // A reading or event as one compact JSON object, or a device status as plain text.
    MqttMessage Format(const Outgoing& item, DeviceNames& names) const;
    // A command to carry out, or why it is ignored.
    std::variant<RelayCommand, QString> ParseRelayCommand(const QByteArray& topic,
                                                          const QByteArray& payload, bool retained,
                                                          const DeviceNames& names) const;

  private:
    MqttMessage FormatReading(const Reading& reading, DeviceNames& names) const;
    MqttMessage FormatEvent(const AcquisitionEvent& event, DeviceNames& names) const;
    MqttMessage FormatStatus(const DeviceStatus& status, DeviceNames& names) const;

    QByteArray base_;
};

}  // namespace corvelle
