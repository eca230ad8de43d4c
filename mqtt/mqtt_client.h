#pragma once

#include <QString>
#include <memory>

#include "mqtt/mqtt_options.h"

struct mosquitto;

namespace corvelle {

// What every connection of a node to its broker sets up alike.

inline constexpr int kKeepaliveS = 20;
// How long one pass of a connection's loop waits for the socket.
inline constexpr int kLoopMs = 50;

struct ClientDeleter {
    void operator()(mosquitto* client) const;
};
using Client = std::unique_ptr<mosquitto, ClientDeleter>;

// mosquitto_lib_init, once per process.
void InitialiseMosquitto();
// "mqtt://host:port" or "mqtts://[::1]:port", for messages.
QString BrokerUrl(const MqttSettings& settings);
// User name, password and TLS as the settings say; a libmosquitto error code.
int ConfigureCredentials(mosquitto* client, const MqttSettings& settings);

}  // namespace corvelle
