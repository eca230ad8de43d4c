#include "mqtt/mqtt_client.h"

#include <mosquitto.h>

#include <mutex>

namespace corvelle {

void ClientDeleter::operator()(mosquitto* client) const {
    mosquitto_destroy(client);
}

void InitialiseMosquitto() {
    static std::once_flag once;
    std::call_once(once, [] { mosquitto_lib_init(); });
}

QString BrokerUrl(const MqttSettings& settings) {
    const QString host = settings.host.contains(QLatin1Char(':'))
                             ? QLatin1Char('[') + settings.host + QLatin1Char(']')
                             : settings.host;
    return QStringLiteral("%1://%2:%3")
        .arg(settings.tls ? QStringLiteral("mqtts") : QStringLiteral("mqtt"), host)
        .arg(settings.port);
}

int ConfigureCredentials(mosquitto* client, const MqttSettings& settings) {
    int code = MOSQ_ERR_SUCCESS;
    if (!settings.user.isEmpty()) {
        code = mosquitto_username_pw_set(
            client, settings.user.toUtf8().constData(),
            settings.password.isEmpty() ? nullptr : settings.password.toUtf8().constData());
    }
    if (code == MOSQ_ERR_SUCCESS && settings.tls) {
        code = settings.caFile.isEmpty()
                   ? mosquitto_int_option(client, MOSQ_OPT_TLS_USE_OS_CERTS, 1)
                   : mosquitto_tls_set(client, settings.caFile.toUtf8().constData(), nullptr,
                                       nullptr, nullptr, nullptr);
    }
    return code;
}

}  // namespace corvelle
