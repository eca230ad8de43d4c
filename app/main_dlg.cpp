#include "app/main_dlg.h"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QIcon>
#include <QMenu>
#include <QMouseEvent>
#include <QShortcut>
#include <QThread>
#include <QTreeWidget>
#include <algorithm>
#include <cstdio>
#include <utility>

#include "app/about_box.h"
#include "app/alarm_console.h"
#include "device/qt/device_name.h"
#include "device/ui/device_page_dlg.h"
#include "history/ui/history_window.h"
#include "profile/ui/channel_settings_dlg.h"
#include "res/resources.h"
#include "settings/ui/settings_dlg.h"
#include "ui_main_102.h"

namespace corvelle {
namespace {

const QString kAboutText = QStringLiteral("关于 Corvelle(&A)...");

}  // namespace

CMainDlg::CMainDlg(QWidget* parent) : QDialog(parent), ui_(std::make_unique<Ui::MainDlg>()) {
    ui_->setupUi(this);
    setFixedSize(size());
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowIcon(QIcon(QString::fromLatin1(res::kAppIcon)));

    // Window managers keep the window menu to themselves; the About entry lives in the
    // window's context menu and on F1.
    auto* about = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(about, &QShortcut::activated, this, &CMainDlg::ShowAbout);

    BuildTree();

    settings_ = new CSettingsDlg(tables_.acquisitionIntervalMs, this);
    settings_->setGeometry(ui_->ctl1003->geometry());
    tabHost_ = new CDeviceTabDlg(tables_, this);
    tabHost_->setGeometry(ui_->ctl1004->geometry());
    tabHost_->Connect(this, settings_);
    settings_->SetListenToggler(tabHost_);
    tabHost_->Initialise();

    profiles_.SetOnChanged([this] {
        tabHost_->Host().SetProfiles(&profiles_);
        if (alarms_) {
            alarms_->SetProfiles(profiles_.InUse() ? &profiles_ : nullptr);
        }
        for (int slot = 0; slot < static_cast<int>(tables_.SlotCount()); ++slot) {
            ShowTreeTip(slot, tables_.deviceNames[static_cast<std::size_t>(slot)]);
        }
    });
    for (int slot = 0; slot < static_cast<int>(tables_.SlotCount()); ++slot) {
        connect(&tabHost_->PageDlg(slot), &CDevicePageDlg::channelSettingsRequested, this,
                [this, slot] { OpenChannelSettings(slot); });
    }
    sinks_ = std::make_unique<HostSinks>(
        [host = &tabHost_->Host()](AcquisitionSink* sink) { host->SetSink(sink); });
    recording_ = std::make_unique<Recording>(*sinks_);
    connect(recording_.get(), &Recording::stateChanged, settings_, &CSettingsDlg::OnRecordingState);
    connect(recording_.get(), &Recording::failed, this,
            [this](const QString& operatorText, const QString& logText) {
                lostAtStop_ = lostAtStop_ || stop_.Running();
                // Once the window is gone, standard error is the only place left to say it.
                if (isVisible()) {
                    settings_->OnRecordingFailed(operatorText);
                } else {
                    std::fputs(QStringLiteral("%1: recording: %2\n")
                                   .arg(QCoreApplication::applicationName(), logText)
                                   .toUtf8()
                                   .constData(),
                               stderr);
                }
            });
    connect(recording_.get(), &Recording::recorderEvent, this, &CMainDlg::OnRecorderEvent);
    settings_->SetRecordingControl(this);
    connect(recording_.get(), &Recording::stateChanged, this,
            [](bool recording, const QString& folder) {
                if (recording) {
                    HistoryWindow::NoteFolderUsed(folder);
                }
            });
    connect(settings_, &CSettingsDlg::historyRequested, this, &CMainDlg::OpenHistory);
    alarms_ = std::make_unique<AlarmConsole>(*this);
    alarms_->SetProfiles(profiles_.InUse() ? &profiles_ : nullptr);
}

void CMainDlg::OpenHistory() {
    // Its own window, closed with the console; the pages keep polling while it loads.
    auto* window =
        new HistoryWindow(recording_->IsRecording() ? recording_->Folder() : QString(), this);
    window->show();
}

CMainDlg::~CMainDlg() {
    if (!stopped_) {
        // Not closed in order (a test, or the session ending under the event loop): the same
        // stop, waited for here.
        tabHost_->StopListening();
        const std::vector<Drain*> drains = Drains();
        for (Drain* drain : drains) {
            drain->BeginDrain();
        }
        QElapsedTimer clock;
        clock.start();
        while (clock.elapsed() < OrderlyStop::kDeadlineMs &&
               !std::all_of(drains.begin(), drains.end(),
                            [](const Drain* d) { return d->Drained(); })) {
            QThread::msleep(5);
        }
        for (Drain* drain : drains) {
            if (const std::string what = drain->Abandon(); !what.empty()) {
                std::fprintf(stderr, "%s: not written at quit: %s\n",
                             qPrintable(QCoreApplication::applicationName()), what.c_str());
            }
        }
    }
    // Recording and publishing listen to the tab host; the panels use the shared tables, which
    // go with this object's members.
    publishing_.reset();
    alarms_.reset();
    recording_.reset();
    sinks_.reset();
    delete tabHost_;
    delete settings_;
}

void CMainDlg::UseProfiles(const QString& file) {
    const QString chosen = file.isEmpty() ? TerminalProfiles::DefaultFile() : file;
    if (file.isEmpty() && !QFileInfo::exists(chosen)) {
        // Nothing is read until the operator saves a profile, which creates the file.
        profiles_.SetFile(chosen);
        return;
    }
    if (const auto error = profiles_.Load(chosen)) {
        std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                     error->EnglishText().c_str());
        tabHost_->ShowOperatorMessage(QStringLiteral("终端配置文件有误：") +
                                      QString::fromStdString(error->ChineseText()));
    }
}

void CMainDlg::OpenChannelSettings(int slot) {
    CDevicePageDlg& page = tabHost_->PageDlg(slot);
    auto* dialog = new ChannelSettingsDlg(
        profiles_, page.Page(), DeviceNameText(tables_.deviceNames[static_cast<std::size_t>(slot)]),
        this);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setWindowModality(Qt::WindowModal);
    dialog->open();
}

std::vector<Drain*> CMainDlg::Drains() {
    std::vector<Drain*> drains{recording_.get()};
    if (publishing_) {
        drains.push_back(publishing_.get());
    }
    return drains;
}

void CMainDlg::closeEvent(QCloseEvent* event) {
    if (stopped_) {
        QDialog::closeEvent(event);
        return;
    }
    event->ignore();
    if (!stop_.Running()) {
        hide();
        BeginStop();
    }
}

void CMainDlg::BeginStop() {
    // Every terminal's detach reaches the recording and the publishing before they end.
    tabHost_->StopListening();
    stop_.Run(Drains(), [this](const std::vector<std::string>& left) {
        for (const std::string& what : left) {
            std::fprintf(stderr, "%s: not written at quit: %s\n",
                         qPrintable(QCoreApplication::applicationName()), what.c_str());
        }
        stopped_ = true;
        emit stopped(left.empty() && !lostAtStop_ ? 0 : 1);
    });
}

void CMainDlg::OnRecorderEvent(const AcquisitionEvent& event) {
    if (event.kind == EventKind::TerminalRecordingFailed && isVisible()) {
        const QString whose = event.name.empty()
                                  ? QStringLiteral("事件文件")
                                  : QStringLiteral("终端“%1”").arg(DeviceNameText(event.name));
        settings_->OnRecordingFailed(
            QStringLiteral("%1无法写入，其数据行将被丢弃，直到可以写入（%2：%3）")
                .arg(whose, QString::fromStdString(ChineseText(event.error.value_or(FileError{}))),
                     QString::fromStdString(event.detail)));
    } else if (event.kind == EventKind::RecordingSpaceLow) {
        settings_->OnRecordingWarning(
            QStringLiteral("磁盘空间不足：剩余 %1 MB").arg(event.value >> 20));
    }
}

void CMainDlg::StartPublishing(const MqttSettings& settings) {
    publishing_ = std::make_unique<Publishing>(settings, *sinks_, tabHost_->Host());
    connect(publishing_.get(), &Publishing::stateChanged, this,
            [this](const QString& message, bool problem) {
                // A problem's box goes once the broker is reached again, so that no stale
                // complaint stays on screen.
                tabHost_->CloseOperatorMessage(std::exchange(publishingProblem_, QString()));
                if (problem) {
                    publishingProblem_ = message;
                    tabHost_->ShowOperatorMessage(message);
                }
            });
    connect(publishing_.get(), &Publishing::logLine, this, [](const QString& line) {
        std::fputs((line + QLatin1Char('\n')).toUtf8().constData(), stderr);
    });
    publishing_->SetAlarmAcknowledge(
        [this](std::span<const std::uint8_t> name, AlarmSource source, const std::string& by) {
            return alarms_->Watch().Engine().Acknowledge(name, source, by);
        });
    publishing_->Start();
}

std::optional<std::string> CMainDlg::StartRecording(const std::string& folder) {
    if (const auto refusal = recording_->Start(QString::fromStdString(folder))) {
        return refusal->OperatorText().toStdString();
    }
    return std::nullopt;
}

void CMainDlg::StopRecording() {
    recording_->Stop();
}

bool CMainDlg::IsRecording() const {
    return recording_->IsRecording();
}

QTreeWidget& CMainDlg::Tree() const {
    return *ui_->ctl1000;
}

void CMainDlg::BuildTree() {
    QTreeWidget& tree = *ui_->ctl1000;
    tree.setRootIsDecorated(true);
    tree.setHeaderHidden(true);
    root_ = new QTreeWidgetItem(&tree, {QStringLiteral("设备列表")});
    tree.setCurrentItem(root_);
    for (int slot = 0; slot < static_cast<int>(kSlotCount); ++slot) {
        auto* item = new QTreeWidgetItem(root_, {QStringLiteral("未连接设备%1").arg(slot + 1)});
        item->setData(0, Qt::UserRole, slot);
    }
    root_->setExpanded(true);
    tree.viewport()->installEventFilter(this);
}

bool CMainDlg::eventFilter(QObject* watched, QEvent* event) {
    if (watched != ui_->ctl1000->viewport()) {
        return QDialog::eventFilter(watched, event);
    }
    const QEvent::Type type = event->type();
    if (type == QEvent::MouseButtonPress || type == QEvent::MouseButtonRelease ||
        type == QEvent::MouseButtonDblClick) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        // Only left clicks choose a page; other buttons must not move the highlight either.
        if (mouse->button() != Qt::LeftButton) {
            return true;
        }
        if (type == QEvent::MouseButtonRelease) {
            OnTreeClick(mouse->position().toPoint());
        }
    }
    return QDialog::eventFilter(watched, event);
}

void CMainDlg::OnTreeClick(QPoint pos) {
    QTreeWidget& tree = *ui_->ctl1000;
    // Anywhere on an item's row counts: indentation, expand button and the space after it.
    const QPoint inRow(tree.viewport()->width() / 2, pos.y());
    if (const QTreeWidgetItem* item = tree.itemAt(inRow)) {
        // The root carries no slot and so stands for slot 0.
        tabHost_->SelectPage(item->data(0, Qt::UserRole).toInt());
    }
}

QTreeWidgetItem* CMainDlg::SlotItem(int slot) const {
    if (static_cast<unsigned>(slot) >= kSlotCount) {
        return nullptr;
    }
    for (int i = 0; i < root_->childCount() && i < static_cast<int>(kSlotCount); ++i) {
        QTreeWidgetItem* item = root_->child(i);
        if (item->data(0, Qt::UserRole).toInt() == slot) {
            return item;
        }
    }
    return nullptr;
}

void CMainDlg::OnPageSelected(int index) {
    if (QTreeWidgetItem* item = SlotItem(index)) {
        ui_->ctl1000->setCurrentItem(item);
    }
}

void CMainDlg::OnPageRenamed(int slot, std::span<const std::uint8_t> name) {
    QTreeWidgetItem* item = SlotItem(slot);
    if (item == nullptr) {
        return;
    }
    QTreeWidget& tree = *ui_->ctl1000;
    const QString text = DeviceNameText(name);
    const int width = tree.viewport()->width() - 2 * tree.indentation() - 8;
    item->setText(0, ElidedName(text, tree.font(), width));
    ShowTreeTip(slot, name);
    // The tab host names its slots before the alarms exist.
    if (alarms_) {
        alarms_->Remark();
    }
}

void CMainDlg::ShowTreeTip(int slot, std::span<const std::uint8_t> name) {
    QTreeWidgetItem* item = SlotItem(slot);
    if (item == nullptr) {
        return;
    }
    QString tip = DeviceNameText(name);
    // The profile's description says what the station is, under its name.
    if (const auto profile = profiles_.ProfileFor(name); profile && !profile->description.empty()) {
        tip += QLatin1Char('\n') + QString::fromStdString(profile->description);
    }
    item->setToolTip(0, tip);
}

void CMainDlg::keyPressEvent(QKeyEvent* event) {
    // One stray key must not close the console and drop every terminal.
    switch (event->key()) {
        case Qt::Key_Escape:
        case Qt::Key_Return:
        case Qt::Key_Enter:
            event->accept();
            return;
        default:
            QDialog::keyPressEvent(event);
    }
}

void CMainDlg::contextMenuEvent(QContextMenuEvent* event) {
    auto* menu = new QMenu(this);
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->addAction(kAboutText, this, &CMainDlg::ShowAbout);
    menu->popup(event->globalPos());
}

void CMainDlg::ShowAbout() {
    auto* box = new CAboutBox(this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setWindowModality(Qt::WindowModal);
    box->open();
}

}  // namespace corvelle

#include "moc_main_dlg.cpp"  // NOLINT(bugprone-suspicious-include): moc output
