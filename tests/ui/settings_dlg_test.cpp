#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <cstdint>
#include <vector>

#include "settings/ui/settings_dlg.h"

namespace corvelle {
namespace {

// Answers like the tab host: flips its state and reports it before returning.
class FlippingToggler : public ListenToggler {
  public:
    explicit FlippingToggler(ListenStateSink& sink) : sink_(sink) {}
    std::vector<std::int32_t> ports;

    void ToggleListening(std::int32_t port) override {
        ports.push_back(port);
        listening_ = !listening_;
        sink_.OnListenState(listening_ ? 1 : 0);
    }

  private:
    ListenStateSink& sink_;
    bool listening_ = false;
};

class SettingsDlgTest : public ::testing::Test {
  protected:
    SettingsDlgTest() { dlg.SetListenToggler(&toggler); }

    std::vector<QMessageBox*> Prompts() const {
        std::vector<QMessageBox*> open;
        for (QMessageBox* box : dlg.findChildren<QMessageBox*>()) {
            if (box->isVisible()) {
                open.push_back(box);
            }
        }
        return open;
    }

    // Text of the one open prompt, which is then dismissed.
    QString TakePrompt() const {
        const auto open = Prompts();
        if (open.size() != 1) {
            ADD_FAILURE() << open.size() << " prompts open";
            return {};
        }
        QString text = open.front()->text();
        open.front()->close();
        return text;
    }

    QColor LampCentre() const {
        const QImage image = lamp->pixmap().toImage();
        return image.pixelColor(image.width() / 2, image.height() / 2);
    }

    std::uint32_t acquisitionInterval = 3000;
    CSettingsDlg dlg{acquisitionInterval};
    FlippingToggler toggler{dlg};
    QLineEdit* port = dlg.findChild<QLineEdit*>("ctl1005");
    QLineEdit* interval = dlg.findChild<QLineEdit*>("ctl1007");
    QPushButton* listen = dlg.findChild<QPushButton*>("button1006");
    QPushButton* set = dlg.findChild<QPushButton*>("button1009");
    QLabel* lamp = dlg.findChild<QLabel*>("lamp1008");
};

TEST_F(SettingsDlgTest, StartsWithTheDefaults) {
    EXPECT_EQ(port->text(), "20000");
    EXPECT_EQ(interval->text(), "3000");
    EXPECT_EQ(listen->text(), "开始监听");
    EXPECT_LT(LampCentre().lightness(), 60);
    EXPECT_EQ(port->accessibleName(), "端口设置");
    EXPECT_EQ(interval->accessibleName(), "采集间隔(ms)");
    EXPECT_EQ(lamp->accessibleName(), "监听状态");
    EXPECT_TRUE(Prompts().empty());
}

TEST_F(SettingsDlgTest, IntervalOutsideItsRangeIsReplacedAtOnce) {
    interval->setText("20");
    EXPECT_EQ(interval->text(), "50");
    interval->setText("999999");
    EXPECT_EQ(interval->text(), "360000");

    interval->selectAll();
    QTest::keyClick(interval, Qt::Key_1);
    EXPECT_EQ(interval->text(), "50");
    EXPECT_TRUE(Prompts().empty());
}

TEST_F(SettingsDlgTest, DeletedIntervalPromptsWithoutBlockingAndComesBack) {
    interval->selectAll();
    QTest::keyClick(interval, Qt::Key_Delete);
    EXPECT_EQ(interval->text(), "3000");
    interval->clear();  // a second failure while the prompt is up adds no prompt
    const auto open = Prompts();
    ASSERT_EQ(open.size(), 1U);
    EXPECT_EQ(open.front()->windowModality(), Qt::WindowModal);
    EXPECT_EQ(open.front()->windowTitle(), "corvelle");
    EXPECT_TRUE(open.front()->testAttribute(Qt::WA_DeleteOnClose));
    EXPECT_EQ(TakePrompt(), "请输入一个非负整数。");
}

TEST_F(SettingsDlgTest, SetAppliesAtLeast200ms) {
    interval->setText("100");
    set->click();
    EXPECT_EQ(acquisitionInterval, 200U);
    interval->setText("3000");
    set->click();
    EXPECT_EQ(acquisitionInterval, 3000U);
}

TEST_F(SettingsDlgTest, ListenStateSwitchesButtonAndLamp) {
    const auto lampState = [this] {
        return QAccessible::queryAccessibleInterface(lamp)->text(QAccessible::Description);
    };
    EXPECT_EQ(lampState(), "熄灭");
    listen->click();
    EXPECT_EQ(listen->text(), "停止监听");
    EXPECT_GT(LampCentre().red(), 200);
    EXPECT_LT(LampCentre().green(), 140);
    EXPECT_EQ(lampState(), "点亮");
    listen->click();
    EXPECT_EQ(listen->text(), "开始监听");
    EXPECT_LT(LampCentre().lightness(), 60);
    EXPECT_EQ(lampState(), "熄灭");
    EXPECT_EQ(toggler.ports, (std::vector<std::int32_t>{20000, 20000}));
}

TEST_F(SettingsDlgTest, EmptiedPortPromptsAndListenUsesThePreviousPort) {
    port->setText(" -8080 ");
    port->clear();
    EXPECT_EQ(TakePrompt(), "请输入一个整数。");
    EXPECT_EQ(port->text(), "");
    listen->click();
    EXPECT_EQ(toggler.ports, std::vector<std::int32_t>{-8080});
}

TEST_F(SettingsDlgTest, IntervalChangeWithEmptyPortRestoresBoth) {
    port->clear();
    TakePrompt();
    interval->setText("700");
    EXPECT_EQ(TakePrompt(), "请输入一个整数。");
    EXPECT_EQ(port->text(), "20000");
    EXPECT_EQ(interval->text(), "3000");
}

TEST_F(SettingsDlgTest, KeyboardTypesDigitsOnly) {
    port->selectAll();
    QTest::keyClicks(port, "8a0 8-0");
    EXPECT_EQ(port->text(), "8080");
    EXPECT_TRUE(Prompts().empty());
}

TEST(SettingsDlgKeys, EnterAndEscapeDoNotEndTheHostDialog) {
    std::uint32_t acquisitionInterval = 3000;
    QDialog host;
    auto* panel = new CSettingsDlg(acquisitionInterval, &host);
    FlippingToggler toggler(*panel);
    panel->SetListenToggler(&toggler);
    host.show();
    for (const char* name : {"ctl1005", "button1006"}) {
        auto* control = panel->findChild<QWidget*>(name);
        control->setFocus();
        for (const Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(control, key);
            EXPECT_TRUE(host.isVisible()) << name << ' ' << key;
        }
    }
    EXPECT_TRUE(toggler.ports.empty());
}

}  // namespace
}  // namespace corvelle
