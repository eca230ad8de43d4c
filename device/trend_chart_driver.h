#pragma once

#include <cstdint>
#include <span>

#include "chart/chart_interface.h"
#include "device/page_ports.h"

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

    int PointCounter() const { return pointCounter_; }
    int AxisMaximum() const { return axisMaximum_; }

  private:
    TrendChart& chart_;
    const Clock& clock_;
    int pointCounter_ = 0;
    int axisMaximum_ = kInitialAxisMaximum;
};

}  // namespace corvelle
