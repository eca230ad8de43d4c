#pragma once

#include <QString>
#include <QStringList>
#include <variant>

#include "mqtt/mqtt_options.h"
#include "profile/qt/profile_options.h"
#include "record/qt/record_options.h"
#include "server/net/command_line.h"

namespace corvelle {

// The console's command line. Every option is opt-in: without any, the console records,
// publishes and limits nothing.
struct ConsoleOptions {
    RecordOptions record;
    LimitOptions limits;
    MqttSettings mqtt;
    ProfileOptions profiles;
};

std::variant<ConsoleOptions, PrintAndExit, BadOptions> ParseConsoleOptions(
    const QStringList& arguments);

// Whether the command line asks only for help or the version, which need no display.
bool AsksForHelpOrVersion(int argc, char** argv);

}  // namespace corvelle
