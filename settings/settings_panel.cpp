#include "settings/settings_panel.h"

#include <algorithm>
#include <charconv>

namespace corvelle {
namespace {

constexpr std::string_view kBlanks = " \t";

template <typename Int>
std::optional<Int> ParseField(std::string_view text) {
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) {
        return std::nullopt;
    }
    const auto number = text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
    Int value{};
    // from_chars takes no '+' and no blanks, takes '-' only for signed types and reports
    // overflow, which is exactly the field grammar once the blanks are trimmed.
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (error != std::errc() || end != number.data() + number.size()) {
        return std::nullopt;
    }
    return value;
}

class PassScope {
  public:
    explicit PassScope(bool& flag) : flag_(flag) { flag_ = true; }
    ~PassScope() { flag_ = false; }
    PassScope(const PassScope&) = delete;
    PassScope& operator=(const PassScope&) = delete;

  private:
    bool& flag_;
};

}  // namespace

std::optional<std::int32_t> ParseSignedField(std::string_view text) {
    return ParseField<std::int32_t>(text);
}

std::optional<std::uint32_t> ParseUnsignedField(std::string_view text) {
    return ParseField<std::uint32_t>(text);
}

SettingsPanel::SettingsPanel(SettingsView& view, std::uint32_t& acquisitionIntervalMs)
    : view_(view), acquisitionIntervalMs_(acquisitionIntervalMs) {}

void SettingsPanel::Initialise() {
    WritingPass();
}

void SettingsPanel::OnPortChanged() {
    if (inPass_) {
        return;
    }
    ReadingPass();
}

void SettingsPanel::OnIntervalChanged() {
    if (inPass_) {
        return;
    }
    ReadingPass();
    interval_ = std::clamp(interval_, kMinTypedInterval, kMaxTypedInterval);
    // Always, so that a rejected or clamped entry is replaced by what is stored.
    WritingPass();
}

void SettingsPanel::OnListenClicked() {
    if (toggler_ != nullptr) {
        toggler_->ToggleListening(port_);
    }
}

void SettingsPanel::OnSetClicked() {
    acquisitionIntervalMs_ = std::max(interval_, kMinAcquisitionInterval);
}

void SettingsPanel::OnListenState(int state) {
    const bool listening = state == 1;
    view_.SetListenButtonText(listening ? "停止监听" : "开始监听");
    view_.SetLampLit(listening);
}

void SettingsPanel::OnRecordClicked() {
    if (recording_ == nullptr) {
        return;
    }
    if (recording_->IsRecording()) {
        recording_->StopRecording();
    } else {
        view_.ChooseFolder(lastFolder_);
    }
}

void SettingsPanel::OnFolderChosen(const std::string& folder) {
    if (recording_ == nullptr) {
        return;
    }
    lastFolder_ = folder;
    if (const auto problem = recording_->StartRecording(folder)) {
        OnRecordingFailed(*problem);
    }
}

void SettingsPanel::OnRecordingState(bool recording, std::string_view folder) {
    view_.SetRecordButtonText(recording ? "停止记录" : "开始记录");
    view_.SetRecordLampLit(recording);
    view_.SetRecordFolder(recording ? folder : std::string_view());
    view_.SetRecordNote({});
}

void SettingsPanel::OnRecordingFailed(std::string_view reason) {
    view_.ShowRecordingFailure("数据记录失败：" + std::string(reason));
}

void SettingsPanel::OnRecordingWarning(std::string_view warning) {
    view_.SetRecordNote(warning);
}

void SettingsPanel::ReadingPass() {
    const PassScope scope(inPass_);
    const auto port = ParseSignedField(view_.FieldText(SettingsField::Port));
    if (!port) {
        view_.PromptInvalidInteger(SettingsField::Port);
        return;
    }
    port_ = *port;
    const auto interval = ParseUnsignedField(view_.FieldText(SettingsField::Interval));
    if (!interval) {
        view_.PromptInvalidInteger(SettingsField::Interval);
        return;
    }
    interval_ = *interval;
}

void SettingsPanel::WritingPass() {
    const PassScope scope(inPass_);
    WriteField(SettingsField::Port, std::to_string(port_));
    WriteField(SettingsField::Interval, std::to_string(interval_));
}

void SettingsPanel::WriteField(SettingsField field, const std::string& text) {
    if (view_.FieldText(field) != text) {
        view_.SetFieldText(field, text);
    }
}

}  // namespace corvelle
