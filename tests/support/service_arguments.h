#pragma once

#include <QString>
#include <QStringList>

namespace corvelle::test {

// corvelled on port, polling every 200 ms, with extra after.
inline QStringList ServiceArguments(quint16 port, const QStringList& extra = {}) {
    return QStringList{QStringLiteral("--port"), QString::number(port),
                       QStringLiteral("--interval"), QStringLiteral("200")} +
           extra;
}

// Publishing to a broker of the test's on 127.0.0.1 as node id.
inline QStringList MqttArguments(quint16 brokerPort, const QString& id) {
    return {QStringLiteral("--mqtt"), QStringLiteral("mqtt://127.0.0.1:%1").arg(brokerPort),
            QStringLiteral("--mqtt-id"), id};
}

}  // namespace corvelle::test
