// Terminal profiles under load: what scaling, names and units on every channel of every
// terminal cost the console, in windows alternating without and with them in one run.
#include <QFile>
#include <QTableWidget>
#include <QTemporaryDir>
#include <cmath>
#include <cstdio>
#include <string>

#include "bench/console/scenarios.h"
#include "device/ui/device_page_dlg.h"

namespace corvelle::bench {
namespace {

// Every channel of every fleet terminal named, scaled 0..10 V to 0..100 m with one decimal, the
// odd ones on the right axis; every input and relay named.
QByteArray FleetProfiles() {
    QByteArray text;
    for (int k = 1; k <= kFleet; ++k) {
        const QByteArray terminal = "[terminals.\"" + FleetName(k) + "\"";
        text += terminal + "]\ndescription = \"站 " + QByteArray::number(k) + "\"\n";
        for (int c = 1; c <= 12; ++c) {
            text += terminal + ".channels.AD" + QByteArray::number(c) + "]\nname = \"液位" +
                    QByteArray::number(c) +
                    "\"\nunit = \"m\"\nraw = [0.0, 10.0]\nscaled = [0.0, 100.0]\ndecimals = 1\n" +
                    (c % 2 == 1 ? "axis = \"right\"\n" : "");
            text += terminal + ".inputs.IN" + QByteArray::number(c) + "]\nname = \"门" +
                    QByteArray::number(c) + "\"\n";
            text += terminal + ".relays.RL" + QByteArray::number(c) + "]\nname = \"泵" +
                    QByteArray::number(c) + "\"\n";
        }
    }
    return text;
}

}  // namespace

ProfileAlternation AlternateProfiles(FleetRun& run, const QByteArray& without,
                                     const QByteArray& with, int seconds, int rounds) {
    QTemporaryDir folder;
    const QString file = folder.filePath(QStringLiteral("terminals.toml"));
    TerminalProfiles& profiles = run.console.Window().Profiles();
    bool read = true;
    const Alternation figures = AlternateWindows(run.stall, seconds, rounds, [&](bool on) {
        QFile out(file);
        const QByteArray& text = on ? with : without;
        const bool written =
            out.open(QIODevice::WriteOnly | QIODevice::Truncate) && out.write(text) == text.size();
        out.close();
        const auto error = profiles.Load(file);
        if (error) {
            std::printf("profiles not read: %s\n", error->EnglishText().c_str());
        }
        read = read && written && !error;
    });
    return {figures, read};
}

int RunProfiles(const Options& options) {
    const int seconds = options.seconds > 0 ? options.seconds : (options.smoke ? 2 : 30);
    const int rounds = options.smoke ? 1 : 2;
    FleetRun run(kFleet, kIntervalMs, options.smoke ? 20 : 100);
    RunFor(options.smoke ? 1000 : 3000);
    const ProfileAlternation figures = AlternateProfiles(run, {}, FleetProfiles(), seconds, rounds);
    const WindowFigures& plain = figures.without;
    const WindowFigures& profiled = figures.with;
    bool shown = figures.read;
    // Terminal k's channels read 1.111 * k V: 11.11 * k m under its profile, to one decimal.
    for (int k = 1; k <= kFleet && shown; ++k) {
        const int slot = run.console.SlotOf(FleetName(k));
        const QTableWidget& list = run.console.Window().TabHost().PageDlg(slot).ValueList();
        const QString value = list.item(0, 2)->text();
        shown = list.item(0, 1)->text() == QStringLiteral("液位1") && value.endsWith(" m") &&
                std::abs(value.chopped(2).toDouble() - 11.11 * k) <= 0.05 + 1e-9;
        if (!shown) {
            std::printf("terminal %d shows %s %s\n", k,
                        list.item(0, 1)->text().toStdString().c_str(), value.toStdString().c_str());
        }
    }
    Table table("Profiles: " + std::to_string(kFleet) + " terminals x 12 scaled channels, " +
                    std::to_string(kIntervalMs) + " ms interval, " + std::to_string(rounds) +
                    " pairs of " + std::to_string(seconds) +
                    " s windows without and with profiles (stalls over the first half of each, "
                    "CPU over the second, averaged)",
                {"figure", "measured", "target", "verdict"});
    ComparisonRows(table, "profiles", plain, profiled, 0.1);
    table.Row({"every page shows its scaled values", shown ? "yes" : "NO", "yes", Verdict(shown)});
    const bool correct = run.started && shown && run.watch.Misrouted() == 0;
    return Summary("profiles", correct,
                   "cpu_without=" + Fixed(plain.cpu, 2) + "% cpu_with=" + Fixed(profiled.cpu, 2) +
                       "% added=" + Fixed(profiled.cpu - plain.cpu, 2) + "%");
}

}  // namespace corvelle::bench
