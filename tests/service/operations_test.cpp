// corvelled as an operator runs it: scraped by a real Prometheus, supervised through systemd's
// notification protocol on a socket of the test's own, and logging into what it takes for the
// journal.

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include "tests/support/free_port.h"
#include "tests/support/prometheus_server.h"
#include "tests/support/service_arguments.h"
#include "tests/support/test_files.h"
#include "tools/terminal/terminal.h"

namespace corvelle {
namespace {

// A registration that is no registration: refused with status 0, the connection kept.
void SendGarbledRegistration(QTcpSocket& socket, quint16 port) {
    socket.connectToHost(QHostAddress::LocalHost, port);
    ASSERT_TRUE(socket.waitForConnected(2000));
    socket.write("not a registration");
    ASSERT_TRUE(socket.waitForReadyRead(2000));
}

TEST(ServiceOperations, PrometheusScrapesWhatTheTerminalAndTheTestDid) {
    const quint16 port = test::FreePort();
    const quint16 metricsPort = test::FreePort();
    // A profile: the terminal's leaving raises its "通信中断", priority 重要.
    QTemporaryDir folder;
    const QString profiles = folder.filePath(QStringLiteral("terminals.toml"));
    ASSERT_TRUE(test::WriteFile(profiles.toStdString(),
                                "[terminals.\"一号泵站\"]\ndescription = \"泵站\"\n"));
    QProcess service;
    service.start(
        QStringLiteral(CORVELLED_PATH),
        test::ServiceArguments(port, {QStringLiteral("--metrics"), QString::number(metricsPort),
                                      QStringLiteral("--config"), profiles}));
    ASSERT_TRUE(service.waitForStarted());
    QByteArray log;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        log += service.readAllStandardError();
        return log.contains("listening on");
    }));
    test::PrometheusServer prometheus(test::FreePort(), metricsPort);
    ASSERT_TRUE(prometheus.Start());

    sim::TerminalConfig config;
    config.port = port;
    config.name = QStringLiteral("一号泵站");
    QString error;
    auto terminals = sim::CreateTerminals(config, 1, error);
    ASSERT_EQ(terminals.size(), 1U) << error.toStdString();
    sim::Terminal& terminal = *terminals.front();
    int polls = 0;
    int replies = 0;
    QObject::connect(&terminal, &sim::Terminal::frameReceived,
                     [&](sim::ConsoleItemKind kind, const QByteArray& bytes) {
                         polls +=
                             kind == sim::ConsoleItemKind::AsciiFrame && bytes.startsWith(":0A04");
                     });
    QObject::connect(&terminal, &sim::Terminal::frameSent,
                     [&](const QByteArray& bytes) { replies += bytes.startsWith(":0A04"); });
    terminal.start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return replies >= 5; }, 10000));
    ASSERT_TRUE(prometheus.WaitFor(QStringLiteral("corvelle_terminals_linked"), 1));
    QTcpSocket garbled;
    SendGarbledRegistration(garbled, port);
    terminal.stop();
    ASSERT_TRUE(QTest::qWaitFor([&] {
        log += service.readAllStandardError();
        return log.contains("detached");
    }));

    const QString series = QStringLiteral("{slot=\"1\",name=\"一号泵站\"}");
    EXPECT_TRUE(prometheus.WaitFor(QStringLiteral("corvelle_replies_total") + series, replies))
        << replies << " replies sent";
    // The poll after the last reply may have been on its way when the terminal left.
    const auto polled = prometheus.Value(QStringLiteral("corvelle_polls_total") + series);
    ASSERT_TRUE(polled.has_value());
    EXPECT_GE(*polled, polls);
    EXPECT_LE(*polled, polls + 1);
    EXPECT_EQ(prometheus.Value(QStringLiteral("corvelle_reply_errors_total") + series), 0);
    EXPECT_TRUE(prometheus.WaitFor(QStringLiteral("corvelle_terminals_linked"), 0));
    EXPECT_EQ(prometheus.Value(QStringLiteral("corvelle_slots_in_use")), 1);
    EXPECT_EQ(prometheus.Value(QStringLiteral("corvelle_connections_accepted_total")), 2);
    EXPECT_EQ(prometheus.Value(QStringLiteral(
                  "corvelle_connections_refused_total{reason=\"invalid_registration\"}")),
              1);
    EXPECT_EQ(prometheus.Value(QStringLiteral("corvelle_registration_seconds_count")), 1);
    EXPECT_EQ(prometheus.Value(QStringLiteral("corvelle_recording_up")), 0);
    EXPECT_TRUE(
        prometheus.WaitFor(QStringLiteral("corvelle_alarms_unacknowledged{priority=\"high\"}"), 1));
    EXPECT_EQ(prometheus.Value(QStringLiteral("corvelle_alarms_active{priority=\"high\"}")), 1);
    EXPECT_EQ(prometheus.Value(QStringLiteral("corvelle_alarms_active{priority=\"urgent\"}")), 0);
    EXPECT_EQ(prometheus.Value(QStringLiteral("up{job=\"corvelled\"}")), 1);
    EXPECT_GT(prometheus.Value(QStringLiteral("process_open_fds")).value_or(0), 5);
    EXPECT_GT(prometheus.Value(QStringLiteral("process_resident_memory_bytes")).value_or(0), 1e6);
    EXPECT_NEAR(prometheus.Value(QStringLiteral("process_start_time_seconds")).value_or(0),
                static_cast<double>(std::time(nullptr)), 120);

    service.terminate();
    ASSERT_TRUE(service.waitForFinished(5000));
    EXPECT_EQ(service.exitCode(), 0);
}

TEST(ServiceOperations, MetricsAddressThatCannotBeServedStopsTheStart) {
    const quint16 held = test::FreePort();
    QTcpServer taken;
    ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, held));
    QProcess service;
    service.start(
        QStringLiteral(CORVELLED_PATH),
        test::ServiceArguments(test::FreePort(), {QStringLiteral("--metrics"),
                                                  QStringLiteral("127.0.0.1:%1").arg(held)}));
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_EQ(service.exitCode(), 3);
    EXPECT_TRUE(service.readAllStandardError().contains("cannot serve metrics"));
}

// A datagram socket where the service's notifications arrive, as systemd's would.
class NotifySocket {
  public:
    NotifySocket() : fd_(::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
        path_ = dir_.filePath(QStringLiteral("notify")).toStdString();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, path_.c_str(), sizeof(address.sun_path) - 1);
        bound_ = ::bind(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
    }
    ~NotifySocket() { ::close(fd_); }
    NotifySocket(const NotifySocket&) = delete;
    NotifySocket& operator=(const NotifySocket&) = delete;

    bool Bound() const { return bound_; }
    QString Path() const { return QString::fromStdString(path_); }
    // The next message within timeoutMs; empty when none came.
    std::string Next(int timeoutMs) {
        pollfd wait{fd_, POLLIN, 0};
        if (::poll(&wait, 1, timeoutMs) != 1) {
            return {};
        }
        std::string message(4096, '\0');
        const auto length = ::recv(fd_, message.data(), message.size(), 0);
        message.resize(length > 0 ? static_cast<std::size_t>(length) : 0);
        return message;
    }

  private:
    QTemporaryDir dir_;
    int fd_;
    std::string path_;
    bool bound_ = false;
};

TEST(ServiceOperations, TellsTheManagerItIsReadyPingsTheWatchdogAndSaysItStops) {
    NotifySocket notify;
    ASSERT_TRUE(notify.Bound());
    const quint16 port = test::FreePort();
    QProcess service;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("NOTIFY_SOCKET"), notify.Path());
    environment.insert(QStringLiteral("WATCHDOG_USEC"), QStringLiteral("200000"));
    service.setProcessEnvironment(environment);
    service.start(QStringLiteral(CORVELLED_PATH), test::ServiceArguments(port));
    ASSERT_TRUE(service.waitForStarted());

    EXPECT_TRUE(notify.Next(10000).starts_with("READY=1\n"));
    // Ready means listening.
    QTcpSocket probe;
    probe.connectToHost(QHostAddress::LocalHost, port);
    EXPECT_TRUE(probe.waitForConnected(1000));
    for (int ping = 0; ping < 3; ++ping) {
        EXPECT_EQ(notify.Next(1000), "WATCHDOG=1");
    }
    // A service whose loop stands still pings no more.
    ::kill(static_cast<pid_t>(service.processId()), SIGSTOP);
    while (!notify.Next(50).empty()) {
    }
    EXPECT_EQ(notify.Next(400), "");
    ::kill(static_cast<pid_t>(service.processId()), SIGCONT);
    EXPECT_EQ(notify.Next(1000), "WATCHDOG=1");

    service.terminate();
    std::string message;
    while (message != "STOPPING=1" && !(message = notify.Next(3000)).empty()) {
    }
    EXPECT_EQ(message, "STOPPING=1");
    ASSERT_TRUE(service.waitForFinished(5000));
}

TEST(ServiceOperations, LinesIntoTheJournalCarryPrioritiesAndEveryTimeItsUtcOffset) {
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("log"));
    QFile(logPath).open(QIODevice::WriteOnly);
    struct stat file {};
    ASSERT_EQ(::stat(logPath.toLocal8Bit().constData(), &file), 0);
    const quint16 port = test::FreePort();
    QProcess service;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("JOURNAL_STREAM"),
                       QStringLiteral("%1:%2").arg(file.st_dev).arg(file.st_ino));
    environment.insert(QStringLiteral("TZ"), QStringLiteral("Asia/Shanghai"));
    service.setProcessEnvironment(environment);
    service.setStandardErrorFile(logPath, QIODevice::Append);
    service.start(QStringLiteral(CORVELLED_PATH), test::ServiceArguments(port));
    QFile log(logPath);
    ASSERT_TRUE(log.open(QIODevice::ReadOnly));
    QByteArray text;
    ASSERT_TRUE(QTest::qWaitFor([&] { return (text += log.readAll()).contains("listening on"); }));
    QTcpSocket garbled;
    SendGarbledRegistration(garbled, port);
    ASSERT_TRUE(QTest::qWaitFor([&] { return (text += log.readAll()).contains("refused"); }));
    service.terminate();
    ASSERT_TRUE(service.waitForFinished(5000));
    text += log.readAll();

    const QRegularExpression line(
        QStringLiteral("^<([346])>\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\+08:00 "));
    for (const QByteArray& each : text.trimmed().split('\n')) {
        const auto match = line.match(QString::fromUtf8(each));
        ASSERT_TRUE(match.hasMatch()) << each.toStdString();
        const bool refusal = each.contains("refused");
        EXPECT_EQ(match.captured(1), refusal ? QStringLiteral("4") : QStringLiteral("6"))
            << each.toStdString();
    }
}

}  // namespace
}  // namespace corvelle
