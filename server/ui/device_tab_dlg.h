#pragma once

#include <QPointer>
#include <QString>
#include <QWidget>
#include <map>
#include <memory>
#include <vector>

#include "server/net/acq_socket.h"
#include "settings/listen_link.h"

class QMessageBox;
class QTabWidget;

namespace Ui {
class DeviceTabDlg;
}

namespace corvelle {

class CDevicePageDlg;

// What the tab host tells the main window.
class TabHostListener {
  public:
    virtual ~TabHostListener() = default;
    virtual void OnPageSelected(int index) = 0;
    virtual void OnPageRenamed(int slot, std::span<const std::uint8_t> name) = 0;
};

// A name cut to fit width pixels of font, for tabs and tree items (the full name goes into
// their tool tips).
QString ElidedName(const QString& name, const QFont& font, int width);

// The tab host (template 103): eight tabs with the device pages, the listening socket and the
// connections of the terminals.
class CDeviceTabDlg final : public QWidget, public ListenToggler, private TabHostView {
    Q_OBJECT

  public:
    // Longest tab text in pixels before a name is elided.
    static constexpr int kTabTextWidth = 140;

    CDeviceTabDlg(SlotTables& tables, QWidget* parent = nullptr);
    ~CDeviceTabDlg() override;
    CDeviceTabDlg(const CDeviceTabDlg&) = delete;
    CDeviceTabDlg& operator=(const CDeviceTabDlg&) = delete;

    // Main window and settings panel; both outlive the tab host's use of them.
    void Connect(TabHostListener* mainWindow, ListenStateSink* settingsPanel);
    // Creates the eight slots.
    void Initialise();

    void ToggleListening(std::int32_t port) override;
    // Closes every connection (their pages detach) and stops listening, if it listens.
    void StopListening();
    // A click in the device tree.
    void SelectPage(std::intptr_t slot);

    // An operator message that does not wait for the operator; the same text is not stacked.
    void ShowOperatorMessage(const QString& message);
    // Closes the box of that message if it is still open, once what it said no longer holds.
    void CloseOperatorMessage(const QString& message);

    DeviceTabHost& Host() { return server_.Host(); }
    NetworkTabHost& Server() { return server_; }
    const AcqListenSocket& ListenSocket() const { return server_.ListenSocket(); }
    CDevicePageDlg& PageDlg(int slot) const { return *pages_.at(static_cast<std::size_t>(slot)); }
    QTabWidget& Tabs() const;

  private:
    DevicePage& AddPage(int slot, std::span<const std::uint8_t> tabText) override;
    void SetTabText(int slot, std::span<const std::uint8_t> text) override;
    void SelectTab(int index) override;
    void ShowOnlyPage(int index) override;
    void PageSelected(int index) override;
    void PageRenamed(int slot, std::span<const std::uint8_t> name) override;
    void ListenStateChanged(int state) override;
    void ShowMessage(std::string_view text) override;

    SlotTables& tables_;
    std::unique_ptr<Ui::DeviceTabDlg> ui_;
    std::vector<CDevicePageDlg*> pages_;
    TabHostListener* mainWindow_ = nullptr;
    ListenStateSink* settingsPanel_ = nullptr;
    // Set while the tab selection changes by program, which raises no notification.
    bool selectingByProgram_ = false;
    // Open operator messages by text: the same message is never stacked.
    std::map<QString, QPointer<QMessageBox>> messages_;
    NetworkTabHost server_;
};

}  // namespace corvelle
