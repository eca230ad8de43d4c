#include <gtest/gtest.h>

#include <QAccessible>
#include <QDate>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QHash>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPaintEvent>
#include <QPushButton>
#include <QRegion>
#include <QSignalSpy>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <numeric>

#include "app/about_box.h"
#include "app/main_dlg.h"
#include "chart/ct_chart.h"
#include "device/ui/device_page_dlg.h"
#include "history/ui/history_window.h"
#include "profile/profile_file.h"
#include "profile/ui/channel_settings_dlg.h"
#include "protocol/modbus_ascii.h"
#include "protocol/registration.h"
#include "settings/ui/settings_dlg.h"
#include "tests/support/free_port.h"
#include "tests/support/test_files.h"
#include "tools/terminal/terminal.h"

namespace corvelle {
namespace {

std::vector<std::uint8_t> Frame(std::vector<std::uint8_t> bytes) {
    const std::string text = EncodeAsciiFrame(bytes);
    return {text.begin(), text.end()};
}

QStringList Column(const QTableWidget& list, int column) {
    QStringList cells;
    for (int row = 0; row < list.rowCount(); ++row) {
        cells << list.item(row, column)->text();
    }
    return cells;
}

// A simulated terminal of that name connecting to port; nothing when it cannot be made.
std::unique_ptr<sim::Terminal> StartedTerminal(quint16 port, const QString& name) {
    sim::TerminalConfig config;
    config.port = port;
    config.name = name;
    QString error;
    auto terminals = sim::CreateTerminals(config, 1, error);
    if (terminals.size() != 1) {
        return nullptr;
    }
    terminals.front()->start();
    return std::move(terminals.front());
}

class ConsoleTest : public ::testing::Test {
  protected:
    void SetUp() override {
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }

    QTreeWidgetItem* TreeItem(int slot) { return window.Root().child(slot); }
    CDevicePageDlg& PageDlg(int slot) { return window.TabHost().PageDlg(slot); }
    QTabWidget& Tabs() { return window.TabHost().Tabs(); }

    void ClickTreeAt(QPoint pos) {
        QTest::mouseClick(window.Tree().viewport(), Qt::LeftButton, {}, pos);
    }
    void ClickTreeItem(QTreeWidgetItem* item) {
        ClickTreeAt(window.Tree().visualItemRect(item).center());
    }
    void ClickTab(int index) {
        QTabBar& bar = *Tabs().tabBar();
        QTest::mouseClick(&bar, Qt::LeftButton, {}, bar.tabRect(index).center());
    }
    template <typename Widget>
    Widget& Find(const char* name) {
        auto* widget = window.findChild<Widget*>(QString::fromLatin1(name));
        EXPECT_NE(widget, nullptr) << name;
        return *widget;
    }

    CMainDlg window;
};

TEST_F(ConsoleTest, StartUpState) {
    EXPECT_EQ(window.windowTitle(), QStringLiteral("Corvelle采集程序"));
    EXPECT_EQ(window.Root().text(0), QStringLiteral("设备列表"));
    EXPECT_EQ(window.Tree().currentItem(), &window.Root());
    ASSERT_EQ(window.Root().childCount(), 8);
    ASSERT_EQ(Tabs().count(), 8);
    for (int slot = 0; slot < 8; ++slot) {
        const QString name = QStringLiteral("未连接设备%1").arg(slot + 1);
        EXPECT_EQ(TreeItem(slot)->text(0), name);
        EXPECT_EQ(Tabs().tabText(slot), name);
    }
    EXPECT_EQ(Tabs().currentIndex(), 0);
    EXPECT_TRUE(PageDlg(0).isVisible());
    EXPECT_FALSE(PageDlg(1).isVisible());

    const QTableWidget& list = PageDlg(0).ValueList();
    EXPECT_EQ(Column(list, 1), (QStringList{"AD1", "AD2", "AD3", "AD4", "AD5", "AD6", "温度",
                                            "基准", "电源", "信号"}));
    EXPECT_EQ(Column(list, 2), (QStringList{"0.000V", "0.000V", "0.000V", "0.000V", "0.000V",
                                            "0.000V", "0.00℃", "0.000V", "0.00V", "0"}));
    EXPECT_EQ(Column(list, 0), (QStringList{"0", "1", "2", "3", "4", "5", "", "", "", ""}));
    EXPECT_EQ(PageDlg(0).StatusLabel().text(), QStringLiteral("          未连接         "));
    for (std::size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(PageDlg(0).InputLamp(i).accessibleDescription(), QStringLiteral("熄灭"));
        EXPECT_EQ(PageDlg(0).RelayLamp(i).accessibleDescription(), QStringLiteral("熄灭"));
        EXPECT_EQ(PageDlg(0).RelayButton(i).text(), QStringLiteral("打开"));
    }
    EXPECT_EQ(Find<QPushButton>("button1006").text(), QStringLiteral("开始监听"));
    EXPECT_EQ(Find<QLineEdit>("ctl1005").text(), QStringLiteral("20000"));
    EXPECT_EQ(Find<QLineEdit>("ctl1007").text(), QStringLiteral("3000"));
    EXPECT_EQ(window.Tables().acquisitionIntervalMs, 3000U);
}

TEST_F(ConsoleTest, TreeClicksChoosePagesAndKeysDoNot) {
    ClickTreeItem(TreeItem(3));
    EXPECT_EQ(Tabs().currentIndex(), 3);
    ClickTreeItem(TreeItem(6));
    // Blank space below the last item changes nothing.
    ClickTreeAt(QPoint(20, window.Tree().viewport()->height() - 3));
    EXPECT_EQ(Tabs().currentIndex(), 6);
    window.Tree().setFocus();
    QTest::keyClick(&window.Tree(), Qt::Key_Up);
    EXPECT_EQ(window.Tree().currentItem(), TreeItem(5));
    EXPECT_EQ(Tabs().currentIndex(), 6);
    // The root stands for slot 0, also when its expand button is hit.
    ClickTreeAt(QPoint(3, window.Tree().visualItemRect(&window.Root()).center().y()));
    EXPECT_EQ(Tabs().currentIndex(), 0);
    EXPECT_FALSE(window.Root().isExpanded());
}

// Only left clicks act on the tree: other buttons move neither the highlight nor the page.
TEST_F(ConsoleTest, OtherButtonsOnTreeItemsChangeNothing) {
    for (const Qt::MouseButton button : {Qt::RightButton, Qt::MiddleButton}) {
        const QPoint item = window.Tree().visualItemRect(TreeItem(4)).center();
        QTest::mousePress(window.Tree().viewport(), button, {}, item);
        QTest::mouseRelease(window.Tree().viewport(), button, {}, item);
        EXPECT_EQ(window.Tree().currentItem(), &window.Root());
        EXPECT_EQ(Tabs().currentIndex(), 0);
    }
}

TEST_F(ConsoleTest, StatusTextCanBeReadByScreenReaders) {
    QAccessibleInterface* status = QAccessible::queryAccessibleInterface(&PageDlg(0).StatusLabel());
    EXPECT_EQ(status->text(QAccessible::Name), QStringLiteral("连接状态"));
    EXPECT_EQ(status->text(QAccessible::Description), QStringLiteral("          未连接         "));
    PageDlg(0).Page().OnDeviceLink(0, nullptr);
    EXPECT_TRUE(status->text(QAccessible::Description).endsWith(QStringLiteral(" 已断开")));
}

TEST_F(ConsoleTest, TabsAndTreeFollowEachOther) {
    ClickTab(5);
    EXPECT_EQ(window.Tree().currentItem(), TreeItem(5));
    EXPECT_TRUE(PageDlg(5).isVisible());

    // Tab 2 by the operator, page 6 through the tree; a rename brings the tab control back.
    ClickTab(2);
    ClickTreeItem(TreeItem(6));
    EXPECT_EQ(Tabs().currentIndex(), 6);
    const std::vector<std::uint8_t> name = {0xB1, 0xC3, 0xD5, 0xBE};  // 泵站 in GB2312
    window.TabHost().Host().SetDeviceTabName(0, name);
    EXPECT_EQ(Tabs().tabText(0), QStringLiteral("泵站"));
    EXPECT_EQ(TreeItem(0)->text(0), QStringLiteral("泵站"));
    EXPECT_EQ(TreeItem(1)->text(0), QStringLiteral("未连接设备2"));
    EXPECT_EQ(Tabs().currentIndex(), 2);
    EXPECT_TRUE(PageDlg(2).isVisible());
}

TEST_F(ConsoleTest, NamesShowAsPlainElidedText) {
    std::vector<std::uint8_t> markup = {'<', 'b', '>', 'A', '&', 'B', 0x07, '<', '/', 'b', '>'};
    window.TabHost().Host().SetDeviceTabName(1, markup);
    EXPECT_EQ(Tabs().tabText(1), QStringLiteral("<b>A&&B\uFFFD</b>"));
    EXPECT_EQ(Tabs().tabToolTip(1), QStringLiteral("<b>A&B\uFFFD</b>"));
    EXPECT_EQ(TreeItem(1)->text(0), QStringLiteral("<b>A&B\uFFFD</b>"));

    const std::vector<std::uint8_t> longName(8185, 'W');
    window.TabHost().Host().SetDeviceTabName(2, longName);
    EXPECT_LT(Tabs().tabText(2).size(), 100);
    EXPECT_TRUE(Tabs().tabText(2).endsWith(QChar(0x2026)));
    EXPECT_EQ(Tabs().tabToolTip(2).size(), 8185);
    EXPECT_LT(TreeItem(2)->text(0).size(), 100);
    EXPECT_EQ(TreeItem(2)->toolTip(0).size(), 8185);
}

TEST_F(ConsoleTest, RelayCaptionsAndLampsFollowRepliesAndEchoes) {
    DevicePage& page = PageDlg(0).Page();
    // Unidentified page: a six-register reply with relay bytes 05 08 and input bytes 80 01.
    page.OnDeviceData(Frame({0x0A, 0x04, 12, 0, 0, 0x05, 0x08, 0x80, 0x01, 0, 0, 0, 0, 0, 0}));
    for (std::size_t i = 0; i < 12; ++i) {
        const bool on = i == 0 || i == 2 || i == 11;
        EXPECT_EQ(PageDlg(0).RelayButton(i).text(),
                  on ? QStringLiteral("关闭") : QStringLiteral("打开"));
        EXPECT_EQ(PageDlg(0).RelayLamp(i).accessibleDescription(),
                  on ? QStringLiteral("点亮") : QStringLiteral("熄灭"));
        const bool active = i == 7 || i == 8;
        EXPECT_EQ(PageDlg(0).InputLamp(i).accessibleDescription(),
                  active ? QStringLiteral("点亮") : QStringLiteral("熄灭"));
    }
    page.OnDeviceData(Frame({0x0A, 0x05, 0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(PageDlg(0).RelayButton(0).text(), QStringLiteral("打开"));
    page.OnDeviceData(Frame({0x0A, 0x05, 0x00, 0x01, 0xFF, 0x00}));
    EXPECT_EQ(PageDlg(0).RelayButton(1).text(), QStringLiteral("关闭"));
    EXPECT_EQ(PageDlg(0).RelayButton(1).accessibleName(), QString());
}

// Paint events per widget, and where the value list's cells were painted.
class PaintLog : public QObject {
  public:
    int Count(const QObject* widget) const { return counts_.value(widget); }
    int Total() const { return std::accumulate(counts_.begin(), counts_.end(), 0); }
    void Clear() {
        counts_.clear();
        listRegion = {};
    }
    QRegion listRegion;
    const QObject* list = nullptr;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            ++counts_[watched];
            if (watched == list) {
                listRegion += static_cast<QPaintEvent*>(event)->region();
            }
        }
        return false;
    }

  private:
    QHash<const QObject*, int> counts_;
};

// A reply on the shown page paints the chart once; of the rest only the cells it changed.
TEST_F(ConsoleTest, ReplyRepaintsOnlyWhatChanged) {
    CDevicePageDlg& dlg = PageDlg(0);
    const auto reply = [&](std::uint8_t signal) {
        dlg.Page().OnDeviceData(Frame({0x0A, 0x04, 12, 0, signal, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    };
    PaintLog paints;
    QTableWidget& list = dlg.ValueList();
    paints.list = list.viewport();
    list.viewport()->installEventFilter(&paints);
    dlg.Chart().installEventFilter(&paints);
    for (std::size_t i = 0; i < 12; ++i) {
        dlg.InputLamp(i).installEventFilter(&paints);
        dlg.RelayLamp(i).installEventFilter(&paints);
    }
    reply(1);
    // A loaded machine may still be drawing the window's first pictures: wait for a quiet spell.
    for (int painted = -1; painted != paints.Total();) {
        painted = paints.Total();
        QTest::qWait(100);
    }
    paints.Clear();

    reply(2);  // only the signal row's value changes
    ASSERT_TRUE(QTest::qWaitFor([&] { return paints.Count(&dlg.Chart()) > 0; }));
    QTest::qWait(50);
    EXPECT_EQ(paints.Count(&dlg.Chart()), 1);
    for (std::size_t i = 0; i < 12; ++i) {
        EXPECT_EQ(paints.Count(&dlg.InputLamp(i)), 0);
        EXPECT_EQ(paints.Count(&dlg.RelayLamp(i)), 0);
    }
    ASSERT_EQ(list.item(3, 2)->text(), QStringLiteral("2"));
    for (int row = 0; row < list.rowCount(); ++row) {
        for (int column = 0; column < 3; ++column) {
            EXPECT_EQ(paints.listRegion.intersects(list.visualItemRect(list.item(row, column))),
                      row == 3 && column == 2)
                << row << "," << column;
        }
    }
}

// A page behind another tab keeps its latest rows out of the table until it is shown, and then
// shows them before it paints; asked for, its list holds them at once.
TEST_F(ConsoleTest, HiddenPageShowsItsLatestRowsWhenItComesForward) {
    const auto reply = [](CDevicePageDlg& dlg, std::uint8_t signal) {
        dlg.Page().OnDeviceData(Frame({0x0A, 0x04, 12, 0, signal, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    };
    for (const int slot : {1, 2}) {
        reply(PageDlg(slot), 4);
        reply(PageDlg(slot), 5);
    }
    auto& table = *PageDlg(1).findChild<QTableWidget*>(QStringLiteral("ctl1002"));
    EXPECT_EQ(table.rowCount(), 0);
    ClickTab(1);
    ASSERT_EQ(table.rowCount(), 4);
    EXPECT_EQ(table.item(3, 2)->text(), QStringLiteral("5"));
    reply(PageDlg(1), 6);
    EXPECT_EQ(table.item(3, 2)->text(), QStringLiteral("6"));

    EXPECT_EQ(PageDlg(2).ValueList().item(3, 2)->text(), QStringLiteral("5"));
}

// The value list's cells look as the style draws them, from texts laid out afresh and from
// texts laid out before: plain, too long for their cell, in a selected row and the current cell.
TEST_F(ConsoleTest, ValueListCellsLookAsTheStyleDrawsThem) {
    CDevicePageDlg& dlg = PageDlg(0);
    dlg.Page().OnDeviceData(
        Frame({0x0A, 0x04, 12, 0, 7, 0x05, 0x08, 0x80, 0x01, 0x09, 0xC4, 0x04, 0xB5, 0x04, 0xB5}));
    QTableWidget& list = dlg.ValueList();
    ASSERT_GE(list.rowCount(), 3);
    list.item(1, 1)->setText(QStringLiteral("一个放不下的很长很长的名字 and more"));
    QAbstractItemDelegate* own = list.itemDelegate();
    QStyledItemDelegate style;
    const auto grab = [&](QAbstractItemDelegate* delegate) {
        list.setItemDelegate(delegate);
        return list.viewport()->grab().toImage();
    };
    const auto expectSame = [&](const char* state) {
        const QImage styled = grab(&style);
        EXPECT_TRUE(grab(own) == styled) << state << ", texts laid out afresh";
        EXPECT_TRUE(grab(own) == styled) << state << ", texts laid out before";
    };
    expectSame("plain");
    list.setFocus();
    list.selectRow(2);
    list.setCurrentCell(0, 2, QItemSelectionModel::NoUpdate);
    expectSame("selected and current");
    list.setItemDelegate(own);
}

TEST_F(ConsoleTest, EnterAndEscapeKeepTheWindowOpen) {
    window.Tree().setFocus();
    QTest::keyClick(&window, Qt::Key_Escape);
    QTest::keyClick(&window, Qt::Key_Return);
    QTest::keyClick(&Find<QLineEdit>("ctl1005"), Qt::Key_Escape);
    QTest::keyClick(&Find<QLineEdit>("ctl1005"), Qt::Key_Enter);
    EXPECT_TRUE(window.isVisible());
    EXPECT_EQ(Find<QPushButton>("button1006").text(), QStringLiteral("开始监听"));
}

TEST_F(ConsoleTest, AboutBoxOpensWithoutBlocking) {
    window.ShowAbout();
    auto* about = window.findChild<CAboutBox*>();
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    EXPECT_EQ(about->windowModality(), Qt::WindowModal);
    EXPECT_EQ(about->windowTitle(), QStringLiteral("关于 Corvelle"));
    EXPECT_TRUE(about->findChild<QLabel*>(QStringLiteral("labelVersion"))
                    ->text()
                    .contains(QStringLiteral("1.0.0.1")));
    const QSignalSpy accepted(about, &QDialog::accepted);
    QTest::mouseClick(about->findChild<QPushButton*>(QStringLiteral("buttonOk")), Qt::LeftButton);
    EXPECT_EQ(accepted.count(), 1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return window.findChild<CAboutBox*>() == nullptr; }));
}

// Three simulated terminals against the whole console, as an operator would run them.
TEST_F(ConsoleTest, SimulatedTerminalsEndToEnd) {
    const quint16 port = test::FreePort();
    auto& portEdit = Find<QLineEdit>("ctl1005");
    portEdit.selectAll();
    QTest::keyClicks(&portEdit, QString::number(port));
    // Typed digit by digit the field would clamp at each step; pasted it changes once.
    Find<QLineEdit>("ctl1007").setText(QStringLiteral("200"));
    QTest::mouseClick(&Find<QPushButton>("button1009"), Qt::LeftButton);
    EXPECT_EQ(window.Tables().acquisitionIntervalMs, 200U);
    QTest::mouseClick(&Find<QPushButton>("button1006"), Qt::LeftButton);
    ASSERT_EQ(Find<QPushButton>("button1006").text(), QStringLiteral("停止监听"));

    struct Model {
        const char* text;
        std::size_t channels;
        const char* name;
    };
    const std::array<Model, 3> models = {
        {{"CV4B-SIM", 4, "一号泵站"}, {"CV6A-SIM", 6, "二号泵站"}, {"CV6C-SIM", 12, "三号泵站"}}};
    std::vector<std::unique_ptr<sim::Terminal>> terminals;
    for (const auto& model : models) {
        sim::TerminalConfig config;
        config.port = port;
        config.name = QString::fromUtf8(model.name);
        config.modelText = model.text;
        config.board.channelCount = model.channels;
        QString error;
        auto created = sim::CreateTerminals(config, 1, error);
        ASSERT_EQ(created.size(), 1U) << error.toStdString();
        terminals.push_back(std::move(created.front()));
        terminals.back()->start();
    }
    ASSERT_TRUE(QTest::qWaitFor([&] {
        return std::all_of(terminals.begin(), terminals.end(),
                           [](const auto& t) { return t->isRegistered(); });
    }));
    for (int slot = 0; slot < 3; ++slot) {
        const QString name = QString::fromUtf8(models[static_cast<std::size_t>(slot)].name);
        EXPECT_TRUE(QTest::qWaitFor([&] { return Tabs().tabText(slot) == name; }));
        EXPECT_EQ(TreeItem(slot)->text(0), name);
        EXPECT_TRUE(QTest::qWaitFor([&] {
            return PageDlg(slot).StatusLabel().text().endsWith(QStringLiteral(" 已连接"));
        }));
        // Channel rows follow the board, then the four status rows.
        const int rows = static_cast<int>(models[static_cast<std::size_t>(slot)].channels) + 4;
        EXPECT_TRUE(QTest::qWaitFor([&] { return PageDlg(slot).ValueList().rowCount() == rows; }));
    }
    const QRegularExpression statusFormat(
        QStringLiteral("^\\d\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d 已连接$"));
    EXPECT_TRUE(statusFormat.match(PageDlg(2).StatusLabel().text()).hasMatch());
    // The reference row shows the board's 2500 mV.
    EXPECT_TRUE(QTest::qWaitFor([&] {
        const QTableWidget& list = PageDlg(2).ValueList();
        return list.rowCount() == 16 && list.item(13, 2)->text() == QStringLiteral("2.500V");
    }));

    // A relay click reaches the board, whose echo turns the caption.
    QTest::mouseClick(&PageDlg(1).RelayButton(6), Qt::LeftButton);
    EXPECT_TRUE(QTest::qWaitFor([&] { return terminals[1]->board().RelayWord() == (1U << 6); }));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return PageDlg(1).RelayButton(6).text() == QStringLiteral("关闭"); }));
    ClickTab(1);
    EXPECT_TRUE(QTest::qWaitFor([&] { return PageDlg(1).Chart().graph(0)->dataCount() > 12; }));

    QImage shot = window.grab().toImage();
    shot.save(QStringLiteral(CORVELLE_ARTIFACT_DIR "/console.png"));

    terminals[0]->stop();
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return PageDlg(0).StatusLabel().text().endsWith(QStringLiteral(" 已断开")); }));
    EXPECT_EQ(Tabs().tabText(0), QString::fromUtf8(models[0].name));
    EXPECT_FALSE(PageDlg(0).PollTimerActive());
    EXPECT_TRUE(PageDlg(1).PollTimerActive());

    QTest::mouseClick(&Find<QPushButton>("button1006"), Qt::LeftButton);
    EXPECT_EQ(Find<QPushButton>("button1006").text(), QStringLiteral("开始监听"));
    EXPECT_TRUE(QTest::qWaitFor(
        [&] { return PageDlg(1).StatusLabel().text().endsWith(QStringLiteral(" 已断开")); }));
}

// Without --record or --mqtt the console keeps what it reads to itself: a terminal polled,
// switched and gone leaves no file where the console runs or in the user's folders.
TEST(ConsoleWithoutOptions, WritesNothingAnywhere) {
    QTemporaryDir sandbox;
    const QString cwd = QDir::currentPath();
    std::vector<std::pair<const char*, QByteArray>> saved;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME",
                             "XDG_STATE_HOME", "TMPDIR"}) {
        saved.emplace_back(name, qgetenv(name));
        qputenv(name, sandbox.path().toUtf8());
    }
    QDir::setCurrent(sandbox.path());
    {
        CMainDlg console;
        console.UseProfiles({});
        console.show();
        const quint16 port = test::FreePort();
        console.Tables().acquisitionIntervalMs = 200;
        console.TabHost().ToggleListening(port);
        const auto terminal = StartedTerminal(port, QStringLiteral("安静"));
        ASSERT_NE(terminal, nullptr);
        CDevicePageDlg& page = console.TabHost().PageDlg(0);
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return page.StatusLabel().text().endsWith(QStringLiteral(" 已连接")); }, 5000));
        ASSERT_TRUE(QTest::qWaitFor([&] { return page.ValueList().rowCount() > 0; }));
        const std::uint16_t relays = terminal->board().RelayWord();
        QTest::mouseClick(&page.RelayButton(0), Qt::LeftButton);
        EXPECT_TRUE(QTest::qWaitFor([&] { return terminal->board().RelayWord() != relays; }));
        terminal->stop();
        ASSERT_TRUE(QTest::qWaitFor(
            [&] { return page.StatusLabel().text().endsWith(QStringLiteral(" 已断开")); }));
    }
    EXPECT_TRUE(
        QDir(sandbox.path()).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden))
        << QDir(sandbox.path())
               .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden)
               .join(QLatin1Char(' '))
               .toStdString();
    // Once the operator has saved a profile there, the next start reads it.
    const QString file = TerminalProfiles::DefaultFile();
    EXPECT_TRUE(
        file.startsWith(sandbox.path()) && QDir().mkpath(QFileInfo(file).path()) &&
        test::WriteFile(file.toStdString(), "[terminals.\"安静\"]\ndescription = \"东区\"\n"));
    {
        CMainDlg console;
        console.UseProfiles({});
        EXPECT_TRUE(console.Profiles().InUse());
        EXPECT_NE(console.Profiles().Profiles().Find("安静"), nullptr);
    }
    QDir::setCurrent(cwd);
    for (const auto& [name, value] : saved) {
        if (value.isNull()) {
            qunsetenv(name);
        } else {
            qputenv(name, value);
        }
    }
}

// The close box stops the console in order: the terminals' detaches are recorded before the
// recording's stop mark.
TEST_F(ConsoleTest, ClosingRecordsEveryDetachBeforeTheRecordingEnds) {
    QTemporaryDir folder;
    ASSERT_FALSE(window.Recorder().Start(folder.path()));
    const quint16 port = test::FreePort();
    window.Tables().acquisitionIntervalMs = 200;
    window.TabHost().ToggleListening(port);
    const auto terminal = StartedTerminal(port, QStringLiteral("关闭"));
    ASSERT_NE(terminal, nullptr);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return PageDlg(0).StatusLabel().text().endsWith(QStringLiteral(" 已连接")); }));
    QSignalSpy stopped(&window, &CMainDlg::stopped);
    window.close();
    // When everything was written already, the stop ends within close() itself.
    ASSERT_TRUE(!stopped.isEmpty() || stopped.wait(5000));
    EXPECT_EQ(stopped.at(0).at(0).toInt(), 0);
    EXPECT_FALSE(window.TabHost().Host().IsListening());
    QFile events(folder.filePath(
        QStringLiteral("events-%1.csv").arg(QDate::currentDate().toString(Qt::ISODate))));
    ASSERT_TRUE(events.open(QIODevice::ReadOnly));
    const QString story = QString::fromUtf8(events.readAll());
    const auto detached = story.indexOf(QStringLiteral(",关闭,已断开,"));
    ASSERT_GE(detached, 0) << story.toStdString();
    EXPECT_GT(story.indexOf(QStringLiteral(",停止记录,")), detached);
}

// The operator starts recording from the panel; three boards later, every terminal's file ends
// with exactly what its page showed last, and the events file tells the story.
TEST_F(ConsoleTest, RecordsWhatTheScreenShows) {
    QTemporaryDir folder;
    QTest::mouseClick(&Find<QPushButton>("buttonRecord"), Qt::LeftButton);
    auto* chooser = window.findChild<QFileDialog*>();
    ASSERT_NE(chooser, nullptr);
    EXPECT_EQ(chooser->windowModality(), Qt::WindowModal);
    emit chooser->fileSelected(folder.path());
    chooser->close();
    EXPECT_EQ(Find<QPushButton>("buttonRecord").text(), QStringLiteral("停止记录"));
    EXPECT_EQ(Find<QLabel>("lampRecord").accessibleDescription(), QStringLiteral("点亮"));
    EXPECT_EQ(Find<QLabel>("labelRecordFolder").toolTip(), QDir::toNativeSeparators(folder.path()));

    const quint16 port = test::FreePort();
    window.Tables().acquisitionIntervalMs = 200;
    window.TabHost().ToggleListening(port);
    const std::array<std::pair<const char*, std::size_t>, 3> boards = {
        {{"4B", 4}, {"6A", 6}, {"6C", 12}}};
    std::vector<std::unique_ptr<sim::Terminal>> terminals;
    for (const auto& [model, channels] : boards) {
        sim::TerminalConfig config;
        config.port = port;
        // Lower case: the folder then carries the name as it is (see FolderName).
        config.name = QStringLiteral("记录%1").arg(QString::fromLatin1(model).toLower());
        config.modelText = std::string("CV") + model + "-SIM";
        config.board.channelCount = channels;
        QString error;
        auto created = sim::CreateTerminals(config, 1, error);
        ASSERT_EQ(created.size(), 1U) << error.toStdString();
        terminals.push_back(std::move(created.front()));
        terminals.back()->start();
    }
    for (int slot = 0; slot < 3; ++slot) {
        const int rows = static_cast<int>(boards.at(static_cast<std::size_t>(slot)).second) + 4;
        ASSERT_TRUE(
            QTest::qWaitFor([&] { return PageDlg(slot).ValueList().rowCount() == rows; }, 5000));
    }
    QTest::qWait(500);
    for (auto& terminal : terminals) {
        terminal->stop();
    }
    ASSERT_TRUE(QTest::qWaitFor(
        [&] { return PageDlg(2).StatusLabel().text().endsWith(QStringLiteral(" 已断开")); }));
    QTest::mouseClick(&Find<QPushButton>("buttonRecord"), Qt::LeftButton);
    ASSERT_TRUE(QTest::qWaitFor([&] { return window.Recorder().AllWritten(); }));
    // Each press of the history button opens a window of its own at the folder last
    // recorded into.
    QTest::mouseClick(&Find<QPushButton>("buttonHistory"), Qt::LeftButton);
    QTest::mouseClick(&Find<QPushButton>("buttonHistory"), Qt::LeftButton);
    const auto histories = window.findChildren<HistoryWindow*>();
    ASSERT_EQ(histories.size(), 2);
    for (HistoryWindow* history : histories) {
        EXPECT_TRUE(history->isWindow());
        EXPECT_EQ(history->Folder(), folder.path());
        EXPECT_TRUE(history->SelectTerminal(QStringLiteral("记录4b")));
        delete history;
    }
    EXPECT_EQ(Find<QLabel>("lampRecord").accessibleDescription(), QStringLiteral("熄灭"));

    const QString date = QDate::currentDate().toString(Qt::ISODate);
    for (int slot = 0; slot < 3; ++slot) {
        QFile file(folder.filePath(Tabs().tabText(slot) + QLatin1Char('/') + date + ".csv"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << file.fileName().toStdString();
        const QStringList lines = QString::fromUtf8(file.readAll()).split(QStringLiteral("\r\n"));
        ASSERT_GE(lines.size(), 3);
        const QStringList last = lines.at(lines.size() - 2).split(QLatin1Char(','));
        // Channels as the list shows them, without the unit; empty past the board's count.
        const QTableWidget& list = PageDlg(slot).ValueList();
        const int channels = list.rowCount() - 4;
        for (int k = 0; k < 12; ++k) {
            EXPECT_EQ(last.at(1 + k),
                      k < channels ? list.item(k, 2)->text().chopped(1) : QString());
        }
        EXPECT_EQ(last.at(13), list.item(channels, 2)->text().chopped(1));      // 温度
        EXPECT_EQ(last.at(14), list.item(channels + 1, 2)->text().chopped(1));  // 基准
        EXPECT_EQ(last.at(15), list.item(channels + 2, 2)->text().chopped(1));  // 电源
        EXPECT_EQ(last.at(16), list.item(channels + 3, 2)->text());             // 信号
        QString inputs;
        for (std::size_t i = 0; i < 12; ++i) {
            inputs += PageDlg(slot).InputLamp(i).accessibleDescription() == QStringLiteral("点亮")
                          ? '1'
                          : '0';
        }
        EXPECT_EQ(last.at(17), inputs);
    }
    QFile events(folder.filePath("events-" + date + ".csv"));
    ASSERT_TRUE(events.open(QIODevice::ReadOnly));
    const QString story = QString::fromUtf8(events.readAll());
    EXPECT_EQ(story.count(QStringLiteral(",已连接,")), 3);
    EXPECT_EQ(story.count(QStringLiteral(",已断开,")), 3);
}

// A folder removed underneath: one message, the lamp goes out, the pages go on.
TEST_F(ConsoleTest, RecordingFailureIsReportedAndPollingGoesOn) {
    auto folder = std::make_unique<QTemporaryDir>();
    ASSERT_FALSE(window.Recorder().Start(folder->path()));
    DevicePage& page = PageDlg(0).Page();
    const auto reply = Frame({0x0A, 0x04, 12, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    page.OnDeviceData(reply);
    folder.reset();
    const auto failures = [&] {
        QStringList texts;
        for (const QMessageBox* box : window.findChildren<QMessageBox*>()) {
            if (box->isVisible()) {
                texts << box->text();
            }
        }
        return texts;
    };
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            page.OnDeviceData(reply);
            return !failures().isEmpty();
        },
        5000));
    EXPECT_EQ(failures().size(), 1);
    EXPECT_TRUE(failures().front().startsWith(QStringLiteral("数据记录失败：")));
    EXPECT_EQ(Find<QLabel>("lampRecord").accessibleDescription(), QStringLiteral("熄灭"));
    EXPECT_EQ(Find<QPushButton>("buttonRecord").text(), QStringLiteral("开始记录"));
    EXPECT_FALSE(window.Recorder().IsRecording());
    page.OnDeviceData(Frame({0x0A, 0x04, 12, 0, 9, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(PageDlg(0).ValueList().item(3, 2)->text(), QStringLiteral("9"));
}

// A page's channel settings: OK applies the profile at once and saves the whole file through a
// temporary file; what the file would refuse is refused in the dialog; a file with a fault is
// reported once and never overwritten.
TEST_F(ConsoleTest, ChannelSettingsApplyAndSaveAProfile) {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("sub/terminals.toml"));
    window.Profiles().SetFile(file);
    const auto open = [&] {
        QTest::mouseClick(&PageDlg(0).ChannelSettingsButton(), Qt::LeftButton);
        auto* dialog = window.findChild<ChannelSettingsDlg*>();
        EXPECT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->windowModality(), Qt::WindowModal);
        return dialog;
    };
    auto* dialog = open();
    auto& channels = *dialog->findChild<QTableWidget*>(QStringLiteral("tableChannels"));
    const std::pair<int, const char*> fields[] = {
        {ChannelSettingsDlg::kName, "水位"},   {ChannelSettingsDlg::kUnit, "m"},
        {ChannelSettingsDlg::kRawLow, "1"},    {ChannelSettingsDlg::kRawHigh, "1"},
        {ChannelSettingsDlg::kScaledLow, "0"}, {ChannelSettingsDlg::kScaledHigh, "10"}};
    for (const auto& [column, text] : fields) {
        channels.item(0, column)->setText(QString::fromUtf8(text));
    }
    EXPECT_EQ(channels.item(0, ChannelSettingsDlg::kValueNow)->text(), QString());
    dialog->accept();
    const auto* problem = dialog->findChild<QLabel*>(QStringLiteral("labelProblem"));
    EXPECT_TRUE(problem->text().contains(QStringLiteral("channels.AD1.raw")))
        << problem->text().toStdString();
    EXPECT_FALSE(QFile::exists(file));

    channels.item(0, ChannelSettingsDlg::kRawHigh)->setText(QStringLiteral("5"));
    dialog->accept();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return window.findChild<ChannelSettingsDlg*>() == nullptr; }));
    const auto saved = ReadProfileFile(file.toStdString());
    ASSERT_TRUE(std::holds_alternative<ProfileSet>(saved));
    const auto profile = std::get<ProfileSet>(saved).Find("未连接设备1");
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(profile->channels[0]->scaling, (Scaling{1, 5, 0, 10}));
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("sub"))).entryList(QDir::Files),
              QStringList{QStringLiteral("terminals.toml")});
    EXPECT_EQ(PageDlg(0).ValueList().item(0, 1)->text(), QStringLiteral("水位"));
    EXPECT_EQ(PageDlg(0).ValueList().item(0, 2)->text(), QStringLiteral("-2.50 m"));
    EXPECT_EQ(PageDlg(0).ValueList().item(0, 2)->toolTip(), QStringLiteral("AD1 0.000V"));

    // The dialog does not edit alarms: saving keeps the file's, and the silence allowed.
    QFile alarms(file);
    ASSERT_TRUE(alarms.open(QIODevice::WriteOnly | QIODevice::Truncate));
    alarms.write(R"([terminals."未连接设备1"]
silent_after = 30
[terminals."未连接设备1".channels.AD1]
name = "水位"
high = { limit = 8.0, priority = "紧急" }
deadband = 0.5
[terminals."未连接设备1".inputs.IN2]
alarm_when = "on"
text = "门开"
)");
    alarms.close();
    window.UseProfiles(file);
    const auto before = std::get<ProfileSet>(ReadProfileFile(file.toStdString()));
    dialog = open();
    dialog->findChild<QTableWidget*>(QStringLiteral("tableChannels"))
        ->item(0, ChannelSettingsDlg::kUnit)
        ->setText(QStringLiteral("米"));
    dialog->accept();
    EXPECT_TRUE(
        QTest::qWaitFor([&] { return window.findChild<ChannelSettingsDlg*>() == nullptr; }));
    const auto after = std::get<ProfileSet>(ReadProfileFile(file.toStdString()));
    const auto& kept = *after.Find("未连接设备1");
    EXPECT_EQ(kept.channels[0]->unit, "米");
    EXPECT_EQ(kept.channels[0]->alarms, before.Find("未连接设备1")->channels[0]->alarms);
    EXPECT_EQ(kept.inputs[1].alarm, before.Find("未连接设备1")->inputs[1].alarm);
    EXPECT_EQ(kept.silentAfter, 30);

    QFile broken(file);
    ASSERT_TRUE(broken.open(QIODevice::WriteOnly | QIODevice::Truncate));
    broken.write("[terminals\n");
    broken.close();
    window.UseProfiles(file);
    const auto boxes = window.findChildren<QMessageBox*>();
    ASSERT_EQ(boxes.size(), 1);
    EXPECT_TRUE(boxes.front()->text().startsWith(QStringLiteral("终端配置文件有误：")));
    dialog = open();
    EXPECT_FALSE(dialog->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->isEnabled());
    // The profiles read before the fault stay in use.
    EXPECT_EQ(PageDlg(0).ValueList().item(0, 1)->text(), QStringLiteral("水位"));
}

}  // namespace
}  // namespace corvelle
