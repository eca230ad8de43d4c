#include "app/console_options.h"

#include <QCommandLineParser>
#include <cstring>

#include "settings/settings_panel.h"

namespace corvelle {
namespace {

// The program's name, which starts its default MQTT id.
const QString kProgram = QStringLiteral("corvelle");

}  // namespace

std::variant<ConsoleOptions, PrintAndExit, BadOptions> ParseConsoleOptions(
    const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The acquisition console: listens for remote terminals once \"开始监听\" is pressed."));
    AddRecordOptions(parser, QStringLiteral("Record every reading and event to daily CSV files "
                                            "in DIR from the start."));
    AddLimitOptions(parser, LimitDefaults::Off);
    AddMqttOptions(parser, kProgram);
    AddProfileOptions(parser, QStringLiteral("Read the terminal profiles from FILE (default: "
                                             "terminals.toml in the user's configuration "
                                             "folder, when it exists); saves go there too."));
    if (auto outcome = ParseCommandLine(parser, arguments)) {
        return std::visit(
            [](auto&& done) -> std::variant<ConsoleOptions, PrintAndExit, BadOptions> {
                return done;
            },
            std::move(*outcome));
    }
    auto limits = ReadLimitOptions(parser, LimitDefaults::Off, SettingsPanel::kInitialInterval);
    if (const auto* problem = std::get_if<QString>(&limits)) {
        return BadOptions{*problem};
    }
    auto mqtt = ReadMqttOptions(parser, kProgram);
    if (const auto* problem = std::get_if<QString>(&mqtt)) {
        return BadOptions{*problem};
    }
    auto record = ReadRecordOptions(parser);
    if (const auto* problem = std::get_if<QString>(&record)) {
        return BadOptions{*problem};
    }
    auto profiles = ReadProfileOptions(parser);
    if (const auto* problem = std::get_if<QString>(&profiles)) {
        return BadOptions{*problem};
    }
    return ConsoleOptions{
        std::get<RecordOptions>(std::move(record)), std::get<LimitOptions>(std::move(limits)),
        std::get<MqttSettings>(std::move(mqtt)), std::get<ProfileOptions>(std::move(profiles))};
}

bool AsksForHelpOrVersion(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        for (const char* flag : {"-h", "--help", "--help-all", "-v", "--version", "-?"}) {
            if (std::strcmp(argv[i], flag) == 0) {
                return true;
            }
        }
    }
    return false;
}

}  // namespace corvelle
