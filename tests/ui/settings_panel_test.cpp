#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "settings/settings_panel.h"

namespace corvelle {
namespace {

TEST(ParseFields, AcceptsTheFieldGrammarOnly) {
    EXPECT_EQ(ParseSignedField("20000"), 20000);
    EXPECT_EQ(ParseSignedField(" \t-42\t "), -42);
    EXPECT_EQ(ParseSignedField("007"), 7);
    EXPECT_EQ(ParseSignedField("-2147483648"), INT32_MIN);
    EXPECT_EQ(ParseSignedField("2147483647"), INT32_MAX);
    EXPECT_EQ(ParseUnsignedField("4294967295"), UINT32_MAX);
    EXPECT_EQ(ParseUnsignedField(" 0 "), 0U);

    for (const char* bad : {"", " \t", "+5", "- 5", "--1", "1 2", "12a", "0x10", "\xEF\xBC\x91",
                            "2147483648", "-2147483649"}) {
        EXPECT_EQ(ParseSignedField(bad), std::nullopt) << '"' << bad << '"';
    }
    for (const char* bad : {"", "-1", "-0", "+1", "4294967296", "1.5"}) {
        EXPECT_EQ(ParseUnsignedField(bad), std::nullopt) << '"' << bad << '"';
    }
}

// Behaves like the edits: every text change notifies the panel, as the widgets do.
class FakeView : public SettingsView {
  public:
    SettingsPanel* panel = nullptr;
    std::string port;
    std::string interval;
    int writes = 0;
    std::vector<SettingsField> prompts;
    std::string buttonText;
    bool lampLit = false;

    std::string FieldText(SettingsField field) const override {
        return field == SettingsField::Port ? port : interval;
    }
    void SetFieldText(SettingsField field, std::string_view text) override {
        ++writes;
        Type(field, std::string(text));
    }
    void PromptInvalidInteger(SettingsField field) override { prompts.push_back(field); }
    void SetListenButtonText(std::string_view text) override { buttonText = text; }
    void SetLampLit(bool lit) override { lampLit = lit; }
    void ChooseFolder(std::string_view start) override { chooserStarts.emplace_back(start); }
    void SetRecordButtonText(std::string_view text) override { recordText = text; }
    void SetRecordLampLit(bool lit) override { recordLamp = lit; }
    void SetRecordFolder(std::string_view folder) override { recordFolder = folder; }
    void SetRecordNote(std::string_view text) override { note = text; }
    void ShowRecordingFailure(std::string_view text) override { failures.emplace_back(text); }

    std::vector<std::string> chooserStarts;
    std::string recordText;
    bool recordLamp = false;
    std::string recordFolder;
    std::string note;
    std::vector<std::string> failures;

    void Type(SettingsField field, std::string text) {
        (field == SettingsField::Port ? port : interval) = std::move(text);
        if (field == SettingsField::Port) {
            panel->OnPortChanged();
        } else {
            panel->OnIntervalChanged();
        }
    }
};

class SettingsPanelTest : public ::testing::Test {
  protected:
    SettingsPanelTest() { view.panel = &panel; }

    FakeView view;
    std::uint32_t acquisitionInterval = 3000;
    SettingsPanel panel{view, acquisitionInterval};
};

TEST_F(SettingsPanelTest, WritesOnlyFieldsThatDifferAndNeverAfterAPortChange) {
    view.port = "20000";
    panel.Initialise();
    EXPECT_EQ(view.interval, "3000");
    EXPECT_EQ(view.writes, 1);

    view.Type(SettingsField::Port, " 08080 ");
    EXPECT_EQ(panel.Port(), 8080);
    EXPECT_EQ(view.port, " 08080 ");
    EXPECT_EQ(view.writes, 1);
}

TEST_F(SettingsPanelTest, ReadingStopsAtTheFirstBadField) {
    panel.Initialise();
    view.interval = "oops";
    view.Type(SettingsField::Port, "x");
    EXPECT_EQ(view.prompts, std::vector{SettingsField::Port});
    EXPECT_EQ(panel.Port(), 20000);

    view.prompts.clear();
    view.Type(SettingsField::Port, "1234");
    EXPECT_EQ(panel.Port(), 1234);
    EXPECT_EQ(view.prompts, std::vector{SettingsField::Interval});
    EXPECT_EQ(panel.Interval(), 3000U);
}

TEST_F(SettingsPanelTest, IntervalIsClampedAtItsBounds) {
    panel.Initialise();
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"0", "50"},
        {"49", "50"},
        {"50", "50"},
        {"360000", "360000"},
        {"360001", "360000"},
        {"4294967295", "360000"},
        {"4294967296", "360000"},  // overflow: prompt, the previous value stays
    };
    for (const auto& [typed, shown] : cases) {
        view.Type(SettingsField::Interval, typed);
        EXPECT_EQ(view.interval, shown) << typed;
    }
    EXPECT_EQ(view.prompts, std::vector{SettingsField::Interval});
}

TEST_F(SettingsPanelTest, RewritesDuringAPassDoNotStartAnother) {
    panel.Initialise();
    view.writes = 0;
    view.port.clear();  // emptied without its notification, as if it had already prompted
    view.Type(SettingsField::Interval, "500");
    // A nested pass on the port's rewrite would read 500 before the interval is rewritten.
    EXPECT_EQ(view.port, "20000");
    EXPECT_EQ(view.interval, "3000");
    EXPECT_EQ(view.writes, 2);
    EXPECT_EQ(view.prompts, std::vector{SettingsField::Port});
}

TEST_F(SettingsPanelTest, SetAppliesTheTypedIntervalButNotBelow200ms) {
    panel.Initialise();
    for (const auto& [typed, applied] : std::vector<std::pair<std::string, std::uint32_t>>{
             {"50", 200}, {"199", 200}, {"200", 200}, {"201", 201}}) {
        view.Type(SettingsField::Interval, typed);
        EXPECT_EQ(acquisitionInterval, 3000U) << "typing alone applies nothing";
        panel.OnSetClicked();
        EXPECT_EQ(acquisitionInterval, applied) << typed;
        acquisitionInterval = 3000;
    }
}

TEST_F(SettingsPanelTest, OnlyState1MeansListening) {
    for (const int state : {0, 2, -1}) {
        panel.OnListenState(1);
        EXPECT_EQ(view.buttonText, "停止监听");
        EXPECT_TRUE(view.lampLit);
        panel.OnListenState(state);
        EXPECT_EQ(view.buttonText, "开始监听") << state;
        EXPECT_FALSE(view.lampLit) << state;
    }
}

// The record button asks for a folder through a chooser that does not block, and stops a
// running recording; the panel shows what recording reports, failures included.
TEST(SettingsPanelRecording, ChooserStartStopAndFailure) {
    struct Control : RecordingControl {
        std::optional<std::string> StartRecording(const std::string& folder) override {
            started.push_back(folder);
            if (folder == "/full") {
                return "disk full";
            }
            recording = true;
            return std::nullopt;
        }
        void StopRecording() override { recording = false; }
        bool IsRecording() const override { return recording; }
        std::vector<std::string> started;
        bool recording = false;
    } control;
    std::uint32_t interval = 3000;
    FakeView view;
    SettingsPanel panel(view, interval);
    view.panel = &panel;
    panel.OnRecordClicked();  // no control yet: nothing
    panel.SetRecordingControl(&control);

    panel.OnRecordClicked();
    panel.OnFolderChosen("/full");
    EXPECT_EQ(view.failures, std::vector<std::string>{"数据记录失败：disk full"});
    panel.OnRecordClicked();
    panel.OnFolderChosen("/data");
    EXPECT_EQ(view.chooserStarts, (std::vector<std::string>{"", "/full"}));
    EXPECT_TRUE(control.recording);
    panel.OnRecordingState(true, "/data");
    EXPECT_EQ(view.recordText, "停止记录");
    EXPECT_TRUE(view.recordLamp);
    EXPECT_EQ(view.recordFolder, "/data");

    panel.OnRecordClicked();
    EXPECT_FALSE(control.recording);
    EXPECT_EQ(view.chooserStarts.size(), 2U);
    panel.OnRecordingState(false, "/data");
    EXPECT_EQ(view.recordText, "开始记录");
    EXPECT_FALSE(view.recordLamp);
    EXPECT_EQ(view.recordFolder, "");
    panel.OnRecordClicked();
    EXPECT_EQ(view.chooserStarts.back(), "/data");
}

}  // namespace
}  // namespace corvelle
