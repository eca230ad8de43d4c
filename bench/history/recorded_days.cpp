#include "bench/history/recorded_days.h"

#include <array>
#include <cmath>
#include <numbers>

namespace corvelle::bench {

using std::chrono::milliseconds;

LocalDateTime LocalAt(Days day, milliseconds inDay) {
    return LocalDateTimeOf(StartOf(day) + inDay);
}

namespace {

// A 12-channel reading: waves of several periods with a little noise, inputs changing now and
// then, relays switched every few minutes.
Reading MakeReading(const std::string& name, int slot, std::int64_t tick, std::uint32_t& noise) {
    Reading reading;
    reading.slot = slot;
    reading.name.assign(name.begin(), name.end());
    reading.channelCount = 12;
    const double t = static_cast<double>(tick);
    for (std::size_t k = 0; k < 12; ++k) {
        noise = noise * 1664525U + 1013904223U;
        const double wave = std::sin(2 * std::numbers::pi * t / (500.0 + 90.0 * k));
        reading.channelMillivolts[k] = static_cast<std::int32_t>(
            4000.0 * static_cast<double>(k % 3) - 3000 + 2500 * wave + (noise >> 26) - 32);
        reading.inputs[k] = static_cast<std::uint8_t>((tick / (700 + 40 * k) + k) % 2);
        reading.relays[k] = static_cast<std::uint8_t>((tick / 1800 + k) % 4 == 0);
    }
    reading.temperatureCentidegrees = static_cast<std::int16_t>(2200 + 400 * std::sin(t / 9000));
    reading.referenceMillivolts = static_cast<std::int16_t>(2500 + (noise >> 30));
    reading.supplyCentivolts = static_cast<std::int16_t>(1200 + 7 * std::sin(t / 700));
    reading.signalValue = static_cast<std::int16_t>(18 + (tick / 40) % 12);
    return reading;
}

}  // namespace

void Record(RecordWriter& writer, BenchClock& clock, const std::string& name, int slot, Days first,
            int days, milliseconds interval, bool absences) {
    const std::int64_t perDay = 86'400'000 / interval.count();
    std::uint32_t noise = 7;
    std::int64_t tick = 0;
    const auto event = [&](EventKind kind, const LocalDateTime& at) {
        AcquisitionEvent e;
        e.kind = kind;
        e.time = at;
        e.slot = slot;
        e.name.assign(name.begin(), name.end());
        e.peer = "192.0.2.7:40312";
        e.value = 12;
        writer.Write(e);
    };
    for (int day = 0; day < days; ++day) {
        const Days date = first + std::chrono::days(day);
        for (std::int64_t i = 0; i < perDay; ++i, ++tick) {
            const milliseconds inDay = interval * i;
            const LocalDateTime at = LocalAt(date, inDay);
            const bool away = absences && inDay >= std::chrono::hours(10) &&
                              inDay < std::chrono::hours(10) + std::chrono::minutes(10);
            if (absences && inDay == std::chrono::hours(10)) {
                event(EventKind::Detached, at);
            } else if (absences && inDay == std::chrono::hours(10) + std::chrono::minutes(10)) {
                event(EventKind::Registered, at);
                event(EventKind::Identified, at);
            }
            if (!away) {
                Reading reading = MakeReading(name, slot, tick, noise);
                reading.time = at;
                writer.Write(reading);
            }
            if (inDay % std::chrono::minutes(1) == milliseconds{0}) {
                clock.now = at;
                clock.elapsed += std::chrono::minutes(1);
                writer.Tick();
            }
        }
    }
}

Series MonthAt200Ms(Days lastDay, int days) {
    RowSelection selection{{0, 1, 2, 3, 4, 5}, true};
    Series series(selection);
    DayBlockBuilder builder(selection);
    std::uint32_t noise = 11;
    std::array<float, kValueColumns> values{};
    for (int day = 0; day < days; ++day) {
        const RowTime midnight = StartOf(lastDay - std::chrono::days(days - 1 - day));
        for (std::int64_t i = 0; i < 432'000; ++i) {
            const double t = static_cast<double>(day) * 432'000 + static_cast<double>(i);
            for (std::size_t k = 0; k < 6; ++k) {
                noise = noise * 1664525U + 1013904223U;
                values[k] =
                    static_cast<float>(std::sin(t / (900.0 + 100.0 * k)) + (noise >> 20) * 1e-4);
            }
            builder.Add(midnight + milliseconds(200 * i), values,
                        static_cast<std::uint32_t>(i / 3000) & 0xFFFFFF);
        }
        series.Append(builder.Finish());
    }
    return series;
}

}  // namespace corvelle::bench
