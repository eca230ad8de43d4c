// Recording under load: what it costs the console, and that a writer held up by its disk
// neither holds up the console nor loses a reading without counting it.
#include <fcntl.h>
#include <unistd.h>

#include <QDate>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <numeric>

#include "bench/console/scenarios.h"
#include "record/qt/recording.h"

namespace corvelle::bench {
namespace {

// A reply accepted on either side of a window edge may be counted by the page but not the
// file, or the other way round.
constexpr int kEdgeReplies = 1;
constexpr std::uint64_t kFleetEdges = std::uint64_t{kFleet} * kEdgeReplies;

QString ChannelVolts(int k) {
    return QString::number(1.111 * k, 'f', 3);
}

int Sum(const std::array<int, kSlotCount>& counts) {
    return std::accumulate(counts.begin(), counts.end(), 0);
}

// Replies each fleet terminal's page accepted between two counts.
std::array<int, kFleet> RepliesBetween(Console& console, const std::array<int, kSlotCount>& from,
                                       const std::array<int, kSlotCount>& to) {
    std::array<int, kFleet> replies{};
    for (int k = 1; k <= kFleet; ++k) {
        const int slot = console.SlotOf(FleetName(k));
        if (slot >= 0) {
            const auto s = static_cast<std::size_t>(slot);
            replies[static_cast<std::size_t>(k - 1)] = to[s] - from[s];
        }
    }
    return replies;
}

// Rows counted by the events files as dropped on a full queue.
int DroppedInEvents(const QString& folder) {
    int dropped = 0;
    const QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("events-*.csv")}, QDir::Files)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        for (const QByteArray& line : file.readAll().split('\n')) {
            const QList<QByteArray> fields = line.trimmed().split(',');
            if (fields.size() >= 5 && QString::fromUtf8(fields[3]) == QStringLiteral("数据丢弃")) {
                dropped += QString::fromUtf8(fields[4]).remove(QStringLiteral("行")).toInt();
            }
        }
    }
    return dropped;
}

// Read leases on the day files the writer will open: its open for writing then waits until
// the lease goes, as on a file server that has stopped answering. The kernel breaks a lease
// that is held too long (/proc/sys/fs/lease-break-time, 45 s by default); the writer then waits
// on the next file. FIFOs would not do: the recorder asks a day file for its size before
// opening it, which fails on a FIFO and ends the recording at once.
class DayFileLeases {
  public:
    DayFileLeases(const QString& folder, int count) {
        // A lease break is announced with SIGIO, whose default action ends the process.
        std::signal(SIGIO, SIG_IGN);
        const QString date = QDate::currentDate().toString(Qt::ISODate);
        for (int k = 1; k <= count && problem_.empty(); ++k) {
            const QString path =
                QStringLiteral("%1/%2/%3.csv")
                    .arg(folder, RecordingFolderOf(QString::fromLatin1(FleetName(k))), date);
            QDir().mkpath(QFileInfo(path).path());
            QFile created(path);
            created.open(QIODevice::WriteOnly);
            created.close();
            const int fd = open(path.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
            if (fd < 0 || fcntl(fd, F_SETLEASE, F_RDLCK) != 0) {
                problem_ = "no read lease on " + path.toStdString() + ": " + std::strerror(errno);
            }
            if (fd >= 0) {
                fds_.push_back(fd);
            }
        }
    }
    ~DayFileLeases() { Release(); }
    DayFileLeases(const DayFileLeases&) = delete;
    DayFileLeases& operator=(const DayFileLeases&) = delete;

    // Empty when every file is leased.
    const std::string& Problem() const { return problem_; }
    void Release() {
        for (const int fd : fds_) {
            close(fd);
        }
        fds_.clear();
    }

  private:
    std::vector<int> fds_;
    std::string problem_;
};

}  // namespace

int RunRecord(const Options& options) {
    const int seconds = options.seconds > 0 ? options.seconds : (options.smoke ? 4 : 20);
    const int rounds = options.smoke ? 1 : 3;
    FleetRun run(kFleet, kIntervalMs, options.smoke ? 20 : 100);
    RunFor(options.smoke ? 1000 : 3000);

    // Recording started and stopped into one folder, so that its files hold every window's rows.
    QTemporaryDir folder;
    Recording& recording = run.console.Window().Recorder();
    std::array<int, kFleet> replies{};
    auto startedAt = run.watch.AllReplies();
    std::uint64_t dropped = 0;
    bool started = true;
    const auto set = [&](bool on) {
        if (on) {
            startedAt = run.watch.AllReplies();
            if (const auto problem = recording.Start(folder.path())) {
                std::printf("recording did not start: %s\n",
                            problem->LogText().toStdString().c_str());
                started = false;
            }
        } else if (recording.IsRecording()) {
            dropped += recording.Recorder()->Dropped();
            recording.Stop();
            const auto span = RepliesBetween(run.console, startedAt, run.watch.AllReplies());
            for (std::size_t k = 0; k < replies.size(); ++k) {
                replies.at(k) += span.at(k);
            }
        }
    };
    const Alternation figures = AlternateWindows(run.stall, seconds, rounds, set);
    set(false);
    const WindowFigures& plain = figures.without;
    const WindowFigures& recorded = figures.with;
    const bool written = RunUntil([&] { return recording.AllWritten(); }, 10000);
    if (!started) {
        return Summary("record", false, "recording_started=no");
    }

    Table rows("Rows written against replies accepted while recording",
               {"terminal", "replies", "rows in its file", "rows of other values"});
    bool complete = true;
    int foreign = 0;
    for (int k = 1; k <= kFleet; ++k) {
        const RecordedRows recordedRows = ReadRecordedRows(
            folder.filePath(RecordingFolderOf(QString::fromLatin1(FleetName(k)))), ChannelVolts(k));
        const int accepted = replies[static_cast<std::size_t>(k - 1)];
        complete = complete && std::abs(recordedRows.inWindow - accepted) <= rounds * kEdgeReplies;
        foreign += recordedRows.foreign;
        rows.Row({FleetName(k).toStdString(), std::to_string(accepted),
                  std::to_string(recordedRows.inWindow), std::to_string(recordedRows.foreign)});
    }

    const double added = recorded.cpu - plain.cpu;
    Table table("Recording: " + std::to_string(kFleet) + " terminals x 12 channels, " +
                    std::to_string(kIntervalMs) + " ms interval, " + std::to_string(rounds) +
                    " pairs of " + std::to_string(seconds) +
                    " s windows alternating without and with recording into one folder " +
                    "(stalls over the first half of each, CPU over the second)",
                {"figure", "measured", "target", "verdict"});
    ComparisonRows(table, "recording", plain, recorded, 0.3);
    table.Row(
        {"rows dropped on a full queue", std::to_string(dropped), "0", Verdict(dropped == 0)});
    table.Row({"every accepted reply in its terminal's file", complete ? "yes" : "NO", "yes",
               Verdict(complete)});
    table.Row({"rows with another terminal's values", std::to_string(foreign), "0",
               Verdict(foreign == 0)});
    table.Row({"replies shown on a wrong page", std::to_string(run.watch.Misrouted()), "0",
               Verdict(run.watch.Misrouted() == 0)});
    const bool correct =
        run.started && written && complete && foreign == 0 && run.watch.Misrouted() == 0;
    return Summary("record", correct,
                   "cpu_without=" + Fixed(plain.cpu, 2) + "% cpu_with=" + Fixed(recorded.cpu, 2) +
                       "% added=" + Fixed(added, 2) + "% stall_without=" + Fixed(plain.stall, 1) +
                       "ms stall_with=" + Fixed(recorded.stall, 1) +
                       "ms foreign_rows=" + std::to_string(foreign));
}

int RunRecordStall(const Options& options) {
    const int stallSeconds = options.seconds > 0 ? options.seconds : 5;
    FleetRun run(kFleet, kIntervalMs, options.smoke ? 20 : 100);
    RunFor(options.smoke ? 1000 : 3000);

    QTemporaryDir folder;
    DayFileLeases leases(folder.path(), kFleet);
    Recording& recording = run.console.Window().Recorder();
    const auto before = run.watch.AllReplies();
    if (!leases.Problem().empty()) {
        std::printf("cannot hold the writer up: %s\n", leases.Problem().c_str());
        return Summary("record-stall", false, "leases=no");
    }
    if (const auto problem = recording.Start(folder.path())) {
        std::printf("recording did not start: %s\n", problem->LogText().toStdString().c_str());
        return Summary("record-stall", false, "recording_started=no");
    }
    const CsvRecorder* recorder = recording.Recorder();
    const WatchedWindow heldUp =
        WatchWindow(run, kFleet, kIntervalMs, stallSeconds * 1000, "writer held up");
    const double stall = heldUp.stall;
    const double stallBusy = heldUp.stallBusy;
    const double lowest = heldUp.lowestPolls;
    const std::size_t queuedAtRelease = recorder->Queued();
    const std::uint64_t rowsWhileHeld = recorder->ReadingRowsWritten();

    // Everything accepted until the leases go must reach a file or be counted as dropped.
    const auto acceptedAtRelease =
        static_cast<std::uint64_t>(Sum(run.watch.AllReplies()) - Sum(before));
    const auto accountedFor = [&] {
        return recorder->ReadingRowsWritten() + recorder->Dropped() + kFleetEdges >=
               acceptedAtRelease;
    };
    QElapsedTimer catchUp;
    catchUp.start();
    leases.Release();
    const bool caughtUp = RunUntil(accountedFor, 60000);
    const double catchUpMs = static_cast<double>(catchUp.elapsed());
    const std::uint64_t dropped = recorder->Dropped();
    recording.Stop();
    const auto replies = RepliesBetween(run.console, before, run.watch.AllReplies());
    const bool written = RunUntil([&] { return recording.AllWritten(); }, 60000);

    Table rows("Rows written against replies accepted while recording",
               {"terminal", "replies", "rows in its file", "rows of other values"});
    int totalRows = 0;
    int foreign = 0;
    bool noExtraRows = true;
    for (int k = 1; k <= kFleet; ++k) {
        const RecordedRows recordedRows = ReadRecordedRows(
            folder.filePath(RecordingFolderOf(QString::fromLatin1(FleetName(k)))), ChannelVolts(k));
        const int accepted = replies[static_cast<std::size_t>(k - 1)];
        totalRows += recordedRows.inWindow;
        foreign += recordedRows.foreign;
        noExtraRows = noExtraRows && recordedRows.inWindow <= accepted + kEdgeReplies;
        rows.Row({FleetName(k).toStdString(), std::to_string(accepted),
                  std::to_string(recordedRows.inWindow), std::to_string(recordedRows.foreign)});
    }
    const int totalReplies = std::accumulate(replies.begin(), replies.end(), 0);
    const int droppedInEvents = DroppedInEvents(folder.path());
    const bool accounted =
        totalRows + static_cast<int>(dropped) + kFleet * kEdgeReplies >= totalReplies;
    const bool held = queuedAtRelease > 0;

    Table table("Writer held up: every terminal's day file leased for " +
                    std::to_string(stallSeconds) + " s, " + std::to_string(kFleet) +
                    " terminals at " + std::to_string(kIntervalMs) + " ms",
                {"figure", "measured", "target", "verdict"});
    table.Row({"readings waiting when the leases went", std::to_string(queuedAtRelease), "> 0",
               Verdict(held)});
    table.Row({"rows written while held up", std::to_string(rowsWhileHeld), "", ""});
    table.Row({"largest stall while held up (ms)", Fixed(stall, 2), "<= 50", Verdict(stall <= 50)});
    table.Row({"  UI thread CPU time in that gap (ms)", Fixed(stallBusy, 2), "", ""});
    // A few seconds hold few polls: one poll more or less is several percent.
    const double onePoll = 100.0 * (kIntervalMs + run.latency) / (stallSeconds * 1000.0);
    table.Row({"lowest polls / ideal while held up (%)", Fixed(lowest, 1),
               ">= 98 less 1 poll (" + Fixed(98 - onePoll, 1) + ")",
               Verdict(lowest >= 98 - onePoll)});
    table.Row({"writer caught up after the leases went (ms)", Fixed(catchUpMs, 0), "", ""});
    table.Row({"replies accepted while recording", std::to_string(totalReplies), "", ""});
    table.Row({"rows written", std::to_string(totalRows), "", ""});
    table.Row({"dropped (recorder's count)", std::to_string(dropped), "", ""});
    table.Row({"dropped (events files)", std::to_string(droppedInEvents), std::to_string(dropped),
               Verdict(droppedInEvents == static_cast<int>(dropped))});
    table.Row({"rows + dropped cover the replies", accounted && noExtraRows ? "yes" : "NO", "yes",
               Verdict(accounted && noExtraRows)});
    table.Row({"rows with another terminal's values", std::to_string(foreign), "0",
               Verdict(foreign == 0)});
    table.Row({"replies shown on a wrong page", std::to_string(run.watch.Misrouted()), "0",
               Verdict(run.watch.Misrouted() == 0)});
    const bool correct = run.started && held && caughtUp && written && accounted && noExtraRows &&
                         droppedInEvents == static_cast<int>(dropped) && foreign == 0 &&
                         run.watch.Misrouted() == 0 && lowest > 0;
    return Summary(
        "record-stall", correct,
        "stall=" + Fixed(stall, 1) + "ms polls=" + Fixed(lowest, 1) +
            "% replies=" + std::to_string(totalReplies) + " rows=" + std::to_string(totalRows) +
            " dropped=" + std::to_string(dropped) + " foreign_rows=" + std::to_string(foreign));
}

}  // namespace corvelle::bench
