#include "server/net/command_line.h"

#include <QCoreApplication>
#include <algorithm>

namespace corvelle {
namespace {

const QString kAllow = QStringLiteral("allow");
const QString kTimeout = QStringLiteral("registration-timeout");
const QString kMaxUnregistered = QStringLiteral("max-unregistered");
const QString kSilentTimeout = QStringLiteral("silent-timeout");

constexpr int kLongestTimeoutS = 24 * 3600;
constexpr int kMostUnregistered = 1000000;

// A whole number in [lowest, highest], or nothing.
std::optional<int> Bounded(const QString& text, int lowest, int highest) {
    bool ok = false;
    const int value = text.toInt(&ok);
    return ok && value >= lowest && value <= highest ? std::optional(value) : std::nullopt;
}

// Decimal digits only, without a leading zero (which other readers take for octal).
std::optional<int> Decimal(QStringView text, int highest) {
    if (text.isEmpty() || text.size() > 3 || (text.size() > 1 && text.front() == u'0')) {
        return std::nullopt;
    }
    int value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
        value = value * 10 + (c.unicode() - u'0');
    }
    return value <= highest ? std::optional(value) : std::nullopt;
}

std::optional<QHostAddress> Dotted(const QString& text) {
    const QStringList parts = text.split(QLatin1Char('.'));
    if (parts.size() != 4) {
        return std::nullopt;
    }
    quint32 address = 0;
    for (const QString& part : parts) {
        const auto value = Decimal(part, 255);
        if (!value) {
            return std::nullopt;
        }
        address = address << 8 | static_cast<quint32>(*value);
    }
    return QHostAddress(address);
}

}  // namespace

std::optional<QHostAddress> ParseAddress(const QString& text) {
    if (!text.contains(QLatin1Char(':'))) {
        return Dotted(text);
    }
    const QHostAddress address(text);
    if (address.protocol() != QAbstractSocket::IPv6Protocol) {
        return std::nullopt;
    }
    bool isV4 = false;
    const quint32 v4 = address.toIPv4Address(&isV4);
    return isV4 ? QHostAddress(v4) : address;
}

std::optional<QPair<QHostAddress, int>> ParseSubnet(const QString& text) {
    const qsizetype slash = text.indexOf(QLatin1Char('/'));
    const QString addressText = slash < 0 ? text : text.left(slash);
    const auto address = ParseAddress(addressText);
    if (!address) {
        return std::nullopt;
    }
    const bool mapped = addressText.contains(QLatin1Char(':')) &&
                        address->protocol() == QAbstractSocket::IPv4Protocol;
    const bool v4 = address->protocol() == QAbstractSocket::IPv4Protocol;
    if (slash < 0) {
        return QPair<QHostAddress, int>{*address, v4 ? 32 : 128};
    }
    const auto prefix = Decimal(QStringView(text).mid(slash + 1), mapped || !v4 ? 128 : 32);
    if (!prefix || (mapped && *prefix < 96)) {
        return std::nullopt;
    }
    return QPair<QHostAddress, int>{*address, mapped ? *prefix - 96 : *prefix};
}

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
    parser.addOption(
        {kSilentTimeout,
         service ? QStringLiteral("Close a registered connection from which no valid reply came "
                                  "for S seconds; its slot keeps its name (default: the larger "
                                  "of %1 and three poll intervals plus 10).")
                       .arg(kServiceSilentTimeoutS)
                 : QStringLiteral("Close a registered connection from which no valid reply came "
                                  "for S seconds; its slot keeps its name (default: never)."),
         QStringLiteral("S")});
}

std::variant<LimitOptions, QString> ReadLimitOptions(const QCommandLineParser& parser,
                                                     LimitDefaults defaults,
                                                     std::uint32_t intervalMs) {
    LimitOptions options;
    for (const QString& text : parser.values(kAllow)) {
        const auto subnet = ParseSubnet(text.trimmed());
        if (!subnet) {
            return QStringLiteral("--allow: not an address or CIDR range: \"%1\"").arg(text);
        }
        options.allowed.append(*subnet);
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
    const int intervalS = static_cast<int>((intervalMs + 999) / 1000);
    const auto silent =
        limit(kSilentTimeout, kLongestTimeoutS,
              std::max(kServiceSilentTimeoutS, 3 * intervalS + 10), QStringLiteral("seconds"));
    for (const auto* result : {&seconds, &count, &silent}) {
        if (const auto* problem = std::get_if<QString>(result)) {
            return *problem;
        }
    }
    if (const auto s = std::get<std::optional<int>>(silent)) {
        // Shorter than a poll interval, a terminal that answers every poll would be cut off.
        if (static_cast<std::uint64_t>(*s) * 1000U <= intervalMs) {
            return QStringLiteral("--silent-timeout: %1 s is not above the poll interval (%2 ms)")
                .arg(*s)
                .arg(intervalMs);
        }
        options.limits.silentTimeoutMs = static_cast<std::uint32_t>(*s) * 1000U;
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
