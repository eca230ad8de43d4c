#include <gtest/gtest.h>

#include <array>
#include <utility>
#include <vector>

#include "device/trend_chart_driver.h"
#include "page_fakes.h"

namespace corvelle {
namespace {

using Ranges = std::vector<std::pair<double, double>>;
using Millivolts = std::array<std::int32_t, kChartSeriesCount>;

struct ChartRig {
    test::RecordingChart chart;
    test::FakeClock clock;
    TrendChartDriver driver{chart, clock};
};

TEST(TrendChartDriver, ValueAxisGrowsOnlyUpward) {
    struct Case {
        Millivolts millivolts;
        Ranges ranges;
        int maximum;
    };
    const Case cases[] = {
        {{3499}, {}, 5},
        {{3500}, {{-1, 5}}, 5},
        {{4500}, {{-1, 6}}, 6},
        {{12000}, {{-1, 13}}, 13},
        {{-32768, -600}, {}, 5},
        // Every channel that needs more headroom applies the range again.
        {{4500, 5500, 3500, 6500, 0, 6500}, {{-1, 6}, {-1, 7}, {-1, 8}, {-1, 8}}, 8},
    };
    for (const Case& c : cases) {
        ChartRig rig;
        rig.driver.UpdateValueAxis(c.millivolts);
        EXPECT_EQ(rig.chart.ranges, c.ranges);
        EXPECT_EQ(rig.driver.AxisMaximum(), c.maximum);
    }

    ChartRig rig;
    rig.driver.UpdateValueAxis(Millivolts{12000});
    rig.driver.UpdateValueAxis(Millivolts{1000});
    EXPECT_EQ(rig.chart.ranges, (Ranges{{-1, 13}}));
    EXPECT_EQ(rig.driver.AxisMaximum(), 13);
}

TEST(TrendChartDriver, RestartsRightAfterPointThreeThousand) {
    ChartRig rig;
    rig.driver.UpdateValueAxis(Millivolts{12000});
    const std::array<float, kChartSeriesCount> volts = {1.5F, -0.25F, 0, 0, 0, 0.001F};
    for (int i = 0; i < 3000; ++i) {
        rig.driver.AppendChartPoints(volts);
    }
    const auto& first = rig.chart.series[0].points;
    ASSERT_EQ(first.size(), 3000U);
    EXPECT_EQ(first[0].x, 0);
    EXPECT_EQ(first[2999].x, 2999);
    EXPECT_EQ(first[2999].colour, 2999);
    EXPECT_EQ(first[0].label, "07:08:09");
    EXPECT_EQ(rig.chart.series[5].points[7].y, static_cast<double>(0.001F));

    rig.driver.AppendChartPoints(volts);  // x = 3000 goes in, then everything restarts
    for (const auto& series : rig.chart.series) {
        EXPECT_EQ(series.appended, 3001);
        EXPECT_TRUE(series.points.empty());
    }
    EXPECT_EQ(rig.chart.ranges.back(), (std::pair<double, double>{-1, 5}));
    EXPECT_EQ(rig.driver.AxisMaximum(), 5);
    rig.driver.AppendChartPoints(volts);
    EXPECT_EQ(rig.chart.series[3].points.at(0).x, 0);
}

}  // namespace
}  // namespace corvelle
