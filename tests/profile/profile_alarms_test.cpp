#include <gtest/gtest.h>

#include "profile/profile_file.h"

namespace corvelle {
namespace {

constexpr std::string_view kAlarmProfile = R"(
[terminals."一号泵站"]
silent_after = 30

[terminals."一号泵站".channels.AD3]
raw = [1, 5]
scaled = [0, 10]
high_high = { limit = 9.5, priority = "紧急" }
high = 8
low = { limit = 1 }
deadband = 0.2
on_delay = 2
off_delay = 1.5

[terminals."一号泵站".inputs.IN2]
name = "门禁"
alarm_when = "off"
text = "门开"
priority = "一般"
)";

TEST(ProfileAlarms, ReadAndWrittenBackTheSame) {
    const auto read = ParseProfiles(kAlarmProfile, "terminals.toml");
    ASSERT_TRUE(std::holds_alternative<ProfileSet>(read))
        << std::get<ProfileError>(read).EnglishText();
    const auto profile = std::get<ProfileSet>(read).Find("一号泵站");
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(profile->silentAfter, 30);
    const ChannelAlarms& alarms = profile->channels[2]->alarms;
    EXPECT_EQ(alarms.limits[0], (AlarmLimit{9.5, AlarmPriority::Urgent}));
    EXPECT_EQ(alarms.limits[static_cast<std::size_t>(LimitKind::High)],
              (AlarmLimit{8, AlarmPriority::High}));
    EXPECT_EQ(alarms.limits[static_cast<std::size_t>(LimitKind::Low)],
              (AlarmLimit{1, AlarmPriority::High}));
    EXPECT_FALSE(alarms.limits[static_cast<std::size_t>(LimitKind::LowLow)]);
    EXPECT_EQ(alarms.deadband, 0.2);
    EXPECT_EQ(alarms.onDelay, 2);
    EXPECT_EQ(alarms.offDelay, 1.5);
    EXPECT_EQ(profile->inputs[1].alarm, (InputAlarm{false, "门开", AlarmPriority::Low}));

    const auto again = ParseProfiles(FormatProfiles(std::get<ProfileSet>(read)), "again.toml");
    ASSERT_TRUE(std::holds_alternative<ProfileSet>(again));
    EXPECT_EQ(*std::get<ProfileSet>(again).Find("一号泵站"), *profile);
}

TEST(ProfileAlarms, FaultsNameTheirPlace) {
    using Kind = ProfileError::Kind;
    const std::string channel = "[terminals.\"P\".channels.AD1]\n";
    const std::string input = "[terminals.\"P\".inputs.IN1]\n";
    const struct {
        std::string text;
        Kind kind;
        std::size_t line;
        std::string key;
    } cases[] = {
        {channel + "high = { limit = 1, priority = \"高\" }\n", Kind::BadPriority, 2,
         "channels.AD1.high.priority"},
        {channel + "high = { priority = \"紧急\" }\n", Kind::LimitMissing, 2, "channels.AD1.high"},
        {channel + "high = \"8\"\n", Kind::WrongType, 2, "channels.AD1.high"},
        {channel + "high = 5\nhigh_high = 4\n", Kind::LimitsOutOfOrder, 1, "channels.AD1"},
        {channel + "on_delay = -1\n", Kind::OutOfRange, 2, "channels.AD1.on_delay"},
        {channel + "deadband = nan\n", Kind::OutOfRange, 2, "channels.AD1.deadband"},
        {input + "alarm_when = \"yes\"\n", Kind::BadAlarmWhen, 2, "inputs.IN1.alarm_when"},
        {input + "text = \"门开\"\n", Kind::AlarmIncomplete, 1, "inputs.IN1"},
        {"[terminals.\"P\".relays.RL1]\nalarm_when = \"on\"\n", Kind::UnknownKey, 2,
         "relays.RL1.alarm_when"},
        {"[terminals.\"P\"]\nsilent_after = 0\n", Kind::OutOfRange, 2, "silent_after"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const auto read = ParseProfiles(c.text, "t.toml");
        ASSERT_TRUE(std::holds_alternative<ProfileError>(read));
        const ProfileError& error = std::get<ProfileError>(read);
        EXPECT_EQ(error.kind, c.kind);
        EXPECT_EQ(error.line, c.line);
        EXPECT_EQ(error.key, c.key);
    }
}

}  // namespace
}  // namespace corvelle
