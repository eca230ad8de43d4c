#pragma once

#include <QDialog>
#include <memory>
#include <vector>

#include "device/slot_tables.h"
#include "mqtt/publishing.h"
#include "process/orderly_stop.h"
#include "profile/qt/terminal_profiles.h"
#include "record/qt/recording.h"
#include "server/ui/device_tab_dlg.h"
#include "settings/settings_panel.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace Ui {
class MainDlg;
}

namespace corvelle {

class AlarmConsole;
class CSettingsDlg;

// The console's main window (template 102): the device tree, the settings panel below it and
// the tab host on the right. It owns the values the panels and pages share.
class CMainDlg final : public QDialog, private TabHostListener, private RecordingControl {
    Q_OBJECT

  public:
    explicit CMainDlg(QWidget* parent = nullptr);
    ~CMainDlg() override;
    CMainDlg(const CMainDlg&) = delete;
    CMainDlg& operator=(const CMainDlg&) = delete;

    SlotTables& Tables() { return tables_; }
    CDeviceTabDlg& TabHost() const { return *tabHost_; }
    CSettingsDlg& Settings() const { return *settings_; }
    QTreeWidget& Tree() const;
    QTreeWidgetItem& Root() const { return *root_; }
    HostSinks& Sinks() { return *sinks_; }
    // Null until StartPublishing.
    Publishing* PublishingNow() { return publishing_.get(); }
    Recording& Recorder() { return *recording_; }
    // The alarm list and marks, in use while a profile file is.
    AlarmConsole& Alarms() { return *alarms_; }

    // Opens the About box without waiting for it.
    void ShowAbout();
    // Publishes every reading and event from now on; problems come up as messages.
    void StartPublishing(const MqttSettings& settings);
    // Reads the terminal profiles from file, or else from the console's own file when it
    // exists; a faulty file is reported in a message and leaves the console without profiles.
    void UseProfiles(const QString& file);
    // Opens the channel settings of a slot's terminal without waiting for them.
    void OpenChannelSettings(int slot);
    TerminalProfiles& Profiles() { return profiles_; }
    // Opens a history window at the recording folder, or the folder last used in this run.
    void OpenHistory();

  signals:
    // Closing the window stopped the console in order: every connection closed, the recording
    // and the publishing written out, or given up on at the deadline (exit status 1).
    void stopped(int exitStatus);

  protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    void OnPageSelected(int index) override;
    void OnPageRenamed(int slot, std::span<const std::uint8_t> name) override;
    std::optional<std::string> StartRecording(const std::string& folder) override;
    void StopRecording() override;
    bool IsRecording() const override;

    void BuildTree();
    void BeginStop();
    // Everything the stop must wait for.
    std::vector<Drain*> Drains();
    void OnRecorderEvent(const AcquisitionEvent& event);
    void OnTreeClick(QPoint pos);
    QTreeWidgetItem* SlotItem(int slot) const;
    // The full name the slot's terminal has (name) and its profile's description.
    void ShowTreeTip(int slot, std::span<const std::uint8_t> name);

    SlotTables tables_;
    std::unique_ptr<Ui::MainDlg> ui_;
    QTreeWidgetItem* root_ = nullptr;
    CSettingsDlg* settings_ = nullptr;
    CDeviceTabDlg* tabHost_ = nullptr;
    TerminalProfiles profiles_;
    std::unique_ptr<HostSinks> sinks_;
    std::unique_ptr<Recording> recording_;
    std::unique_ptr<AlarmConsole> alarms_;
    std::unique_ptr<Publishing> publishing_;
    QString publishingProblem_;  // the message shown for the broker's last problem, if any
    OrderlyStop stop_;
    bool stopped_ = false;
    // Something could not be written while stopping.
    bool lostAtStop_ = false;
};

}  // namespace corvelle
