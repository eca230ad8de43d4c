#include <gtest/gtest.h>
#include <mosquitto.h>

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QStringEncoder>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <atomic>
#include <csignal>
#include <memory>
#include <mutex>
#include <thread>

#include "mqtt/mqtt_link.h"
#include "mqtt/mqtt_publisher.h"
#include "tests/support/free_port.h"
#include "tests/support/test_broker.h"
#include "tests/support/test_files.h"

namespace corvelle {
namespace {

using test::TestBroker;
using test::Watcher;

const QByteArray kStatus = "corvelle/console/status";
const QByteArray kConsoleEvent = "corvelle/console/event";
// 一号泵站 in GB2312, as a terminal sends it.
const std::vector<std::uint8_t> kPump{0xD2, 0xBB, 0xBA, 0xC5, 0xB1, 0xC3, 0xD5, 0xBE};
const QByteArray kPumpTopic = "corvelle/console/一号泵站";

MqttSettings Settings(quint16 port) {
    return test::BrokerSettings(port, QStringLiteral("console"));
}

Reading MakeReading(const std::vector<std::uint8_t>& name, std::uint8_t channels,
                    std::int16_t signal) {
    Reading reading;
    reading.time = {2026, 12, 8, 10, 15, 30, 123, 8 * 3600};
    reading.slot = 1;
    reading.name = name;
    reading.channelCount = channels;
    reading.signalValue = signal;
    return reading;
}

AcquisitionEvent MakeEvent(EventKind kind, int slot, const std::vector<std::uint8_t>& name,
                           const std::string& peer = {}, std::int64_t value = 0) {
    AcquisitionEvent event;
    event.time = {2026, 12, 8, 10, 15, 30, 123, 8 * 3600};
    event.kind = kind;
    event.slot = slot;
    event.name = name;
    event.peer = peer;
    event.value = value;
    event.reason = CloseReason::RegistrationTimeout;
    return event;
}

QJsonObject Json(const QByteArray& payload) {
    return QJsonDocument::fromJson(payload).object();
}

QString Detail(const QByteArray& payload) {
    return Json(payload)[QStringLiteral("detail")].toString();
}

TEST(MqttPublisher, PublishesReadingsEventsAndRetainedStatuses) {
    TestBroker broker;
    Watcher watcher(broker.Port());
    auto publisher = std::make_unique<MqttPublisher>(Settings(broker.Port()));
    publisher->Start();
    ASSERT_TRUE(watcher.WaitFor(kStatus, 1));

    Reading four = MakeReading(kPump, 4, 7);
    four.channelMillivolts = {-1234, 5, 32767, -32768, 99};
    four.inputs[1] = 1;
    four.relays[0] = four.relays[2] = four.relays[11] = 1;
    four.temperatureCentidegrees = -525;
    four.referenceMillivolts = 2500;
    four.supplyCentivolts = 1205;
    const Reading twelve = MakeReading({'B', '2'}, 12, 3);
    publisher->OnEvent(MakeEvent(EventKind::Connected, 0, {}, "127.0.0.1:4999"));
    publisher->OnEvent(MakeEvent(EventKind::Identified, 1, kPump, {}, 4));
    publisher->OnReading(four);
    publisher->OnReading(twelve);
    publisher->OnEvent(MakeEvent(EventKind::Detached, 2, {'B', '2'}, "127.0.0.1:5000"));
    publisher->OnEvent(MakeEvent(EventKind::ClosedByConsole, 0, {}, "127.0.0.1:5001"));
    // One connection keeps the order: the last one in means all are in.
    ASSERT_TRUE(watcher.WaitFor(kConsoleEvent, 1));

    EXPECT_EQ(Json(watcher.Payloads(kPumpTopic + "/reading").value(0)),
              Json(R"({"time":"2026-12-08T10:15:30.123+08:00","slot":1,"name":"一号泵站",
                       "channels_mv":[-1234,5,32767,-32768],"inputs":[0,1,0,0,0,0,0,0,0,0,0,0],
                       "relays":[1,0,1,0,0,0,0,0,0,0,0,1],"temperature_c":-5.25,
                       "reference_v":2.5,"supply_v":12.05,"signal":7,"seq":1})"));
    EXPECT_EQ(
        Json(
            watcher.Payloads("corvelle/console/B2/reading").value(0))[QStringLiteral("channels_mv")]
            .toArray()
            .size(),
        12);
    EXPECT_EQ(Json(watcher.Payloads(kPumpTopic + "/event").value(0)),
              Json(R"({"time":"2026-12-08T10:15:30.123+08:00","slot":1,"name":"一号泵站",
                       "event":"identified","detail":"identified with 4 channels"})"));
    EXPECT_EQ(Detail(watcher.Payloads("corvelle/console/B2/event").value(0)),
              "detached (127.0.0.1:5000)");
    EXPECT_EQ(watcher.Payloads(kConsoleEvent).size(), 1);
    EXPECT_EQ(Detail(watcher.Payloads(kConsoleEvent).value(0)),
              "closed by the console: registration timeout (127.0.0.1:5001)");

    Watcher late(broker.Port(), "late");
    ASSERT_TRUE(late.WaitFor(kPumpTopic + "/status", 1));
    EXPECT_EQ(late.Payloads(kStatus, true), QByteArrayList{"online"});
    EXPECT_EQ(late.Payloads(kPumpTopic + "/status", true), QByteArrayList{"online"});
    // B2 never identified: anyone can register and leave, and leaves nothing retained.
    EXPECT_TRUE(late.Payloads("corvelle/console/B2/status").isEmpty());

    QElapsedTimer stopping;
    stopping.start();
    publisher.reset();
    EXPECT_LT(stopping.elapsed(), 2000);
    ASSERT_TRUE(late.WaitFor(kStatus, 2));
    EXPECT_EQ(late.Payloads(kStatus).last(), "offline");
}

TEST(MqttPublisher, LastWillWhenTheConnectionDiesThenOnlineAgain) {
    TestBroker broker;
    Watcher watcher(broker.Port());
    MqttPublisher publisher(Settings(broker.Port()));
    publisher.Start();
    ASSERT_TRUE(watcher.WaitFor(kStatus, 1));
    // A client of the same id makes the broker drop the publisher's connection unannounced.
    mosquitto* impostor = mosquitto_new("console", true, nullptr);
    mosquitto_connect(impostor, "127.0.0.1", broker.Port(), 60);
    ASSERT_TRUE(watcher.WaitFor(kStatus, 2));
    mosquitto_destroy(impostor);
    ASSERT_TRUE(watcher.WaitFor(kStatus, 3));
    EXPECT_EQ(watcher.Payloads(kStatus), (QByteArrayList{"online", "offline", "online"}));
}

TEST(MqttPublisher, BrokerRestartLosesNothingQueuedButTheOldestPastTheBound) {
    TestBroker broker;
    MqttSettings settings = Settings(broker.Port());
    settings.queueLimit = 5;
    MqttPublisher publisher(settings);
    QSignalSpy states(&publisher, &MqttPublisher::stateChanged);
    QSignalSpy log(&publisher, &MqttPublisher::logLine);
    publisher.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return states.count() == 1; }));

    // 1..3 go out to a broker that dies before acknowledging them; 4..8 wait while it is down.
    broker.Pause();
    for (std::int16_t signal = 1; signal <= 3; ++signal) {
        publisher.OnReading(MakeReading(kPump, 4, signal));
    }
    QTest::qWait(200);
    broker.Kill();
    ASSERT_TRUE(QTest::qWaitFor([&] { return states.count() == 2; }));
    EXPECT_TRUE(states.at(1).at(1).toBool());
    for (std::int16_t signal = 4; signal <= 8; ++signal) {
        publisher.OnReading(MakeReading(kPump, 4, signal));
    }
    broker.Start();
    // Subscribed well before the publisher's retry, 1 s after the loss.
    Watcher watcher(broker.Port());
    ASSERT_TRUE(watcher.WaitFor(kPumpTopic + "/reading", 5));

    QList<int> signalValues;
    for (const QByteArray& payload : watcher.Payloads(kPumpTopic + "/reading")) {
        signalValues.append(Json(payload)[QStringLiteral("signal")].toInt());
    }
    EXPECT_EQ(signalValues, (QList<int>{4, 5, 6, 7, 8}));
    ASSERT_EQ(watcher.Payloads(kConsoleEvent).size(), 1);
    EXPECT_EQ(Json(watcher.Payloads(kConsoleEvent).value(0))[QStringLiteral("event")], "dropped");
    EXPECT_EQ(Detail(watcher.Payloads(kConsoleEvent).value(0)), "3 readings dropped");
    // Logged once the broker has taken the count.
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.count() == 1; }));
    EXPECT_TRUE(log.at(0).at(0).toString().contains(QStringLiteral("3 messages dropped")));
}

TEST(MqttPublisher, RelayCommandsOnlyWhenEnabledAndOnlyWellFormedOnesEachWithAResult) {
    TestBroker broker;
    Watcher watcher(broker.Port());
    MqttSettings commanded = Settings(broker.Port());
    commanded.relayCommands = true;
    MqttPublisher publisher(commanded);
    MqttSettings deaf = Settings(broker.Port());
    deaf.clientId = QStringLiteral("deaf");
    MqttPublisher other(deaf);
    struct Switched {
        std::vector<std::uint8_t> name;
        std::size_t relay;
        bool on;
    };
    std::vector<Switched> switched;
    const auto relaySwitch = [&](std::span<const std::uint8_t> name, std::size_t relay, bool on) {
        switched.push_back({{name.begin(), name.end()}, relay, on});
        return relay == 12 ? RelayRequest::AlreadySo : RelayRequest::Sent;
    };
    publisher.SetRelaySwitch(relaySwitch);
    other.SetRelaySwitch(relaySwitch);
    QSignalSpy log(&publisher, &MqttPublisher::logLine);
    QSignalSpy otherLog(&other, &MqttPublisher::logLine);
    publisher.Start();
    other.Start();
    publisher.OnEvent(MakeEvent(EventKind::Identified, 1, kPump, {}, 4));
    other.OnEvent(MakeEvent(EventKind::Identified, 1, kPump, {}, 4));
    ASSERT_TRUE(watcher.WaitFor(kPumpTopic + "/status", 1));
    ASSERT_TRUE(watcher.WaitFor("corvelle/deaf/一号泵站/status", 1));

    watcher.Publish("corvelle/deaf/一号泵站/relay/3/set", "on");
    watcher.Publish(kPumpTopic + "/relay/3/set", "on");
    watcher.Publish(kPumpTopic + "/relay/12/set", "off");
    watcher.Publish(kPumpTopic + "/relay/13/set", "on");
    watcher.Publish(kPumpTopic + "/relay/3/set", "toggle");
    watcher.Publish("corvelle/console/unseen/relay/1/set", "on");
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.count() == 3; }));

    ASSERT_EQ(switched.size(), 2U);
    EXPECT_EQ(switched[0].name, kPump);
    EXPECT_EQ(switched[0].relay, 3U);
    EXPECT_TRUE(switched[0].on);
    EXPECT_EQ(switched[1].relay, 12U);
    EXPECT_FALSE(switched[1].on);
    EXPECT_EQ(otherLog.count(), 0);
    // Relay 12 already was off; relay 3 waits for its terminal's echo.
    ASSERT_TRUE(watcher.WaitFor(kPumpTopic + "/relay/12/result", 1));
    EXPECT_EQ(watcher.Payloads(kPumpTopic + "/relay/12/result"), QByteArrayList{"done off"});
    ASSERT_TRUE(watcher.WaitFor("corvelle/console/unseen/relay/1/result", 1));
    EXPECT_EQ(watcher.Payloads("corvelle/console/unseen/relay/1/result"),
              QByteArrayList{"not identified"});
    EXPECT_TRUE(watcher.Payloads(kPumpTopic + "/relay/3/result").isEmpty());
    AcquisitionEvent echo = MakeEvent(EventKind::RelayEcho, 1, kPump, {}, 3);
    echo.on = true;
    publisher.OnEvent(echo);
    ASSERT_TRUE(watcher.WaitFor(kPumpTopic + "/relay/3/result", 1));
    EXPECT_EQ(watcher.Payloads(kPumpTopic + "/relay/3/result"), QByteArrayList{"done on"});
    EXPECT_TRUE(watcher.Payloads("corvelle/deaf/一号泵站/relay/3/result").isEmpty());
}

TEST(MqttPublisher, WrongPasswordReportedOnceAndRetried) {
    QTemporaryDir dir;
    const QString passwords = dir.filePath(QStringLiteral("passwords"));
    const auto setPassword = [&](const char* password) {
        ASSERT_EQ(QProcess::execute(QStringLiteral("mosquitto_passwd"),
                                    {"-c", "-b", passwords, "console", password}),
                  0);
    };
    setPassword("right");
    TestBroker broker(QStringLiteral("allow_anonymous false\npassword_file %1\n").arg(passwords));
    MqttSettings settings = Settings(broker.Port());
    settings.user = QStringLiteral("console");
    settings.password = QStringLiteral("wrong");
    MqttPublisher publisher(settings);
    QSignalSpy states(&publisher, &MqttPublisher::stateChanged);
    publisher.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return states.count() == 1; }));
    EXPECT_TRUE(states.at(0).at(0).toString().contains(QStringLiteral("refused")));
    EXPECT_TRUE(states.at(0).at(1).toBool());
    // The second attempt, 1 s later, is refused too, and said no more.
    QTest::qWait(1500);
    EXPECT_EQ(states.count(), 1);

    setPassword("wrong");
    broker.Stop();
    broker.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return states.count() == 2; }, 5000));
    EXPECT_FALSE(states.at(1).at(1).toBool());
}

// What a killed node left retained is corrected at the next connection, and what the node holds
// is back after a broker restart that lost everything.
TEST(MqttPublisher, StaleRetainedTopicsCorrectedAndStatusesBackAfterABrokerRestart) {
    TestBroker broker;
    {
        Watcher before(broker.Port(), "before");
        before.Publish("corvelle/console/ghost/status", "online", true);
        before.Publish("corvelle/console/ghost/meta", "{}", true);
        before.Publish(kPumpTopic + "/relay/1/set", "on", true);
        ASSERT_TRUE(before.WaitFor(kPumpTopic + "/relay/1/set", 1));
    }
    MqttPublisher publisher(Settings(broker.Port()));
    QSignalSpy states(&publisher, &MqttPublisher::stateChanged);
    publisher.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return states.count() == 1; }));
    publisher.OnEvent(MakeEvent(EventKind::Identified, 1, kPump, {}, 4));

    // The broker may take the corrections after this subscription, but always before the
    // terminal's status, which went after them.
    Watcher late(broker.Port(), "late");
    ASSERT_TRUE(late.WaitFor(kPumpTopic + "/status", 1));
    ASSERT_TRUE(late.WaitFor("corvelle/console/ghost/status", 1));
    EXPECT_EQ(late.Payloads("corvelle/console/ghost/status").constLast(), "offline");
    // A removal the broker took before this subscription leaves nothing to receive.
    const auto lastOrNothing = [&late](const QByteArray& topic) {
        const auto payloads = late.Payloads(topic);
        return payloads.isEmpty() ? QByteArray() : payloads.constLast();
    };
    EXPECT_EQ(lastOrNothing("corvelle/console/ghost/meta"), "");
    EXPECT_EQ(lastOrNothing(kPumpTopic + "/relay/1/set"), "");

    broker.Stop();
    broker.Start();
    Watcher after(broker.Port(), "after");
    ASSERT_TRUE(after.WaitFor(kStatus, 1));
    EXPECT_EQ(after.Payloads(kStatus), QByteArrayList{"online"});
    EXPECT_EQ(after.Payloads(kPumpTopic + "/status"), QByteArrayList{"online"});
    EXPECT_EQ(after.Payloads("corvelle/console/ghost/status"), QByteArrayList{"offline"});
}

TEST(MqttPublisher, QueueOverflowDropsReadingsButNeverAStatus) {
    TestBroker broker;
    broker.Stop();
    MqttSettings settings = Settings(broker.Port());
    settings.queueLimit = 5;
    MqttPublisher publisher(settings);
    publisher.Start();
    publisher.OnEvent(MakeEvent(EventKind::Identified, 1, kPump, {}, 4));
    publisher.OnEvent(MakeEvent(EventKind::Detached, 1, kPump));
    publisher.OnEvent(MakeEvent(EventKind::Identified, 2, {'B', '2'}, {}, 12));
    for (std::int16_t signal = 1; signal <= 20; ++signal) {
        publisher.OnReading(MakeReading({'B', '2'}, 12, signal));
    }
    broker.Start();
    Watcher watcher(broker.Port());
    ASSERT_TRUE(watcher.WaitFor("corvelle/console/B2/reading", 5));
    EXPECT_EQ(watcher.Payloads(kPumpTopic + "/status"), QByteArrayList{"offline"});
    EXPECT_EQ(watcher.Payloads("corvelle/console/B2/status"), QByteArrayList{"online"});
    EXPECT_EQ(Json(watcher.Payloads("corvelle/console/B2/reading").value(0))[QStringLiteral("seq")],
              16);
    ASSERT_TRUE(watcher.WaitFor(kConsoleEvent, 1));
    EXPECT_EQ(Detail(watcher.Payloads(kConsoleEvent).value(0)), "18 readings dropped");
}

// Someone waits for a relay command's result: a full queue gives up readings first.
TEST(MqttLink, PastItsBoundReadingsGoBeforeRelayResults) {
    TestBroker broker;
    MqttSettings settings = Settings(broker.Port());
    settings.queueLimit = 3;
    const auto ignore = [](auto&&...) {};
    MqttLink link(settings, {.state = ignore, .log = ignore, .relay = ignore, .alarmAck = ignore});
    link.Enqueue(RelayResult{"B2", 1, "done on"});
    for (std::int16_t signal = 1; signal <= 5; ++signal) {
        link.Enqueue(NumberedReading{MakeReading({'B', '2'}, 12, signal), 1});
    }
    EXPECT_EQ(link.Counts().dropped, 3U);
    Watcher watcher(broker.Port());
    std::thread network([&link] { link.Run(); });
    const bool arrived = watcher.WaitFor("corvelle/console/B2/relay/1/result", 1);
    link.RequestStop();
    network.join();
    ASSERT_TRUE(arrived);
    EXPECT_EQ(watcher.Payloads("corvelle/console/B2/relay/1/result"), QByteArrayList{"done on"});
}

TEST(MqttPublisher, AMessageTheBrokerDisconnectsForIsDroppedAfterThreeTries) {
    TestBroker broker(test::kAnonymous + QStringLiteral("max_packet_size 1000\n"));
    MqttPublisher publisher(Settings(broker.Port()));
    QSignalSpy states(&publisher, &MqttPublisher::stateChanged);
    QSignalSpy log(&publisher, &MqttPublisher::logLine);
    publisher.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return states.count() == 1; }));
    AcquisitionEvent huge = MakeEvent(EventKind::RecordingFileRemoved, 1, kPump);
    huge.detail = std::string(3000, 'x');
    publisher.OnEvent(huge);
    publisher.OnReading(MakeReading(kPump, 4, 1));
    Watcher watcher(broker.Port());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return !watcher.Payloads(kPumpTopic + "/reading").isEmpty(); }, 20000));
    EXPECT_TRUE(watcher.Payloads(kPumpTopic + "/event").isEmpty());
    ASSERT_EQ(log.count(), 1);
    EXPECT_TRUE(log.at(0).at(0).toString().contains(QStringLiteral("that message is dropped")));
    EXPECT_EQ(publisher.Counts().dropped, 1U);
    // Connected, lost, and no more boxes while it kept being lost.
    EXPECT_EQ(states.count(), 2);
}

TEST(MqttPublisher, AnotherClientWithTheSameIdIsReportedOnce) {
    TestBroker broker;
    MqttPublisher first(Settings(broker.Port()));
    MqttPublisher second(Settings(broker.Port()));
    QSignalSpy states(&first, &MqttPublisher::stateChanged);
    first.Start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return states.count() == 1; }));
    second.Start();
    const auto contested = [&] {
        return std::count_if(states.begin(), states.end(), [](const QVariantList& state) {
            return state.at(0).toString().contains(QStringLiteral("another client uses the id"));
        });
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return contested() == 1; }, 10000));
    const qsizetype reported = states.count();
    QTest::qWait(4000);
    EXPECT_EQ(states.count(), reported);
}

// Noncharacters and C1 controls, which a GB18030 name can carry, would make libmosquitto refuse
// every topic of that terminal.
TEST(MqttPublisher, NamesWithCodePointsMqttForbidsArePublishedUnderSafeLevels) {
    TestBroker broker;
    Watcher watcher(broker.Port());
    MqttPublisher publisher(Settings(broker.Port()));
    publisher.Start();
    QStringEncoder gb18030("GB18030");
    int slot = 0;
    for (const QString& name : {QStringLiteral("泵\uFFFF站"), QStringLiteral("泵\uFDD0站"),
                                QStringLiteral("泵\u0085站")}) {
        const QByteArray bytes = gb18030.encode(name);
        const std::vector<std::uint8_t> raw(bytes.begin(), bytes.end());
        publisher.OnEvent(MakeEvent(EventKind::Identified, ++slot, raw, {}, 4));
        publisher.OnReading(MakeReading(raw, 4, 1));
    }
    const auto readingTopics = [&] {
        QByteArrayList topics = watcher.Topics();
        topics.removeIf([](const QByteArray& topic) { return !topic.endsWith("/reading"); });
        return topics;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return readingTopics().size() == 3; }));
    for (const QByteArray& topic : readingTopics()) {
        EXPECT_TRUE(topic.startsWith("corvelle/console/泵") && topic.contains('~'))
            << topic.toStdString();
        const QByteArray status = topic.chopped(int(sizeof "reading") - 1) + "status";
        EXPECT_EQ(watcher.Payloads(status), QByteArrayList{"online"}) << status.toStdString();
    }
}

// A node that may not read its own topics still comes online, and says once what it cannot do.
TEST(MqttPublisher, WithoutReadAccessToItsOwnTopicsSaysSoOnce) {
    QTemporaryDir dir;
    const QString acl = dir.filePath(QStringLiteral("acl"));
    ASSERT_TRUE(test::WriteFile(
        acl.toStdString(), "topic write corvelle/console/#\ntopic read corvelle/console/status\n"));
    TestBroker broker(test::kAnonymous + QStringLiteral("acl_file %1\n").arg(acl));
    Watcher watcher(broker.Port());
    MqttPublisher publisher(Settings(broker.Port()));
    QSignalSpy log(&publisher, &MqttPublisher::logLine);
    publisher.Start();
    // mosquitto grants the subscription and then delivers nothing: the mark never comes.
    ASSERT_TRUE(QTest::qWaitFor([&] { return log.count() == 1; }, 10000));
    EXPECT_TRUE(log.at(0).at(0).toString().contains(QStringLiteral("cannot read back")));
    EXPECT_TRUE(watcher.WaitFor(kStatus, 1));
}

// A publisher connected to a port that accepts and never answers, as a hung broker does.
class SilentBrokerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_TRUE(silent_.listen(QHostAddress::LocalHost));
        publisher_ = std::make_unique<MqttPublisher>(Settings(silent_.serverPort()));
        publisher_->Start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return silent_.hasPendingConnections(); }));
    }

    QTcpServer silent_;
    std::unique_ptr<MqttPublisher> publisher_;
};

TEST_F(SilentBrokerTest, StopIsBounded) {
    QElapsedTimer stopping;
    stopping.start();
    publisher_->Stop();
    EXPECT_LT(stopping.elapsed(), 2000);
}

// What a broker never took at a stop is counted for the log, not silently thrown away.
TEST_F(SilentBrokerTest, WhatIsLeftAtAStopIsCounted) {
    publisher_->OnEvent(MakeEvent(EventKind::Identified, 1, kPump, {}, 4));
    for (std::int16_t signal = 1; signal <= 3; ++signal) {
        publisher_->OnReading(MakeReading(kPump, 4, signal));
    }
    publisher_->BeginStop();
    // Three readings, the identification's event and the terminal's retained status.
    EXPECT_EQ(publisher_->Abandon(), 5U);
}

}  // namespace
}  // namespace corvelle
