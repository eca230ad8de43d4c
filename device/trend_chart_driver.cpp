#include "device/trend_chart_driver.h"

#include <string>

#include "device/time_text.h"

namespace corvelle {

void TrendChartDriver::ResetChart() {
    for (int k = 0; k < kChartSeriesCount; ++k) {
        chart_.Series(k).Clear();
    }
    chart_.SetValueAxisRange(kAxisMinimum, kInitialAxisMaximum);
    axisMaximum_ = kInitialAxisMaximum;
    pointCounter_ = 0;
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
    const std::string label = FormatTimeOfDay(clock_.Now());
    for (int k = 0; k < kChartSeriesCount; ++k) {
        chart_.Series(k).AppendPoint(pointCounter_, volts[static_cast<std::size_t>(k)], label,
                                     pointCounter_);
    }
    ++pointCounter_;
    if (pointCounter_ > kLastPointX) {
        ResetChart();
    }
}

}  // namespace corvelle
