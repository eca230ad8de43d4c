// What evaluating alarms costs per reading: a terminal with every channel given all four
// limits, deadband and delays, and every input an alarm, its values wandering through the
// limits so that conditions come and go.
#include <benchmark/benchmark.h>

#include "alarm/alarm_engine.h"

namespace {

using namespace corvelle;

class BenchClock final : public AlarmClock {
  public:
    std::int64_t MonotonicMs() const override { return ms; }
    LocalDateTime Now() const override { return {}; }
    std::int64_t ms = 0;
};

struct OneProfile final : ProfileLookup {
    std::shared_ptr<const TerminalProfile> ProfileFor(
        std::span<const std::uint8_t>) const override {
        return profile;
    }
    std::shared_ptr<const TerminalProfile> profile;
};

std::shared_ptr<const TerminalProfile> EveryChannelConfigured() {
    auto profile = std::make_shared<TerminalProfile>();
    for (auto& channel : profile->channels) {
        ChannelProfile configured;
        configured.scaling = Scaling{0, 5, 0, 100};
        configured.alarms.limits = {AlarmLimit{95, AlarmPriority::Urgent}, AlarmLimit{5},
                                    AlarmLimit{80}, AlarmLimit{20, AlarmPriority::Low}};
        configured.alarms.deadband = 1;
        configured.alarms.onDelay = 1;
        configured.alarms.offDelay = 1;
        channel = configured;
    }
    for (auto& input : profile->inputs) {
        input.alarm = InputAlarm{true, "告警", AlarmPriority::High};
    }
    return profile;
}

// readingsInRange: how many readings of a thousand lie between the limits.
void Evaluate(benchmark::State& state) {
    BenchClock clock;
    std::size_t transitions = 0;
    OneProfile profiles;
    profiles.profile = EveryChannelConfigured();
    AlarmEngine engine(clock, [&](const AcquisitionEvent&) { ++transitions; });
    engine.SetProfiles(&profiles);
    AcquisitionEvent identified;
    identified.kind = EventKind::Identified;
    identified.slot = 1;
    identified.name = {'T', '1'};
    engine.OnEvent(identified);
    Reading reading;
    reading.slot = 1;
    reading.name = identified.name;
    reading.channelCount = 12;
    const std::int64_t quiet = state.range(0);
    std::int64_t n = 0;
    while (state.KeepRunning()) {
        clock.ms += 200;
        ++n;
        // Mostly in range; now and then past high for a few readings.
        const bool past = n % 1000 >= quiet;
        for (std::size_t i = 0; i < reading.values.size(); ++i) {
            reading.values[i] = past ? 90 : 50 + static_cast<double>(i);
        }
        reading.inputs[0] = past ? 1 : 0;
        engine.OnReading(reading);
    }
    state.counters["transitions"] = static_cast<double>(transitions);
}
BENCHMARK(Evaluate)->Arg(1000)->Arg(990);

}  // namespace
BENCHMARK_MAIN();
