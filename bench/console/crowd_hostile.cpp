// Peers that are no terminals: a crowd that never registers, and connections that misbehave
// on purpose, while real terminals keep being polled.
#include <QTabWidget>
#include <algorithm>
#include <cstdio>
#include <functional>

#include "bench/console/scenarios.h"
#include "server/device_tab_host.h"
#include "server/ui/device_tab_dlg.h"

namespace corvelle::bench {

int RunCrowd(const Options& options) {
    const int crowd = options.crowd > 0 ? options.crowd : (options.smoke ? 100 : 500);
    const int holdSeconds = options.seconds > 0 ? options.seconds : (options.smoke ? 5 : 30);
    FleetRun run(kFleet, kIntervalMs, options.smoke ? 20 : 100);
    QProcess& peers = run.children.StartPeers(run.port);
    RunFor(1000);

    // Arrival: one connection after another, each answered before the next opens.
    run.stall.Start();
    const QString answer =
        PeerCommand(peers, QStringLiteral("crowd %1").arg(crowd), 300000).value_or(QString());
    const double arrivalStall = run.stall.MaxMs();
    const double arrivalStallBusy = run.stall.BusyAtMaxMs();
    const std::size_t recordsHeld = run.console.Host().ClientCount();

    // Idle crowd, every connection open and silent: stalls with the heartbeat, then CPU
    // without it.
    const PollWindow window = OpenPollWindow(run.watch, kIntervalMs, run.latency);
    RunFor(holdSeconds * 500);
    run.stall.Stop();
    const double holdStall = run.stall.MaxMs();
    const double holdStallBusy = run.stall.BusyAtMaxMs();
    const ProcessSample quiet = SampleProcess();
    RunFor(holdSeconds * 500);
    const double cpu = CpuPercent(quiet, SampleProcess());
    const double rss = CurrentRssMb();
    const double lowest = ReportPolls(run.console, run.watch, window, kFleet, "crowd idle");

    PeerCommand(peers, QStringLiteral("release"), 10000);
    const bool released = RunUntil(
        [&] { return run.console.Host().ClientCount() == static_cast<std::size_t>(kFleet); },
        10000);

    const int answered = static_cast<int>(PeerField(answer, QStringLiteral("status0")));
    Table table("Crowd: " + std::to_string(crowd) +
                    " connections that send one bad packet and stay idle, plus " +
                    std::to_string(kFleet) + " polled terminals",
                {"figure", "measured", "target", "verdict"});
    table.Row({"bad packets answered with status 0",
               std::to_string(answered) + " / " + std::to_string(crowd), "all",
               Verdict(answered == crowd)});
    table.Row(
        {"crowd arrival time (ms)", Fixed(PeerField(answer, QStringLiteral("ms")), 0), "", ""});
    table.Row({"largest stall during arrival (ms)", Fixed(arrivalStall, 2), "<= 50",
               Verdict(arrivalStall <= 50)});
    table.Row({"  UI thread CPU time in that gap (ms)", Fixed(arrivalStallBusy, 2), "", ""});
    table.Row({"connection records with the crowd", std::to_string(recordsHeld),
               std::to_string(crowd + kFleet),
               Verdict(recordsHeld == static_cast<std::size_t>(crowd) + kFleet)});
    table.Row({"console CPU, crowd idle (%)", Fixed(cpu, 2), "", ""});
    table.Row(
        {"largest stall, crowd idle (ms)", Fixed(holdStall, 2), "<= 50", Verdict(holdStall <= 50)});
    table.Row({"  UI thread CPU time in that gap (ms)", Fixed(holdStallBusy, 2), "", ""});
    table.Row({"RSS with the crowd (MB)", Fixed(rss, 1), "", ""});
    table.Row({"peak RSS (MB)", Fixed(PeakRssMb(), 1), "<= 120", Verdict(PeakRssMb() <= 120)});
    table.Row({"lowest polls / ideal (%)", Fixed(lowest, 1), ">= 98", Verdict(lowest >= 98)});
    table.Row({"replies shown on a wrong page", std::to_string(run.watch.Misrouted()), "0",
               Verdict(run.watch.Misrouted() == 0)});
    table.Row({"records after the crowd left", std::to_string(run.console.Host().ClientCount()),
               std::to_string(kFleet), Verdict(released)});
    const bool correct =
        run.started && answered == crowd && run.watch.Misrouted() == 0 && lowest > 0 && released;
    return Summary("crowd", correct,
                   "answered=" + std::to_string(answered) + "/" + std::to_string(crowd) +
                       " cpu=" + Fixed(cpu, 2) + "% rss=" + Fixed(rss, 1) +
                       "MB stall=" + Fixed(std::max(arrivalStall, holdStall), 1) +
                       "ms polls=" + Fixed(lowest, 1) + "%");
}

namespace {

struct Attack {
    std::string label;
    QString command;
    // Fields of the helper's answer that must hold these values.
    std::vector<std::pair<QString, double>> expect;
    // What the console must show afterwards, if anything.
    std::function<bool()> shown;
};

// The slot whose name has exactly this many bytes, or -1.
int SlotWithNameSize(Console& console, std::size_t size) {
    for (std::size_t slot = 0; slot < kSlotCount; ++slot) {
        if (console.Tables().deviceNames[slot].size() == size) {
            return static_cast<int>(slot);
        }
    }
    return -1;
}

}  // namespace

int RunHostile(const Options& options) {
    // Half a fleet: the other slots are for the hostile names.
    constexpr int kHostileFleet = 4;
    const int floodBytes = options.smoke ? 1 << 20 : 8 << 20;
    const int slowBytes = options.smoke ? 3 : 10;
    const int exhaustHoldMs = options.smoke ? 1500 : 5000;
    FleetRun run(kHostileFleet, kIntervalMs, options.smoke ? 20 : 100);
    QProcess& peers = run.children.StartPeers(run.port);
    RunFor(1000);
    const PollWindow window = OpenPollWindow(run.watch, kIntervalMs, run.latency);

    // A hostile name takes the first free slot; its tab must show it whole as plain text.
    QTabWidget& tabs = run.console.Window().TabHost().Tabs();
    const auto toolTipOf = [&](std::size_t size) {
        const int slot = SlotWithNameSize(run.console, size);
        return slot < 0 ? QString() : tabs.tabToolTip(slot);
    };
    const auto longNameShown = [&] { return toolTipOf(8185).size() == 4093; };
    const auto badNameShown = [&] {
        const QString text = toolTipOf(31 * 5 + 14);
        return !text.isEmpty() && std::none_of(text.begin(), text.end(), [](QChar c) {
            return c.category() == QChar::Other_Control;
        });
    };
    const std::vector<Attack> attacks = {
        {"reset in the middle of a registration", "reset", {{"ok", 1}}, {}},
        {"reset in the middle of a reply", "reset H1", {{"status", 1}}, {}},
        {"half-open: connects, never sends or closes", "silent", {{"ok", 1}}, {}},
        {"half-closed: sends FIN, keeps reading",
         "halfclose H2",
         {{"status", 1}, {"closed", 1}},
         {}},
        {"one byte a second, each answered",
         QStringLiteral("slow %1").arg(slowBytes),
         {{"status0", slowBytes}},
         {}},
        {std::to_string(floodBytes >> 20) + " MB garbage, unregistered",
         QStringLiteral("flood %1").arg(floodBytes),
         {{"sent", 1}},
         {}},
        {std::to_string(floodBytes >> 20) + " MB garbage after registering",
         QStringLiteral("flood %1 H3").arg(floodBytes),
         {{"status", 1}, {"sent", 1}},
         {}},
        {"8185-byte name, shown whole", "name long", {{"status", 1}}, longNameShown},
        {"control characters and invalid GB2312 in a name, shown as plain text",
         "name bad",
         {{"status", 1}},
         badNameShown},
    };
    Table table("Hostile peers against " + std::to_string(kHostileFleet) + " polled terminals",
                {"peer", "held", "stall (ms)", "helper's answer"});
    bool attacksHeld = true;
    double worstStall = 0;
    double worstStallBusy = 0;
    const auto noteStall = [&] {
        if (run.stall.MaxMs() > worstStall) {
            worstStall = run.stall.MaxMs();
            worstStallBusy = run.stall.BusyAtMaxMs();
        }
    };
    for (const Attack& attack : attacks) {
        run.stall.Start();
        const QString answer = PeerCommand(peers, attack.command, 60000).value_or(QString());
        bool held = !answer.isEmpty() && (!attack.shown || attack.shown());
        for (const auto& [key, value] : attack.expect) {
            held = held && PeerField(answer, key) == value;
        }
        attacksHeld = attacksHeld && held;
        noteStall();
        table.Row(
            {attack.label, held ? "yes" : "NO", Fixed(run.stall.MaxMs(), 2), answer.toStdString()});
    }

    // Descriptor exhaustion: a few descriptors of headroom, then a burst well beyond it.
    const int open = OpenDescriptors();
    const std::uint64_t previousLimit = SetDescriptorLimit(static_cast<std::uint64_t>(open) + 8);
    run.stall.Stop();
    const ProcessSample before = SampleProcess();
    const QString burst =
        PeerCommand(peers, QStringLiteral("exhaust 40 %1").arg(exhaustHoldMs), 60000)
            .value_or(QString());
    const double exhaustedCpu = CpuPercent(before, SampleProcess());
    run.stall.Start();
    const QString probe =
        PeerCommand(peers, QStringLiteral("probe 10000"), 20000).value_or(QString());
    SetDescriptorLimit(previousLimit);
    const bool recovered = PeerField(probe, QStringLiteral("status")) == 0;
    noteStall();
    table.Row(
        {"40 connections at " + std::to_string(open + 8) + " descriptors", recovered ? "yes" : "NO",
         Fixed(run.stall.MaxMs(), 2),
         (burst + "; cpu=" + QString::number(exhaustedCpu, 'f', 2) + "%; " + probe).toStdString()});

    RunFor(1000);
    const double lowest =
        ReportPolls(run.console, run.watch, window, kHostileFleet, "under attack");
    const QString still =
        PeerCommand(peers, QStringLiteral("probe 5000"), 10000).value_or(QString());
    const bool listening =
        run.console.Listening() && PeerField(still, QStringLiteral("status")) == 0;

    Table figures("Hostile peers against the targets", {"figure", "measured", "target", "verdict"});
    figures.Row({"every peer handled", attacksHeld && recovered ? "yes" : "NO", "yes",
                 Verdict(attacksHeld && recovered)});
    figures.Row(
        {"still listening and answering", listening ? "yes" : "NO", "yes", Verdict(listening)});
    figures.Row({"largest event-loop stall (ms)", Fixed(worstStall, 2), "", ""});
    figures.Row({"  UI thread CPU time in that gap (ms)", Fixed(worstStallBusy, 2), "", ""});
    figures.Row({"peak RSS (MB)", Fixed(PeakRssMb(), 1), "<= 120", Verdict(PeakRssMb() <= 120)});
    figures.Row({"lowest polls / ideal (%)", Fixed(lowest, 1), ">= 98", Verdict(lowest >= 98)});
    figures.Row({"replies shown on a wrong page", std::to_string(run.watch.Misrouted()), "0",
                 Verdict(run.watch.Misrouted() == 0)});
    const bool correct = run.started && attacksHeld && recovered && listening &&
                         run.watch.Misrouted() == 0 && lowest > 0;
    return Summary("hostile", correct,
                   std::string("peers_handled=") + (attacksHeld ? "yes" : "no") +
                       " recovered=" + (recovered ? "yes" : "no") +
                       " stall=" + Fixed(worstStall, 1) + "ms polls=" + Fixed(lowest, 1) +
                       "% misrouted=" + std::to_string(run.watch.Misrouted()));
}

}  // namespace corvelle::bench
