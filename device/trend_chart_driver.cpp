#include "device/trend_chart_driver.h"

#include <algorithm>
#include <string>

#include "device/time_text.h"

namespace corvelle {

namespace {

// Room kept beyond a scaled range and beyond a value that passed the axis, in spans.
constexpr double kHeadroom = 0.05;

}  // namespace

void TrendChartDriver::ResetChart() {
    for (int k = 0; k < kChartSeriesCount; ++k) {
        chart_.Series(k).Clear();
    }
    if (profiled_) {
        ranges_ = startRanges_;
        chart_.SetValueAxisRange(ranges_[0].low, ranges_[0].high);
        chart_.SetRightAxisRange(ranges_[1].low, ranges_[1].high);
    } else {
        chart_.SetValueAxisRange(kAxisMinimum, kInitialAxisMaximum);
    }
    axisMaximum_ = kInitialAxisMaximum;
    pointCounter_ = 0;
}

void TrendChartDriver::SetProfile(const TerminalProfile* profile) {
    profiled_ = profile != nullptr;
    std::array<LineMeaning, kChartSeriesCount> lines{};
    std::array<bool, 2> sideUsed{};
    bool labelled = false;
    startRanges_ = {};
    for (std::size_t k = 0; k < kChartSeriesCount; ++k) {
        LineMeaning& line = lines[k];
        line.name = "AD" + std::to_string(k + 1);
        Range range;
        if (const auto* channel =
                profile != nullptr && profile->channels[k] ? &*profile->channels[k] : nullptr) {
            line.name = channel->name.empty() ? line.name : channel->name;
            line.rightAxis = channel->axis == Axis::Right;
            if (const auto& scaling = channel->scaling) {
                line.scaled = true;
                line.unit = channel->unit;
                line.decimals = channel->decimals;
                const auto [low, high] = std::minmax(scaling->scaledLow, scaling->scaledHigh);
                range = {low - kHeadroom * (high - low), high + kHeadroom * (high - low)};
            }
        }
        labelled = labelled || line.scaled || line.rightAxis;
        const std::size_t side = line.rightAxis ? 1 : 0;
        side_[k] = side;
        Range& start = startRanges_[side];
        start = sideUsed[side]
                    ? Range{std::min(start.low, range.low), std::max(start.high, range.high)}
                    : range;
        sideUsed[side] = true;
    }
    chart_.SetLines(lines, labelled);
    ResetChart();
}

void TrendChartDriver::AppendValues(std::span<const double, kChartSeriesCount> values) {
    std::array<bool, 2> grown{};
    for (std::size_t k = 0; k < kChartSeriesCount; ++k) {
        Range& range = ranges_[side_[k]];
        const double room = kHeadroom * (range.high - range.low);
        if (values[k] > range.high) {
            range.high = values[k] + room;
            grown[side_[k]] = true;
        } else if (values[k] < range.low) {
            range.low = values[k] - room;
            grown[side_[k]] = true;
        }
    }
    if (grown[0]) {
        chart_.SetValueAxisRange(ranges_[0].low, ranges_[0].high);
    }
    if (grown[1]) {
        chart_.SetRightAxisRange(ranges_[1].low, ranges_[1].high);
    }
    AppendPoints(values);
}

void TrendChartDriver::UpdateValueAxis(
    std::span<const std::int32_t, kChartSeriesCount> millivolts) {
    for (const std::int32_t m : millivolts) {
        // Integer division truncates toward zero, so -600 mV rounds to 0 V, not -1 V.
        const std::int32_t volts = (m + 500) / 1000;
        if (volts + 2 > axisMaximum_) {
            axisMaximum_ = volts + 1;
            chart_.SetValueAxisRange(kAxisMinimum, axisMaximum_);
        }
    }
}

void TrendChartDriver::AppendChartPoints(std::span<const float, kChartSeriesCount> volts) {
    std::array<double, kChartSeriesCount> values{};
    std::copy(volts.begin(), volts.end(), values.begin());
    AppendPoints(values);
}

void TrendChartDriver::AppendPoints(std::span<const double, kChartSeriesCount> values) {
    const std::string label = FormatTimeOfDay(clock_.Now());
    for (int k = 0; k < kChartSeriesCount; ++k) {
        chart_.Series(k).AppendPoint(pointCounter_, values[static_cast<std::size_t>(k)], label,
                                     pointCounter_);
    }
    ++pointCounter_;
    if (pointCounter_ > kLastPointX) {
        ResetChart();
    }
}

}  // namespace corvelle
