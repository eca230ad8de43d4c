#pragma once

#include <QCommandLineParser>
#include <QHostAddress>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <cstdint>
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
// The service closes a registered connection silent for the larger of this and three poll
// intervals plus 10 s.
inline constexpr int kServiceSilentTimeoutS = 120;

// Adds --help and --version to parser (whose own options are already added) and parses
// arguments: what to print or the problem, or nothing when the program is to run.
std::optional<std::variant<PrintAndExit, BadOptions>> ParseCommandLine(
    QCommandLineParser& parser, const QStringList& arguments);

// --allow CIDR (repeatable), --registration-timeout S, --max-unregistered N, --silent-timeout S.
void AddLimitOptions(QCommandLineParser& parser, LimitDefaults defaults);
// The options as given, or what is wrong with one of them. intervalMs: the poll interval at
// start, which a silent timeout must exceed.
std::variant<LimitOptions, QString> ReadLimitOptions(const QCommandLineParser& parser,
                                                     LimitDefaults defaults,
                                                     std::uint32_t intervalMs);

// An address as every address option reads it: a dotted quad of exactly four decimal parts
// (no octal, no shorthand such as "127.1"), or an IPv6 address; an IPv4-mapped IPv6 address is
// its IPv4 address.
std::optional<QHostAddress> ParseAddress(const QString& text);
// ADDRESS or ADDRESS/PREFIX, read as ParseAddress reads the address; a prefix within an
// IPv4-mapped range applies to the IPv4 address.
std::optional<QPair<QHostAddress, int>> ParseSubnet(const QString& text);

}  // namespace corvelle
