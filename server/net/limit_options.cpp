#include "server/net/limit_options.h"

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
    if (parser.isSet(kTimeout) || service) {
        const auto seconds = parser.isSet(kTimeout)
                                 ? Bounded(parser.value(kTimeout), 1, kLongestTimeoutS)
                                 : std::optional(kServiceRegistrationTimeoutS);
        if (!seconds) {
            return QStringLiteral("--registration-timeout: expected seconds from 1 to %1, got %2")
                .arg(kLongestTimeoutS)
                .arg(parser.value(kTimeout));
        }
        options.limits.registrationTimeoutMs = static_cast<std::uint32_t>(*seconds) * 1000U;
    }
    if (parser.isSet(kMaxUnregistered) || service) {
        const auto count = parser.isSet(kMaxUnregistered)
                               ? Bounded(parser.value(kMaxUnregistered), 1, kMostUnregistered)
                               : std::optional(kServiceMaxUnregistered);
        if (!count) {
            return QStringLiteral("--max-unregistered: expected a count from 1 to %1, got %2")
                .arg(kMostUnregistered)
                .arg(parser.value(kMaxUnregistered));
        }
        options.limits.maxUnregistered = static_cast<std::size_t>(*count);
    }
    return options;
}

}  // namespace corvelle
