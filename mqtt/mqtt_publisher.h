#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <thread>

#include "device/acquisition_sink.h"
#include "mqtt/mqtt_link.h"
#include "mqtt/mqtt_messages.h"
#include "mqtt/mqtt_options.h"
#include "mqtt/relay_commands.h"
#include "server/device_tab_host.h"

namespace corvelle {

// Publishes every reading and event to an MQTT broker and, when asked to, takes relay commands
// from it. The broker is served on a thread of its own: OnReading and OnEvent only copy into a
// bounded queue or the retained topics, and every signal is emitted on the thread this object
// lives on. A terminal's status is retained once it has identified: "online" while it is, then
// "offline".
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
    // which leaves a network thread that is not done to end alone: the messages and retained
    // topics the broker has not taken.
    void BeginStop();
    bool Finished();
    std::size_t Abandon();

    void OnReading(const Reading& reading) override;
    void OnEvent(const AcquisitionEvent& event) override;

    MqttLinkCounts Counts() const;

    // A retained topic of a terminal that has identified, "prefix/id/<level>/<leaf>", kept
    // with its statuses and sent again on every connection; an empty payload removes it.
    void SetTerminalRetained(std::span<const std::uint8_t> rawName, const QByteArray& leaf,
                             const QByteArray& payload);

    // Switches relay 1..12 of the terminal of that raw name for a command from the broker.
    using RelaySwitch = std::function<RelayRequest(std::span<const std::uint8_t> rawName,
                                                   std::size_t relay, bool on)>;
    void SetRelaySwitch(RelaySwitch relaySwitch) { relaySwitch_ = std::move(relaySwitch); }
    // Acknowledges an alarm of the terminal of that raw name for the broker; false when there
    // was nothing to acknowledge.
    using AlarmAcknowledge = std::function<bool(std::span<const std::uint8_t> rawName,
                                                AlarmSource source, const std::string& by)>;
    void SetAlarmAcknowledge(AlarmAcknowledge acknowledge) {
        alarmAcknowledge_ = std::move(acknowledge);
    }

  signals:
    // Connected, or why publishing stopped; once for each change.
    void stateChanged(const QString& message, bool problem);
    // Ignored commands and dropped messages.
    void logLine(const QString& line);

  private:
    // A terminal identified on a slot, as long as it stays.
    struct Linked {
        std::vector<std::uint8_t> rawName;
        QByteArray level;
        // Readings since it identified.
        std::uint64_t seq = 0;
        // The profile its retained meta topic says, once a reading has set it.
        std::optional<std::shared_ptr<const TerminalProfile>> profile;
    };
    // Waits of relay commands beyond which their result is "timed out".
    static constexpr std::int64_t kRelayTimeoutMs = 10000;

    void OnRelayCommand(const RelayCommand& command);
    void OnAlarmAck(const AlarmAck& ack);
    void PublishResult(const RelayCommands::Result& result);
    void ExpireRelayCommands();

    std::shared_ptr<MqttLink> link_;
    std::thread thread_;
    DeviceNames names_;
    std::map<int, Linked> linked_;
    RelaySwitch relaySwitch_;
    AlarmAcknowledge alarmAcknowledge_;
    // The raw names of the terminals with alarm topics, by topic level.
    std::map<QByteArray, std::vector<std::uint8_t>> alarmNames_;
    RelayCommands relayCommands_;
    QElapsedTimer clock_;
    QTimer relayTimer_;
};

}  // namespace corvelle
