#include "app/console_options.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <cstring>

namespace corvelle {

std::variant<ConsoleOptions, PrintAndExit, BadOptions> ParseConsoleOptions(
    const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "The acquisition console: listens for remote terminals once \"开始监听\" is pressed."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption record(
        {QStringLiteral("record")},
        QStringLiteral("Record every reading and event to daily CSV files in DIR from the start."),
        QStringLiteral("DIR"));
    parser.addOption(record);
    AddLimitOptions(parser, LimitDefaults::Off);
    if (!parser.parse(arguments)) {
        return BadOptions{parser.errorText()};
    }
    if (parser.isSet(help)) {
        return PrintAndExit{parser.helpText()};
    }
    if (parser.isSet(version)) {
        return PrintAndExit{QCoreApplication::applicationName() + QLatin1Char(' ') +
                            QCoreApplication::applicationVersion() + QLatin1Char('\n')};
    }
    if (!parser.positionalArguments().isEmpty()) {
        return BadOptions{QStringLiteral("unexpected argument: %1")
                              .arg(parser.positionalArguments().constFirst())};
    }
    auto limits = ReadLimitOptions(parser, LimitDefaults::Off);
    if (const auto* problem = std::get_if<QString>(&limits)) {
        return BadOptions{*problem};
    }
    return ConsoleOptions{parser.value(record), std::get<LimitOptions>(std::move(limits))};
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
