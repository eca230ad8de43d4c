#include <gtest/gtest.h>

#include "alarm/alarm_engine.h"

namespace corvelle {
namespace {

class FakeAlarmClock final : public AlarmClock {
  public:
    std::int64_t MonotonicMs() const override { return ms; }
    LocalDateTime Now() const override {
        return {2026, 12, 8, 10, 0, static_cast<int>(ms / 1000 % 60)};
    }
    std::int64_t ms = 0;
};

const std::vector<std::uint8_t> kName{'P', '1'};

// One terminal "P1" on slot 1 with the profile the test gives it; every event kept.
struct Rig final : ProfileLookup {
    explicit Rig(TerminalProfile terminal)
        : profile(std::make_shared<TerminalProfile>(std::move(terminal))),
          engine(clock, [this](const AcquisitionEvent& event) { events.push_back(event); }) {
        engine.SetPollInterval(1000);
        engine.SetProfiles(this);
        AcquisitionEvent identified;
        identified.kind = EventKind::Identified;
        identified.slot = 1;
        identified.name = kName;
        engine.OnEvent(identified);
    }

    // AD1 at volts (unscaled) and IN1, at the clock's time plus the seconds given.
    void Read(double seconds, double volts, bool input = false) {
        clock.ms += static_cast<std::int64_t>(seconds * 1000);
        Reading reading;
        reading.slot = 1;
        reading.name = kName;
        reading.channelCount = 12;
        reading.values[0] = volts;
        reading.inputs[0] = input ? 1 : 0;
        engine.OnReading(reading);
        engine.Tick();
    }
    // Readings of value every second for so many seconds.
    void Hold(int seconds, double value) {
        for (int i = 0; i < seconds; ++i) {
            Read(1, value);
        }
    }
    void Pass(double seconds) {
        clock.ms += static_cast<std::int64_t>(seconds * 1000);
        engine.Tick();
    }
    // The kinds of the events since the last call, with the alarm's state after each.
    std::vector<std::pair<EventKind, AlarmState>> Take() {
        std::vector<std::pair<EventKind, AlarmState>> taken;
        for (const auto& event : events) {
            taken.emplace_back(event.kind, event.alarm->alarm.state);
        }
        if (!events.empty()) {
            last = events.back();
        }
        events.clear();
        return taken;
    }
    // The alarm as of the latest event, taken or not.
    std::shared_ptr<const TerminalProfile> ProfileFor(
        std::span<const std::uint8_t>) const override {
        return profile;
    }
    const AlarmSnapshot& Last() const {
        return (events.empty() ? last : events.back()).alarm->alarm;
    }

    FakeAlarmClock clock;
    std::shared_ptr<TerminalProfile> profile;
    AlarmEngine engine;
    std::vector<AcquisitionEvent> events;
    AcquisitionEvent last;
};

TerminalProfile ChannelLimits(ChannelAlarms alarms) {
    TerminalProfile profile;
    profile.channels[0] = ChannelProfile{"水位", "m", std::nullopt, 2, Axis::Left, alarms};
    return profile;
}

ChannelAlarms HighAt(double high, std::optional<double> highHigh = std::nullopt) {
    ChannelAlarms alarms;
    alarms.limits[static_cast<std::size_t>(LimitKind::High)] = AlarmLimit{high};
    if (highHigh) {
        alarms.limits[static_cast<std::size_t>(LimitKind::HighHigh)] =
            AlarmLimit{*highHigh, AlarmPriority::Urgent};
    }
    return alarms;
}

using Steps = std::vector<std::pair<EventKind, AlarmState>>;
constexpr auto kRaised = EventKind::AlarmRaised;
constexpr auto kCleared = EventKind::AlarmCleared;
constexpr auto kAcked = EventKind::AlarmAcknowledged;

TEST(Alarms, LimitsWithDeadbandAndDelays) {
    ChannelAlarms banded = HighAt(8);
    banded.deadband = 0.5;
    ChannelAlarms delayed = HighAt(8);
    delayed.onDelay = 2;
    delayed.offDelay = 3;
    ChannelAlarms low;
    low.limits[static_cast<std::size_t>(LimitKind::Low)] = AlarmLimit{2};
    low.limits[static_cast<std::size_t>(LimitKind::LowLow)] = AlarmLimit{1, AlarmPriority::Urgent};
    low.deadband = 0.5;
    const struct {
        const char* what;
        ChannelAlarms alarms;
        // Seconds since the last reading, and the value.
        std::vector<std::pair<double, double>> readings;
        Steps expected;
    } cases[] = {
        {"a value inside the deadband holds the alarm",
         banded,
         {{1, 8.1}, {1, 7.6}, {1, 7.4}},
         {{kRaised, AlarmState::ActiveUnacked}, {kCleared, AlarmState::ReturnedUnacked}}},
        {"a crossing shorter than the on delay raises nothing",
         delayed,
         {{1, 9}, {1, 7}, {1, 9}, {1, 9}},
         {}},
        {"it raises once the crossing held, clears once its end held",
         delayed,
         {{1, 9}, {2, 9}, {1, 7}, {2, 7}, {1, 7}},
         {{kRaised, AlarmState::ActiveUnacked}, {kCleared, AlarmState::ReturnedUnacked}}},
        {"low limits mirror the high ones, the deadband above them",
         low,
         {{1, 1.9}, {1, 0.9}, {1, 2.3}, {1, 2.6}},
         {{kRaised, AlarmState::ActiveUnacked},
          {kRaised, AlarmState::ActiveUnacked},
          {kCleared, AlarmState::ReturnedUnacked}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig(ChannelLimits(c.alarms));
        for (const auto& [seconds, value] : c.readings) {
            rig.Read(seconds, value);
        }
        EXPECT_EQ(rig.Take(), c.expected);
    }
}

TEST(Alarms, AcknowledgementAndTheMostSevereLimit) {
    Rig rig(ChannelLimits(HighAt(8, 9)));
    rig.Read(1, 8.5);
    EXPECT_EQ(rig.Last().condition.limitKind, LimitKind::High);
    EXPECT_TRUE(rig.engine.Acknowledge(kName, {AlarmSource::Kind::Channel, 0}, "操作员"));
    EXPECT_EQ(rig.Take(),
              (Steps{{kRaised, AlarmState::ActiveUnacked}, {kAcked, AlarmState::ActiveAcked}}));
    // Past high_high it is raised again, unacknowledged; back to high it stays as it is.
    rig.Read(1, 9.5);
    rig.Read(1, 8.5);
    EXPECT_EQ(rig.Last().condition.limitKind, LimitKind::HighHigh);
    EXPECT_EQ(rig.Last().condition.priority, AlarmPriority::Urgent);
    EXPECT_EQ(rig.events.back().detail, "AD1 水位 高高限 9 值 9.5 紧急");
    EXPECT_EQ(rig.Take(), (Steps{{kRaised, AlarmState::ActiveUnacked}}));
    // Acknowledged while active, then cleared: normal.
    EXPECT_EQ(rig.engine.AcknowledgeAll("MQTT"), 1U);
    rig.Read(1, 7);
    EXPECT_EQ(rig.Take(),
              (Steps{{kAcked, AlarmState::ActiveAcked}, {kCleared, AlarmState::Normal}}));
    EXPECT_FALSE(rig.engine.Acknowledge(kName, {AlarmSource::Kind::Channel, 0}, "操作员"));
    EXPECT_TRUE(rig.engine.Alarms().empty());
    // Cleared first, then acknowledged: normal too.
    rig.Read(1, 8.5);
    rig.Read(1, 7);
    EXPECT_EQ(rig.engine.Alarms().size(), 1U);
    EXPECT_TRUE(rig.engine.Acknowledge(kName, {AlarmSource::Kind::Channel, 0}, "操作员"));
    EXPECT_EQ(rig.Take(), (Steps{{kRaised, AlarmState::ActiveUnacked},
                                 {kCleared, AlarmState::ReturnedUnacked},
                                 {kAcked, AlarmState::Normal}}));
}

TEST(Alarms, InputsAndTheSilentStation) {
    TerminalProfile profile;
    profile.inputs[0].alarm = InputAlarm{false, "门开", AlarmPriority::Low};
    profile.silentAfter = 5;
    Rig rig(profile);
    rig.Read(1, 0, true);
    rig.Read(1, 0, false);
    EXPECT_EQ(rig.Last().text, "门开");
    EXPECT_EQ(rig.Last().condition.priority, AlarmPriority::Low);
    EXPECT_EQ(rig.Take(), (Steps{{kRaised, AlarmState::ActiveUnacked}}));

    rig.Pass(4.9);
    EXPECT_TRUE(rig.Take().empty());
    rig.Pass(0.1);
    EXPECT_EQ(rig.Last().source.Id(), "link");
    EXPECT_EQ(rig.Last().text, "通信中断");
    EXPECT_EQ(rig.Take(), (Steps{{kRaised, AlarmState::ActiveUnacked}}));
    rig.Read(1, 0, false);
    EXPECT_EQ(rig.Take(), (Steps{{kCleared, AlarmState::ReturnedUnacked}}));

    // A connection that ends raises it at once; the terminal's return clears it.
    AcquisitionEvent detached;
    detached.kind = EventKind::Detached;
    detached.slot = 1;
    detached.name = kName;
    rig.engine.OnEvent(detached);
    EXPECT_EQ(rig.Take(), (Steps{{kRaised, AlarmState::ActiveUnacked}}));
    detached.kind = EventKind::Identified;
    rig.engine.OnEvent(detached);
    EXPECT_EQ(rig.Take(), (Steps{{kCleared, AlarmState::ReturnedUnacked}}));
}

TEST(Alarms, ShelvingChatteringAndReload) {
    Rig rig(ChannelLimits(HighAt(8)));
    rig.Read(1, 9);
    EXPECT_TRUE(rig.engine.Shelve(kName, {AlarmSource::Kind::Channel, 0}));
    EXPECT_FALSE(rig.engine.Shelve(kName, {AlarmSource::Kind::Channel, 0}));
    EXPECT_STREQ(StateKey(rig.Last()), "shelved");
    EXPECT_EQ(rig.engine.AcknowledgeAll("操作员"), 0U);
    rig.Hold(3599, 9);
    EXPECT_EQ(rig.Take(), (Steps{{kRaised, AlarmState::ActiveUnacked},
                                 {EventKind::AlarmShelved, AlarmState::ActiveUnacked}}));
    rig.Read(1, 9);
    EXPECT_EQ(rig.Take(), (Steps{{EventKind::AlarmUnshelved, AlarmState::ActiveUnacked}}));
    EXPECT_STREQ(StateText(rig.Last()), "未确认");
    rig.Read(1, 7);
    rig.Take();

    // The sixth raise within a minute holds the alarm until a minute without a crossing.
    for (int i = 0; i < 6; ++i) {
        rig.Read(2, 9);
        rig.Read(2, 7);
    }
    EXPECT_EQ(rig.Take().size(), 11U);
    EXPECT_TRUE(rig.Last().chattering);
    EXPECT_EQ(rig.Last().state, AlarmState::ActiveUnacked);
    rig.Hold(30, 9);
    rig.Hold(60, 7);
    EXPECT_TRUE(rig.Take().empty());
    rig.Read(1, 7);
    EXPECT_EQ(rig.Take(), (Steps{{kCleared, AlarmState::ReturnedUnacked}}));
    EXPECT_FALSE(rig.Last().chattering);

    // A changed definition clears its alarm; an unchanged one keeps it.
    rig.Read(1, 9);
    rig.engine.SetProfiles(&rig);
    EXPECT_EQ(rig.Take(), (Steps{{kRaised, AlarmState::ActiveUnacked}}));
    rig.profile->channels[0]->alarms = HighAt(10);
    rig.engine.SetProfiles(&rig);
    EXPECT_EQ(rig.Take(), (Steps{{kCleared, AlarmState::Normal}}));
}

}  // namespace
}  // namespace corvelle
