#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSignalSpy>
#include <QTest>

#include "alarm/alarm_engine.h"
#include "mqtt/mqtt_publisher.h"
#include "tests/support/test_broker.h"

namespace corvelle {
namespace {

// 一号泵站 in GB2312.
const std::vector<std::uint8_t> kAlarmedPump{0xD2, 0xBB, 0xBA, 0xC5, 0xB1, 0xC3, 0xD5, 0xBE};
const QByteArray kAlarmTopic = "corvelle/console/一号泵站/alarm/AD3";

MqttSettings AlarmSettings(quint16 port, const QString& id, bool acks) {
    MqttSettings settings = test::BrokerSettings(port, id);
    settings.alarmAcks = acks;
    return settings;
}

AcquisitionEvent AlarmOf(AlarmChange change, AlarmState state) {
    AlarmTransition transition{change, {}};
    AlarmSnapshot& alarm = transition.alarm;
    alarm.name = kAlarmedPump;
    alarm.slot = 1;
    alarm.source = {AlarmSource::Kind::Channel, 2};
    alarm.state = state;
    alarm.condition = {true, AlarmPriority::Urgent, LimitKind::HighHigh, 9.5};
    alarm.value = 9.75;
    alarm.raisedAt = {2026, 12, 8, 10, 15, 30, 0, 8 * 3600};
    return AlarmEvent(transition, alarm.raisedAt);
}

TEST(MqttAlarms, RetainedStatesAndAcknowledgementsOnlyWhenTaken) {
    test::TestBroker broker;
    test::Watcher watcher(broker.Port());
    MqttPublisher publisher(AlarmSettings(broker.Port(), QStringLiteral("console"), true));
    MqttPublisher deaf(AlarmSettings(broker.Port(), QStringLiteral("deaf"), false));
    std::vector<std::pair<AlarmSource, std::string>> acked;
    const auto acknowledge = [&](std::span<const std::uint8_t> name, AlarmSource source,
                                 const std::string& by) {
        EXPECT_TRUE(std::equal(name.begin(), name.end(), kAlarmedPump.begin(), kAlarmedPump.end()));
        acked.emplace_back(source, by);
        return true;
    };
    publisher.SetAlarmAcknowledge(acknowledge);
    deaf.SetAlarmAcknowledge(acknowledge);
    QSignalSpy log(&publisher, &MqttPublisher::logLine);
    publisher.Start();
    deaf.Start();
    publisher.OnEvent(AlarmOf(AlarmChange::Raised, AlarmState::ActiveUnacked));
    deaf.OnEvent(AlarmOf(AlarmChange::Raised, AlarmState::ActiveUnacked));
    ASSERT_TRUE(watcher.WaitFor(kAlarmTopic, 1));
    ASSERT_TRUE(watcher.WaitFor("corvelle/deaf/一号泵站/alarm/AD3", 1));
    const QJsonObject state =
        QJsonDocument::fromJson(watcher.Payloads(kAlarmTopic).value(0)).object();
    EXPECT_EQ(state[QStringLiteral("state")], QStringLiteral("active_unacked"));
    EXPECT_EQ(state[QStringLiteral("priority")], QStringLiteral("紧急"));
    EXPECT_EQ(state[QStringLiteral("limit")], 9.5);
    EXPECT_EQ(state[QStringLiteral("value")], 9.75);
    EXPECT_EQ(state[QStringLiteral("text")], QStringLiteral("high_high"));
    EXPECT_EQ(state[QStringLiteral("raised_at")], QStringLiteral("2026-12-08T10:15:30.000+08:00"));
    EXPECT_TRUE(state[QStringLiteral("acked_at")].isNull());

    watcher.Publish("corvelle/deaf/一号泵站/alarm/AD3/ack", "");
    watcher.Publish(kAlarmTopic + "/ack", "");
    watcher.Publish(kAlarmTopic + "/ack", "值班员\x07");
    watcher.Publish(kAlarmTopic + "/ack", QByteArray(65, 'x'));
    watcher.Publish("corvelle/console/一号泵站/alarm/AD13/ack", "");
    ASSERT_TRUE(QTest::qWaitFor([&] { return acked.size() == 2 && log.count() == 2; }))
        << acked.size() << " " << log.count();
    EXPECT_EQ(acked[0].first.Id(), "AD3");
    EXPECT_EQ(acked[0].second, "MQTT");
    EXPECT_EQ(acked[1].second, "值班员?");

    // Returned and acknowledged: the topic goes.
    publisher.OnEvent(AlarmOf(AlarmChange::Cleared, AlarmState::Normal));
    ASSERT_TRUE(watcher.WaitFor(kAlarmTopic, 2));
    EXPECT_EQ(watcher.Payloads(kAlarmTopic).value(1), QByteArray());
}

}  // namespace
}  // namespace corvelle
