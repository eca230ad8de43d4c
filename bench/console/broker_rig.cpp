#include "bench/console/broker_rig.h"

#include <QElapsedTimer>
#include <algorithm>

namespace corvelle::bench {

BenchBroker::BenchBroker()
    : broker_(FreePort(), QStringLiteral("allow_anonymous true\n"
                                         "persistence true\n"
                                         "persistence_location %1/\n"
                                         "max_queued_messages 0\n")
                              .arg(store_.path())) {}

QString BenchBroker::Url() const {
    return QStringLiteral("mqtt://127.0.0.1:%1").arg(Port());
}

QString ReadingTopic(const QString& clientId, const QString& deviceName) {
    return QStringLiteral("corvelle/%1/%2/reading").arg(clientId, deviceName);
}

int SeenReadings::On(const QString& topic) const {
    const auto found = byTopic.find(topic);
    if (found == byTopic.end()) {
        return 0;
    }
    int count = 0;
    for (const auto& [value, readings] : found->second) {
        count += readings;
    }
    return count;
}

bool SeenReadings::Has(const std::map<QString, int>& counts) const {
    return std::all_of(counts.begin(), counts.end(),
                       [this](const auto& count) { return On(count.first) >= count.second; });
}

int SeenReadings::Foreign(const std::map<QString, int>& own) const {
    int foreign = 0;
    for (const auto& [topic, values] : byTopic) {
        const auto expected = own.find(topic);
        for (const auto& [value, readings] : values) {
            foreign += expected != own.end() && expected->second == value ? 0 : readings;
        }
    }
    return foreign;
}

Subscriber::Subscriber(Children& children, quint16 port)
    : process_(children.StartSubscriber(port, QStringLiteral("bench-subscriber"),
                                        QStringLiteral("corvelle/+/+/reading"))) {}

bool Subscriber::Subscribed() {
    const auto answer = PeerCommand(process_, QStringLiteral("subscribed"), 35000);
    return answer && PeerField(*answer, QStringLiteral("ok")) == 1;
}

SeenReadings Subscriber::Seen() {
    SeenReadings seen;
    const auto answer = PeerCommand(process_, QStringLiteral("counts"), 10000);
    if (!answer) {
        return seen;
    }
    seen.answered = true;
    for (const QString& token : answer->split(QLatin1Char(' '), Qt::SkipEmptyParts).mid(1)) {
        const qsizetype equals = token.lastIndexOf(QLatin1Char('='));
        const qsizetype at = token.lastIndexOf(QLatin1Char('@'));
        const int number = token.mid(equals + 1).toInt();
        if (token.startsWith(QStringLiteral("connections="))) {
            seen.connections = number;
        } else if (token.startsWith(QStringLiteral("duplicates="))) {
            seen.duplicates = number;
        } else if (at > 0 && at < equals) {
            seen.byTopic[token.left(at)][token.mid(at + 1, equals - at - 1).toInt()] = number;
        }
    }
    return seen;
}

SeenReadings Subscriber::WaitFor(const std::map<QString, int>& counts, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    SeenReadings seen = Seen();
    while (!seen.Has(counts) && clock.elapsed() < timeoutMs) {
        RunFor(500);
        seen = Seen();
    }
    return seen;
}

}  // namespace corvelle::bench
