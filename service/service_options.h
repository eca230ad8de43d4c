#pragma once

#include <QHostAddress>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <variant>

#include "mqtt/mqtt_options.h"
#include "server/net/command_line.h"
#include "service/service_log.h"

namespace corvelle {

struct ServiceOptions {
    quint16 port = 20000;
    // All interfaces, IPv4 and IPv6.
    QHostAddress listen{QHostAddress::Any};
    std::uint32_t intervalMs = 3000;
    std::size_t slotCount = 8;
    // Empty: nothing is recorded.
    QString recordFolder;
    // Day files older than this many days are removed; 0 keeps everything.
    int recordKeepDays = 0;
    LimitOptions limits;
    MqttSettings mqtt;
    // --config: the terminal profiles; empty: none.
    QString configFile;
    // --mqtt-forget: remove this terminal's retained topics from the broker and exit.
    QString forgetTerminal;
    Verbosity verbosity = Verbosity::Normal;
};

// What the command line asks for: options to run with, text to print and exit 0 with (help,
// version), or the one problem to report before exiting with status 2.
std::variant<ServiceOptions, PrintAndExit, BadOptions> ParseServiceOptions(
    const QStringList& arguments);

}  // namespace corvelle
