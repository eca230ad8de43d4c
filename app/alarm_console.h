#pragma once

#include <QIcon>
#include <QObject>
#include <QSize>
#include <QString>
#include <memory>

#include "alarm/qt/alarm_watch.h"
#include "alarm/ui/alarm_list_panel.h"

namespace corvelle {

class CMainDlg;

// Alarms in the console's main window, while a profile file is in use: the alarm list below
// the window's panels (the window grows by its height), a mark on the tree item and the tab of
// every terminal with an unacknowledged alarm, and " — N 个未确认报警" in the title. Without
// profiles the window is as it always was.
class AlarmConsole final : public QObject {
    Q_OBJECT

  public:
    // The height the window grows by for the list.
    static constexpr int kListHeight = 190;
    // Who the console's acknowledgements are by.
    static constexpr const char* kOperator = "操作员";

    explicit AlarmConsole(CMainDlg& window);
    ~AlarmConsole() override;
    AlarmConsole(const AlarmConsole&) = delete;
    AlarmConsole& operator=(const AlarmConsole&) = delete;

    // The profiles in use, again after each change; nullptr: no profile file, the list goes
    // and the window is as before.
    void SetProfiles(const ProfileLookup* profiles);
    // A page took another terminal's name: its marks follow the names.
    void Remark();

    AlarmWatch& Watch() { return watch_; }
    AlarmListPanel& List() { return *list_; }

  private:
    void Acknowledge(const QByteArray& name, const QString& source);
    void Shelve(const QByteArray& name, const QString& source);
    // The value list cells of the slot's channels in alarm.
    void MarkValues(int slot, const QIcon& mark);

    CMainDlg& window_;
    const QSize plainSize_;
    const QString plainTitle_;
    AlarmWatch watch_;
    AlarmListPanel* list_ = nullptr;
};

}  // namespace corvelle
