#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <memory>
#include <thread>

#include "device/acquisition_sink.h"
#include "mqtt/mqtt_options.h"

namespace corvelle {

class MqttLink;

// Publishes every reading and event to an MQTT broker and, when asked to, takes relay commands
// from it. The broker is served on a thread of its own: OnReading and OnEvent only copy into a
// bounded queue, and every signal is emitted on the thread this object lives on.
class MqttPublisher final : public QObject, public AcquisitionSink {
    Q_OBJECT

  public:
    // settings.enabled is not looked at: whoever makes a publisher wants publishing.
    explicit MqttPublisher(MqttSettings settings, QObject* parent = nullptr);
    // Stops.
    ~MqttPublisher() override;
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Connects in the background and returns at once.
    void Start();
    // Says "offline", disconnects and ends the network thread, within about 2 s whatever the
    // broker does. A stopped publisher stays stopped.
    void Stop();
    // The same in steps: asks for it and returns at once; whether it is done; and the end,
    // which leaves a network thread that is not done to end alone: the messages the broker has
    // not taken.
    void BeginStop();
    bool Finished();
    std::size_t Abandon();

    void OnReading(const Reading& reading) override;
    void OnEvent(const AcquisitionEvent& event) override;

  signals:
    // Connected, or why publishing stopped; once for each change.
    void stateChanged(const QString& message, bool problem);
    // Ignored commands and dropped messages.
    void logLine(const QString& line);
    // Relay 1..12 of the device of that raw name is to be switched.
    void relayCommand(const QByteArray& rawName, int relay, bool on);

  private:
    std::shared_ptr<MqttLink> link_;
    std::thread thread_;
};

}  // namespace corvelle
