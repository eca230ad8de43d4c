// What a terminal sees on the wire, checked against the console (its main window, in this
// process) and against corvelled (a separate process): the two must not be told apart.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <unistd.h>

#include <QDate>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <cstring>
#include <memory>

#include "app/main_dlg.h"
#include "protocol/modbus_ascii.h"
#include "protocol/module_frames.h"
#include "protocol/registration.h"
#include "server/device_tab_host.h"
#include "tests/support/free_port.h"
#include "tests/support/test_files.h"
#include "tests/support/test_terminal.h"

namespace corvelle {
namespace {

using test::TestTerminal;
using Bytes = std::vector<std::uint8_t>;

Bytes ToBytes(std::string_view text) {
    return {text.begin(), text.end()};
}

Bytes Reply(RegistrationStatus status) {
    const auto reply = RegistrationReply(status);
    return {reply.begin(), reply.end()};
}

const Bytes kQuery(ModuleQuery.begin(), ModuleQuery.end());
constexpr int kIntervalMs = 200;

// A console or a service listening on a free port, polling every kIntervalMs.
class Server {
  public:
    virtual ~Server() = default;
    virtual quint16 Port() const = 0;
};

class ConsoleServer final : public Server {
  public:
    ConsoleServer() : port_(test::FreePort()) {
        window_.Tables().acquisitionIntervalMs = kIntervalMs;
        window_.TabHost().ToggleListening(port_);
    }
    quint16 Port() const override { return port_; }

  private:
    CMainDlg window_;
    quint16 port_;
};

class ServiceServer final : public Server {
  public:
    explicit ServiceServer(const QStringList& extra = {}) : port_(test::FreePort()) {
        process_.start(QStringLiteral(CORVELLED_PATH),
                       QStringList{QStringLiteral("--port"), QString::number(port_),
                                   QStringLiteral("--interval"), QString::number(kIntervalMs)} +
                           extra);
        EXPECT_TRUE(QTest::qWaitFor([this] {
            log_ += process_.readAllStandardError();
            return log_.contains("listening on");
        }));
    }
    ~ServiceServer() override {
        process_.terminate();
        process_.waitForFinished(3000);
    }
    quint16 Port() const override { return port_; }
    QProcess& Process() { return process_; }
    // Everything logged so far.
    QByteArray Log() {
        log_ += process_.readAllStandardError();
        return log_;
    }

  private:
    QProcess process_;
    quint16 port_;
    QByteArray log_;
};

class TerminalSide : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        if (GetParam()) {
            server_ = std::make_unique<ServiceServer>();
        } else {
            server_ = std::make_unique<ConsoleServer>();
        }
    }

    std::unique_ptr<TestTerminal> Connect() {
        auto terminal = std::make_unique<TestTerminal>(server_->Port());
        EXPECT_TRUE(terminal->Connected());
        return terminal;
    }
    std::unique_ptr<TestTerminal> Registered(std::string_view name) {
        auto terminal = Connect();
        terminal->Send(BuildRegistrationPacket(ToBytes(name)));
        EXPECT_TRUE(terminal->WaitForBytes(kQuery.size() + kRegistrationReplySize));
        return terminal;
    }

    std::unique_ptr<Server> server_;
};

TEST_P(TerminalSide, RegistrationWireOrder) {
    auto terminal = Connect();
    terminal->Send(BuildRegistrationPacket(ToBytes("PUMP")));
    ASSERT_TRUE(terminal->WaitForBytes(18 + 9));
    EXPECT_EQ(terminal->Slice(0, 18), kQuery);
    EXPECT_EQ(terminal->Slice(18, 9), Reply(RegistrationStatus::Accepted));
    // The gap runs from the query, which the registration triggers, to the reply. Measured from
    // the registration's send it stays a sound lower bound however late this process reads the
    // query; whole milliseconds on both ends can lose one.
    EXPECT_GE(terminal->arrivalMs[18] - terminal->sentMs, 299);

    // Invalid packets are answered with status 0 and may be retried.
    auto other = Connect();
    other->Send(ToBytes("\x55\xAA garbage"));
    ASSERT_TRUE(other->WaitForBytes(9));
    EXPECT_EQ(other->Slice(0, 9), Reply(RegistrationStatus::Rejected));
}

TEST_P(TerminalSide, IdentificationThenPollsAtTheInterval) {
    auto terminal = Registered("PUMP");
    const auto module = BuildModuleReply("BX4B");
    terminal->Send(Bytes(module.begin(), module.end()));
    const std::string request = ":0A040000000AE8\r\n";
    ASSERT_TRUE(terminal->WaitForBytes(27 + request.size()));
    EXPECT_EQ(terminal->Slice(27, request.size()), ToBytes(request));

    const Bytes registers = {0x0A, 0x04, 20,   0, 1, 0, 0, 0, 0, 0x09, 0xC4, 0,
                             0,    0x04, 0xB5, 0, 0, 0, 0, 0, 0, 0,    0};
    const Bytes reply = ToBytes(EncodeAsciiFrame(registers));
    QElapsedTimer sinceReply;
    sinceReply.start();
    terminal->Send(reply);
    ASSERT_TRUE(terminal->WaitForBytes(27 + 2 * request.size()));
    EXPECT_GE(sinceReply.elapsed(), kIntervalMs - 5);
    EXPECT_EQ(terminal->Slice(27 + request.size(), request.size()), ToBytes(request));
}

TEST_P(TerminalSide, EightSimultaneousRegistrationsShareOneGapAndANinthFindsNoSlot) {
    std::vector<std::unique_ptr<TestTerminal>> terminals;
    terminals.reserve(8);
    for (int i = 0; i < 8; ++i) {
        terminals.push_back(Connect());
    }
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 8; ++i) {
        terminals[static_cast<std::size_t>(i)]->Send(
            BuildRegistrationPacket(ToBytes("T" + std::to_string(i))));
    }
    for (auto& terminal : terminals) {
        ASSERT_TRUE(terminal->WaitForBytes(27));
        EXPECT_EQ(terminal->Slice(18, 9), Reply(RegistrationStatus::Accepted));
    }
    // Serial pauses would need 2.4 s; one shared gap is far below that.
    EXPECT_LT(clock.elapsed(), 1500);

    auto late = Connect();
    late->Send(BuildRegistrationPacket(ToBytes("LATE")));
    ASSERT_TRUE(late->WaitForBytes(9));
    EXPECT_EQ(late->Slice(0, 9), Reply(RegistrationStatus::NoFreeSlot));
}

// A terminal reconnecting under its name takes its slot over; the older connection is closed.
TEST_P(TerminalSide, ANewerConnectionOfTheSameNameTakesOver) {
    auto older = Registered("TWIN");
    auto newer = Registered("TWIN");
    EXPECT_TRUE(older->WaitForClose());
    const auto module = BuildModuleReply("BX6C");
    newer->Send(Bytes(module.begin(), module.end()));
    const std::string request = ":0A0400000012E0\r\n";
    ASSERT_TRUE(newer->WaitForBytes(27 + request.size()));
    EXPECT_EQ(newer->Slice(27, request.size()), ToBytes(request));
}

TEST_P(TerminalSide, LargeWritesArriveInChunksOfAtMost8192Bytes) {
    auto terminal = Registered("PUMP");
    const std::size_t before = terminal->received.size();
    // Every chunk above 1036 bytes makes the page ask for identification once.
    constexpr std::size_t kChunks = 3;
    terminal->Send(Bytes(kChunks * DeviceTabHost::kMaxChunk, 'x'));
    ASSERT_TRUE(terminal->WaitForBytes(before + kChunks * kQuery.size()));
    QTest::qWait(50);
    EXPECT_GE((terminal->received.size() - before) / kQuery.size(), kChunks);
}

INSTANTIATE_TEST_SUITE_P(ConsoleAndService, TerminalSide, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Service" : "Console"; });

// The limits of a server exposed to a network, on by default in the service.
TEST(ServiceLimits, IdleAndForeignConnectionsAreClosedRegisteredTerminalsStay) {
    ServiceServer service({QStringLiteral("--registration-timeout"), QStringLiteral("1"),
                           QStringLiteral("--max-unregistered"), QStringLiteral("2")});
    TestTerminal registered(service.Port());
    ASSERT_TRUE(registered.Connected());
    registered.Send(BuildRegistrationPacket(ToBytes("PUMP")));
    ASSERT_TRUE(registered.WaitForBytes(27));

    TestTerminal oldest(service.Port());
    TestTerminal second(service.Port());
    TestTerminal third(service.Port());
    EXPECT_TRUE(oldest.WaitForClose());
    EXPECT_EQ(second.socket.state(), QAbstractSocket::ConnectedState);
    // The timeout closes the rest within a second and a sweep.
    EXPECT_TRUE(second.WaitForClose());
    EXPECT_TRUE(third.WaitForClose());
    EXPECT_EQ(registered.socket.state(), QAbstractSocket::ConnectedState);
    const QByteArray log = service.Log();
    EXPECT_TRUE(log.contains("refused 1 connection from 127.0.0.1 (too many unregistered)"));
    EXPECT_TRUE(log.contains("refused 1 connection from 127.0.0.1 (registration timeout)"));
}

// A registered connection that never answers gives its slot back; its terminal gets it again.
TEST(ServiceLimits, ASilentConnectionIsClosedAndItsTerminalComesBackToItsSlot) {
    ServiceServer service({QStringLiteral("--silent-timeout"), QStringLiteral("1")});
    TestTerminal silent(service.Port());
    ASSERT_TRUE(silent.Connected());
    silent.Send(BuildRegistrationPacket(ToBytes("PUMP")));
    EXPECT_TRUE(silent.WaitForClose());
    EXPECT_TRUE(QTest::qWaitFor([&] {
        return service.Log().contains("closed by the console: no valid reply for too long");
    }));
    TestTerminal back(service.Port());
    ASSERT_TRUE(back.Connected());
    back.Send(BuildRegistrationPacket(ToBytes("PUMP")));
    ASSERT_TRUE(back.WaitForBytes(27));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return service.Log().count("registered into slot 1") == 2; }));
}

// A flood from outside the allowed ranges costs one log line per address and minute.
TEST(ServiceLimits, OnlyAllowedAddressesAreServedAndRefusalsAreSummed) {
    ServiceServer service({QStringLiteral("--allow"), QStringLiteral("10.0.0.0/8")});
    // In rounds that the listen queue takes whole.
    for (int round = 0; round < 6; ++round) {
        std::vector<std::unique_ptr<TestTerminal>> foreign;
        foreign.reserve(50);
        for (int i = 0; i < 50; ++i) {
            foreign.push_back(std::make_unique<TestTerminal>(service.Port()));
        }
        foreign.front()->Send(BuildRegistrationPacket(ToBytes("PUMP")));
        for (auto& connection : foreign) {
            EXPECT_TRUE(connection->WaitForClose());
            EXPECT_TRUE(connection->received.empty());
        }
    }
    EXPECT_TRUE(QTest::qWaitFor([&] { return service.Log().contains("refused"); }));
    const QByteArray log = service.Log();
    EXPECT_EQ(log.count("refused"), 1) << log.data();
    EXPECT_TRUE(log.contains(" refused 1 connection from 127.0.0.1 (not allowed)\n"));
}

TEST(ServiceProcess, StopsInOrderOnSigtermAndRefusesBadOptions) {
    QTemporaryDir records;
    ServiceServer service({QStringLiteral("--slots"), QStringLiteral("20"),
                           QStringLiteral("--record"), records.path()});
    std::vector<std::unique_ptr<TestTerminal>> terminals;
    for (int i = 0; i < 20; ++i) {
        terminals.push_back(std::make_unique<TestTerminal>(service.Port()));
        ASSERT_TRUE(terminals.back()->Connected());
        terminals.back()->Send(BuildRegistrationPacket(ToBytes("T" + std::to_string(i))));
    }
    for (auto& terminal : terminals) {
        ASSERT_TRUE(terminal->WaitForBytes(27));
        EXPECT_EQ(terminal->Slice(18, 9), Reply(RegistrationStatus::Accepted));
    }
    QElapsedTimer clock;
    clock.start();
    service.Process().terminate();
    ASSERT_TRUE(service.Process().waitForFinished(3000));
    EXPECT_LT(clock.elapsed(), 2000);
    EXPECT_EQ(service.Process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(service.Process().exitCode(), 0);
    for (auto& terminal : terminals) {
        EXPECT_TRUE(terminal->WaitForClose());
    }
    // The recording is complete once the process has ended.
    QFile events(records.filePath(
        QStringLiteral("events-%1.csv").arg(QDate::currentDate().toString(Qt::ISODate))));
    ASSERT_TRUE(events.open(QIODevice::ReadOnly));
    const QString story = QString::fromUtf8(events.readAll());
    EXPECT_EQ(story.count(QStringLiteral(",注册,")), 20);
    EXPECT_EQ(story.count(QStringLiteral(",已断开,")), 20);

    // One line naming the problem: status 2 for a bad value or address, which no restart
    // mends, 3 for a port that another program holds.
    QTcpServer holder;
    ASSERT_TRUE(holder.listen(QHostAddress::Any, 0));
    QTemporaryDir folder;
    const QString profiles = folder.filePath(QStringLiteral("terminals.toml"));
    ASSERT_TRUE(
        test::WriteFile(profiles.toStdString(), "[terminals.\"P\".channels.AD3]\nunit = 5\n"));
    for (const auto& [arguments, status] :
         {std::pair{QStringList{QStringLiteral("--slots"), QStringLiteral("0")}, 2},
          std::pair{QStringList{QStringLiteral("--port"), QString::number(holder.serverPort())}, 3},
          std::pair{QStringList{QStringLiteral("--listen"), QStringLiteral("10.1")}, 2},
          std::pair{QStringList{QStringLiteral("--record"), QString()}, 2},
          std::pair{QStringList{QStringLiteral("--config"), profiles}, 2}}) {
        QProcess bad;
        bad.start(QStringLiteral(CORVELLED_PATH), arguments);
        ASSERT_TRUE(bad.waitForFinished(5000));
        EXPECT_EQ(bad.exitCode(), status) << arguments.join(' ').toStdString();
        EXPECT_EQ(bad.readAllStandardError().count('\n'), 1);
    }
}

QString EventsFile(const QTemporaryDir& records) {
    return records.filePath(
        QStringLiteral("events-%1.csv").arg(QDate::currentDate().toString(Qt::ISODate)));
}

QString ReadText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

// What a supervisor sees of the service: signals and the exit statuses.
TEST(ServiceProcess, TwoQuickSignalsAreOneAndAHangupIsLogged) {
    QTemporaryDir records;
    ServiceServer service({QStringLiteral("--record"), records.path()});
    const auto pid = static_cast<pid_t>(service.Process().processId());
    ::kill(pid, SIGHUP);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return service.Log().contains("SIGHUP: there is no configuration to reload"); }));
    EXPECT_EQ(service.Process().state(), QProcess::Running);
    // GNU timeout and shells send two; only a second one 2 s later forces the exit.
    ::kill(pid, SIGTERM);
    ::usleep(500);
    ::kill(pid, SIGTERM);
    ASSERT_TRUE(service.Process().waitForFinished(5000));
    EXPECT_EQ(service.Process().exitCode(), 0);
    EXPECT_TRUE(ReadText(EventsFile(records)).contains(QStringLiteral(",停止记录,")));
}

TEST(ServiceProcess, TooFewDescriptorsForTheSlotsIsABadConfiguration) {
    QProcess service;
    service.setChildProcessModifier([] {
        const rlimit limit{40, 40};
        setrlimit(RLIMIT_NOFILE, &limit);
    });
    service.start(QStringLiteral(CORVELLED_PATH),
                  {QStringLiteral("--port"), QString::number(test::FreePort())});
    ASSERT_TRUE(service.waitForFinished(5000));
    EXPECT_EQ(service.exitCode(), 2);
    const QByteArray error = service.readAllStandardError();
    EXPECT_EQ(error.count('\n'), 1);
    EXPECT_TRUE(error.contains("needs 328 file descriptors")) << error.data();
    EXPECT_TRUE(error.contains("may open 40")) << error.data();
}

// Recording and stopping as an administrator meets them.
TEST(ServiceRecording, OneProgramPerFolderAndWhatCannotBeWrittenAtStopIsTheExitStatus) {
    QTemporaryDir records;
    {
        ServiceServer first({QStringLiteral("--record"), records.path()});
        QProcess second;
        second.start(QStringLiteral(CORVELLED_PATH),
                     {QStringLiteral("--port"), QString::number(test::FreePort()),
                      QStringLiteral("--record"), records.path()});
        ASSERT_TRUE(second.waitForFinished(5000));
        EXPECT_EQ(second.exitCode(), 3);
        EXPECT_TRUE(second.readAllStandardError().contains(
            QStringLiteral("(corvelled %1@").arg(first.Process().processId()).toUtf8()));
    }

    // A size limit on the process's files: the start and ten registrations fit, the rows of the
    // stop do not.
    QTemporaryDir limited;
    QProcess service;
    service.setChildProcessModifier([] {
        const rlimit limit{800, 800};
        setrlimit(RLIMIT_FSIZE, &limit);
    });
    const quint16 port = test::FreePort();
    service.start(QStringLiteral(CORVELLED_PATH),
                  {QStringLiteral("--port"), QString::number(port), QStringLiteral("--slots"),
                   QStringLiteral("10"), QStringLiteral("--record"), limited.path()});
    QByteArray log;
    ASSERT_TRUE(QTest::qWaitFor([&] {
        log += service.readAllStandardError();
        return log.contains("listening on");
    }));
    std::vector<std::unique_ptr<TestTerminal>> terminals;
    for (int i = 0; i < 10; ++i) {
        terminals.push_back(std::make_unique<TestTerminal>(port));
        ASSERT_TRUE(terminals.back()->Connected());
        terminals.back()->Send(BuildRegistrationPacket(ToBytes("T" + std::to_string(i))));
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return ReadText(EventsFile(limited)).count(QStringLiteral(",注册,")) == 10; }));
    service.terminate();
    ASSERT_TRUE(service.waitForFinished(5000));
    log += service.readAllStandardError();
    EXPECT_EQ(service.exitCode(), 1) << log.toStdString();
    EXPECT_TRUE(log.contains("recording: file too large")) << log.toStdString();
    EXPECT_FALSE(ReadText(EventsFile(limited)).contains(QStringLiteral(",停止记录,")));
}

// A file server that stopped answering: the writer waits on a day file's open, and the stop
// still ends on its deadline, saying what it left behind.
TEST(ServiceRecording, AHungDiskHoldsTheStopNoLongerThanItsDeadline) {
    QTemporaryDir records;
    // A read lease holds every open for writing until it is given up; breaking it is announced
    // with SIGIO, whose default action would end this process.
    std::signal(SIGIO, SIG_IGN);
    QFile created(EventsFile(records));
    ASSERT_TRUE(created.open(QIODevice::WriteOnly));
    created.close();
    const int lease = ::open(EventsFile(records).toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    ASSERT_EQ(::fcntl(lease, F_SETLEASE, F_RDLCK), 0) << std::strerror(errno);
    {
        ServiceServer service({QStringLiteral("--record"), records.path()});
        QElapsedTimer clock;
        clock.start();
        service.Process().terminate();
        ASSERT_TRUE(service.Process().waitForFinished(5000));
        EXPECT_LT(clock.elapsed(), 3500);
        EXPECT_EQ(service.Process().exitCode(), 1);
        EXPECT_TRUE(service.Log().contains("not written at stop: 1 row")) << service.Log().data();
    }
    ::close(lease);
}

TEST(ConsoleProcess, QuitsInOrderOnSignals) {
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
        SCOPED_TRACE(signal);
        QTemporaryDir records;
        QProcess console;
        console.start(QStringLiteral(CORVELLE_PATH), {QStringLiteral("--record"), records.path()});
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return ReadText(EventsFile(records)).contains(QStringLiteral(",开始记录,")); },
            10000));
        ::kill(static_cast<pid_t>(console.processId()), signal);
        ASSERT_TRUE(console.waitForFinished(5000));
        EXPECT_EQ(console.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(console.exitCode(), 0);
        EXPECT_TRUE(ReadText(EventsFile(records)).contains(QStringLiteral(",停止记录,")));
    }
}

}  // namespace
}  // namespace corvelle
