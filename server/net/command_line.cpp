#include "server/net/command_line.h"

#include <QCoreApplication>

namespace corvelle {
namespace {

const QString kAllow = QStringLiteral("allow");
const QString kTimeout = QStringLiteral("registration-timeout");
const QString kMaxUnregistered = QStringLiteral("max-unregistered");

constexpr int kLongestTimeoutS = 24 * 3600;
constexpr int kMostUnregistered = 1000000;

// A whole number in [lowest, highest], or nothing.
std::optional<int> Bounded(const QString& text, int lowest, int highest) {
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= lowest && value <= highest ? std::optional(value) : std::nullopt;
}

}  // namespace

void AddLimitOptions(QCommandLineParser& parser, LimitDefaults defaults) {
    const bool service = defaults == LimitDefaults::Service;
    parser.addOption({kAllow,
                      QStringLiteral("Accept connections only from ADDRESS[/PREFIX] (repeatable; "
                                     "IPv4 or IPv6). Others are closed before anything is read. "
                                     "Default: every address."),
                      QStringLiteral("CIDR")});
    parser.addOption(
        {kTimeout,
         service ? QStringLiteral("Close a connection that has not registered within S seconds "
                                  "(default %1).")
                       .arg(kServiceRegistrationTimeoutS)
                 : QStringLiteral("Close a connection that has not registered within S seconds "
                                  "(default: never)."),
         QStringLiteral("S")});
    parser.addOption(
        {kMaxUnregistered,
         service ? QStringLiteral("At most N connections may wait to register; a newer one "
                                  "closes the oldest (default %1).")
                       .arg(kServiceMaxUnregistered)
                 : QStringLiteral("At most N connections may wait to register; a newer one "
                                  "closes the oldest (default: no limit)."),
         QStringLiteral("N")});
}

std::variant<LimitOptions, QString> ReadLimitOptions(const QCommandLineParser& parser,
                                                     LimitDefaults defaults) {
    LimitOptions options;
    for (QString text : parser.values(kAllow)) {
        if (!text.contains(QLatin1Char('/'))) {
            text += QHostAddress(text).protocol() == QAbstractSocket::IPv6Protocol
                        ? QStringLiteral("/128")
                        : QStringLiteral("/32");
        }
        const auto subnet = QHostAddress::parseSubnet(text);
        if (subnet.first.isNull()) {
            return QStringLiteral("--allow: not an address or CIDR range: %1").arg(text);
        }
        options.allowed.append(subnet);
    }
    const bool service = defaults == LimitDefaults::Service;
    // A limit as given, else the service's default; unset for the console when not given.
    const auto limit = [&](const QString& name, int highest, int serviceDefault,
                           const QString& what) -> std::variant<std::optional<int>, QString> {
        if (!parser.isSet(name)) {
            return service ? std::optional(serviceDefault) : std::nullopt;
        }
        const auto value = Bounded(parser.value(name), 1, highest);
        if (!value) {
            return QStringLiteral("--%1: expected %2 from 1 to %3, got %4")
                .arg(name, what)
                .arg(highest)
                .arg(parser.value(name));
        }
        return value;
    };
    const auto seconds =
        limit(kTimeout, kLongestTimeoutS, kServiceRegistrationTimeoutS, QStringLiteral("seconds"));
    const auto count = limit(kMaxUnregistered, kMostUnregistered, kServiceMaxUnregistered,
                             QStringLiteral("a count"));
    for (const auto* result : {&seconds, &count}) {
        if (const auto* problem = std::get_if<QString>(result)) {
            return *problem;
        }
    }
    if (const auto s = std::get<std::optional<int>>(seconds)) {
        options.limits.registrationTimeoutMs = static_cast<std::uint32_t>(*s) * 1000U;
    }
    if (const auto n = std::get<std::optional<int>>(count)) {
        options.limits.maxUnregistered = static_cast<std::size_t>(*n);
    }
    return options;
}

std::optional<std::variant<PrintAndExit, BadOptions>> ParseCommandLine(
    QCommandLineParser& parser, const QStringList& arguments) {
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
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
    return std::nullopt;
}

}  // namespace corvelle
