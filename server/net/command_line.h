#pragma once

#include <QCommandLineParser>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

#include "server/host_ports.h"

namespace corvelle {

// Outcomes of a command line besides running: text to print before exiting with status 0 (help,
// version), or the one problem to report before exiting with status 2.
struct PrintAndExit {
    QString text;
};
struct BadOptions {
    QString problem;
};

// The limits a server exposed to a network takes from its command line.
struct LimitOptions {
    // Connections from other addresses are closed at once; empty: all addresses.
    QList<QPair<QHostAddress, int>> allowed;
    ConnectionLimits limits;
};

// The service limits connections by default; the console only when asked to.
enum class LimitDefaults { Off, Service };

inline constexpr int kServiceRegistrationTimeoutS = 60;
inline constexpr int kServiceMaxUnregistered = 256;

// Adds --help and --version to parser (whose own options are already added) and parses
// arguments: what to print or the problem, or nothing when the program is to run.
std::optional<std::variant<PrintAndExit, BadOptions>> ParseCommandLine(
    QCommandLineParser& parser, const QStringList& arguments);

// --allow CIDR (repeatable), --registration-timeout S, --max-unregistered N.
void AddLimitOptions(QCommandLineParser& parser, LimitDefaults defaults);
// The options as given, or what is wrong with one of them.
std::variant<LimitOptions, QString> ReadLimitOptions(const QCommandLineParser& parser,
                                                     LimitDefaults defaults);

}  // namespace corvelle
