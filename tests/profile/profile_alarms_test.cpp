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

}  // namespace
}  // namespace corvelle
