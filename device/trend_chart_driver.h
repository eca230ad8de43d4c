#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "chart/chart_interface.h"
#include "device/page_ports.h"
#include "profile/profile.h"

namespace corvelle {

// Feeds channels 1..6 of a page into its trend chart: one point per series and reply, x a
// running counter, the value axis grown to fit, everything restarted after 3000 points.
class TrendChartDriver {
  public:
    static constexpr double kAxisMinimum = -1.0;
    static constexpr int kInitialAxisMaximum = 5;
    // The chart restarts once the counter passes this, bounding every series' size.
    static constexpr int kLastPointX = 3000;

    TrendChartDriver(TrendChart& chart, const Clock& clock) : chart_(chart), clock_(clock) {}

    // Empties all series and restores the value axis to -1..5.
    void ResetChart();

    // Raises the axis top so that each reading (rounded to whole volts) has a volt of headroom.
    // Never lowers it: a trace that just dipped should not make the chart jump.
    void UpdateValueAxis(std::span<const std::int32_t, kChartSeriesCount> millivolts);

    // One point per series at x = PointCounter(), labelled with the time of day.
    void AppendChartPoints(std::span<const float, kChartSeriesCount> volts);

    // What the lines mean from now on (nullptr: volts, as without profiles): names, units,
    // decimals and axes go to the chart, which restarts on value axes that fit the profile's
    // scaled ranges.
    void SetProfile(const TerminalProfile* profile);

    // One point per series of values under the profile, either value axis grown to fit with a
    // twentieth of its span to spare; the axes never shrink while the chart runs.
    void AppendValues(std::span<const double, kChartSeriesCount> values);

    int PointCounter() const { return pointCounter_; }
    int AxisMaximum() const { return axisMaximum_; }

  private:
    struct Range {
        double low = kAxisMinimum;
        double high = kInitialAxisMaximum;
    };

    void AppendPoints(std::span<const double, kChartSeriesCount> values);

    TrendChart& chart_;
    const Clock& clock_;
    int pointCounter_ = 0;
    int axisMaximum_ = kInitialAxisMaximum;
    // Under a profile: each line's axis (1: right), the axes' starting and shown ranges.
    bool profiled_ = false;
    std::array<std::size_t, kChartSeriesCount> side_{};
    std::array<Range, 2> startRanges_{};
    std::array<Range, 2> ranges_{};
};

}  // namespace corvelle
