#include "service/service_options.h"

#include <QCommandLineParser>
#include <optional>

#include "profile/qt/profile_options.h"
#include "record/qt/record_options.h"

namespace corvelle {
namespace {

constexpr std::uint32_t kMinIntervalMs = 200;
constexpr std::uint32_t kMaxIntervalMs = 360000;
constexpr std::size_t kMaxSlots = 256;

std::optional<std::uint64_t> Number(const QString& text, std::uint64_t lowest,
                                    std::uint64_t highest) {
    bool ok = false;
    const qulonglong value = text.toULongLong(&ok);
    return ok && value >= lowest && value <= highest ? std::optional<std::uint64_t>(value)
                                                     : std::nullopt;
}

}  // namespace

std::variant<ServiceOptions, PrintAndExit, BadOptions> ParseServiceOptions(
    const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("The acquisition console as a service without a screen: listens for "
                       "terminals at start, polls them and logs to standard error."));
    const QCommandLineOption port({QStringLiteral("port")},
                                  QStringLiteral("TCP port to listen on (default 20000)."),
                                  QStringLiteral("N"), QStringLiteral("20000"));
    const QCommandLineOption listen(
        {QStringLiteral("listen")},
        QStringLiteral("Address to listen on (default: all interfaces, IPv4 and IPv6)."),
        QStringLiteral("ADDRESS"));
    const QCommandLineOption interval(
        {QStringLiteral("interval")},
        QStringLiteral("Milliseconds from a reply to the next poll, 200 to 360000 (default 3000)."),
        QStringLiteral("MS"), QStringLiteral("3000"));
    const QCommandLineOption slotsOption(
        {QStringLiteral("slots")}, QStringLiteral("Number of device slots, 1 to 256 (default 8)."),
        QStringLiteral("N"), QStringLiteral("8"));
    const QCommandLineOption verbose({QStringLiteral("verbose")},
                                     QStringLiteral("Also log every frame in both directions."));
    const QCommandLineOption quiet({QStringLiteral("quiet")}, QStringLiteral("Log errors only."));
    parser.addOptions({port, listen, interval, slotsOption, verbose, quiet});
    AddRecordOptions(parser,
                     QStringLiteral("Record every reading and event to daily CSV files in DIR."));
    AddLimitOptions(parser, LimitDefaults::Service);
    AddMqttOptions(parser, QStringLiteral("corvelled"));
    AddProfileOptions(parser, QStringLiteral("Read the terminal profiles from FILE at start and "
                                             "again on SIGHUP."));
    const QCommandLineOption forget(
        {QStringLiteral("mqtt-forget")},
        QStringLiteral("Remove every retained topic of the terminal NAME from the MQTT broker "
                       "and exit."),
        QStringLiteral("NAME"));
    parser.addOption(forget);

    if (auto outcome = ParseCommandLine(parser, arguments)) {
        return std::visit(
            [](auto&& done) -> std::variant<ServiceOptions, PrintAndExit, BadOptions> {
                return done;
            },
            std::move(*outcome));
    }

    ServiceOptions options;
    const auto portNumber = Number(parser.value(port), 1, 65535);
    if (!portNumber) {
        return BadOptions{
            QStringLiteral("--port: expected 1 to 65535, got %1").arg(parser.value(port))};
    }
    options.port = static_cast<quint16>(*portNumber);
    if (parser.isSet(listen)) {
        const auto address = ParseAddress(parser.value(listen).trimmed());
        if (!address) {
            return BadOptions{
                QStringLiteral("--listen: not an IP address: \"%1\"").arg(parser.value(listen))};
        }
        options.listen = *address;
    }
    const auto intervalMs = Number(parser.value(interval), kMinIntervalMs, kMaxIntervalMs);
    if (!intervalMs) {
        return BadOptions{QStringLiteral("--interval: expected %1 to %2 milliseconds, got %3")
                              .arg(kMinIntervalMs)
                              .arg(kMaxIntervalMs)
                              .arg(parser.value(interval))};
    }
    options.intervalMs = static_cast<std::uint32_t>(*intervalMs);
    const auto slotCount = Number(parser.value(slotsOption), 1, kMaxSlots);
    if (!slotCount) {
        return BadOptions{QStringLiteral("--slots: expected 1 to %1, got %2")
                              .arg(kMaxSlots)
                              .arg(parser.value(slotsOption))};
    }
    options.slotCount = static_cast<std::size_t>(*slotCount);
    auto record = ReadRecordOptions(parser);
    if (const auto* problem = std::get_if<QString>(&record)) {
        return BadOptions{*problem};
    }
    options.recordFolder = std::get<RecordOptions>(record).folder;
    options.recordKeepDays = std::get<RecordOptions>(record).keepDays;
    if (parser.isSet(verbose) && parser.isSet(quiet)) {
        return BadOptions{QStringLiteral("--verbose and --quiet exclude each other")};
    }
    options.verbosity = parser.isSet(verbose) ? Verbosity::Verbose
                        : parser.isSet(quiet) ? Verbosity::Quiet
                                              : Verbosity::Normal;
    auto limits = ReadLimitOptions(parser, LimitDefaults::Service, options.intervalMs);
    if (const auto* problem = std::get_if<QString>(&limits)) {
        return BadOptions{*problem};
    }
    options.limits = std::get<LimitOptions>(std::move(limits));
    auto mqtt = ReadMqttOptions(parser, QStringLiteral("corvelled"));
    if (const auto* problem = std::get_if<QString>(&mqtt)) {
        return BadOptions{*problem};
    }
    options.mqtt = std::get<MqttSettings>(std::move(mqtt));
    auto profiles = ReadProfileOptions(parser);
    if (const auto* problem = std::get_if<QString>(&profiles)) {
        return BadOptions{*problem};
    }
    options.configFile = std::get<ProfileOptions>(profiles).file;
    if (parser.isSet(forget)) {
        options.forgetTerminal = parser.value(forget);
        if (!options.mqtt.enabled || options.forgetTerminal.isEmpty()) {
            return BadOptions{QStringLiteral("--mqtt-forget needs a name and --mqtt")};
        }
    }
    return options;
}

}  // namespace corvelle
