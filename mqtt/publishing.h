#pragma once

#include <QObject>
#include <QString>
#include <memory>

#include "mqtt/mqtt_publisher.h"
#include "process/orderly_stop.h"
#include "server/device_tab_host.h"

namespace corvelle {

// Publishing as the console and the service run it: the publisher listens to the connection
// server from Start to Stop, and relay commands from the broker go to the terminal's page.
class Publishing final : public QObject, public Drain {
    Q_OBJECT

  public:
    Publishing(const MqttSettings& settings, HostSinks& sinks, DeviceTabHost& host,
               QObject* parent = nullptr);
    ~Publishing() override;
    Publishing(const Publishing&) = delete;
    Publishing& operator=(const Publishing&) = delete;

    void Start();
    // Alarm acknowledgements from the broker go here.
    void SetAlarmAcknowledge(MqttPublisher::AlarmAcknowledge acknowledge) {
        publisher_.SetAlarmAcknowledge(std::move(acknowledge));
    }
    // Says "offline" and disconnects, within about 2 s.
    void Stop();

    // Sends what is queued, says "offline" and disconnects, as a part of an orderly stop.
    void BeginDrain() override;
    bool Drained() const override;
    std::string Abandon() override;

    MqttLinkCounts Counts() const { return publisher_.Counts(); }
    // The sink that takes the readings and events to publish.
    AcquisitionSink& Sink() { return publisher_; }

  signals:
    // Connected, or why publishing does not work; once for each change.
    void stateChanged(const QString& message, bool problem);
    // Ignored commands and dropped messages.
    void logLine(const QString& line);

  private:
    HostSinks& sinks_;
    mutable MqttPublisher publisher_;
    bool started_ = false;
};

}  // namespace corvelle
