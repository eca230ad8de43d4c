#include "mqtt/mqtt_messages.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>

#include "device/qt/device_name.h"
#include "device/time_text.h"
#include "names/terminal_names.h"

namespace corvelle {
namespace {

// Any host may register under any name; the bound keeps a flood of names from growing the
// table without end. A name still in use is back with its next reading.
constexpr qsizetype kMostNames = 1024;

const char* EventName(EventKind kind) {
    switch (kind) {
        case EventKind::Registered:
            return "registered";
        case EventKind::Identified:
            return "identified";
        case EventKind::Detached:
            return "detached";
        case EventKind::RelayEcho:
            return "relay";
        case EventKind::ClosedByConsole:
            return "closed";
        case EventKind::ConnectionsRefused:
            return "refused";
        case EventKind::ReadingsDropped:
            return "dropped";
        case EventKind::RecordingStarted:
            return "recording_started";
        case EventKind::RecordingStopped:
            return "recording_stopped";
        case EventKind::TerminalRecordingFailed:
            return "recording_failed";
        case EventKind::TerminalRecordingResumed:
            return "recording_resumed";
        case EventKind::RecordingSpaceLow:
            return "low_disk";
        case EventKind::RecordingFileRemoved:
            return "file_removed";
        case EventKind::RecordingFileReopened:
            return "file_reopened";
        case EventKind::Connected:
        case EventKind::Refused:
            break;
    }
    return nullptr;
}

QJsonArray Flags(const std::array<std::uint8_t, kChannelCount>& flags) {
    QJsonArray array;
    for (const std::uint8_t flag : flags) {
        array.append(flag);
    }
    return array;
}

QByteArray Compact(const QJsonObject& object) {
    return QJsonDocument(object).toJson(QJsonDocument::Compact);
}

QString Time(const LocalDateTime& time) {
    return QString::fromStdString(FormatIsoDateTime(time));
}

}  // namespace

bool IsPublished(EventKind kind) {
    return EventName(kind) != nullptr;
}

const DeviceNames::Name& DeviceNames::Of(const std::vector<std::uint8_t>& raw) {
    const QByteArray key(reinterpret_cast<const char*>(raw.data()),
                         static_cast<qsizetype>(raw.size()));
    if (const auto found = byRaw_.constFind(key); found != byRaw_.constEnd()) {
        return *found;
    }
    if (byRaw_.size() >= kMostNames) {
        byRaw_.clear();
        rawByLevel_.clear();
    }
    Name name;
    name.text = DeviceNameText(raw);
    // "+" and "#" are wildcards in a subscription; "/" already goes as a path separator.
    name.level = QByteArray::fromStdString(TopicLevel(raw, name.text.toStdString()));
    rawByLevel_.insert(name.level, key);
    return *byRaw_.insert(key, name);
}

std::optional<QByteArray> DeviceNames::RawOf(const QByteArray& level) const {
    const auto found = rawByLevel_.constFind(level);
    return found == rawByLevel_.constEnd() ? std::nullopt : std::optional(*found);
}

MqttTopics::MqttTopics(const QString& prefix, const QString& clientId)
    : base_((prefix + QLatin1Char('/') + clientId + QLatin1Char('/')).toUtf8()) {}

QByteArray MqttTopics::ClientStatus() const {
    return base_ + "status";
}

QByteArray MqttTopics::RelayCommandFilter() const {
    return base_ + "+/relay/+/set";
}

MqttMessage MqttTopics::Format(const Outgoing& item, DeviceNames& names) const {
    if (const auto* reading = std::get_if<Reading>(&item)) {
        return FormatReading(*reading, names);
    }
    if (const auto* event = std::get_if<AcquisitionEvent>(&item)) {
        return FormatEvent(*event, names);
    }
    return FormatStatus(std::get<DeviceStatus>(item), names);
}

MqttMessage MqttTopics::FormatReading(const Reading& reading, DeviceNames& names) const {
    const DeviceNames::Name& name = names.Of(reading.name);
    QJsonArray channels;
    const std::size_t channelCount = std::min<std::size_t>(reading.channelCount, kChannelCount);
    for (std::size_t i = 0; i < channelCount; ++i) {
        channels.append(reading.channelMillivolts[i]);
    }
    const QJsonObject object{
        {QStringLiteral("time"), Time(reading.time)},
        {QStringLiteral("slot"), reading.slot},
        {QStringLiteral("name"), name.text},
        {QStringLiteral("channels_mv"), channels},
        {QStringLiteral("inputs"), Flags(reading.inputs)},
        {QStringLiteral("relays"), Flags(reading.relays)},
        {QStringLiteral("temperature_c"), reading.temperatureCentidegrees / 100.0},
        {QStringLiteral("reference_v"), reading.referenceMillivolts / 1000.0},
        {QStringLiteral("supply_v"), reading.supplyCentivolts / 100.0},
        {QStringLiteral("signal"), reading.signalValue},
    };
    return {base_ + name.level + "/reading", Compact(object), false};
}

MqttMessage MqttTopics::FormatEvent(const AcquisitionEvent& event, DeviceNames& names) const {
    std::string detail = DescribeEvent(event);
    // A refusal summary names its address itself.
    if (!event.peer.empty() && event.kind != EventKind::ConnectionsRefused) {
        detail += " (" + event.peer + ")";
    }
    // Events of no slot, such as closing a connection that never registered, are the console's.
    const bool console = event.slot == 0;
    const DeviceNames::Name* name = console ? nullptr : &names.Of(event.name);
    const QJsonObject object{
        {QStringLiteral("time"), Time(event.time)},
        {QStringLiteral("slot"), event.slot},
        {QStringLiteral("name"), console ? QString() : name->text},
        {QStringLiteral("event"), QLatin1String(EventName(event.kind))},
        {QStringLiteral("detail"), QString::fromStdString(detail)},
    };
    return {console ? base_ + "event" : base_ + name->level + "/event", Compact(object), false};
}

MqttMessage MqttTopics::FormatStatus(const DeviceStatus& status, DeviceNames& names) const {
    return {base_ + names.Of(status.name).level + "/status",
            status.online ? QByteArray("online") : QByteArray("offline"), true};
}

std::variant<RelayCommand, QString> MqttTopics::ParseRelayCommand(const QByteArray& topic,
                                                                  const QByteArray& payload,
                                                                  bool retained,
                                                                  const DeviceNames& names) const {
    const QList<QByteArray> levels = topic.mid(base_.size()).split('/');
    if (!topic.startsWith(base_) || levels.size() != 4 || levels[1] != "relay" ||
        levels[3] != "set") {
        return QStringLiteral("not a relay command topic");
    }
    // A retained command would switch the relay again at every reconnection.
    if (retained) {
        return QStringLiteral("retained commands are not carried out");
    }
    RelayCommand command;
    bool number = false;
    command.relay = levels[2].toInt(&number);
    if (!number || command.relay < 1 || command.relay > static_cast<int>(kChannelCount) ||
        QByteArray::number(command.relay) != levels[2]) {
        return QStringLiteral("relays are numbered 1 to %1").arg(kChannelCount);
    }
    if (payload != "on" && payload != "off") {
        return QStringLiteral("the payload is neither \"on\" nor \"off\"");
    }
    command.on = payload == "on";
    const auto raw = names.RawOf(levels[0]);
    if (!raw) {
        return QStringLiteral("no device of that name has been seen");
    }
    command.rawName = *raw;
    return command;
}

}  // namespace corvelle
