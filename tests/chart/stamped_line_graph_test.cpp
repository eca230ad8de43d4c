#include "chart/stamped_line_graph.h"

#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

#include <gtest/gtest.h>
#include <QImage>

namespace corvelle {
namespace {

// Draws the lines of a plot like the trend chart's, with QCustomPlot's own graphs or stamped,
// over the whole time axis and zoomed into part of it.
std::vector<QImage> Render(QCustomPlot& plot, StampedPlot* stamped) {
    plot.resize(746, 303);
    plot.setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);
    plot.setNotAntialiasedElements(QCP::aePlottables);
    plot.xAxis->setRange(0, 3000);
    plot.yAxis->setRange(-1, 7);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    for (int k = 0; k < 6; ++k) {
        QCPGraph* graph = stamped != nullptr
                              ? new StampedLineGraph(plot.xAxis, plot.yAxis, stamped->Stamps(),
                                                     stamped->Columns())
                              : new QCPGraph(plot.xAxis, plot.yAxis);
        graph->setPen(QPen(QColor::fromHsv(k * 60, 255, 200), 2));
        // Dense waves, runs of points far past the axes, a gap, long and steep segments; one
        // line as many points as most at other keys, so that it cannot take their columns.
        const int points = k == 4 ? 12 : 3001;
        for (int i = 0; i < points; ++i) {
            const double x = i * 3000.0 / (points - 1) + (k == 1 ? 0.37 : 0.0);
            double y = 3 + 2.5 * std::sin(2 * std::numbers::pi * x / (k == 5 ? 40 : 300) + k);
            if (k == 2 && i % 97 < 3) {
                y = (i / 97) % 2 == 0 ? 50 : -40;
            }
            graph->addData(x, k == 3 && i > 1400 && i < 1500 ? nan : y);
        }
    }
    plot.replot();
    std::vector<QImage> images{plot.grab().toImage()};
    plot.xAxis->setRange(1234.5, 1789.25);
    plot.yAxis->setRange(0.5, 4.5);
    plot.replot();
    images.push_back(plot.grab().toImage());
    return images;
}

// The stamped lines are QCustomPlot's, pixel for pixel.
TEST(StampedLineGraphTest, DrawsTheSamePixelsAsQCustomPlot) {
    QCustomPlot plain;
    StampedPlot plot;
    const std::vector<QImage> own = Render(plain, nullptr);
    const std::vector<QImage> stamped = Render(plot, &plot);
    EXPECT_GT(plot.Stamps().ShapeCount(), 0U);
    ASSERT_EQ(own.size(), stamped.size());
    for (std::size_t i = 0; i < own.size(); ++i) {
        ASSERT_EQ(own[i].size(), stamped[i].size());
        int differing = 0;
        for (int y = 0; y < own[i].height(); ++y) {
            for (int x = 0; x < own[i].width(); ++x) {
                differing += own[i].pixel(x, y) != stamped[i].pixel(x, y) ? 1 : 0;
            }
        }
        EXPECT_EQ(differing, 0) << "view " << i;
    }
}

}  // namespace
}  // namespace corvelle
