#include "mqtt/mqtt_publisher.h"

#include <mosquitto.h>

#include <mutex>

#include "mqtt/mqtt_link.h"

namespace corvelle {
namespace {

// The network thread needs at most 1.3 s to say offline and disconnect.
constexpr std::chrono::milliseconds kStopLimit{2000};

void InitialiseLibrary() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

}  // namespace

MqttPublisher::MqttPublisher(MqttSettings settings, QObject* parent) : QObject(parent) {
    InitialiseLibrary();
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
                this,
                [this, command] { emit relayCommand(command.rawName, command.relay, command.on); },
                Qt::QueuedConnection);
        },
    };
    link_ = std::make_shared<MqttLink>(std::move(settings), std::move(news));
}

MqttPublisher::~MqttPublisher() {
    Stop();
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
        return link_->QueuedCount();
    }
    // A broker that does not take what is left, or a host name lookup the system's resolver
    // has not given up on yet. The thread owns what it uses and ends by itself.
    link_->Silence();
    thread_.detach();
    return link_->QueuedCount();
}

void MqttPublisher::OnReading(const Reading& reading) {
    link_->Enqueue(reading);
}

void MqttPublisher::OnEvent(const AcquisitionEvent& event) {
    if (!IsPublished(event.kind) || IsRegistrationRefusal(event)) {
        return;
    }
    if (event.kind == EventKind::Identified || event.kind == EventKind::Detached) {
        link_->Enqueue(DeviceStatus{event.name, event.kind == EventKind::Identified});
    }
    link_->Enqueue(event);
}

}  // namespace corvelle
