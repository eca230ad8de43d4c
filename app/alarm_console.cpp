#include "app/alarm_console.h"

#include <QStyle>
#include <QTabBar>
#include <QTabWidget>
#include <QTableWidget>
#include <QTreeWidget>

#include "app/main_dlg.h"
#include "device/device_page.h"
#include "device/ui/device_page_dlg.h"

namespace corvelle {
namespace {

std::span<const std::uint8_t> Bytes(const QByteArray& name) {
    return {reinterpret_cast<const std::uint8_t*>(name.constData()),
            static_cast<std::size_t>(name.size())};
}

}  // namespace

AlarmConsole::AlarmConsole(CMainDlg& window)
    : QObject(nullptr),
      window_(window),
      plainSize_(window.size()),
      plainTitle_(window.windowTitle()),
      watch_(window.Sinks()) {
    watch_.SetPollInterval(window.Tables().acquisitionIntervalMs);
    list_ = new AlarmListPanel(&window);
    list_->setGeometry(8, plainSize_.height() - 4, plainSize_.width() - 16, kListHeight - 4);
    list_->hide();
    connect(&watch_, &AlarmWatch::alarmEvent, list_, &AlarmListPanel::OnEvent);
    connect(list_, &AlarmListPanel::changed, this, &AlarmConsole::Remark);
    connect(list_, &AlarmListPanel::acknowledgeRequested, this, &AlarmConsole::Acknowledge);
    connect(list_, &AlarmListPanel::acknowledgeAllRequested, this,
            [this] { watch_.Engine().AcknowledgeAll(kOperator); });
    connect(list_, &AlarmListPanel::shelveRequested, this, &AlarmConsole::Shelve);
}

AlarmConsole::~AlarmConsole() = default;

void AlarmConsole::SetProfiles(const ProfileLookup* profiles) {
    const bool use = profiles != nullptr;
    watch_.SetPollInterval(window_.Tables().acquisitionIntervalMs);
    watch_.SetProfiles(profiles);
    if (use == list_->isVisible()) {
        return;
    }
    window_.setFixedSize(plainSize_.width(), plainSize_.height() + (use ? kListHeight : 0));
    list_->setVisible(use);
    Remark();
}

void AlarmConsole::Remark() {
    const AlarmBoard& board = list_->Board();
    QTabWidget& tabs = window_.TabHost().Tabs();
    QTreeWidgetItem& root = window_.Root();
    const QIcon mark = window_.style()->standardIcon(QStyle::SP_MessageBoxWarning);
    const auto& names = window_.Tables().deviceNames;
    for (int i = 0; i < root.childCount(); ++i) {
        QTreeWidgetItem* item = root.child(i);
        const int slot = item->data(0, Qt::UserRole).toInt();
        const bool marked = static_cast<std::size_t>(slot) < names.size() &&
                            board.Unacked(names[static_cast<std::size_t>(slot)]);
        item->setIcon(0, marked ? mark : QIcon());
        item->setForeground(0, marked ? QBrush(Qt::red) : QBrush());
        item->setData(0, Qt::AccessibleDescriptionRole,
                      marked ? QStringLiteral("有未确认报警") : QString());
        if (slot < tabs.count()) {
            tabs.setTabIcon(slot, marked ? mark : QIcon());
            tabs.tabBar()->setTabTextColor(slot, marked ? QColor(Qt::red) : QColor());
            MarkValues(slot, mark);
        }
    }
    const std::size_t unacked = board.UnackedCount();
    window_.setWindowTitle(unacked == 0
                               ? plainTitle_
                               : plainTitle_ + QStringLiteral(" — %1 个未确认报警").arg(unacked));
}

void AlarmConsole::MarkValues(int slot, const QIcon& mark) {
    const auto index = static_cast<std::size_t>(slot);
    const DevicePage* page = window_.Tables().pageWindows.at(index);
    const std::uint16_t active =
        list_->Board().ActiveChannels(window_.Tables().deviceNames.at(index));
    QTableWidget& values = window_.TabHost().PageDlg(slot).ValueList();
    // The channel rows come first, in the page's order of channel numbers.
    for (int row = 0; row < values.rowCount() && row < static_cast<int>(kChannelCount); ++row) {
        QTableWidgetItem* cell = values.item(row, 2);
        const int channel = page->ChannelNumbers()[static_cast<std::size_t>(row)] - 1;
        if (cell == nullptr || channel < 0) {
            continue;
        }
        const bool marked = (active >> channel & 1U) != 0;
        // Each change of a cell repaints it and tells the list's listeners.
        if (cell->icon().isNull() != marked) {
            continue;
        }
        cell->setIcon(marked ? mark : QIcon());
        cell->setBackground(marked ? QBrush(QColor(0xF4, 0x8A, 0x8A)) : QBrush());
    }
}

void AlarmConsole::Acknowledge(const QByteArray& name, const QString& source) {
    if (const auto which = AlarmSource::FromId(source.toStdString())) {
        watch_.Engine().Acknowledge(Bytes(name), *which, kOperator);
    }
}

void AlarmConsole::Shelve(const QByteArray& name, const QString& source) {
    if (const auto which = AlarmSource::FromId(source.toStdString())) {
        watch_.Engine().Shelve(Bytes(name), *which);
    }
}

}  // namespace corvelle

#include "moc_alarm_console.cpp"  // NOLINT(bugprone-suspicious-include): moc output
