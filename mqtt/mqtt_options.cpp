#include "mqtt/mqtt_options.h"

#include <QFile>
#include <QFileInfo>
#include <QSysInfo>
#include <QUrl>
#include <algorithm>
#include <optional>

namespace corvelle {
namespace {

const QString kUrl = QStringLiteral("mqtt");
const QString kId = QStringLiteral("mqtt-id");
const QString kPrefix = QStringLiteral("mqtt-prefix");
const QString kQos = QStringLiteral("mqtt-qos");
const QString kUser = QStringLiteral("mqtt-user");
const QString kPasswordFile = QStringLiteral("mqtt-password-file");
const QString kCaFile = QStringLiteral("mqtt-cafile");
const QString kRelayCommands = QStringLiteral("mqtt-relay-commands");
const QString kCommands = QStringLiteral("mqtt-commands");
const char* const kPasswordVariable = "CORVELLE_MQTT_PASSWORD";

bool HasWildcard(const QString& text) {
    return text.contains(QLatin1Char('+')) || text.contains(QLatin1Char('#')) ||
           text.contains(QChar(0));
}

// Text MQTT can carry as a client id and in topics: valid UTF-8 (arguments that were not
// decode to U+FFFD), no control characters, no noncharacters.
bool Carriable(const QString& text) {
    if (!text.isValidUtf16() || text.toUtf8().size() > 65535) {
        return false;
    }
    for (const char32_t c : text.toUcs4()) {
        const bool control = c < 0x20 || (c >= 0x7F && c <= 0x9F);
        const bool nonCharacter = (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
        if (control || nonCharacter || c == 0xFFFD) {
            return false;
        }
    }
    return true;
}

// Group or others may read the file (owner-only files are the rule for secrets, as with keys).
bool ReadableByOthers(const QString& path) {
    return (QFileInfo(path).permissions() & (QFileDevice::ReadGroup | QFileDevice::ReadOther)) != 0;
}

// Topic levels under which nothing else publishes: no wildcards, no empty levels, and no
// leading "$", which brokers keep for themselves.
bool UsablePrefix(const QString& prefix) {
    if (prefix.isEmpty() || prefix.startsWith(QLatin1Char('$')) || HasWildcard(prefix) ||
        !Carriable(prefix)) {
        return false;
    }
    const QStringList levels = prefix.split(QLatin1Char('/'));
    return std::none_of(levels.begin(), levels.end(),
                        [](const QString& level) { return level.isEmpty(); });
}

// The first line of the file, without its line end; nothing when it cannot be read.
std::optional<QString> FirstLine(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        return std::nullopt;
    }
    QByteArray line = file.readLine();
    while (line.endsWith('\n') || line.endsWith('\r')) {
        line.chop(1);
    }
    return QString::fromUtf8(line);
}

}  // namespace

void AddMqttOptions(QCommandLineParser& parser, const QString& program) {
    parser.addOption({kUrl,
                      QStringLiteral("Publish readings and events to the MQTT broker at "
                                     "mqtt://HOST[:PORT] (default port %1) or, with TLS, "
                                     "mqtts://HOST[:PORT] (default port %2).")
                          .arg(kMqttPort)
                          .arg(kMqttTlsPort),
                      QStringLiteral("URL")});
    parser.addOption({kId,
                      QStringLiteral("MQTT client id and topic level of this node (default: "
                                     "%1-HOST, HOST the host name).")
                          .arg(program),
                      QStringLiteral("ID")});
    parser.addOption({kPrefix,
                      QStringLiteral("First topic levels of everything published (default "
                                     "corvelle)."),
                      QStringLiteral("P")});
    parser.addOption({kQos, QStringLiteral("MQTT quality of service, 0 or 1 (default 1)."),
                      QStringLiteral("0|1")});
    parser.addOption({kUser,
                      QStringLiteral("MQTT user name; the password is the first line of "
                                     "--mqtt-password-file or else the environment variable %1.")
                          .arg(QLatin1String(kPasswordVariable)),
                      QStringLiteral("USER")});
    parser.addOption({kPasswordFile, QStringLiteral("File whose first line is the MQTT password."),
                      QStringLiteral("FILE")});
    parser.addOption({kCaFile,
                      QStringLiteral("Trust the MQTT broker's certificate only when FILE's "
                                     "authorities sign it (default: the system's trust store)."),
                      QStringLiteral("FILE")});
    parser.addOption({kCommands,
                      QStringLiteral("Commands taken from the broker, a comma list: ack "
                                     "(acknowledge an alarm: a message, naming who, to "
                                     "P/ID/NAME/alarm/SOURCE/ack), relay (switch relays: \"on\" "
                                     "or \"off\" to P/ID/NAME/relay/N/set)."),
                      QStringLiteral("LIST")});
    parser.addOption({kRelayCommands, QStringLiteral("The same as --mqtt-commands relay.")});
}

std::variant<MqttSettings, QString> ReadMqttOptions(const QCommandLineParser& parser,
                                                    const QString& program) {
    MqttSettings settings;
    if (!parser.isSet(kUrl)) {
        for (const QString& name :
             {kId, kPrefix, kQos, kUser, kPasswordFile, kCaFile, kRelayCommands, kCommands}) {
            if (parser.isSet(name)) {
                return QStringLiteral("--%1 needs --mqtt").arg(name);
            }
        }
        return settings;
    }
    settings.enabled = true;

    const QString urlText = parser.value(kUrl);
    const QUrl url(urlText, QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    // Credentials in the URL would show in the process list: they have options of their own.
    if (!url.isValid() || (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) ||
        url.host().isEmpty() || !url.userInfo().isEmpty() ||
        (!url.path().isEmpty() && url.path() != QLatin1String("/")) || url.hasQuery() ||
        url.hasFragment() || url.port() == 0) {
        return QStringLiteral("--mqtt: expected mqtt://HOST[:PORT] or mqtts://HOST[:PORT], got %1")
            .arg(urlText);
    }
    settings.tls = scheme == QLatin1String("mqtts");
    settings.host = url.host();
    settings.port = static_cast<quint16>(url.port(settings.tls ? kMqttTlsPort : kMqttPort));

    settings.clientId = parser.isSet(kId)
                            ? parser.value(kId)
                            : program + QLatin1Char('-') + QSysInfo::machineHostName();
    if (!Carriable(settings.clientId)) {
        return QStringLiteral("--mqtt-id: expected valid UTF-8 without control characters");
    }
    if (settings.clientId.isEmpty() || HasWildcard(settings.clientId) ||
        settings.clientId.contains(QLatin1Char('/'))) {
        return QStringLiteral("--mqtt-id: expected one topic level without +, # or /, got \"%1\"")
            .arg(settings.clientId);
    }
    if (parser.isSet(kPrefix)) {
        settings.prefix = parser.value(kPrefix);
    }
    if (!UsablePrefix(settings.prefix)) {
        return QStringLiteral(
                   "--mqtt-prefix: expected topic levels such as plant/console, without +, #, "
                   "empty levels or a leading $, got \"%1\"")
            .arg(settings.prefix);
    }
    if (parser.isSet(kQos)) {
        const QString qos = parser.value(kQos);
        if (qos != QLatin1String("0") && qos != QLatin1String("1")) {
            return QStringLiteral("--mqtt-qos: expected 0 or 1, got %1").arg(qos);
        }
        settings.qos = qos.toInt();
    }

    settings.user = parser.value(kUser);
    if (parser.isSet(kPasswordFile)) {
        if (settings.user.isEmpty()) {
            return QStringLiteral("--mqtt-password-file needs --mqtt-user");
        }
        const QString path = parser.value(kPasswordFile);
        const auto password = FirstLine(path);
        if (!password) {
            return QStringLiteral("--mqtt-password-file: cannot read %1").arg(path);
        }
        if (ReadableByOthers(path)) {
            return QStringLiteral(
                       "--mqtt-password-file: %1 can be read by others than its "
                       "owner; chmod 600 it")
                .arg(path);
        }
        settings.password = *password;
    } else if (!settings.user.isEmpty()) {
        settings.password = qEnvironmentVariable(kPasswordVariable);
    }
    // Children and anyone reading this process's environment need not see it.
    qunsetenv(kPasswordVariable);

    if (parser.isSet(kCaFile)) {
        settings.caFile = parser.value(kCaFile);
        if (!settings.tls) {
            return QStringLiteral("--mqtt-cafile needs an mqtts:// URL");
        }
        const QFileInfo caFile(settings.caFile);
        if (!caFile.isFile() || !caFile.isReadable()) {
            return QStringLiteral("--mqtt-cafile: cannot read %1").arg(settings.caFile);
        }
    }
    settings.relayCommands = parser.isSet(kRelayCommands);
    for (const QString& command : parser.values(kCommands)
                                      .join(QLatin1Char(','))
                                      .split(QLatin1Char(','), Qt::SkipEmptyParts)) {
        if (command.trimmed() == QLatin1String("relay")) {
            settings.relayCommands = true;
        } else if (command.trimmed() == QLatin1String("ack")) {
            settings.alarmAcks = true;
        } else {
            return QStringLiteral("--mqtt-commands: expected a comma list of ack and relay, got %1")
                .arg(command);
        }
    }
    return settings;
}

}  // namespace corvelle
