#pragma once

#include <QString>

#include "mqtt/mqtt_options.h"

struct mosquitto;

namespace corvelle {

// What every connection of a node to its broker sets up alike.

// mosquitto_lib_init, once per process.
void InitialiseMosquitto();
// "mqtt://host:port" or "mqtts://[::1]:port", for messages.
QString BrokerUrl(const MqttSettings& settings);
// User name, password and TLS as the settings say; a libmosquitto error code.
int ConfigureCredentials(mosquitto* client, const MqttSettings& settings);

}  // namespace corvelle
