// Readings, statuses and relay commands through a real broker, from the console and from
// corvelled alike, with a simulated terminal at the other end.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <fstream>
#include <memory>

#include "app/main_dlg.h"
#include "tests/support/free_port.h"
#include "tests/support/service_arguments.h"
#include "tests/support/test_broker.h"
#include "tools/terminal/terminal.h"

namespace corvelle {
namespace {

const QByteArray kNode = "corvelle/node7";
const QByteArray kDevice = kNode + "/一号泵站";

QStringList ServiceArguments(quint16 port, quint16 brokerPort) {
    return test::ServiceArguments(port, test::MqttArguments(brokerPort, QStringLiteral("node7")) +
                                            QStringList{QStringLiteral("--mqtt-relay-commands")});
}

std::unique_ptr<sim::Terminal> StartTerminal(quint16 port, int replyDelayMs = 0) {
    sim::TerminalConfig config;
    config.port = port;
    config.name = QStringLiteral("一号泵站");
    config.modelText = "CV4B-SIM";
    config.board.channelCount = 4;
    config.faults.replyDelayMs = replyDelayMs;
    QString error;
    auto terminals = sim::CreateTerminals(config, 1, error);
    EXPECT_EQ(terminals.size(), 1U) << error.toStdString();
    terminals.front()->start();
    return std::move(terminals.front());
}

class PublishingTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        port_ = test::FreePort();
        if (GetParam()) {
            service_.start(QStringLiteral(CORVELLED_PATH), ServiceArguments(port_, broker_.Port()));
            ASSERT_TRUE(service_.waitForStarted());
        } else {
            console_ = std::make_unique<CMainDlg>();
            console_->Tables().acquisitionIntervalMs = 200;
            console_->TabHost().ToggleListening(port_);
            MqttSettings settings = test::BrokerSettings(broker_.Port(), QStringLiteral("node7"));
            settings.relayCommands = true;
            console_->StartPublishing(settings);
        }
        ASSERT_TRUE(watcher_.WaitFor(kNode + "/status", 1));
    }
    void TearDown() override {
        if (service_.state() != QProcess::NotRunning) {
            service_.terminate();
            service_.waitForFinished(3000);
        }
    }

    // Stops the node the way its operator does: SIGTERM, or closing the window.
    void Quit() {
        if (GetParam()) {
            service_.terminate();
            ASSERT_TRUE(service_.waitForFinished(3000));
            EXPECT_EQ(service_.exitCode(), 0);
            return;
        }
        bool stopped = false;
        QObject::connect(console_.get(), &CMainDlg::stopped, [&stopped] { stopped = true; });
        console_->close();
        ASSERT_TRUE(QTest::qWaitFor([&] { return stopped; }, 3000));
        console_.reset();
    }
    QJsonObject LastReading() {
        return QJsonDocument::fromJson(watcher_.Payloads(kDevice + "/reading").constLast())
            .object();
    }

    test::TestBroker broker_;
    test::Watcher watcher_{broker_.Port()};
    quint16 port_ = 0;
    QProcess service_;
    std::unique_ptr<CMainDlg> console_;
};

TEST_P(PublishingTest, ReadingsStatusesAndARelayCommandRoundTrip) {
    auto terminal = StartTerminal(port_);
    ASSERT_TRUE(watcher_.WaitFor(kDevice + "/reading", 2));
    EXPECT_EQ(watcher_.Payloads(kNode + "/status").constLast(), "online");
    EXPECT_EQ(watcher_.Payloads(kDevice + "/status"), QByteArrayList{"online"});
    const QJsonObject reading = LastReading();
    EXPECT_EQ(reading[QStringLiteral("slot")].toInt(), 1);
    EXPECT_EQ(reading[QStringLiteral("name")].toString(), QStringLiteral("一号泵站"));
    EXPECT_EQ(reading[QStringLiteral("channels_mv")].toArray().size(), 4);
    EXPECT_EQ(reading[QStringLiteral("relays")].toArray().size(), 12);
    EXPECT_DOUBLE_EQ(reading[QStringLiteral("reference_v")].toDouble(), 2.5);

    watcher_.Publish(kDevice + "/relay/3/set", "on");
    EXPECT_TRUE(QTest::qWaitFor([&] { return (terminal->board().RelayWord() & 0x4U) != 0; }));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return LastReading()[QStringLiteral("relays")].toArray().at(2).toInt() == 1; }));

    terminal->stop();
    EXPECT_TRUE(watcher_.WaitFor(kDevice + "/status", 2));
    EXPECT_EQ(watcher_.Payloads(kDevice + "/status").constLast(), "offline");
    if (GetParam()) {
        service_.terminate();
        ASSERT_TRUE(service_.waitForFinished(3000));
        EXPECT_EQ(service_.exitCode(), 0);
    } else {
        console_.reset();
    }
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return watcher_.Payloads(kNode + "/status").constLast() == "offline"; }));
}

// Every terminal's "offline" reaches the broker before the node's own.
TEST_P(PublishingTest, QuitSaysEveryTerminalOfflineBeforeItself) {
    auto terminal = StartTerminal(port_);
    ASSERT_TRUE(watcher_.WaitFor(kDevice + "/reading", 1));
    Quit();
    ASSERT_TRUE(
        QTest::qWaitFor([&] { return watcher_.IndexOf(kNode + "/status", "offline") >= 0; }));
    const qsizetype terminalOffline = watcher_.IndexOf(kDevice + "/status", "offline");
    EXPECT_GE(terminalOffline, 0);
    EXPECT_LT(terminalOffline, watcher_.IndexOf(kNode + "/status", "offline"));
}

// "on" then "off" within one of the terminal's replies ends off, and each command gets its
// result in order.
TEST_P(PublishingTest, RelayOnThenOffWithinARoundTripEndsOff) {
    auto terminal = StartTerminal(port_, 600);
    ASSERT_TRUE(watcher_.WaitFor(kDevice + "/reading", 1));
    watcher_.Publish(kDevice + "/relay/3/set", "on");
    watcher_.Publish(kDevice + "/relay/3/set", "off");
    ASSERT_TRUE(watcher_.WaitFor(kDevice + "/relay/3/result", 2));
    EXPECT_EQ(watcher_.Payloads(kDevice + "/relay/3/result"),
              (QByteArrayList{"done on", "done off"}));
    EXPECT_EQ(terminal->board().RelayWord() & 0x4U, 0U);
}

// A node killed with its terminals linked, started again without them: every terminal it had
// is "offline" soon; and a terminal that is gone for good can be forgotten.
TEST(ServicePublishing, KilledThenRestartedSaysOfflineAndForgetRemovesTheTerminal) {
    test::TestBroker broker;
    test::Watcher watcher(broker.Port());
    const quint16 port = test::FreePort();
    QProcess service;
    service.start(QStringLiteral(CORVELLED_PATH), ServiceArguments(port, broker.Port()));
    auto terminal = StartTerminal(port);
    ASSERT_TRUE(watcher.WaitFor(kDevice + "/reading", 1));
    service.kill();
    ASSERT_TRUE(service.waitForFinished(3000));
    terminal->stop();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return watcher.Payloads(kNode + "/status").constLast() == "offline"; }));
    EXPECT_EQ(watcher.Payloads(kDevice + "/status").constLast(), "online");

    service.start(QStringLiteral(CORVELLED_PATH), ServiceArguments(port, broker.Port()));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return watcher.Payloads(kDevice + "/status").constLast() == "offline"; }, 5000));
    service.terminate();
    ASSERT_TRUE(service.waitForFinished(3000));

    const QStringList mqtt = test::MqttArguments(broker.Port(), QStringLiteral("node7"));
    EXPECT_EQ(QProcess::execute(
                  QStringLiteral(CORVELLED_PATH),
                  mqtt + QStringList{QStringLiteral("--mqtt-forget"), QStringLiteral("一号泵站")}),
              0);
    test::Watcher late(broker.Port(), "late");
    ASSERT_TRUE(late.WaitFor(kNode + "/status", 1));
    EXPECT_TRUE(late.Payloads(kDevice + "/status").isEmpty());
    EXPECT_EQ(QProcess::execute(QStringLiteral(CORVELLED_PATH),
                                {QStringLiteral("--mqtt-forget"), QStringLiteral("一号泵站")}),
              2);
}

// The console says once that the broker cannot be reached, and the box goes when it is back.
TEST(ConsolePublishing, ProblemBoxGoesOnceTheBrokerIsBack) {
    test::TestBroker broker;
    broker.Stop();
    CMainDlg console;
    console.StartPublishing(test::BrokerSettings(broker.Port(), QStringLiteral("node8")));
    const auto boxes = [&] { return console.findChildren<QMessageBox*>().size(); };
    // Generous: on a loaded machine the first failed connection can take a while to report.
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes() == 1; }, 20000));
    broker.Start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return boxes() == 0; }, 30000));
}

// A profile names and scales what the service publishes and logs; SIGHUP reloads it without
// dropping the terminal, and a broken file leaves the profile in use.
TEST(ServiceProfiles, PublishedValuesFollowTheFileAcrossReloads) {
    test::TestBroker broker;
    test::Watcher watcher(broker.Port());
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("terminals.toml"));
    const auto write = [&](const QByteArray& name) {
        QFile out(file);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write("[terminals.\"一号泵站\".channels.AD1]\nname = \"" + name +
                  "\"\nunit = \"m\"\nraw = [0.0, 10.0]\nscaled = [0.0, 100.0]\ndecimals = 1\n");
    };
    write("水位");
    const quint16 port = test::FreePort();
    QProcess service;
    service.start(QStringLiteral(CORVELLED_PATH), ServiceArguments(port, broker.Port())
                                                      << QStringLiteral("--config") << file);
    QByteArray log;
    const auto logged = [&](const char* text) {
        log += service.readAllStandardError();
        return log.contains(text);
    };
    auto terminal = StartTerminal(port);
    const auto lastValue = [&] {
        const QByteArrayList readings = watcher.Payloads(kDevice + "/reading");
        const QJsonObject reading = QJsonDocument::fromJson(readings.constLast()).object();
        return reading[QStringLiteral("values")].toArray().at(0).toObject();
    };
    ASSERT_TRUE(watcher.WaitFor(kDevice + "/reading", 1));
    const QJsonObject reading =
        QJsonDocument::fromJson(watcher.Payloads(kDevice + "/reading").constLast()).object();
    const QJsonObject value = reading[QStringLiteral("values")].toArray().at(0).toObject();
    EXPECT_EQ(value[QStringLiteral("channel")].toInt(), 1);
    EXPECT_EQ(value[QStringLiteral("unit")].toString(), QStringLiteral("m"));
    // 0..10 V is 0..100 m, to one decimal.
    EXPECT_NEAR(value[QStringLiteral("value")].toDouble(),
                reading[QStringLiteral("channels_mv")].toArray().at(0).toInt() / 100.0, 0.05001);
    ASSERT_TRUE(watcher.WaitFor(kDevice + "/meta", 1));
    EXPECT_TRUE(watcher.Payloads(kDevice + "/meta").constLast().contains("\"水位\""));
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return logged("identified with 4 channels: AD1 水位 [m]"); }));

    write("液位");
    ::kill(static_cast<pid_t>(service.processId()), SIGHUP);
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return lastValue()[QStringLiteral("name")].toString() == QStringLiteral("液位"); }));
    EXPECT_TRUE(watcher.Payloads(kDevice + "/meta").constLast().contains("\"液位\""));
    std::ofstream(file.toStdString()) << "[terminals\n";
    ::kill(static_cast<pid_t>(service.processId()), SIGHUP);
    EXPECT_TRUE(QTest::qWaitFor([&] { return logged("terminal profiles not reloaded"); }));
    const auto readings = watcher.Payloads(kDevice + "/reading").size();
    ASSERT_TRUE(watcher.WaitFor(kDevice + "/reading", readings + 2));
    EXPECT_EQ(lastValue()[QStringLiteral("name")].toString(), QStringLiteral("液位"));
    EXPECT_EQ(watcher.Payloads(kDevice + "/status"), QByteArrayList{"online"});
    service.terminate();
    EXPECT_TRUE(service.waitForFinished(3000));
}

INSTANTIATE_TEST_SUITE_P(ConsoleAndService, PublishingTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Service" : "Console"; });

}  // namespace
}  // namespace corvelle
