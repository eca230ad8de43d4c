#pragma once

#include <QByteArrayList>
#include <QString>

#include "mqtt/mqtt_options.h"

namespace corvelle {

struct ForgetOutcome {
    // The retained topics removed.
    QByteArrayList removed;
    // Empty when the broker took every removal.
    QString problem;
};

// Removes every retained topic of a terminal below "prefix/id/<level>/", level made from the
// name as the terminal sends it (or the name itself, when it is already a usable level):
// connects once as "<id>-forget", reads back what is retained there, removes each, and waits
// for the broker to take the removals. Blocks for at most about 30 s.
ForgetOutcome ForgetTerminal(const MqttSettings& settings, const QString& name);

}  // namespace corvelle
