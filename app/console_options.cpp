#include "app/console_options.h"

#include <QCommandLineParser>
#include <cstring>

#include "settings/settings_panel.h"

namespace corvelle {
namespace {

// The program's name, which starts its default MQTT id.
const QString kProgram = QStringLiteral("corvelle");
const QString kHistory = QStringLiteral("history");
const QString kTerminal = QStringLiteral("terminal");
const QString kFrom = QStringLiteral("from");
const QString kTo = QStringLiteral("to");

void AddHistoryOptions(QCommandLineParser& parser) {
    parser.addOption({kHistory,
                      QStringLiteral("Open only the history window on the recording folder DIR: "
                                     "no main window, no listening."),
                      QStringLiteral("DIR")});
    parser.addOption({kTerminal, QStringLiteral("With --history: the terminal, by its name."),
                      QStringLiteral("NAME")});
    parser.addOption(
        {kFrom, QStringLiteral("With --history: the first day."), QStringLiteral("YYYY-MM-DD")});
    parser.addOption(
        {kTo, QStringLiteral("With --history: the last day."), QStringLiteral("YYYY-MM-DD")});
}

std::variant<std::optional<HistoryOptions>, QString> ReadHistoryOptions(
    const QCommandLineParser& parser) {
    if (!parser.isSet(kHistory)) {
        for (const QString& option : {kTerminal, kFrom, kTo}) {
            if (parser.isSet(option)) {
                return QStringLiteral("--%1 needs --history").arg(option);
            }
        }
        return std::nullopt;
    }
    HistoryOptions options{parser.value(kHistory), parser.value(kTerminal), {}, {}};
    if (options.folder.trimmed().isEmpty()) {
        return QStringLiteral("--history: no folder given");
    }
    for (auto [option, date] : {std::pair{kFrom, &options.from}, std::pair{kTo, &options.to}}) {
        if (parser.isSet(option)) {
            const QDate read = QDate::fromString(parser.value(option), Qt::ISODate);
            if (!read.isValid() || parser.value(option).size() != 10) {
                return QStringLiteral("--%1: expected a date as YYYY-MM-DD, got %2")
                    .arg(option, parser.value(option));
            }
            *date = read;
        }
    }
    return options;
}

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
    AddHistoryOptions(parser);
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
    auto history = ReadHistoryOptions(parser);
    if (const auto* problem = std::get_if<QString>(&history)) {
        return BadOptions{*problem};
    }
    return ConsoleOptions{
        std::get<RecordOptions>(std::move(record)), std::get<LimitOptions>(std::move(limits)),
        std::get<MqttSettings>(std::move(mqtt)), std::get<ProfileOptions>(std::move(profiles)),
        std::get<std::optional<HistoryOptions>>(std::move(history))};
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
