// Publishing to MQTT under load: what it costs the console, and that a broker away for a while
// neither holds the console up nor costs a reading.
#include <QElapsedTimer>
#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "bench/console/broker_rig.h"
#include "bench/console/scenarios.h"
#include "mqtt/mqtt_options.h"

namespace corvelle::bench {
namespace {

const QString kConsoleId = QStringLiteral("bench-console");

QString FleetTopic(int k) {
    return ReadingTopic(kConsoleId, QString::fromLatin1(FleetName(k)));
}

// Readings the console accepted, by device name. Added to the sinks right after the publisher,
// it is handed exactly the readings the publisher is.
class ReadingTally final : public AcquisitionSink {
  public:
    ReadingTally() = default;
    ~ReadingTally() override {
        if (sinks_ != nullptr) {
            sinks_->Remove(this);
        }
    }
    ReadingTally(const ReadingTally&) = delete;
    ReadingTally& operator=(const ReadingTally&) = delete;

    void Attach(HostSinks& sinks) {
        sinks_ = &sinks;
        sinks_->Add(this);
    }
    void Detach() { sinks_->Remove(this); }

    void OnReading(const Reading& reading) override {
        ++counts_[QByteArray(reinterpret_cast<const char*>(reading.name.data()),
                             static_cast<qsizetype>(reading.name.size()))];
    }
    void OnEvent(const AcquisitionEvent&) override {}

    // Accepted readings by the topic each is published on.
    std::map<QString, int> ByTopic() const {
        std::map<QString, int> counts;
        for (int k = 1; k <= kFleet; ++k) {
            const auto found = counts_.find(FleetName(k));
            counts[FleetTopic(k)] = found == counts_.end() ? 0 : found->second;
        }
        return counts;
    }
    int Total() const {
        int total = 0;
        for (const auto& [name, count] : counts_) {
            total += count;
        }
        return total;
    }

  private:
    HostSinks* sinks_ = nullptr;
    std::map<QByteArray, int> counts_;
};

MqttSettings PublishTo(const BenchBroker& broker) {
    MqttSettings settings;
    settings.enabled = true;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = broker.Port();
    settings.clientId = kConsoleId;
    return settings;
}

std::map<QString, int> OwnValues() {
    std::map<QString, int> own;
    for (int k = 1; k <= kFleet; ++k) {
        own[FleetTopic(k)] = 1111 * k;
    }
    return own;
}

struct Delivery {
    int accepted = 0;
    int missing = 0;
    // Received but never accepted.
    int extra = 0;
    int duplicates = 0;
    int foreign = 0;

    bool Complete() const { return accepted > 0 && missing == 0 && extra == 0 && foreign == 0; }
};

// One row per terminal: what the console accepted against what the subscriber received.
Delivery ReportDelivery(const std::map<QString, int>& accepted, const SeenReadings& seen) {
    Table table("Readings accepted by the console against readings the subscriber received",
                {"terminal", "accepted", "received", "missing", "received more"});
    Delivery delivery;
    for (int k = 1; k <= kFleet; ++k) {
        const int wanted = accepted.at(FleetTopic(k));
        const int received = seen.On(FleetTopic(k));
        delivery.accepted += wanted;
        delivery.missing += std::max(0, wanted - received);
        delivery.extra += std::max(0, received - wanted);
        table.Row({FleetName(k).toStdString(), std::to_string(wanted), std::to_string(received),
                   std::to_string(std::max(0, wanted - received)),
                   std::to_string(std::max(0, received - wanted))});
    }
    delivery.duplicates = seen.duplicates;
    delivery.foreign = seen.Foreign(OwnValues());
    return delivery;
}

void DeliveryRows(Table& table, const Delivery& delivery, int misrouted) {
    table.Row({"readings accepted while publishing", std::to_string(delivery.accepted), "", ""});
    table.Row({"of them never received", std::to_string(delivery.missing), "0",
               Verdict(delivery.missing == 0)});
    table.Row({"received but never accepted", std::to_string(delivery.extra), "0",
               Verdict(delivery.extra == 0)});
    table.Row({"received twice (QoS 1 allows it)", std::to_string(delivery.duplicates), "", ""});
    table.Row({"received on another terminal's topic", std::to_string(delivery.foreign), "0",
               Verdict(delivery.foreign == 0)});
    table.Row(
        {"replies shown on a wrong page", std::to_string(misrouted), "0", Verdict(misrouted == 0)});
}

// What both scenarios start with: a broker, the console polling the fleet, and a subscriber on
// the broker.
struct PublishRun {
    explicit PublishRun(const Options& options)
        : brokerUp(broker.Start()),
          run(kFleet, kIntervalMs, options.smoke ? 20 : 100),
          subscriber(run.children, broker.Port()),
          ready(brokerUp && subscriber.Subscribed()) {
        if (!ready) {
            std::printf("no broker, or the subscriber did not subscribe\n");
        }
    }
    // From now on, with every reading the publisher is handed counted.
    void StartPublishing() {
        run.console.Window().StartPublishing(PublishTo(broker));
        tally.Attach(run.console.Window().Sinks());
    }
    // The publisher, connected all along, is handed the readings and events (counted) or not.
    void Hand(bool on) {
        HostSinks& sinks = run.console.Window().Sinks();
        AcquisitionSink& publisher = run.console.Window().PublishingNow()->Sink();
        if (on) {
            sinks.Add(&publisher);
            tally.Attach(sinks);
        } else {
            sinks.Remove(&publisher);
            tally.Detach();
        }
    }

    BenchBroker broker;
    bool brokerUp;
    FleetRun run;
    Subscriber subscriber;
    bool ready;
    ReadingTally tally;
};

}  // namespace

int RunPublish(const Options& options) {
    const int seconds = options.seconds > 0 ? options.seconds : (options.smoke ? 4 : 20);
    const int rounds = options.smoke ? 1 : 3;
    PublishRun publish(options);
    if (!publish.ready) {
        return Summary("publish", false, "broker=no");
    }
    FleetRun& run = publish.run;
    publish.StartPublishing();
    RunFor(options.smoke ? 1000 : 3000);
    const PollWindow polls = OpenPollWindow(run.watch, kIntervalMs, run.latency);
    const Alternation figures =
        AlternateWindows(run.stall, seconds, rounds, [&](bool on) { publish.Hand(on); });
    const WindowFigures& plain = figures.without;
    const WindowFigures& published = figures.with;
    const double lowest = ReportPolls(run.console, run.watch, polls, kFleet, "the windows");
    // Nothing is accepted from here on: the subscriber can have all of it.
    run.console.ToggleListening();
    const SeenReadings seen = publish.subscriber.WaitFor(publish.tally.ByTopic(), 30000);
    const Delivery delivery = ReportDelivery(publish.tally.ByTopic(), seen);

    const double added = published.cpu - plain.cpu;
    Table table("Publishing: " + std::to_string(kFleet) + " terminals x 12 channels, " +
                    std::to_string(kIntervalMs) + " ms interval, QoS 1 to a local mosquitto, " +
                    std::to_string(rounds) + " pairs of " + std::to_string(seconds) +
                    " s windows alternating without and with publishing, connected throughout " +
                    "(stalls over the first half of each, CPU over the second)",
                {"figure", "measured", "target", "verdict"});
    ComparisonRows(table, "publishing", plain, published, 0.5);
    table.Row({"lowest polls / ideal over the windows (%)", Fixed(lowest, 1), ">= 98",
               Verdict(lowest >= 98)});
    DeliveryRows(table, delivery, run.watch.Misrouted());
    const bool correct = run.started && seen.answered && delivery.Complete() &&
                         run.watch.Misrouted() == 0 && lowest > 0;
    return Summary("publish", correct,
                   "cpu_without=" + Fixed(plain.cpu, 2) + "% cpu_with=" + Fixed(published.cpu, 2) +
                       "% added=" + Fixed(added, 2) + "% stall_with=" + Fixed(published.stall, 1) +
                       "ms polls=" + Fixed(lowest, 1) +
                       "% accepted=" + std::to_string(delivery.accepted) +
                       " missing=" + std::to_string(delivery.missing));
}

int RunBrokerOutage(const Options& options) {
    const int outageSeconds = options.seconds > 0 ? options.seconds : (options.smoke ? 4 : 60);
    PublishRun publish(options);
    if (!publish.ready) {
        return Summary("broker-outage", false, "broker=no");
    }
    FleetRun& run = publish.run;
    Subscriber& subscriber = publish.subscriber;
    publish.StartPublishing();
    const ReadingTally& tally = publish.tally;
    RunFor(options.smoke ? 2000 : 5000);
    const std::map<QString, int> beforeOutage = tally.ByTopic();
    const bool flowing = subscriber.WaitFor(beforeOutage, 10000).Has(beforeOutage);

    publish.broker.Stop();
    const int acceptedAtStop = tally.Total();
    const WatchedWindow down =
        WatchWindow(run, kFleet, kIntervalMs, outageSeconds * 1000, "broker down");
    const double outageStall = down.stall;
    const double outageStallBusy = down.stallBusy;
    const double lowest = down.lowestPolls;
    const std::map<QString, int> backlog = tally.ByTopic();
    const int queued = tally.Total() - acceptedAtStop;

    const bool restarted = publish.broker.Start();
    QElapsedTimer sinceRestart;
    sinceRestart.start();
    run.stall.Start();
    const bool backlogDelivered = subscriber.WaitFor(backlog, 60000).Has(backlog);
    const double catchUpSeconds = static_cast<double>(sinceRestart.elapsed()) / 1000.0;
    RunFor(options.smoke ? 2000 : 10000);
    run.stall.Stop();
    const double afterStall = run.stall.MaxMs();
    const double afterStallBusy = run.stall.BusyAtMaxMs();
    // Nothing is accepted from here on: the subscriber can have all of it.
    run.console.ToggleListening();
    const SeenReadings seen = subscriber.WaitFor(tally.ByTopic(), 30000);
    const Delivery delivery = ReportDelivery(tally.ByTopic(), seen);

    Table table("Broker outage: " + std::to_string(kFleet) + " terminals at " +
                    std::to_string(kIntervalMs) + " ms publishing with QoS 1; mosquitto " +
                    "stopped for " + std::to_string(outageSeconds) +
                    " s and started again on the same port",
                {"figure", "measured", "target", "verdict"});
    table.Row({"every reading before the outage received", flowing ? "yes" : "NO", "yes",
               Verdict(flowing)});
    table.Row({"readings accepted while the broker was down", std::to_string(queued), "> 0",
               Verdict(queued > 0)});
    table.Row({"largest stall while the broker was down (ms)", Fixed(outageStall, 2), "<= 50",
               Verdict(outageStall <= 50)});
    table.Row({"  UI thread CPU time in that gap (ms)", Fixed(outageStallBusy, 2), "", ""});
    table.Row({"lowest polls / ideal, broker down (%)", Fixed(lowest, 1), ">= 98",
               Verdict(lowest >= 98)});
    table.Row({"broker restarted", restarted ? "yes" : "NO", "yes", Verdict(restarted)});
    table.Row({"every outage reading received after it", backlogDelivered ? "yes" : "NO", "yes",
               Verdict(backlogDelivered)});
    table.Row({"  that long after the restart (s, to 0.5 s)", Fixed(catchUpSeconds, 1), "", ""});
    table.Row({"largest stall after the restart (ms)", Fixed(afterStall, 2), "<= 50",
               Verdict(afterStall <= 50)});
    table.Row({"  UI thread CPU time in that gap (ms)", Fixed(afterStallBusy, 2), "", ""});
    table.Row({"subscriber connections (before and after)", std::to_string(seen.connections),
               ">= 2", Verdict(seen.connections >= 2)});
    DeliveryRows(table, delivery, run.watch.Misrouted());
    const bool correct = run.started && flowing && restarted && queued > 0 && backlogDelivered &&
                         seen.connections >= 2 && delivery.Complete() &&
                         run.watch.Misrouted() == 0 && lowest > 0;
    return Summary(
        "broker-outage", correct,
        "outage=" + std::to_string(outageSeconds) + "s queued=" + std::to_string(queued) +
            " stall_down=" + Fixed(outageStall, 1) + "ms stall_after=" + Fixed(afterStall, 1) +
            "ms caught_up=" + Fixed(catchUpSeconds, 1) +
            "s missing=" + std::to_string(delivery.missing));
}

}  // namespace corvelle::bench
