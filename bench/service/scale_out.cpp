// Scaling out: several corvelled processes, each with a fleet of its own, publishing to one
// broker. Terminal k carries 100 * k mV on every channel whichever service polls it, so a
// reading's values tell whose it is, and its topic must say the same.
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

#include "bench/console/broker_rig.h"
#include "bench/service/scenarios.h"

namespace corvelle::bench {
namespace {

constexpr int kServices = 10;
constexpr int kIntervalMs = 1000;

QString ServiceId(int j) {
    return QStringLiteral("S%1").arg(j);
}

// Minimum, median and maximum.
std::string Spread(std::vector<double> values) {
    if (values.empty()) {
        return "-";
    }
    std::sort(values.begin(), values.end());
    return Fixed(values.front(), 2) + "/" + Fixed(values[values.size() / 2], 2) + "/" +
           Fixed(values.back(), 2);
}

}  // namespace

int RunScaleOut(const Options& options) {
    const int perService = options.crowd > 0 ? options.crowd : 25;
    const int seconds = options.seconds > 0 ? options.seconds : (options.smoke ? 5 : 300);
    const int terminals = kServices * perService;
    BenchBroker broker;
    const bool brokerUp = broker.Start();
    Children children;
    Subscriber subscriber(children, broker.Port());
    if (!brokerUp || !subscriber.Subscribed()) {
        std::printf("no broker, or the subscriber did not subscribe\n");
        return Summary("scale-out", false, "broker=no");
    }
    const double latency = MeasureReplyLatencyMs(options.smoke ? 20 : 100);

    std::vector<std::unique_ptr<ServiceProcess>> services;
    // Each terminal's readings topic, with the value of its own, and one reading each.
    std::map<QString, int> own;
    std::map<QString, int> one;
    bool listening = true;
    for (int j = 1; j <= kServices; ++j) {
        services.push_back(std::make_unique<ServiceProcess>(QStringList{
            QStringLiteral("--interval"), QString::number(kIntervalMs), QStringLiteral("--slots"),
            QString::number(perService), QStringLiteral("--mqtt"), broker.Url(),
            QStringLiteral("--mqtt-id"), ServiceId(j)}));
        if (!services.back()->Listening()) {
            std::printf("corvelled %d did not start listening:\n%s\n", j,
                        services.back()->LogTail(10).toStdString().c_str());
            listening = false;
            break;
        }
        const int first = (j - 1) * perService + 1;
        StartTerminals(children, services.back()->Port(), first, perService);
        for (int k = first; k < first + perService; ++k) {
            own[ReadingTopic(ServiceId(j), TerminalName(k))] = 100 * k;
            one[ReadingTopic(ServiceId(j), TerminalName(k))] = 1;
        }
    }
    const auto allIdentified = [&] {
        for (int j = 1; j <= kServices && listening; ++j) {
            if (!AllIdentified(*services[static_cast<std::size_t>(j - 1)], (j - 1) * perService + 1,
                               perService)) {
                return false;
            }
        }
        return listening;
    };
    const bool identified = RunUntil(allIdentified, 120000);
    const bool flowing = identified && subscriber.WaitFor(one, 30000).Has(one);
    if (!flowing) {
        std::printf("not every terminal identified and published (identified: %s)\n",
                    identified ? "yes" : "no");
        return Summary("scale-out", false, "flowing=no");
    }
    RunFor(options.smoke ? 1000 : 3000);

    const SeenReadings atStart = subscriber.Seen();
    QElapsedTimer window;
    window.start();
    std::vector<ChildSample> starts;
    starts.reserve(services.size());
    for (const auto& service : services) {
        starts.push_back(SampleChild(service->Pid()));
    }
    const ChildSample brokerStart = SampleChild(broker.Pid());
    RunFor(seconds * 1000);
    std::vector<double> cpu;
    cpu.reserve(services.size());
    for (std::size_t i = 0; i < services.size(); ++i) {
        cpu.push_back(ChildCpuPercent(starts[i], SampleChild(services[i]->Pid())));
    }
    const double brokerCpu = ChildCpuPercent(brokerStart, SampleChild(broker.Pid()));
    const SeenReadings atEnd = subscriber.Seen();
    const double windowSeconds = static_cast<double>(window.elapsed()) / 1000.0;
    const double brokerRss = StatusMb(broker.Pid(), "VmRSS");
    const double brokerPeakRss = StatusMb(broker.Pid(), "VmHWM");

    std::vector<int> received;
    for (int j = 1; j <= kServices; ++j) {
        for (int k = (j - 1) * perService + 1; k <= j * perService; ++k) {
            const QString topic = ReadingTopic(ServiceId(j), TerminalName(k));
            received.push_back(atEnd.On(topic) - atStart.On(topic));
        }
    }
    const double ideal = windowSeconds * 1000.0 / (kIntervalMs + latency);
    const double lowest = ReportPolls("Readings received per terminal", received, windowSeconds,
                                      ideal, kIntervalMs, latency);
    const bool everyReceived =
        std::all_of(received.begin(), received.end(), [](int count) { return count > 0; });
    const int foreign = atEnd.Foreign(own);
    int stopped = 0;
    for (const auto& service : services) {
        stopped += service->Stop(5000) == 0 ? 1 : 0;
    }

    Table table("corvelled scale-out: " + std::to_string(kServices) + " services x " +
                    std::to_string(perService) + " terminals x 12 channels, " +
                    std::to_string(kIntervalMs) + " ms interval, all publishing with QoS 1 " +
                    "to one mosquitto, " + Fixed(windowSeconds, 0) + " s",
                {"figure", "measured", "target", "verdict"});
    table.Row({"service CPU min/median/max (% of a core)", Spread(cpu), "", ""});
    table.Row({"broker CPU (% of one core)", Fixed(brokerCpu, 2), "", ""});
    table.Row({"broker RSS at the end (MB)", Fixed(brokerRss, 1), "", ""});
    table.Row({"broker peak RSS (MB)", Fixed(brokerPeakRss, 1), "", ""});
    table.Row(
        {"lowest readings received / ideal (%)", Fixed(lowest, 1), ">= 98", Verdict(lowest >= 98)});
    table.Row({"terminals with readings in the window",
               std::to_string(std::count_if(received.begin(), received.end(),
                                            [](int count) { return count > 0; })) +
                   " / " + std::to_string(terminals),
               "all", Verdict(everyReceived)});
    table.Row({"readings under another terminal's topic", std::to_string(foreign), "0",
               Verdict(foreign == 0)});
    table.Row({"received twice (QoS 1 allows it)", std::to_string(atEnd.duplicates), "", ""});
    table.Row({"services stopped in order on SIGTERM",
               std::to_string(stopped) + " / " + std::to_string(kServices), "all",
               Verdict(stopped == kServices)});
    const bool correct = atEnd.answered && everyReceived && foreign == 0 && stopped == kServices;
    return Summary("scale-out", correct,
                   "services=" + std::to_string(kServices) + "x" + std::to_string(perService) +
                       " service_cpu=" + Spread(cpu) + "% broker_cpu=" + Fixed(brokerCpu, 2) +
                       "% broker_rss=" + Fixed(brokerRss, 1) + "MB received=" + Fixed(lowest, 1) +
                       "% foreign=" + std::to_string(foreign));
}

}  // namespace corvelle::bench
