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
// cache without end. A name still in use is worked out again with its next reading.
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
        // The recorder's own note; consumers read the retained meta topic instead.
        case EventKind::ProfileInForce:
        // Alarms are retained topics of their own.
        case EventKind::AlarmRaised:
        case EventKind::AlarmAcknowledged:
        case EventKind::AlarmCleared:
        case EventKind::AlarmShelved:
        case EventKind::AlarmUnshelved:
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

// What the value list shows of the channels the profile names or scales: the scaled value in
// its unit, or volts.
QJsonArray ProfileValues(const Reading& reading) {
    QJsonArray values;
    const std::size_t channelCount = std::min<std::size_t>(reading.channelCount, kChannelCount);
    for (std::size_t i = 0; i < channelCount; ++i) {
        const auto& channel = reading.profile->channels[i];
        if (!channel) {
            continue;
        }
        const bool scaled = channel->scaling.has_value();
        values.append(QJsonObject{
            {QStringLiteral("channel"), static_cast<int>(i + 1)},
            {QStringLiteral("name"), QString::fromStdString(channel->name)},
            {QStringLiteral("value"),
             RoundedValue(reading.values[i], scaled ? channel->decimals : 3)},
            {QStringLiteral("unit"),
             scaled ? QString::fromStdString(channel->unit) : QStringLiteral("V")},
        });
    }
    return values;
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

QByteArray StatusTopic(const QByteArray& level) {
    return level + "/status";
}

const DeviceNames::Name& DeviceNames::Of(std::span<const std::uint8_t> raw) {
    const QByteArray key(reinterpret_cast<const char*>(raw.data()),
                         static_cast<qsizetype>(raw.size()));
    if (const auto found = byRaw_.constFind(key); found != byRaw_.constEnd()) {
        return *found;
    }
    if (byRaw_.size() >= kMostNames) {
        byRaw_.clear();
    }
    Name name;
    name.text = DeviceNameText(raw);
    name.level = QByteArray::fromStdString(TopicLevel(raw, name.text.toStdString()));
    return *byRaw_.insert(key, name);
}

MqttTopics::MqttTopics(const QString& prefix, const QString& clientId)
    : base_((prefix + QLatin1Char('/') + clientId + QLatin1Char('/')).toUtf8()) {}

QByteArray MqttTopics::ClientStatus() const {
    return base_ + "status";
}

QByteArray MqttTopics::OwnFilter() const {
    return base_ + "#";
}

QByteArray MqttTopics::SyncTopic() const {
    return base_ + "sync";
}

QByteArray MqttTopics::RelayCommandFilter() const {
    return base_ + "+/relay/+/set";
}

QByteArray MqttTopics::AlarmAckFilter() const {
    return base_ + "+/alarm/+/ack";
}

QByteArray AlarmTopic(const QByteArray& level, const AlarmSource& source) {
    return level + "/alarm/" + QByteArray::fromStdString(source.Id());
}

QByteArray AlarmPayload(const AlarmSnapshot& alarm) {
    if (alarm.state == AlarmState::Normal) {
        return {};
    }
    const auto& limitKind = alarm.condition.limitKind;
    const QJsonObject object{
        {QStringLiteral("state"), QLatin1String(StateKey(alarm))},
        {QStringLiteral("priority"), QString::fromUtf8(PriorityText(alarm.condition.priority))},
        {QStringLiteral("limit"), limitKind ? QJsonValue(alarm.condition.limit) : QJsonValue()},
        {QStringLiteral("value"),
         alarm.source.kind == AlarmSource::Kind::Link ? QJsonValue() : QJsonValue(alarm.value)},
        {QStringLiteral("text"),
         limitKind ? QString::fromUtf8(LimitKey(*limitKind)) : QString::fromStdString(alarm.text)},
        {QStringLiteral("raised_at"), Time(alarm.raisedAt)},
        {QStringLiteral("acked_at"),
         alarm.ackedAt ? QJsonValue(Time(*alarm.ackedAt)) : QJsonValue()},
        {QStringLiteral("acked_by"), QString::fromStdString(alarm.ackedBy)},
    };
    return Compact(object);
}

std::variant<AlarmAck, QString> MqttTopics::ParseAlarmAck(const QByteArray& topic,
                                                          const QByteArray& payload,
                                                          bool retained) const {
    const QList<QByteArray> levels = topic.mid(base_.size()).split('/');
    if (!topic.startsWith(base_) || levels.size() != 4 || levels[1] != "alarm" ||
        levels[3] != "ack") {
        return QStringLiteral("not an alarm acknowledgement topic");
    }
    // A retained acknowledgement would acknowledge again at every reconnection.
    if (retained) {
        return QStringLiteral("retained commands are not carried out");
    }
    const auto source = AlarmSource::FromId(levels[2].toStdString());
    if (!source) {
        return QStringLiteral("alarm sources are AD1 to AD12, IN1 to IN12 and link");
    }
    if (payload.size() > kMostAckerBytes) {
        return QStringLiteral("the payload is longer than %1 bytes").arg(kMostAckerBytes);
    }
    // Shown and logged as text: control characters and invalid UTF-8 do not get through.
    QString by = QString::fromUtf8(payload);
    for (QChar& c : by) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format) {
            c = QLatin1Char('?');
        }
    }
    by = by.trimmed();
    return AlarmAck{levels[0], *source, by.isEmpty() ? "MQTT" : by.toStdString()};
}

MqttMessage MqttTopics::Format(const Outgoing& item, DeviceNames& names) const {
    if (const auto* reading = std::get_if<NumberedReading>(&item)) {
        return FormatReading(*reading, names);
    }
    if (const auto* event = std::get_if<AcquisitionEvent>(&item)) {
        return FormatEvent(*event, names);
    }
    const auto& result = std::get<RelayResult>(item);
    return {base_ + result.level + "/relay/" + QByteArray::number(result.relay) + "/result",
            result.words, false};
}

MqttMessage MqttTopics::FormatDropped(std::uint64_t count, const LocalDateTime& time) const {
    AcquisitionEvent event;
    event.time = time;
    event.kind = EventKind::ReadingsDropped;
    event.value = static_cast<std::int64_t>(count);
    DeviceNames none;
    return FormatEvent(event, none);
}

MqttMessage MqttTopics::FormatReading(const NumberedReading& numbered, DeviceNames& names) const {
    const Reading& reading = numbered.reading;
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
        {QStringLiteral("seq"), static_cast<qint64>(numbered.seq)},
    };
    if (reading.profile) {
        QJsonObject withValues = object;
        withValues.insert(QStringLiteral("values"), ProfileValues(reading));
        return {base_ + name.level + "/reading", Compact(withValues), false};
    }
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

std::variant<RelayCommand, QString> MqttTopics::ParseRelayCommand(const QByteArray& topic,
                                                                  const QByteArray& payload,
                                                                  bool retained) const {
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
    command.level = levels[0];
    return command;
}

}  // namespace corvelle
