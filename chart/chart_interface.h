#pragma once

#include <array>
#include <cstdint>
#include <string>
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

// What one trend line shows, under a terminal profile.
struct LineMeaning {
    // The legend's name ("AD3" without a profile).
    std::string name;
    // Scaled values in unit with decimals fraction digits; otherwise volts, as without a profile.
    bool scaled = false;
    std::string unit;
    int decimals = 3;
    bool rightAxis = false;
    bool operator==(const LineMeaning&) const = default;
};

// The operations the device page performs on its trend chart.
class TrendChart {
  public:
    virtual ~TrendChart() = default;
    // Series 0..kChartSeriesCount-1; channel k+1 is drawn by series k.
    virtual ChartSeries& Series(int index) = 0;
    // Fixes the shown range of the value (vertical) axis.
    virtual void SetValueAxisRange(double minimum, double maximum) = 0;
    // What each line means from now on (labelled: the axes carry units); the right value axis
    // shows while a line uses it. A chart that draws nothing has nothing to label.
    virtual void SetLines(const std::array<LineMeaning, kChartSeriesCount>& lines, bool labelled) {
        static_cast<void>(lines), static_cast<void>(labelled);
    }
    // Fixes the shown range of the right value axis.
    virtual void SetRightAxisRange(double minimum, double maximum) {
        static_cast<void>(minimum), static_cast<void>(maximum);
    }
};

}  // namespace corvelle
