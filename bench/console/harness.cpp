#include "bench/console/harness.h"

#include <sys/resource.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <thread>

#include "names/terminal_names.h"
#include "protocol/modbus_ascii.h"
#include "protocol/module_frames.h"
#include "protocol/registration.h"

namespace corvelle::bench {

int RunScenario(int argc, char** argv, const char* program, const Scenarios& scenarios) {
    Options options;
    std::string scenario;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument == "--smoke") {
            options.smoke = true;
        } else if (argument == "--seconds" && i + 1 < argc) {
            options.seconds = static_cast<int>(std::strtol(argv[++i], nullptr, 10));
        } else if (argument == "--crowd" && i + 1 < argc) {
            options.crowd = static_cast<int>(std::strtol(argv[++i], nullptr, 10));
        } else {
            scenario = argument;
        }
    }
    const auto found = scenarios.find(scenario);
    if (found == scenarios.end()) {
        std::string names;
        for (const auto& [name, run] : scenarios) {
            names += (names.empty() ? "" : "|") + name;
        }
        std::fprintf(stderr, "usage: %s %s [--smoke] [--seconds N] [--crowd N]\n", program,
                     names.c_str());
        return 2;
    }
    return found->second(options);
}

quint16 FreePort() {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    return probe.serverPort();
}

void RaiseDescriptorLimit() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
}

bool RunUntil(const std::function<bool()>& done, int timeoutMs) {
    if (done()) {
        return true;
    }
    QEventLoop loop;
    QTimer check;
    QElapsedTimer clock;
    clock.start();
    bool met = false;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        met = done();
        if (met || clock.elapsed() >= timeoutMs) {
            loop.quit();
        }
    });
    check.start(2);
    loop.exec();
    return met;
}

void RunFor(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

Children::~Children() {
    StopAll();
}

QProcess& Children::StartSim(const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(SimPath(), arguments);
    processes_.push_back(std::move(process));
    return *processes_.back();
}

QProcess& Children::StartPeers(quint16 port) {
    return StartHelper(QStringLiteral(CORVELLE_PEERS_PATH), {QString::number(port)});
}

QProcess& Children::StartSubscriber(quint16 port, const QString& clientId, const QString& filter) {
    return StartHelper(QStringLiteral(CORVELLE_SUBSCRIBER_PATH),
                       {QString::number(port), clientId, filter});
}

QProcess& Children::StartDelayProxy(quint16 targetPort, int delayMs) {
    return StartHelper(QStringLiteral(CORVELLE_DELAY_PROXY_PATH),
                       {QString::number(targetPort), QString::number(delayMs)});
}

QProcess& Children::StartHelper(const QString& program, const QStringList& arguments) {
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process->start(program, arguments);
    process->waitForStarted();
    processes_.push_back(std::move(process));
    return *processes_.back();
}

void Children::StopAll() {
    for (auto& process : processes_) {
        process->terminate();
    }
    for (auto& process : processes_) {
        if (!process->waitForFinished(3000)) {
            process->kill();
            process->waitForFinished(1000);
        }
    }
    processes_.clear();
}

QString SimPath() {
    return QStringLiteral(CORVELLE_SIM_PATH);
}

std::optional<QString> PeerCommand(QProcess& peers, const QString& command, int timeoutMs) {
    peers.write(command.toUtf8() + '\n');
    const QString word = command.section(QLatin1Char(' '), 0, 0);
    std::optional<QString> answer;
    RunUntil(
        [&] {
            while (peers.canReadLine()) {
                const QString line = QString::fromUtf8(peers.readLine()).trimmed();
                if (line.section(QLatin1Char(' '), 0, 0) == word) {
                    answer = line;
                    return true;
                }
            }
            return peers.state() != QProcess::Running;
        },
        timeoutMs);
    return answer;
}

double PeerField(const QString& line, const QString& key) {
    for (const QString& token : line.split(QLatin1Char(' '))) {
        if (token.startsWith(key + QLatin1Char('='))) {
            return token.mid(key.size() + 1).toDouble();
        }
    }
    return -1;
}

double MeasureReplyLatencyMs(int samples) {
    QTcpServer server;
    server.listen(QHostAddress::LocalHost, 0);
    Children children;
    children.StartSim({QStringLiteral("--port"), QString::number(server.serverPort()),
                       QStringLiteral("--name"), QStringLiteral("CAL")});
    if (!server.waitForNewConnection(10000)) {
        return -1;
    }
    std::unique_ptr<QTcpSocket> socket(server.nextPendingConnection());
    QByteArray input;
    const auto readUntil = [&](const std::function<bool()>& complete) {
        while (!complete()) {
            if (!socket->waitForReadyRead(5000)) {
                return false;
            }
            input += socket->readAll();
        }
        return true;
    };
    const auto write = [&](std::span<const std::uint8_t> bytes) {
        socket->write(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qint64>(bytes.size()));
        socket->waitForBytesWritten(1000);
    };
    if (!readUntil([&] { return input.size() >= 8; })) {
        return -1;
    }
    write(ModuleQuery);
    write(RegistrationReply(RegistrationStatus::Accepted));
    input.clear();
    if (!readUntil([&] { return input.size() >= static_cast<qsizetype>(kModuleReplySize); })) {
        return -1;
    }
    const std::string_view request = ReadInputRegistersRequest(12);
    std::vector<double> times;
    for (int i = 0; i < samples; ++i) {
        input.clear();
        QElapsedTimer clock;
        clock.start();
        write({reinterpret_cast<const std::uint8_t*>(request.data()), request.size()});
        if (!readUntil([&] { return input.contains('\n'); })) {
            return -1;
        }
        times.push_back(static_cast<double>(clock.nsecsElapsed()) / 1e6);
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

QString RecordingFolderOf(const QString& asciiName) {
    const QByteArray raw = asciiName.toLatin1();
    return QString::fromStdString(
        FolderName({reinterpret_cast<const std::uint8_t*>(raw.constData()),
                    static_cast<std::size_t>(raw.size())},
                   raw.toStdString()));
}

RecordedRows ReadRecordedRows(const QString& folder, const QString& channelText,
                              const QString& from, const QString& to) {
    constexpr int kChannels = 12;
    RecordedRows counted;
    const QDir dir(folder);
    for (const QString& name : dir.entryList({QStringLiteral("*.csv")}, QDir::Files)) {
        QFile file(dir.filePath(name));
        if (!file.open(QIODevice::ReadOnly)) {
            continue;
        }
        for (const QByteArray& line : file.readAll().split('\n')) {
            // The header and the last, empty piece start with no digit.
            if (line.isEmpty() || line.front() < '0' || line.front() > '9') {
                continue;
            }
            const QList<QByteArray> fields = line.trimmed().split(',');
            const QString time = QString::fromLatin1(fields.front());
            counted.inWindow += (from.isEmpty() || time >= from) && (to.isEmpty() || time <= to);
            bool own = fields.size() > kChannels;
            for (int k = 1; own && k <= kChannels; ++k) {
                own = QString::fromLatin1(fields[k]) == channelText;
            }
            counted.foreign += own ? 0 : 1;
        }
    }
    return counted;
}

QString RecordingTimeNow() {
    return QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
}

Table::Table(const std::string& title, const std::vector<std::string>& headings) {
    std::printf("\n%s\n", title.c_str());
    for (std::size_t i = 0; i < headings.size(); ++i) {
        widths_.push_back(std::max<std::size_t>(headings[i].size(), i == 0 ? 44 : 12));
    }
    Row(headings);
    std::string rule;
    for (const std::size_t width : widths_) {
        rule += std::string(width, '-') + "  ";
    }
    std::printf("%s\n", rule.c_str());
}

void Table::Row(const std::vector<std::string>& cells) {
    std::string line;
    for (std::size_t i = 0; i < cells.size() && i < widths_.size(); ++i) {
        std::string cell = cells[i];
        cell.resize(std::max(cell.size(), widths_[i]), ' ');
        line += cell + "  ";
    }
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

double Ms(const QElapsedTimer& clock) {
    return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

MedianAndWorst MedianAndWorstOf(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.back()};
}

std::string Fixed(double value, int decimals) {
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), "%.*f", decimals, value);
    return text.data();
}

std::string Verdict(bool met) {
    return met ? "met" : "MISSED";
}

namespace {
std::string& SummaryFigures() {
    static std::string figures;
    return figures;
}
}  // namespace

int Summary(const std::string& scenario, bool correct, const std::string& figures) {
    SummaryFigures() = figures;
    std::printf("\n== %s: %s  %s\n", scenario.c_str(), correct ? "PASS" : "FAIL", figures.c_str());
    std::fflush(stdout);
    return correct ? 0 : 1;
}

const std::string& LastSummaryFigures() {
    return SummaryFigures();
}

}  // namespace corvelle::bench
