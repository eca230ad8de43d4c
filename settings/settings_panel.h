#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "settings/listen_link.h"

namespace corvelle {

enum class SettingsField { Port, Interval };

// The settings panel's widgets as its behaviour sees them. Texts are UTF-8.
class SettingsView {
  public:
    virtual ~SettingsView() = default;
    virtual std::string FieldText(SettingsField field) const = 0;
    virtual void SetFieldText(SettingsField field, std::string_view text) = 0;
    // The field holds no acceptable integer.
    virtual void PromptInvalidInteger(SettingsField field) = 0;
    virtual void SetListenButtonText(std::string_view text) = 0;
    virtual void SetLampLit(bool lit) = 0;

    // Opens a folder chooser at startFolder (empty: the home folder) without waiting for it;
    // a choice comes back through SettingsPanel::OnFolderChosen, a cancel not at all.
    virtual void ChooseFolder(std::string_view startFolder) = 0;
    virtual void SetRecordButtonText(std::string_view text) = 0;
    virtual void SetRecordLampLit(bool lit) = 0;
    virtual void SetRecordFolder(std::string_view folder) = 0;
    // A warning about the recording shown on its row (empty: none), such as little disk space.
    virtual void SetRecordNote(std::string_view note) = 0;
    // A message that must not wait for the operator.
    virtual void ShowRecordingFailure(std::string_view text) = 0;
};

// Where the panel starts and stops recording.
class RecordingControl {
  public:
    virtual ~RecordingControl() = default;
    // The reason when recording cannot start.
    virtual std::optional<std::string> StartRecording(const std::string& folder) = 0;
    virtual void StopRecording() = 0;
    virtual bool IsRecording() const = 0;
};

// Field grammar: optional blanks and tabs, a decimal number (the signed form may start with
// '-'), optional blanks and tabs. Empty text and numbers outside the type's range are invalid.
std::optional<std::int32_t> ParseSignedField(std::string_view text);
std::optional<std::uint32_t> ParseUnsignedField(std::string_view text);

// Port, listen button and acquisition interval: moves values between the edits and the
// stored values and hands the interval to the pages.
class SettingsPanel {
  public:
    static constexpr std::int32_t kInitialPort = 20000;
    static constexpr std::uint32_t kInitialInterval = 3000;
    static constexpr std::uint32_t kMinTypedInterval = 50;
    static constexpr std::uint32_t kMaxTypedInterval = 360000;
    static constexpr std::uint32_t kMinAcquisitionInterval = 200;

    // acquisitionIntervalMs is the poll period the device pages read.
    SettingsPanel(SettingsView& view, std::uint32_t& acquisitionIntervalMs);

    // Until a toggler is set, the listen button does nothing.
    void SetListenToggler(ListenToggler* toggler) { toggler_ = toggler; }
    // Until it is set, the record button does nothing.
    void SetRecordingControl(RecordingControl* control) { recording_ = control; }

    // Shows the stored values in the edits.
    void Initialise();

    // Change notifications of the two edits.
    void OnPortChanged();
    void OnIntervalChanged();

    void OnListenClicked();
    void OnSetClicked();
    void OnListenState(int state);

    // "开始记录" asks for a folder, "停止记录" stops.
    void OnRecordClicked();
    void OnFolderChosen(const std::string& folder);
    // Recording started or stopped, whoever caused it.
    void OnRecordingState(bool recording, std::string_view folder);
    // Writing failed: recording stopped, or one terminal's rows cannot be written.
    void OnRecordingFailed(std::string_view reason);
    // Little space is left where the recording goes.
    void OnRecordingWarning(std::string_view warning);

    std::int32_t Port() const { return port_; }
    std::uint32_t Interval() const { return interval_; }

  private:
    // Stops at the first field that does not parse, leaving its value and later fields alone.
    void ReadingPass();
    void WritingPass();
    void WriteField(SettingsField field, const std::string& text);

    SettingsView& view_;
    std::uint32_t& acquisitionIntervalMs_;
    ListenToggler* toggler_ = nullptr;
    RecordingControl* recording_ = nullptr;
    // Where the folder chooser opens: the folder last chosen in this run.
    std::string lastFolder_;
    std::int32_t port_ = kInitialPort;
    std::uint32_t interval_ = kInitialInterval;
    // Set while a pass runs, so that the edits' change notifications it causes are ignored.
    bool inPass_ = false;
};

}  // namespace corvelle
