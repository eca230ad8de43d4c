#pragma once

#include <QDialog>
#include <QTimer>
#include <array>
#include <memory>
#include <optional>

#include "device/device_page.h"
#include "profile/qt/terminal_profiles.h"

namespace Ui {
class ChannelSettingsDlg;
}

namespace corvelle {

// The operator's view of one terminal's profile: names, units, scaling, decimals and axis of
// every channel, the input and relay names and a description, with each channel's current raw
// and scaled value beside it so the scaling can be checked while typing. OK checks the profile
// as the file would, saves it and applies it at once.
class ChannelSettingsDlg final : public QDialog {
    Q_OBJECT

  public:
    // Table columns of the channels.
    enum Column {
        kName,
        kUnit,
        kRawLow,
        kRawHigh,
        kScaledLow,
        kScaledHigh,
        kDecimals,
        kAxis,
        kRawNow,
        kValueNow,
        kColumnCount
    };

    // terminal: the name as the tab shows it; page: where the current values come from.
    ChannelSettingsDlg(TerminalProfiles& profiles, const DevicePage& page, const QString& terminal,
                       QWidget* parent = nullptr);
    ~ChannelSettingsDlg() override;

    // The profile as the dialog's fields now say, or what is wrong with them.
    std::variant<TerminalProfile, QString> EditedProfile() const;

    void accept() override;

  private:
    void Fill(const TerminalProfile* profile);
    void ShowCurrentValues();
    std::optional<double> NumberIn(int row, Column column, bool& bad) const;

    std::unique_ptr<Ui::ChannelSettingsDlg> ui_;
    TerminalProfiles& profiles_;
    const DevicePage& page_;
    std::string terminal_;
    QTimer refresh_;
};

}  // namespace corvelle
