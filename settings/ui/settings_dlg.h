#pragma once

#include <QPointer>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "settings/listen_link.h"
#include "settings/settings_panel.h"

class QFileDialog;
class QLabel;
class QLineEdit;
class QMessageBox;

namespace Ui {
class SettingsDlg;
}

namespace corvelle {

// The panel below the device tree (template 104): port, listen button with its lamp, and the
// acquisition interval. The tab host toggles listening for it and reports back through
// OnListenState.
class CSettingsDlg final : public QWidget, public ListenStateSink, private SettingsView {
    Q_OBJECT

  public:
    // acquisitionIntervalMs is the poll period shared with the device pages; it must outlive
    // the panel.
    explicit CSettingsDlg(std::uint32_t& acquisitionIntervalMs, QWidget* parent = nullptr);
    ~CSettingsDlg() override;

    // The tab host exists only after the panel; until it is set the listen button does nothing.
    void SetListenToggler(ListenToggler* toggler);
    // Until it is set the record button does nothing.
    void SetRecordingControl(RecordingControl* control);
    // What recording reports, whoever started or stopped it.
    void OnRecordingState(bool recording, const QString& folder);
    void OnRecordingFailed(const QString& reason);
    void OnRecordingWarning(const QString& warning);

    void OnListenState(int state) override;

  signals:
    // "历史数据…": the operator asks for a history window.
    void historyRequested();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

  private:
    std::string FieldText(SettingsField field) const override;
    void SetFieldText(SettingsField field, std::string_view text) override;
    void PromptInvalidInteger(SettingsField field) override;
    void SetListenButtonText(std::string_view text) override;
    void SetLampLit(bool lit) override;
    void ChooseFolder(std::string_view startFolder) override;
    void SetRecordButtonText(std::string_view text) override;
    void SetRecordLampLit(bool lit) override;
    void SetRecordFolder(std::string_view folder) override;
    void SetRecordNote(std::string_view note) override;
    void ShowRecordRow();
    void ShowRecordingFailure(std::string_view text) override;
    void ShowLamp(QLabel& lamp, bool lit);

    QLineEdit* Edit(SettingsField field) const;

    std::unique_ptr<Ui::SettingsDlg> ui_;
    SettingsPanel panel_;
    QPointer<QMessageBox> prompt_;
    QPointer<QMessageBox> recordingFailure_;
    // What the recording row shows: the folder, or a warning in its place.
    QString recordFolder_;
    QString recordNote_;
    QPointer<QFileDialog> chooser_;
};

}  // namespace corvelle
