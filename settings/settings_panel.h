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

    // Shows the stored values in the edits.
    void Initialise();

    // Change notifications of the two edits.
    void OnPortChanged();
    void OnIntervalChanged();

    void OnListenClicked();
    void OnSetClicked();
    void OnListenState(int state);

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
    std::int32_t port_ = kInitialPort;
    std::uint32_t interval_ = kInitialInterval;
    // Set while a pass runs, so that the edits' change notifications it causes are ignored.
    bool inPass_ = false;
};

}  // namespace corvelle
