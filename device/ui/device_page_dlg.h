#pragma once

#include <QPixmap>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/device_page.h"
#include "device/qt/qt_page_ports.h"
#include "protocol/modbus_ascii.h"

class QLabel;
class QPushButton;
class QTableWidget;

namespace Ui {
class DevicePageDlg;
}

namespace corvelle {

class CTChart;

// The widget page of one device slot (template 105): the trend chart, the value list, the
// input and relay lamps and the relay buttons. Its behaviour is the DevicePage it owns.
class CDevicePageDlg final : public QWidget, private PageView {
    Q_OBJECT

  public:
    // Builds the widgets and runs the page's initialisation, which enters the page in the
    // page window table of tables.
    CDevicePageDlg(int slot, SlotTables& tables, DeviceSender& sender, QWidget* parent = nullptr);
    ~CDevicePageDlg() override;
    CDevicePageDlg(const CDevicePageDlg&) = delete;
    CDevicePageDlg& operator=(const CDevicePageDlg&) = delete;

    DevicePage& Page() { return page_; }
    CTChart& Chart() { return *chart_; }
    // The list with the rows last set, written now if they waited while the page was hidden.
    QTableWidget& ValueList();
    QLabel& StatusLabel() const;
    QLabel& InputLamp(std::size_t index) const { return *inputLamps_.at(index); }
    QLabel& RelayLamp(std::size_t index) const { return *relayLamps_.at(index); }
    QPushButton& RelayButton(std::size_t index) const { return *relayButtons_.at(index); }
    bool PollTimerActive() const { return pollTimer_.IsActive(); }
    QPushButton& ChannelSettingsButton() const;

  signals:
    // The operator asked for this terminal's channel settings.
    void channelSettingsRequested();
    // New value rows were set. A page behind another tab writes them into its list only when it
    // is shown or its list is asked for, and then without the table's itemChanged.
    void valueRowsSet(std::span<const corvelle::ValueRow> rows);

  protected:
    void showEvent(QShowEvent* event) override;

  private:
    void SetStatusText(std::string_view text) override;
    void SetValueRows(std::span<const ValueRow> rows) override;
    void SetInputLamp(std::size_t index, bool lit) override;
    void SetRelay(std::size_t index, bool lit, std::string_view caption) override;
    void SetSwitchName(bool relay, std::size_t index, std::string_view name) override;

    void PrepareValueList();
    void WriteValueRows(std::span<const ValueRow> rows);
    void WritePendingRows();
    // Lamps and captions are compared with what they show here rather than read back from
    // the widgets, which every reply of every page would do 36 times.
    void ShowLamp(QLabel& lamp, std::optional<bool>& shown, bool lit);

    std::unique_ptr<Ui::DevicePageDlg> ui_;
    CTChart* chart_ = nullptr;
    std::array<QLabel*, kRelayCount> inputLamps_{};
    std::array<QLabel*, kRelayCount> relayLamps_{};
    std::array<QPushButton*, kRelayCount> relayButtons_{};
    std::array<std::optional<bool>, kRelayCount> inputLit_{};
    std::array<std::optional<bool>, kRelayCount> relayLit_{};
    std::array<std::string, kRelayCount> captions_{};
    QPixmap lampOn_;
    QPixmap lampOff_;
    std::vector<ValueRow> shownRows_;  // what the value list shows
    // Rows set while the list was hidden, not yet written into it while rowsPending_.
    std::vector<ValueRow> pendingRows_;
    bool rowsPending_ = false;
    QtOneShotTimer pollTimer_;
    LocalClock clock_;
    DevicePage page_;
};

}  // namespace corvelle
