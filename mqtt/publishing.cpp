#include "mqtt/publishing.h"

namespace corvelle {

Publishing::Publishing(const MqttSettings& settings, HostSinks& sinks, DeviceTabHost& host,
                       QObject* parent)
    : QObject(parent), sinks_(sinks), publisher_(settings) {
    connect(&publisher_, &MqttPublisher::stateChanged, this, &Publishing::stateChanged);
    connect(&publisher_, &MqttPublisher::logLine, this, &Publishing::logLine);
    publisher_.SetRelaySwitch([&host](std::span<const std::uint8_t> name, std::size_t relay,
                                      bool on) { return host.RequestRelay(name, relay, on); });
}

Publishing::~Publishing() {
    Stop();
}

void Publishing::Start() {
    if (started_) {
        return;
    }
    started_ = true;
    sinks_.Add(&publisher_);
    publisher_.Start();
}

void Publishing::Stop() {
    BeginDrain();
    publisher_.Stop();
}

void Publishing::BeginDrain() {
    if (!started_) {
        return;
    }
    started_ = false;
    sinks_.Remove(&publisher_);
    publisher_.BeginStop();
}

bool Publishing::Drained() const {
    return publisher_.Finished();
}

std::string Publishing::Abandon() {
    const std::size_t left = publisher_.Abandon();
    if (left == 0) {
        return {};
    }
    return std::to_string(left) + (left == 1 ? " message" : " messages");
}

}  // namespace corvelle

#include "moc_publishing.cpp"  // NOLINT(bugprone-suspicious-include): moc output
