// Readings, statuses and relay commands through a real broker, from the console and from
// corvelled alike, with a simulated terminal at the other end.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMessageBox>
#include <QProcess>
#include <memory>

#include "app/main_dlg.h"
#include "tests/support/free_port.h"
#include "tests/support/test_broker.h"
#include "tools/terminal/terminal.h"

namespace corvelle {
namespace {

const QByteArray kNode = "corvelle/node7";
const QByteArray kDevice = kNode + "/一号泵站";

class PublishingTest : public ::testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        port_ = test::FreePort();
        if (GetParam()) {
            service_.start(
                QStringLiteral(CORVELLED_PATH),
                {QStringLiteral("--port"), QString::number(port_), QStringLiteral("--interval"),
                 QStringLiteral("200"), QStringLiteral("--mqtt"),
                 QStringLiteral("mqtt://127.0.0.1:%1").arg(broker_.Port()),
                 QStringLiteral("--mqtt-id"), QStringLiteral("node7"),
                 QStringLiteral("--mqtt-relay-commands")});
            ASSERT_TRUE(service_.waitForStarted());
        } else {
            console_ = std::make_unique<CMainDlg>();
            console_->Tables().acquisitionIntervalMs = 200;
            console_->TabHost().ToggleListening(port_);
            MqttSettings settings;
            settings.enabled = true;
            settings.host = QStringLiteral("127.0.0.1");
            settings.port = broker_.Port();
            settings.clientId = QStringLiteral("node7");
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

    std::unique_ptr<sim::Terminal> StartTerminal() {
        sim::TerminalConfig config;
        config.port = port_;
        config.name = QStringLiteral("一号泵站");
        config.modelText = "CV4B-SIM";
        config.board.channelCount = 4;
        QString error;
        auto terminals = sim::CreateTerminals(config, 1, error);
        EXPECT_EQ(terminals.size(), 1U) << error.toStdString();
        terminals.front()->start();
        return std::move(terminals.front());
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
    auto terminal = StartTerminal();
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

// The console says once that the broker cannot be reached, and the box goes when it is back.
TEST(ConsolePublishing, ProblemBoxGoesOnceTheBrokerIsBack) {
    test::TestBroker broker;
    broker.Stop();
    CMainDlg console;
    MqttSettings settings;
    settings.enabled = true;
    settings.host = QStringLiteral("127.0.0.1");
    settings.port = broker.Port();
    settings.clientId = QStringLiteral("node8");
    console.StartPublishing(settings);
    const auto boxes = [&] { return console.findChildren<QMessageBox*>().size(); };
    ASSERT_TRUE(QTest::qWaitFor([&] { return boxes() == 1; }, 5000));
    broker.Start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return boxes() == 0; }, 10000));
}

INSTANTIATE_TEST_SUITE_P(ConsoleAndService, PublishingTest, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Service" : "Console"; });

}  // namespace
}  // namespace corvelle
