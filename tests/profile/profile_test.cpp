#include <gtest/gtest.h>

#include "profile/profile_file.h"

namespace corvelle {
namespace {

constexpr std::string_view kExample = R"(
[terminals."一号泵站"]
description = "东区 \"一号\" 泵站"

[terminals."一号泵站".channels.AD3]
name = "水位"
unit = "m"
raw = [1.0, 5]
scaled = [0.0, 10.0]

[terminals."一号泵站".channels.AD12]
name = "温度"
unit = "℃"
decimals = 0
axis = "right"

[terminals."一号泵站".inputs.IN1]
name = "门禁"

[terminals."一号泵站".relays.RL12]
name = "水泵"
)";

TEST(Profiles, ReadWhatTheFileSaysAndWriteItBackTheSame) {
    const auto read = ParseProfiles(kExample, "terminals.toml");
    ASSERT_TRUE(std::holds_alternative<ProfileSet>(read))
        << std::get<ProfileError>(read).EnglishText();
    const ProfileSet& set = std::get<ProfileSet>(read);
    const auto profile = set.Find("一号泵站");
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(set.Find("二号泵站"), nullptr);
    EXPECT_EQ(profile->description, "东区 \"一号\" 泵站");
    ASSERT_TRUE(profile->channels[2].has_value());
    EXPECT_EQ(profile->channels[2]->scaling, (Scaling{1, 5, 0, 10}));
    EXPECT_EQ(profile->channels[2]->decimals, 2);
    EXPECT_EQ(profile->channels[11]->axis, Axis::Right);
    EXPECT_FALSE(profile->channels[11]->scaling.has_value());
    EXPECT_FALSE(profile->channels[0].has_value());
    EXPECT_EQ(profile->inputs[0].name, "门禁");
    EXPECT_EQ(profile->relays[11].name, "水泵");

    const auto again = ParseProfiles(FormatProfiles(set), "again.toml");
    ASSERT_TRUE(std::holds_alternative<ProfileSet>(again));
    EXPECT_EQ(*std::get<ProfileSet>(again).Find("一号泵站"), *profile);
    EXPECT_EQ(
        MetaJson(*profile),
        R"({"name":"一号泵站","description":"东区 \"一号\" 泵站","channels":[)"
        R"({"channel":3,"name":"水位","unit":"m","raw":[1,5],"scaled":[0,10],"decimals":2,)"
        R"("axis":"left"},{"channel":12,"name":"温度","unit":"℃","decimals":0,"axis":"right"}],)"
        R"("inputs":[{"number":1,"name":"门禁"}],"relays":[{"number":12,"name":"水泵"}]})");
}

// Every fault names the place, the terminal and the key; nothing of the file is applied.
TEST(Profiles, FaultsNameFileLineColumnTerminalAndKey) {
    const std::string table = "[terminals.\"P\".channels.AD3]\n";
    const struct {
        std::string text;
        ProfileError::Kind kind;
        std::size_t line;
        std::string key;
    } cases[] = {
        {table + "raw = [1.0, 1.0]\nscaled = [0, 1]\n", ProfileError::Kind::EqualRawPoints, 2,
         "channels.AD3.raw"},
        {table + "raw = [1.0, 2.0]\n", ProfileError::Kind::ScalingIncomplete, 1, "channels.AD3"},
        {table + "decimals = 7\n", ProfileError::Kind::DecimalsOutOfRange, 2,
         "channels.AD3.decimals"},
        {table + "decimals = 1.5\n", ProfileError::Kind::WrongType, 2, "channels.AD3.decimals"},
        {table + "name = \"" + std::string(33, 'x') + "\"\n", ProfileError::Kind::TooLong, 2,
         "channels.AD3.name"},
        {table + "unit = \"" + std::string(16, 'x') + "\"\nname = \"" + std::string(32, 'x') +
             "\"\ncolour = 1\n",
         ProfileError::Kind::UnknownKey, 4, "channels.AD3.colour"},
        {table + "axis = \"top\"\n", ProfileError::Kind::BadAxis, 2, "channels.AD3.axis"},
        {table + "raw = [1, inf]\nscaled = [0, 1]\n", ProfileError::Kind::NotTwoNumbers, 2,
         "channels.AD3.raw"},
        {"[terminals.\"P\".channels.AD13]\nname = \"x\"\n", ProfileError::Kind::UnknownKey, 1,
         "channels.AD13"},
        {"[terminals.\"P\".inputs.IN01]\nname = \"x\"\n", ProfileError::Kind::UnknownKey, 1,
         "inputs.IN01"},
        {table + "name = \"x\\ny\"\n", ProfileError::Kind::ControlCharacter, 2,
         "channels.AD3.name"},
        {table + "name = \"x\n", ProfileError::Kind::Syntax, 2, ""},
        // Alarm keys.
        {table + "high = { limit = 1, priority = \"高\" }\n", ProfileError::Kind::BadPriority, 2,
         "channels.AD3.high.priority"},
        {table + "high = { priority = \"紧急\" }\n", ProfileError::Kind::LimitMissing, 2,
         "channels.AD3.high"},
        {table + "high = \"8\"\n", ProfileError::Kind::WrongType, 2, "channels.AD3.high"},
        {table + "high = 5\nhigh_high = 4\n", ProfileError::Kind::LimitsOutOfOrder, 1,
         "channels.AD3"},
        {table + "on_delay = -1\n", ProfileError::Kind::OutOfRange, 2, "channels.AD3.on_delay"},
        {table + "deadband = nan\n", ProfileError::Kind::OutOfRange, 2, "channels.AD3.deadband"},
        {"[terminals.\"P\".inputs.IN1]\nalarm_when = \"yes\"\n", ProfileError::Kind::BadAlarmWhen,
         2, "inputs.IN1.alarm_when"},
        {"[terminals.\"P\".inputs.IN1]\ntext = \"门开\"\n", ProfileError::Kind::AlarmIncomplete, 1,
         "inputs.IN1"},
        {"[terminals.\"P\".relays.RL1]\nalarm_when = \"on\"\n", ProfileError::Kind::UnknownKey, 2,
         "relays.RL1.alarm_when"},
        {"[terminals.\"P\"]\nsilent_after = 0\n", ProfileError::Kind::OutOfRange, 2,
         "silent_after"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto read = ParseProfiles(c.text, "t.toml");
        ASSERT_TRUE(std::holds_alternative<ProfileError>(read));
        const ProfileError& error = std::get<ProfileError>(read);
        EXPECT_EQ(error.kind, c.kind);
        EXPECT_EQ(error.line, c.line);
        EXPECT_EQ(error.key, c.key);
        EXPECT_TRUE(error.EnglishText().starts_with("t.toml:" + std::to_string(c.line) + ":"))
            << error.EnglishText();
        if (!c.key.empty()) {
            EXPECT_NE(error.ChineseText().find("终端“P” 键 " + c.key + "："), std::string::npos)
                << error.ChineseText();
        }
    }
}

TEST(Profiles, ScaledValuesAndTheirText) {
    TerminalProfile profile;
    profile.channels[0].emplace().scaling = Scaling{1, 5, 0, 10};
    profile.channels[1].emplace().scaling = Scaling{0, 10, 100, -50};
    profile.channels[2].emplace().name = "名称而无量程";
    const struct {
        std::size_t channel;
        double volts;
        int decimals;
        std::string unit;
        std::string text;
        double rounded;
    } cases[] = {
        {0, 3.0, 2, "m", "5.00 m", 5.0},
        {0, 0.0, 0, "m", "-3 m", -3.0},
        {0, 1.0004, 6, "", "0.001000", 0.001},
        {0, 0.9999, 2, "m", "0.00 m", 0.0},  // a negative zero would read "-0.00"
        {1, 2.5, 1, "℃", "62.5 ℃", 62.5},
        {1, 10.0, 2, "℃", "-50.00 ℃", -50.0},
        {2, -1.234, 2, "V", "-1.23 V", -1.23},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const double value = ChannelValue(&profile, c.channel, c.volts);
        EXPECT_EQ(ValueText(value, c.decimals, c.unit), c.text);
        EXPECT_DOUBLE_EQ(RoundedValue(value, c.decimals), c.rounded);
    }
    EXPECT_EQ(ChannelValue(nullptr, 0, 2.5), 2.5);
    EXPECT_EQ(ChannelSummary(profile, 2), ": AD1, AD2");

    // The dialog's check is the file's: equal raw points are refused without a place.
    profile.channels[0]->scaling->rawHigh = 1;
    const auto fault = CheckProfile(profile);
    ASSERT_TRUE(fault.has_value());
    EXPECT_EQ(fault->kind, ProfileError::Kind::EqualRawPoints);
    EXPECT_TRUE(fault->ChineseText().starts_with("键 channels.AD1.raw：")) << fault->ChineseText();
}

// The commented example the service's package ships reads without a fault.
TEST(Profiles, ThePackagedExampleReads) {
    const auto read = ReadProfileFile(PROFILES_EXAMPLE_PATH);
    ASSERT_TRUE(std::holds_alternative<ProfileSet>(read))
        << std::get<ProfileError>(read).EnglishText();
    EXPECT_NE(std::get<ProfileSet>(read).Find("一号泵站"), nullptr);
}

}  // namespace
}  // namespace corvelle
