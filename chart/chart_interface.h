#pragma once

#include <cstdint>
#include <string_view>

namespace corvelle {

inline constexpr int kChartSeriesCount = 6;

// One trend line of the chart.
class ChartSeries {
  public:
    virtual ~ChartSeries() = default;
    // Removes every point.
    virtual void Clear() = 0;
    // Appends a point after the last one; label is the point's time of day ("%H:%M:%S"),
    // colour an opaque per-point value. Returns the new point's index.
    virtual int AppendPoint(double x, double y, std::string_view label, std::int32_t colour) = 0;
};

// The operations the device page performs on its trend chart.
class TrendChart {
  public:
    virtual ~TrendChart() = default;
    // Series 0..kChartSeriesCount-1; channel k+1 is drawn by series k.
    virtual ChartSeries& Series(int index) = 0;
    // Fixes the shown range of the value (vertical) axis.
    virtual void SetValueAxisRange(double minimum, double maximum) = 0;
};

}  // namespace corvelle
