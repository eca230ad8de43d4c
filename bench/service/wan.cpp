// Publishing over a wide-area link: a proxy of the benchmark's own holds every byte 50 ms each
// way between the node and the broker, a 100 ms round trip. A service with a large fleet must
// get every reading it accepted to a subscriber, and one node must drain a backlog at a rate
// that QoS 1 allows only with many messages in flight.
#include <QDir>
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <map>

#include "bench/console/broker_rig.h"
#include "bench/service/scenarios.h"
#include "mqtt/mqtt_publisher.h"

namespace corvelle::bench {
namespace {

constexpr int kFleetIntervalMs = 200;
constexpr int kDelayMs = 50;
const QString kFleetId = QStringLiteral("wan");
const QString kDrainId = QStringLiteral("wan-drain");

struct Drained {
    bool complete = false;
    double firstSeconds = 0;
    double allSeconds = 0;
};

// A publisher handed a backlog before it connects through the proxy; when the subscriber had
// the first and the last of it.
Drained DrainBacklog(quint16 proxyPort, Subscriber& subscriber, int backlog) {
    MqttSettings settings;
    settings.enabled = true;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = proxyPort;
    settings.clientId = kDrainId;
    settings.queueLimit = static_cast<std::size_t>(backlog);
    MqttPublisher publisher(settings);
    AcquisitionEvent identified;
    identified.kind = EventKind::Identified;
    identified.slot = 1;
    identified.name = {'D', '1'};
    identified.value = 12;
    publisher.OnEvent(identified);
    Reading reading;
    reading.slot = 1;
    reading.name = identified.name;
    reading.channelCount = 12;
    reading.channelMillivolts.fill(4242);
    for (int i = 0; i < backlog; ++i) {
        publisher.OnReading(reading);
    }
    const QString topic = ReadingTopic(kDrainId, QStringLiteral("D1"));
    Drained drained;
    QElapsedTimer clock;
    clock.start();
    publisher.Start();
    RunUntil(
        [&] {
            const int seen = subscriber.Seen().On(topic);
            const double now = static_cast<double>(clock.elapsed()) / 1000.0;
            if (seen > 0 && drained.firstSeconds == 0) {
                drained.firstSeconds = now;
            }
            drained.allSeconds = now;
            return seen >= backlog;
        },
        120000);
    drained.complete = subscriber.Seen().On(topic) >= backlog;
    return drained;
}

}  // namespace

int RunWan(const Options& options) {
    const int terminals = options.crowd > 0 ? options.crowd : 60;
    const int seconds = options.seconds > 0 ? options.seconds : (options.smoke ? 5 : 60);
    const int backlog = options.smoke ? 2000 : 10000;
    BenchBroker broker;
    const bool brokerUp = broker.Start();
    Children helpers;
    Subscriber subscriber(helpers, broker.Port());
    QProcess& proxy = helpers.StartDelayProxy(broker.Port(), kDelayMs);
    const auto proxyAnswer = PeerCommand(proxy, QStringLiteral("port"), 5000);
    const auto proxyPort =
        static_cast<quint16>(proxyAnswer ? PeerField(*proxyAnswer, QStringLiteral("port")) : 0);
    if (!brokerUp || !subscriber.Subscribed() || proxyPort == 0) {
        std::printf("no broker, no proxy, or the subscriber did not subscribe\n");
        return Summary("wan", false, "broker=no");
    }

    ServiceRun run(terminals, kFleetIntervalMs,
                   {QStringLiteral("--slots"), QString::number(terminals), QStringLiteral("--mqtt"),
                    QStringLiteral("mqtt://127.0.0.1:%1").arg(proxyPort),
                    QStringLiteral("--mqtt-id"), kFleetId},
                   options.smoke ? 20 : 100);
    const ChildSample start = SampleChild(run.service.Pid());
    RunFor(seconds * 1000);
    const double cpu = ChildCpuPercent(start, SampleChild(run.service.Pid()));
    // Nothing is accepted once the terminals are gone; what is on its way gets there.
    run.children.StopAll();
    RunFor(3000);
    const int exitCode = run.service.Stop(5000);
    std::map<QString, int> accepted;
    int acceptedTotal = 0;
    for (int k = 1; k <= terminals; ++k) {
        const int rows =
            ReadRecordedRows(QDir(run.folder.path()).filePath(RecordingFolderOf(TerminalName(k))),
                             TerminalVolts(k))
                .inWindow;
        accepted[ReadingTopic(kFleetId, TerminalName(k))] = rows;
        acceptedTotal += rows;
    }
    const SeenReadings seen = subscriber.WaitFor(accepted, 30000);
    int missing = 0;
    for (const auto& [topic, rows] : accepted) {
        missing += std::max(0, rows - seen.On(topic));
    }

    const Drained drained = DrainBacklog(proxyPort, subscriber, backlog);
    const double rate = drained.complete && drained.allSeconds > drained.firstSeconds
                            ? backlog / (drained.allSeconds - drained.firstSeconds)
                            : 0;
    const double rateFromStart = drained.complete ? backlog / drained.allSeconds : 0;

    Table table("Publishing through a proxy that holds every byte " + std::to_string(kDelayMs) +
                    " ms each way (a " + std::to_string(2 * kDelayMs) +
                    " ms round trip), QoS 1: corvelled with " + std::to_string(terminals) +
                    " terminals at " + std::to_string(kFleetIntervalMs) + " ms for " +
                    std::to_string(seconds) + " s, then one node draining a backlog of " +
                    std::to_string(backlog) + " readings",
                {"figure", "measured", "target", "verdict"});
    table.Row({"readings the service accepted (recorded)", std::to_string(acceptedTotal), "", ""});
    table.Row({"of them never received", std::to_string(missing), "0", Verdict(missing == 0)});
    table.Row({"service CPU (% of one core)", Fixed(cpu, 2), "", ""});
    table.Row({"exit code on SIGTERM", std::to_string(exitCode), "0", Verdict(exitCode == 0)});
    table.Row(
        {"backlog received", drained.complete ? "all" : "NO", "all", Verdict(drained.complete)});
    table.Row(
        {"first reading received after the start (s)", Fixed(drained.firstSeconds, 2), "", ""});
    table.Row({"drain rate, first to last received (messages/s)", Fixed(rate, 0), ">= 2000",
               Verdict(rate >= 2000)});
    table.Row({"drain rate from the start, connection included (messages/s)",
               Fixed(rateFromStart, 0), "", ""});
    const bool correct =
        run.started && acceptedTotal > 0 && missing == 0 && exitCode == 0 && drained.complete;
    return Summary("wan", correct,
                   "terminals=" + std::to_string(terminals) +
                       " accepted=" + std::to_string(acceptedTotal) +
                       " missing=" + std::to_string(missing) + " drain_rate=" + Fixed(rate, 0) +
                       "/s drain_from_start=" + Fixed(rateFromStart, 0) + "/s");
}

}  // namespace corvelle::bench
