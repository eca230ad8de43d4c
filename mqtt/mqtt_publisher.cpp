#include "mqtt/mqtt_publisher.h"

#include <algorithm>

#include "mqtt/mqtt_client.h"
#include "mqtt/mqtt_link.h"

namespace corvelle {
namespace {

// The network thread needs at most 1.7 s to send what is left, say offline and disconnect.
constexpr std::chrono::milliseconds kStopLimit{2000};
// How often relay commands waiting for an echo are looked at.
constexpr int kRelayCheckMs = 500;

}  // namespace

MqttPublisher::MqttPublisher(MqttSettings settings, QObject* parent) : QObject(parent) {
    InitialiseMosquitto();
    MqttLinkNews news{
        [this](const QString& message, bool problem) {
            QMetaObject::invokeMethod(
                this, [this, message, problem] { emit stateChanged(message, problem); },
                Qt::QueuedConnection);
        },
        [this](const QString& line) {
            QMetaObject::invokeMethod(
                this, [this, line] { emit logLine(line); }, Qt::QueuedConnection);
        },
        [this](const RelayCommand& command) {
            QMetaObject::invokeMethod(
                this, [this, command] { OnRelayCommand(command); }, Qt::QueuedConnection);
        },
        [this](const AlarmAck& ack) {
            QMetaObject::invokeMethod(
                this, [this, ack] { OnAlarmAck(ack); }, Qt::QueuedConnection);
        },
    };
    link_ = std::make_shared<MqttLink>(std::move(settings), std::move(news));
    clock_.start();
    relayTimer_.setInterval(kRelayCheckMs);
    connect(&relayTimer_, &QTimer::timeout, this, &MqttPublisher::ExpireRelayCommands);
}

MqttPublisher::~MqttPublisher() {
    Stop();
}

MqttLinkCounts MqttPublisher::Counts() const {
    return link_->Counts();
}

void MqttPublisher::Start() {
    if (!thread_.joinable()) {
        thread_ = std::thread([link = link_] { link->Run(); });
    }
}

void MqttPublisher::Stop() {
    BeginStop();
    if (thread_.joinable()) {
        link_->WaitFinished(kStopLimit);
    }
    Abandon();
}

void MqttPublisher::BeginStop() {
    link_->RequestStop();
}

bool MqttPublisher::Finished() {
    return !thread_.joinable() || link_->WaitFinished(std::chrono::milliseconds(0));
}

std::size_t MqttPublisher::Abandon() {
    if (!thread_.joinable()) {
        return 0;
    }
    // What a broker that stayed away left in the queue counts as well.
    if (link_->WaitFinished(std::chrono::milliseconds(0))) {
        thread_.join();
        return link_->UnsentCount();
    }
    // A broker that does not take what is left, or a host name lookup the system's resolver
    // has not given up on yet. The thread owns what it uses and ends by itself.
    link_->Silence();
    thread_.detach();
    return link_->UnsentCount();
}

void MqttPublisher::OnReading(const Reading& reading) {
    Linked& linked = linked_[reading.slot];
    if (linked.profile != reading.profile) {
        // Dashboards label their panels from the retained meta topic: set when a profile comes
        // or changes, removed when it goes (the store sends only what differs).
        linked.profile = reading.profile;
        SetTerminalRetained(
            reading.name, "meta",
            reading.profile ? QByteArray::fromStdString(MetaJson(*reading.profile)) : QByteArray());
    }
    link_->Enqueue(NumberedReading{reading, ++linked.seq});
}

void MqttPublisher::OnEvent(const AcquisitionEvent& event) {
    if (IsAlarm(event.kind) && event.alarm) {
        // Retained beside the statuses: never dropped, asserted again on every connection.
        const AlarmSnapshot& alarm = event.alarm->alarm;
        const QByteArray& level = names_.Of(alarm.name).level;
        alarmNames_[level] = alarm.name;
        link_->SetRetained(AlarmTopic(level, alarm.source), AlarmPayload(alarm));
        return;
    }
    if (!IsPublished(event.kind) || IsRegistrationRefusal(event)) {
        return;
    }
    if (event.kind == EventKind::Identified) {
        const QByteArray& level = names_.Of(event.name).level;
        linked_[event.slot] = {event.name, level, 0, std::nullopt};
        link_->SetRetained(StatusTopic(level), kOnline);
    } else if (event.kind == EventKind::Detached) {
        const QByteArray& level = names_.Of(event.name).level;
        // Only a terminal that identified has a status: a bare registration leaves nothing
        // retained behind.
        if (link_->HoldsRetained(StatusTopic(level))) {
            link_->SetRetained(StatusTopic(level), kOffline);
        }
        linked_.erase(event.slot);
        for (const auto& result : relayCommands_.Detached(level)) {
            PublishResult(result);
        }
    } else if (event.kind == EventKind::RelayEcho) {
        const auto result = relayCommands_.Echo(names_.Of(event.name).level,
                                                static_cast<int>(event.value), event.on);
        if (result) {
            PublishResult(*result);
        }
    }
    link_->Enqueue(event);
}

void MqttPublisher::SetTerminalRetained(std::span<const std::uint8_t> rawName,
                                        const QByteArray& leaf, const QByteArray& payload) {
    link_->SetRetained(names_.Of(rawName).level + '/' + leaf, payload);
}

void MqttPublisher::OnRelayCommand(const RelayCommand& command) {
    const auto linked = std::find_if(linked_.begin(), linked_.end(), [&](const auto& slot) {
        return slot.second.level == command.level;
    });
    RelayRequest request = RelayRequest::NotLinked;
    if (linked != linked_.end() && relaySwitch_) {
        request = relaySwitch_(linked->second.rawName, static_cast<std::size_t>(command.relay),
                               command.on);
    }
    if (request == RelayRequest::Sent) {
        relayCommands_.Add(command.level, command.relay, command.on,
                           clock_.elapsed() + kRelayTimeoutMs);
        relayTimer_.start();
        return;
    }
    if (request == RelayRequest::AlreadySo) {
        PublishResult({command.level, command.relay, RelayCommands::Done(command.on)});
        return;
    }
    // A name that never identified here has no status: there is no such terminal to link.
    const QByteArray words = link_->HoldsRetained(StatusTopic(command.level))
                                 ? QByteArrayLiteral("not linked")
                                 : QByteArrayLiteral("not identified");
    PublishResult({command.level, command.relay, words});
    emit logLine(QStringLiteral("MQTT: relay command for %1 ignored: %2")
                     .arg(QString::fromUtf8(command.level), QString::fromUtf8(words)));
}

void MqttPublisher::OnAlarmAck(const AlarmAck& ack) {
    const auto found = alarmNames_.find(ack.level);
    if (found != alarmNames_.end() && alarmAcknowledge_ &&
        alarmAcknowledge_(found->second, ack.source, ack.by)) {
        return;
    }
    emit logLine(QStringLiteral("MQTT: acknowledgement of %1/%2 ignored: nothing to acknowledge")
                     .arg(QString::fromUtf8(ack.level), QString::fromStdString(ack.source.Id())));
}

void MqttPublisher::PublishResult(const RelayCommands::Result& result) {
    link_->Enqueue(RelayResult{result.level, result.relay, result.words});
}

void MqttPublisher::ExpireRelayCommands() {
    for (const auto& result : relayCommands_.Expire(clock_.elapsed())) {
        PublishResult(result);
    }
    if (relayCommands_.Empty()) {
        relayTimer_.stop();
    }
}

}  // namespace corvelle

#include "moc_mqtt_publisher.cpp"  // NOLINT(bugprone-suspicious-include): moc output
