#include "server/ui/device_tab_dlg.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QMessageBox>
#include <QScopedValueRollback>
#include <QTabBar>
#include <QTabWidget>

#include "device/qt/device_name.h"
#include "device/ui/device_page_dlg.h"
#include "ui_tabhost_103.h"

namespace corvelle {

QString ElidedName(const QString& name, const QFont& font, int width) {
    return QFontMetrics(font).elidedText(name, Qt::ElideRight, width);
}

CDeviceTabDlg::CDeviceTabDlg(SlotTables& tables, QWidget* parent)
    : QWidget(parent),
      tables_(tables),
      ui_(std::make_unique<Ui::DeviceTabDlg>()),
      server_(tables, *this) {
    ui_->setupUi(this);
    connect(ui_->ctl1002, &QTabWidget::currentChanged, this, [this](int index) {
        if (!selectingByProgram_) {
            Host().OnTabSelected(index);
        }
    });
}

CDeviceTabDlg::~CDeviceTabDlg() = default;

void CDeviceTabDlg::Connect(TabHostListener* mainWindow, ListenStateSink* settingsPanel) {
    mainWindow_ = mainWindow;
    settingsPanel_ = settingsPanel;
}

void CDeviceTabDlg::Initialise() {
    Host().Initialise();
}

QTabWidget& CDeviceTabDlg::Tabs() const {
    return *ui_->ctl1002;
}

void CDeviceTabDlg::ToggleListening(std::int32_t port) {
    Host().ToggleListening(port);
}

void CDeviceTabDlg::StopListening() {
    if (Host().IsListening()) {
        Host().ToggleListening(0);
    }
}

void CDeviceTabDlg::SelectPage(std::intptr_t slot) {
    Host().OnSelectPage(slot);
}

DevicePage& CDeviceTabDlg::AddPage(int slot, std::span<const std::uint8_t> tabText) {
    auto* page = new CDevicePageDlg(slot, tables_, Host(), ui_->ctl1002);
    pages_.push_back(page);
    {
        const QScopedValueRollback<bool> quiet(selectingByProgram_, true);
        ui_->ctl1002->insertTab(slot, page, QString());
    }
    SetTabText(slot, tabText);
    return page->Page();
}

void CDeviceTabDlg::SetTabText(int slot, std::span<const std::uint8_t> text) {
    const QString name = DeviceNameText(text);
    QString shown = ElidedName(name, ui_->ctl1002->tabBar()->font(), kTabTextWidth);
    // A tab text treats '&' as a mnemonic marker.
    shown.replace(QLatin1Char('&'), QStringLiteral("&&"));
    ui_->ctl1002->setTabText(slot, shown);
    ui_->ctl1002->setTabToolTip(slot, name);
}

void CDeviceTabDlg::SelectTab(int index) {
    const QScopedValueRollback<bool> quiet(selectingByProgram_, true);
    ui_->ctl1002->setCurrentIndex(index);
}

void CDeviceTabDlg::ShowOnlyPage(int index) {
    // The tab widget shows exactly one page, the current one.
    if (index >= 0 && static_cast<std::size_t>(index) < pages_.size()) {
        const QScopedValueRollback<bool> quiet(selectingByProgram_, true);
        ui_->ctl1002->setCurrentWidget(pages_[static_cast<std::size_t>(index)]);
    }
}

void CDeviceTabDlg::PageSelected(int index) {
    if (mainWindow_ != nullptr) {
        mainWindow_->OnPageSelected(index);
    }
}

void CDeviceTabDlg::PageRenamed(int slot, std::span<const std::uint8_t> name) {
    if (mainWindow_ != nullptr) {
        mainWindow_->OnPageRenamed(slot, name);
    }
}

void CDeviceTabDlg::ListenStateChanged(int state) {
    if (settingsPanel_ != nullptr) {
        settingsPanel_->OnListenState(state);
    }
}

void CDeviceTabDlg::ShowMessage(std::string_view text) {
    ShowOperatorMessage(QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())));
}

void CDeviceTabDlg::ShowOperatorMessage(const QString& message) {
    if (const auto open = messages_.find(message); open != messages_.end() && open->second) {
        return;
    }
    auto* box = new QMessageBox(QMessageBox::NoIcon, QCoreApplication::applicationName(), message,
                                QMessageBox::Ok, window());
    box->setTextFormat(Qt::PlainText);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    messages_[message] = box;
    box->open();
}

void CDeviceTabDlg::CloseOperatorMessage(const QString& message) {
    if (const auto open = messages_.find(message); open != messages_.end() && open->second) {
        open->second->close();
    }
}

}  // namespace corvelle

#include "moc_device_tab_dlg.cpp"  // NOLINT(bugprone-suspicious-include): moc output
