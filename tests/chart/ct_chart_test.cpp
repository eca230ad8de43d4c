#include "chart/ct_chart.h"
#include "chart/legend_check_item.h"

#include <cmath>
#include <numbers>
#include <string>

#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QPainter>
#include <QScreen>
#include <QTime>
#include <QToolButton>
#include <QtTest/QTest>
#include <array>

namespace corvelle {
namespace {

std::string TimeLabel(int x, int millisecondsPerPoint = 1000) {
    return QTime(10, 0).addMSecs(x * millisecondsPerPoint).toString("HH:mm:ss").toStdString();
}

void ExpectRange(const QCPRange& range, double lower, double upper) {
    EXPECT_NEAR(range.lower, lower, 1e-9);
    EXPECT_NEAR(range.upper, upper, 1e-9);
}

class ChartTest : public ::testing::Test {
  protected:
    ChartTest() { chart_.resize(chart_.sizeHint()); }

    // One poll reply as the page sends it: one point per series at x, series k at volts + k.
    void AppendReply(int x, double volts) {
        const std::string label = TimeLabel(x);
        for (int k = 0; k < kChartSeriesCount; ++k) {
            chart_.Series(k).AppendPoint(x, volts + k, label, x);
        }
    }
    void AppendReplies(int from, int to) {
        for (int x = from; x < to; ++x) {
            AppendReply(x, x / 10.0);
        }
    }
    void ShowAndDraw() {
        chart_.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&chart_));
        QApplication::processEvents();
    }
    QPoint PixelOf(double x, double value) const {
        return {static_cast<int>(chart_.xAxis->coordToPixel(x)),
                static_cast<int>(chart_.yAxis->coordToPixel(value))};
    }
    void Send(QEvent::Type type, QPoint pos, Qt::MouseButton button, Qt::MouseButtons buttons) {
        QMouseEvent event(type, pos, chart_.mapToGlobal(pos), button, buttons, Qt::NoModifier);
        QApplication::sendEvent(&chart_, &event);
    }
    QToolButton* Arrow(int index) {
        return chart_.findChild<QToolButton*>(CTChart::kArrowNames.at(index));
    }

    CTChart chart_;
};

TEST_F(ChartTest, InterfaceOperationsReachTheirSeries) {
    for (int k = 0; k < kChartSeriesCount; ++k) {
        for (int x = 0; x <= k; ++x) {
            EXPECT_EQ(chart_.Series(k).AppendPoint(x, k + 0.25, "10:00:00", x), x);
        }
    }
    for (int k = 0; k < kChartSeriesCount; ++k) {
        ASSERT_EQ(chart_.graph(k)->dataCount(), k + 1);
        EXPECT_DOUBLE_EQ(chart_.graph(k)->data()->at(k)->value, k + 0.25);
    }
    EXPECT_EQ(chart_.Series(5).AppendPoint(-1.0, 0.0, "09:59:59", 0), 0);

    chart_.Series(3).Clear();
    EXPECT_EQ(chart_.graph(3)->dataCount(), 0);
    EXPECT_EQ(chart_.graph(4)->dataCount(), 5);
}

TEST_F(ChartTest, ValueAxisShowsExactlyTheRangeSet) {
    ExpectRange(chart_.yAxis->range(), -1.0, 5.0);
    chart_.SetValueAxisRange(-1.0, 13.0);
    ExpectRange(chart_.yAxis->range(), -1.0, 13.0);
}

TEST_F(ChartTest, TimeAxisFollowsThePointsAndShowsTheirTimes) {
    AppendReplies(0, 10);
    chart_.replot();
    ExpectRange(chart_.xAxis->range(), 0.0, 60.0);

    AppendReplies(10, 101);
    chart_.replot();
    ExpectRange(chart_.xAxis->range(), 0.0, 100.0);
    const QVector<double> ticks = chart_.xAxis->tickVector();
    const QVector<QString> labels = chart_.xAxis->tickVectorLabels();
    ASSERT_GE(ticks.size(), 3);
    for (int i = 0; i < ticks.size(); ++i) {
        EXPECT_EQ(ticks[i], std::round(ticks[i]));
        EXPECT_EQ(labels[i].toStdString(), TimeLabel(static_cast<int>(ticks[i])));
    }
}

TEST_F(ChartTest, ResetAfterTheLastPointEmptiesEverySeriesAndLabel) {
    for (int x = 0; x <= 3000; ++x) {
        chart_.SetValueAxisRange(-1.0, 7.0);
        AppendReply(x, 5.0);
    }
    for (int k = 0; k < kChartSeriesCount; ++k) {
        chart_.Series(k).Clear();
    }
    chart_.SetValueAxisRange(-1.0, 5.0);

    for (int k = 0; k < kChartSeriesCount; ++k) {
        EXPECT_EQ(chart_.graph(k)->dataCount(), 0);
    }
    ExpectRange(chart_.yAxis->range(), -1.0, 5.0);

    chart_.Series(0).AppendPoint(0.0, 1.0, "11:00:00", 0);
    chart_.replot();
    ExpectRange(chart_.xAxis->range(), 0.0, 60.0);
    const QVector<QString> labels = chart_.xAxis->tickVectorLabels();
    ASSERT_GE(labels.size(), 2);
    EXPECT_EQ(labels[0], "11:00:00");
    EXPECT_EQ(labels[1], "");
}

TEST_F(ChartTest, HiddenChartDrawsOnlyOnceShownAndThenOncePerPass) {
    QApplication::processEvents();  // the plot's own first layout pass after construction
    // The chart draws in its paint events.
    class PaintCount final : public QObject {
      public:
        int count = 0;

      protected:
        bool eventFilter(QObject*, QEvent* event) override {
            count += event->type() == QEvent::Paint ? 1 : 0;
            return false;
        }
    } draws;
    chart_.installEventFilter(&draws);
    AppendReplies(0, 200);
    chart_.SetValueAxisRange(-1.0, 25.0);
    QApplication::processEvents();
    EXPECT_EQ(draws.count, 0);

    ShowAndDraw();
    EXPECT_GE(draws.count, 1);
    ExpectRange(chart_.xAxis->range(), 0.0, 199.0);

    draws.count = 0;
    for (int x = 200; x < 250; ++x) {
        chart_.SetValueAxisRange(-1.0, 30.0);
        AppendReply(x, 1.0);
    }
    QApplication::processEvents();
    EXPECT_EQ(draws.count, 1);
    chart_.removeEventFilter(&draws);
}

TEST_F(ChartTest, LegendClickHidesAndShowsItsSeries) {
    ShowAndDraw();
    const QPoint item = chart_.legend->item(2)->outerRect().center();
    QTest::mouseClick(&chart_, Qt::LeftButton, Qt::NoModifier, item);
    EXPECT_FALSE(chart_.graph(2)->visible());
    EXPECT_TRUE(chart_.graph(1)->visible());
    EXPECT_TRUE(chart_.graph(3)->visible());
    QTest::mouseClick(&chart_, Qt::LeftButton, Qt::NoModifier, item);
    EXPECT_TRUE(chart_.graph(2)->visible());
}

TEST_F(ChartTest, ArrowButtonsScrollTheirAxisByOnePercentUntilFullView) {
    AppendReplies(0, 101);
    ShowAndDraw();
    for (int i = 0; i < 4; ++i) {
        ASSERT_NE(Arrow(i), nullptr);
        EXPECT_TRUE(chart_.axisRect()->rect().contains(Arrow(i)->geometry()));
    }

    QTest::mouseClick(Arrow(0), Qt::LeftButton);
    ExpectRange(chart_.yAxis->range(), -0.94, 5.06);
    QTest::mouseClick(Arrow(1), Qt::LeftButton);
    QTest::mouseClick(Arrow(1), Qt::LeftButton);
    ExpectRange(chart_.yAxis->range(), -1.06, 4.94);
    QTest::mouseClick(Arrow(3), Qt::LeftButton);
    ExpectRange(chart_.xAxis->range(), 1.0, 101.0);
    QTest::mouseClick(Arrow(2), Qt::LeftButton);
    ExpectRange(chart_.xAxis->range(), 0.0, 100.0);

    // The operator's view holds while replies keep arriving.
    chart_.SetValueAxisRange(-1.0, 8.0);
    AppendReply(101, 1.0);
    QApplication::processEvents();
    ExpectRange(chart_.yAxis->range(), -1.06, 4.94);
    ExpectRange(chart_.xAxis->range(), 0.0, 100.0);

    Send(QEvent::MouseButtonPress, PixelOf(50, 2), Qt::RightButton, Qt::RightButton);
    Send(QEvent::MouseButtonRelease, PixelOf(50, 2), Qt::RightButton, Qt::NoButton);
    ExpectRange(chart_.yAxis->range(), -1.0, 8.0);
    ExpectRange(chart_.xAxis->range(), 0.0, 101.0);
}

TEST_F(ChartTest, RubberBandZoomHoldsUntilDoubleClick) {
    AppendReplies(0, 101);
    ShowAndDraw();
    Send(QEvent::MouseButtonPress, PixelOf(20, 4), Qt::LeftButton, Qt::LeftButton);
    Send(QEvent::MouseMove, PixelOf(40, 1), Qt::NoButton, Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, PixelOf(40, 1), Qt::LeftButton, Qt::NoButton);
    EXPECT_NEAR(chart_.xAxis->range().lower, 20, 0.5);
    EXPECT_NEAR(chart_.xAxis->range().upper, 40, 0.5);
    EXPECT_NEAR(chart_.yAxis->range().lower, 1, 0.1);
    EXPECT_NEAR(chart_.yAxis->range().upper, 4, 0.1);

    AppendReply(101, 1.0);
    QApplication::processEvents();
    EXPECT_NEAR(chart_.xAxis->range().upper, 40, 0.5);

    Send(QEvent::MouseButtonDblClick, PixelOf(30, 2), Qt::LeftButton, Qt::LeftButton);
    Send(QEvent::MouseButtonRelease, PixelOf(30, 2), Qt::LeftButton, Qt::NoButton);
    ExpectRange(chart_.xAxis->range(), 0.0, 101.0);
    ExpectRange(chart_.yAxis->range(), -1.0, 5.0);
}

TEST_F(ChartTest, HoverReadoutShowsTimeAndValuesOfTheNearestPoint) {
    AppendReplies(0, 10);
    ShowAndDraw();
    Send(QEvent::MouseMove, PixelOf(4.3, 2), Qt::NoButton, Qt::NoButton);
    EXPECT_EQ(chart_.ReadoutText(),
              "10:00:04\nAD1  0.400 V\nAD2  1.400 V\nAD3  2.400 V\n"
              "AD4  3.400 V\nAD5  4.400 V\nAD6  5.400 V");

    chart_.Series(2).Clear();
    Send(QEvent::MouseMove, PixelOf(4.6, 2), Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(chart_.ReadoutText().startsWith("10:00:05\nAD1  0.500 V\nAD2  1.500 V\nAD3  -\n"));

    // Lines hidden from the legend are left out.
    chart_.graph(1)->setVisible(false);
    Send(QEvent::MouseMove, PixelOf(4.6, 2), Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(chart_.ReadoutText().startsWith("10:00:05\nAD1  0.500 V\nAD3  -\n"));

    QEvent leave(QEvent::Leave);
    QApplication::sendEvent(&chart_, &leave);
    EXPECT_EQ(chart_.ReadoutText(), "");
}

// Screen readers and automation read the latest point of the shown lines and the arrows' names.
TEST_F(ChartTest, AccessibleDescriptionCarriesTheLatestShownPoint) {
    const auto description = [this] {
        return QAccessible::queryAccessibleInterface(&chart_)->text(QAccessible::Description);
    };
    AppendReplies(0, 3);
    EXPECT_EQ(description(), "");  // hidden: nothing is refreshed
    ShowAndDraw();
    EXPECT_EQ(description(),
              "10:00:02 AD1 0.200V AD2 1.200V AD3 2.200V AD4 3.200V AD5 4.200V AD6 5.200V");

    // Within the second nothing changes; the change shows once it has passed.
    chart_.graph(4)->setVisible(false);
    AppendReply(3, 0.5);
    QApplication::processEvents();
    EXPECT_TRUE(description().startsWith("10:00:02 "));
    EXPECT_TRUE(QTest::qWaitFor([&] { return description().startsWith("10:00:03 "); }, 3000));
    EXPECT_EQ(description(), "10:00:03 AD1 0.500V AD2 1.500V AD3 2.500V AD4 3.500V AD6 5.500V");

    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(QAccessible::queryAccessibleInterface(Arrow(i))->text(QAccessible::Name),
                  Arrow(i)->toolTip());
    }
}

// Under a profile: names and units in the read-out and the description, lines on the right axis,
// both axes labelled; without one again, the chart reads as before.
TEST_F(ChartTest, ProfileLinesCarryNamesUnitsAndTheRightAxis) {
    std::array<LineMeaning, kChartSeriesCount> lines{};
    for (int k = 0; k < kChartSeriesCount; ++k) {
        lines.at(static_cast<std::size_t>(k)).name = "AD" + std::to_string(k + 1);
    }
    lines[0] = {"水位", true, "m", 2, true};
    lines[1].name = "备用";
    chart_.SetLines(lines, true);
    chart_.SetRightAxisRange(-0.5, 10.5);
    AppendReplies(0, 5);
    ShowAndDraw();
    EXPECT_TRUE(chart_.yAxis2->visible());
    EXPECT_EQ(chart_.graph(0)->valueAxis(), chart_.yAxis2);
    EXPECT_EQ(chart_.yAxis2->label(), "m");
    EXPECT_EQ(chart_.yAxis->label(), "V");
    ExpectRange(chart_.yAxis2->range(), -0.5, 10.5);
    EXPECT_TRUE(chart_.LatestPointText().startsWith("10:00:04 水位 0.40 m 备用 1.400V AD3"));
    Send(QEvent::MouseMove, PixelOf(4.3, 2), Qt::NoButton, Qt::NoButton);
    EXPECT_TRUE(chart_.ReadoutText().startsWith("10:00:04\n水位  0.40 m\n备用  1.400 V\n"));
    const auto legendText = [this](int k) {
        return dynamic_cast<LegendCheckItem*>(chart_.legend->itemWithPlottable(chart_.graph(k)))
            ->Text();
    };
    EXPECT_EQ(legendText(0), "水位 (m)");
    EXPECT_EQ(legendText(1), "备用");

    std::array<LineMeaning, kChartSeriesCount> plain{};
    for (int k = 0; k < kChartSeriesCount; ++k) {
        plain.at(static_cast<std::size_t>(k)).name = "AD" + std::to_string(k + 1);
    }
    chart_.SetLines(plain, false);
    EXPECT_FALSE(chart_.yAxis2->visible());
    EXPECT_EQ(chart_.yAxis->label(), "");
    EXPECT_TRUE(chart_.LatestPointText().startsWith("10:00:04 AD1 0.400V AD2 1.400V"));
    EXPECT_EQ(legendText(0), "AD1");
}

// A right click returns to the full view; it must not also open the window's context menu.
TEST_F(ChartTest, KeepsTheContextMenuForItself) {
    QWidget window;
    chart_.setParent(&window);
    int windowMenus = 0;
    struct Counter : QObject {
        int& count;
        explicit Counter(int& c) : count(c) {}
        bool eventFilter(QObject*, QEvent* event) override {
            count += event->type() == QEvent::ContextMenu ? 1 : 0;
            return false;
        }
    } counter(windowMenus);
    window.installEventFilter(&counter);
    QContextMenuEvent menu(QContextMenuEvent::Mouse, QPoint(10, 10),
                           chart_.mapToGlobal(QPoint(10, 10)));
    QApplication::sendEvent(&chart_, &menu);
    EXPECT_EQ(windowMenus, 0);
    chart_.setParent(nullptr);
}

// The title drawn once into the backdrop gives the pixels it gives drawn in its layer on every
// replot, at the first size and after a resize.
TEST_F(ChartTest, TitleInTheBackdropLooksAsDrawnInItsLayer) {
    class LayerTitleChart final : public CTChart {
      protected:
        void updateLayout() override {
            // Past the chart's own, which would draw the title into the backdrop.
            QCustomPlot::updateLayout();  // NOLINT(bugprone-parent-virtual-call)
            SetBackdrop(ChartBackdrop(viewport().size(), bufferDevicePixelRatio()));
        }
    };
    LayerTitleChart reference;
    reference.resize(chart_.size());
    for (int x = 0; x < 400; ++x) {
        const std::string label = TimeLabel(x, 200);
        for (int k = 0; k < kChartSeriesCount; ++k) {
            const double y = 2.0 + 0.6 * k + std::sin(2 * std::numbers::pi * x / 150.0 + k);
            chart_.Series(k).AppendPoint(x, y, label, x);
            reference.Series(k).AppendPoint(x, y, label, x);
        }
    }
    for (const QSize size : {chart_.size(), QSize(900, 360)}) {
        chart_.resize(size);
        reference.resize(size);
        ShowAndDraw();
        reference.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&reference));
        QApplication::processEvents();
        const QImage own = chart_.grab().toImage();
        const QImage plain = reference.grab().toImage();
        ASSERT_EQ(own.size(), plain.size());
        int differing = 0;
        for (int y = 0; y < own.height(); ++y) {
            for (int x = 0; x < own.width(); ++x) {
                differing += own.pixel(x, y) != plain.pixel(x, y) ? 1 : 0;
            }
        }
        EXPECT_EQ(differing, 0) << size.width() << " x " << size.height();
    }
}

// On screen the chart draws straight into its window's backing store, away from the window's
// corner: the very pixels it gives drawn alone, lines, legend and backdrop.
TEST_F(ChartTest, DrawnIntoItsWindowAsItIsDrawnAlone) {
    QWidget window;
    window.resize(chart_.width() + 61, chart_.height() + 40);
    chart_.setParent(&window);
    chart_.move(37, 23);
    for (int x = 0; x < 2000; ++x) {
        const std::string label = TimeLabel(x, 200);
        for (int k = 0; k < kChartSeriesCount; ++k) {
            const double phase = 2 * std::numbers::pi * x / 300.0 + k;
            chart_.Series(k).AppendPoint(x, 2.0 + 0.5 * k + std::sin(phase), label, x);
        }
    }
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    QApplication::processEvents();
    // The offscreen screen grabs a window from its backing store.
    const QImage screen =
        window.screen()
            ->grabWindow(window.winId(), chart_.x(), chart_.y(), chart_.width(), chart_.height())
            .toImage()
            .convertToFormat(QImage::Format_RGB32);
    const QImage alone = chart_.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(screen.size(), alone.size());
    int differing = 0;
    for (int y = 0; y < alone.height(); ++y) {
        for (int x = 0; x < alone.width(); ++x) {
            differing += screen.pixel(x, y) != alone.pixel(x, y) ? 1 : 0;
        }
    }
    EXPECT_EQ(differing, 0);
    chart_.setParent(nullptr);
}

// Three minutes of readings at 200 ms, saved for a person to look at.
TEST_F(ChartTest, RendersThreeMinutesOfSineDataWithEveryLine) {
    constexpr int kPoints = 900;
    for (int x = 0; x < kPoints; ++x) {
        const std::string label = TimeLabel(x, 200);
        for (int k = 0; k < kChartSeriesCount; ++k) {
            const double phase = 2 * std::numbers::pi * x / 300.0 + k * std::numbers::pi / 3;
            chart_.Series(k).AppendPoint(x, 1.5 + 0.5 * k + 0.8 * std::sin(phase), label, x);
        }
    }
    chart_.SetValueAxisRange(-1.0, 6.0);
    ShowAndDraw();
    Send(QEvent::MouseMove, PixelOf(600, 1), Qt::NoButton, Qt::NoButton);
    QApplication::processEvents();

    const QImage image = chart_.grab().toImage();
    ASSERT_TRUE(QDir().mkpath(CORVELLE_ARTIFACT_DIR));
    EXPECT_TRUE(image.save(CORVELLE_ARTIFACT_DIR "/chart.png"));
    for (int k = 0; k < kChartSeriesCount; ++k) {
        const QRgb colour = chart_.graph(k)->pen().color().rgb();
        int pixels = 0;
        for (int y = 0; y < image.height(); ++y) {
            for (int x = 0; x < image.width(); ++x) {
                pixels += image.pixel(x, y) == colour ? 1 : 0;
            }
        }
        EXPECT_GT(pixels, 500) << "series " << k;
    }
}

// Legend names come from a kept layout; they must land on the pixels drawText gives them, over
// any background, whatever the font, the fallback the text needs and the rect's parity.
TEST(KeptLineTextTest, DrawsAsDrawTextDoes) {
    const QStringList texts{QStringLiteral("AD1"), QStringLiteral("水位"),
                            QStringLiteral("流量 (m³/h)"), QStringLiteral("gjpqy fi")};
    KeptLineText kept;
    int compared = 0;
    for (const QString& family : {QString(), QStringLiteral("DejaVu Serif")}) {
        for (const double points : {7.0, 9.0, 9.5, 12.0}) {
            QFont font = QApplication::font();
            if (!family.isEmpty()) {
                font.setFamily(family);
            }
            font.setPointSizeF(points);
            for (const QString& text : texts) {
                for (int height = 9; height < 17; ++height) {
                    QImage expected(60, 30, QImage::Format_RGB32);
                    for (int y = 0; y < expected.height(); ++y) {
                        for (int x = 0; x < expected.width(); ++x) {
                            expected.setPixel(x, y, qRgb(x * 4, y * 8, (x * y) % 256));
                        }
                    }
                    QImage drawn = expected.copy();
                    const QRect rect(5, 3 + height % 2, QFontMetrics(font).horizontalAdvance(text),
                                     height);
                    for (QImage* image : {&expected, &drawn}) {
                        QPainter painter(image);
                        painter.setFont(font);
                        painter.setPen(QColor(255, 0, 0));
                        if (image == &drawn) {
                            kept.Draw(painter, rect, text);
                        } else {
                            painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter, text);
                        }
                    }
                    ++compared;
                    ASSERT_EQ(drawn, expected)
                        << text.toStdString() << " " << points << " pt, " << height << " px high";
                }
            }
        }
    }
    EXPECT_EQ(compared, 256);
}

}  // namespace
}  // namespace corvelle
