// Alarms from a simulated terminal past its limits to the console's list and marks, the events
// file and a real broker, acknowledged from the list and from the broker.

#include <gtest/gtest.h>

#include <QAccessible>
#include <QDate>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QPushButton>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include "app/alarm_console.h"
#include "app/main_dlg.h"
#include "device/ui/device_page_dlg.h"
#include "tests/support/free_port.h"
#include "tests/support/service_arguments.h"
#include "tests/support/test_broker.h"
#include "tools/terminal/terminal.h"

namespace corvelle {
namespace {

const QByteArray kAlarmNode = "corvelle/node9/一号泵站/alarm/";

// AD1 past "high" (2 V against 1 V), AD2 past an urgent one (3 V against 2.5 V); or only AD2.
QString PumpLimits(const QTemporaryDir& folder, bool both) {
    QString file = folder.filePath(QStringLiteral("terminals.toml"));
    QFile out(file);
    EXPECT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
    out.write(R"([terminals."一号泵站".channels.AD2]
name = "压力"
high = { limit = 2.5, priority = "紧急" }
)");
    if (both) {
        out.write("[terminals.\"一号泵站\".channels.AD1]\nname = \"水位\"\nhigh = 1\n");
    }
    return file;
}

// 一号泵站 with AD1 at 2 V and AD2 at 3 V, connecting to port.
std::vector<std::unique_ptr<sim::Terminal>> StartPump(quint16 port) {
    sim::TerminalConfig config;
    config.port = port;
    config.name = QStringLiteral("一号泵站");
    config.modelText = "CV4B-SIM";
    config.board.channelCount = 4;
    config.board.waves[0] = {sim::WaveKind::Constant, 2000, 0, 1000};
    config.board.waves[1] = {sim::WaveKind::Constant, 3000, 0, 1000};
    QString error;
    auto terminals = sim::CreateTerminals(config, 1, error);
    for (auto& terminal : terminals) {
        terminal->start();
    }
    return terminals;
}

// The text of a cell as assistive technology reads it.
QString AccessibleCell(QTableWidget& table, int row, int column) {
    QAccessibleInterface* list = QAccessible::queryAccessibleInterface(&table);
    QAccessibleInterface* cell = list->tableInterface()->cellAt(row, column);
    return cell != nullptr ? cell->text(QAccessible::Name) : QString();
}

int RowOf(QTableWidget& table, const QString& source) {
    for (int row = 0; row < table.rowCount(); ++row) {
        if (AccessibleCell(table, row, 2).startsWith(source)) {
            return row;
        }
    }
    return -1;
}

QJsonObject AlarmState(test::Watcher& watcher, const QByteArray& source) {
    return QJsonDocument::fromJson(watcher.Payloads(kAlarmNode + source).constLast()).object();
}

TEST(AlarmEndToEnd, ListMarksAcknowledgementEventsFileAndBroker) {
    test::TestBroker broker;
    test::Watcher watcher(broker.Port());
    QTemporaryDir folder;
    QTemporaryDir profileFolder;
    auto window = std::make_unique<CMainDlg>();
    const QString plainTitle = window->windowTitle();
    window->Tables().acquisitionIntervalMs = 200;
    window->show();
    const quint16 port = test::FreePort();
    window->TabHost().ToggleListening(port);
    MqttSettings settings = test::BrokerSettings(broker.Port(), QStringLiteral("node9"));
    settings.alarmAcks = true;
    window->StartPublishing(settings);
    ASSERT_FALSE(window->Recorder().Start(folder.path()).has_value());
    AlarmConsole& alarms = window->Alarms();
    EXPECT_FALSE(alarms.List().isVisible());
    const QSize plainSize = window->size();
    window->UseProfiles(PumpLimits(profileFolder, true));
    EXPECT_TRUE(alarms.List().isVisible());
    EXPECT_EQ(window->height(), plainSize.height() + AlarmConsole::kListHeight);

    auto terminals = StartPump(port);
    ASSERT_EQ(terminals.size(), 1U);

    QTableWidget& table = alarms.List().Table();
    ASSERT_TRUE(QTest::qWaitFor([&] { return table.rowCount() == 2; }, 10000));
    const int first = RowOf(table, QStringLiteral("AD1"));
    ASSERT_GE(first, 0);
    EXPECT_EQ(AccessibleCell(table, first, 1), QStringLiteral("一号泵站"));
    EXPECT_EQ(AccessibleCell(table, first, 2), QStringLiteral("AD1 水位"));
    EXPECT_EQ(AccessibleCell(table, first, 3), QStringLiteral("高限 1"));
    EXPECT_EQ(AccessibleCell(table, first, 4), QStringLiteral("2"));
    EXPECT_EQ(AccessibleCell(table, first, 5), QStringLiteral("重要"));
    EXPECT_EQ(AccessibleCell(table, first, 6), QStringLiteral("未确认"));
    EXPECT_FALSE(window->Root().child(0)->icon(0).isNull());
    EXPECT_FALSE(window->TabHost().Tabs().tabIcon(0).isNull());
    QTableWidget& values = window->TabHost().PageDlg(0).ValueList();
    EXPECT_FALSE(values.item(0, 2)->icon().isNull());
    EXPECT_TRUE(values.item(2, 2)->icon().isNull());
    EXPECT_EQ(window->windowTitle(), plainTitle + QStringLiteral(" — 2 个未确认报警"));
    // What the README shows of alarms.
    EXPECT_TRUE(window->grab().save(QStringLiteral(CORVELLE_ARTIFACT_DIR "/console-alarms.png")));
    ASSERT_TRUE(watcher.WaitFor(kAlarmNode + "AD2", 1));
    EXPECT_EQ(AlarmState(watcher, "AD2")[QStringLiteral("priority")], QStringLiteral("紧急"));

    // "确认" on the selected row; the broker acknowledges the other.
    table.selectRow(first);
    QPushButton* acknowledge = nullptr;
    for (auto* button : alarms.List().findChildren<QPushButton*>()) {
        acknowledge = button->text() == QStringLiteral("确认") ? button : acknowledge;
    }
    ASSERT_NE(acknowledge, nullptr);
    acknowledge->click();
    watcher.Publish(kAlarmNode + "AD2/ack", "值班员");
    ASSERT_TRUE(QTest::qWaitFor([&] { return window->windowTitle() == plainTitle; }));
    EXPECT_EQ(AccessibleCell(table, RowOf(table, QStringLiteral("AD1")), 6),
              QStringLiteral("已确认"));
    EXPECT_TRUE(window->Root().child(0)->icon(0).isNull());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return AlarmState(watcher, "AD2")[QStringLiteral("acked_by")] == "值班员"; }));
    EXPECT_EQ(AlarmState(watcher, "AD1")[QStringLiteral("state")], QStringLiteral("active_acked"));

    // A reload without AD1's limit clears it; AD2 is shelved from the list.
    ASSERT_FALSE(window->Profiles().Load(PumpLimits(profileFolder, false)).has_value());
    ASSERT_TRUE(QTest::qWaitFor([&] { return table.rowCount() == 1; }));
    EXPECT_TRUE(values.item(0, 2)->icon().isNull());
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return watcher.Payloads(kAlarmNode + "AD1").constLast().isEmpty(); }));
    EXPECT_TRUE(alarms.Watch().Engine().Shelve(window->Tables().deviceNames[0],
                                               {AlarmSource::Kind::Channel, 1}));
    ASSERT_TRUE(QTest::qWaitFor([&] { return table.rowCount() == 0; }));
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return AlarmState(watcher, "AD2")[QStringLiteral("state")] == "shelved"; }));

    terminals.front()->stop();
    bool stopped = false;
    QObject::connect(window.get(), &CMainDlg::stopped, [&stopped] { stopped = true; });
    window->close();
    ASSERT_TRUE(QTest::qWaitFor([&] { return stopped; }, 5000));
    window.reset();
    QFile events(folder.filePath(
        QStringLiteral("events-%1.csv").arg(QDate::currentDate().toString(Qt::ISODate))));
    ASSERT_TRUE(events.open(QIODevice::ReadOnly));
    const QString rows = QString::fromUtf8(events.readAll());
    for (const char* row : {",1,一号泵站,报警,AD1 水位 高限 1 值 2 重要", ",报警确认,AD1 水位",
                            "确认人 操作员", "确认人 值班员", ",1,一号泵站,报警恢复,AD1 水位",
                            ",报警搁置,AD2 压力 高限 2.5 值 3 紧急"}) {
        EXPECT_TRUE(rows.contains(QString::fromUtf8(row))) << row << "\n" << rows.toStdString();
    }
}

TEST(AlarmEndToEnd, ServiceLogsAndTakesAcknowledgementsByBrokerOnly) {
    test::TestBroker broker;
    test::Watcher watcher(broker.Port());
    QTemporaryDir profileFolder;
    const quint16 port = test::FreePort();
    QProcess service;
    service.start(
        QStringLiteral(CORVELLED_PATH),
        test::ServiceArguments(
            port, test::MqttArguments(broker.Port(), QStringLiteral("node9")) +
                      QStringList{QStringLiteral("--config"), PumpLimits(profileFolder, true),
                                  QStringLiteral("--mqtt-commands"), QStringLiteral("ack")}));
    ASSERT_TRUE(service.waitForStarted());
    auto terminals = StartPump(port);
    ASSERT_EQ(terminals.size(), 1U);

    ASSERT_TRUE(watcher.WaitFor(kAlarmNode + "AD1", 1));
    ASSERT_TRUE(watcher.WaitFor(kAlarmNode + "AD2", 1));
    watcher.Publish(kAlarmNode + "AD1/ack", "");
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return AlarmState(watcher, "AD1")[QStringLiteral("state")] == "active_acked"; }));
    EXPECT_EQ(AlarmState(watcher, "AD1")[QStringLiteral("acked_by")], QStringLiteral("MQTT"));
    terminals.front()->stop();
    service.terminate();
    ASSERT_TRUE(service.waitForFinished(5000));
    const QString log = QString::fromUtf8(service.readAllStandardError());
    EXPECT_TRUE(log.contains(QStringLiteral("warning: alarm raised: AD1 水位 高限 1 值 2 重要")))
        << log.toStdString();
    EXPECT_TRUE(log.contains(QStringLiteral("error: alarm raised: AD2 压力 高限 2.5 值 3 紧急")));
    EXPECT_TRUE(log.contains(QStringLiteral("warning: alarm acknowledged: AD1")));
}

}  // namespace
}  // namespace corvelle
