// What the metrics cost the service: 256 terminals polled every second, the service restarted on
// one port for alternating windows without and with --metrics, and scraped every 15 s in the
// windows with them. Windows start and end without, so that each window with metrics is
// compared with the mean of its two neighbours: a drift of the machine's load cancels out.
#include <QTcpSocket>
#include <QTimer>
#include <cstdio>
#include <numeric>
#include <vector>

#include "bench/service/scenarios.h"

namespace corvelle::bench {
namespace {

constexpr int kMeteredFleet = 256;
constexpr int kMeteredIntervalMs = 1000;
constexpr int kScrapeMs = 15000;

// One scrape of the metrics, as Prometheus makes it; the number of bytes it read.
qint64 Scrape(quint16 port) {
    QTcpSocket socket;
    socket.connectToHost(QHostAddress::LocalHost, port);
    if (!socket.waitForConnected(1000)) {
        return 0;
    }
    socket.write("GET /metrics HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    qint64 bytes = 0;
    while (socket.waitForReadyRead(2000)) {
        bytes += socket.readAll().size();
    }
    return bytes;
}

double MeanOf(const std::vector<double>& values) {
    return values.empty() ? 0 : std::accumulate(values.begin(), values.end(), 0.0) / values.size();
}

}  // namespace

int RunMetricsCost(const Options& options) {
    const int seconds = options.seconds > 0 ? options.seconds : (options.smoke ? 4 : 60);
    const int pairs = options.smoke ? 1 : 3;
    const int count = options.crowd > 0 ? options.crowd : kMeteredFleet;
    const quint16 port = FreePort();
    const quint16 metricsPort = FreePort();
    Children children;
    std::vector<double> without;
    std::vector<double> with;
    bool correct = true;
    qint64 scrapedBytes = 0;
    for (int window = 0; window < 2 * pairs + 1; ++window) {
        const bool metrics = window % 2 == 1;
        QStringList serviceOptions{QStringLiteral("--interval"),
                                   QString::number(kMeteredIntervalMs), QStringLiteral("--slots"),
                                   QString::number(count)};
        if (metrics) {
            serviceOptions << QStringLiteral("--metrics") << QString::number(metricsPort);
        }
        ServiceProcess service(serviceOptions, port);
        if (window == 0) {
            StartTerminals(children, port, 1, count);
        }
        if (!service.Listening() ||
            !RunUntil([&] { return AllIdentified(service, 1, count); }, 60000)) {
            std::printf("window %d: the fleet did not come back\n%s\n", window,
                        service.LogTail(5).toUtf8().constData());
            correct = false;
            break;
        }
        RunFor(2000);
        QTimer scraper;
        QObject::connect(&scraper, &QTimer::timeout, &scraper,
                         [&] { scrapedBytes += Scrape(metricsPort); });
        if (metrics) {
            scraper.start(kScrapeMs);
            scrapedBytes += Scrape(metricsPort);
        }
        const ChildSample start = SampleChild(service.Pid());
        RunFor(seconds * 1000);
        const double cpu = ChildCpuPercent(start, SampleChild(service.Pid()));
        (metrics ? with : without).push_back(cpu);
        std::printf("window %d %s --metrics: %.3f %% of a core\n", window,
                    metrics ? "with" : "without", cpu);
        correct = service.Stop(5000) == 0 && correct;
    }
    std::vector<double> differences;
    for (std::size_t i = 0; i < with.size() && i + 1 < without.size(); ++i) {
        differences.push_back(with[i] - (without[i] + without[i + 1]) / 2);
    }
    const double added = MeanOf(differences);
    Table table("corvelled metrics: " + std::to_string(count) + " terminals, " +
                    std::to_string(kMeteredIntervalMs) + " ms interval, " + std::to_string(pairs) +
                    " pairs of " + std::to_string(seconds) + " s windows, scraped every 15 s",
                {"figure", "measured", "target", "verdict"});
    table.Row({"service CPU without metrics (% of one core)", Fixed(MeanOf(without), 3), "", ""});
    table.Row({"service CPU with metrics (% of one core)", Fixed(MeanOf(with), 3), "", ""});
    table.Row({"added: with minus its neighbours' mean (% of one core)", Fixed(added, 3), "<= 0.2",
               Verdict(added <= 0.2)});
    table.Row({"bytes scraped", std::to_string(scrapedBytes), "", ""});
    return Summary("metrics", correct && scrapedBytes > 0 && with.size() + 1 == without.size(),
                   "added=" + Fixed(added, 3) + "% without=" + Fixed(MeanOf(without), 3) +
                       "% with=" + Fixed(MeanOf(with), 3) + "%");
}

}  // namespace corvelle::bench
