#pragma once

#include <QCommandLineParser>
#include <QString>
#include <cstddef>
#include <variant>

namespace corvelle {

inline constexpr quint16 kMqttPort = 1883;
inline constexpr quint16 kMqttTlsPort = 8883;

// Where and how readings and events are published to an MQTT broker.
struct MqttSettings {
    // False without --mqtt: nothing is published.
    bool enabled = false;
    QString host;
    quint16 port = kMqttPort;
    bool tls = false;
    // Empty: the system's trust store.
    QString caFile;
    QString clientId;
    QString prefix = QStringLiteral("corvelle");
    int qos = 1;
    // Empty: no authentication.
    QString user;
    QString password;
    bool relayCommands = false;
    // Acknowledge alarms on messages to P/ID/NAME/alarm/SOURCE/ack.
    bool alarmAcks = false;
    // Messages held while the broker cannot take them; past it the oldest are dropped.
    std::size_t queueLimit = 10000;
};

// --mqtt URL, --mqtt-id, --mqtt-prefix, --mqtt-qos, --mqtt-user, --mqtt-password-file,
// --mqtt-cafile, --mqtt-commands (--mqtt-relay-commands: the same as --mqtt-commands relay). The
// password never comes from the command line: it is read from a file only its owner can read, or
// from CORVELLE_MQTT_PASSWORD, which is then removed from the environment. program ("corvelle",
// "corvelled") starts the default id, "program-host", so that a console and a service on one host
// never share an id.
void AddMqttOptions(QCommandLineParser& parser, const QString& program);
// The options as given, or what is wrong with one of them.
std::variant<MqttSettings, QString> ReadMqttOptions(const QCommandLineParser& parser,
                                                    const QString& program);

}  // namespace corvelle
