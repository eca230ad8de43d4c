#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include <qcustomplot.h>
#include <QPoint>
#include <QSharedPointer>
#include <QString>
#include <QTimer>

#include "chart/chart_interface.h"
#include "chart/chart_look.h"
#include "chart/stamped_line_graph.h"

class QToolButton;

namespace corvelle {

class TimeTicker;

// The trend chart of a device page: six lines of channel volts over the point counter, with the
// time of each point on the x axis and in a hover read-out. The page drives it through
// TrendChart; the operator can hide lines from the legend check boxes, zoom into a dragged
// rectangle, nudge the value or time axis by 1 % with the arrow buttons at the axis ends, and
// return to the full view with a double click or a right click.
//
// Drawing happens in paint events, only while the chart is visible and at most once per
// event-loop pass, so a chart on a hidden page just stores its points and draws them when shown.
//
// A page embeds it like any widget, `auto* chart = new CTChart(page); chart->setGeometry(...)`,
// and hands `*chart` to its chart logic as the TrendChart.
class CTChart : public StampedPlot, public TrendChart {
    Q_OBJECT

  public:
    // Object names of the arrow buttons: value axis up and down, time axis back and forward.
    static constexpr std::array<const char*, 4> kArrowNames{"valueAxisUp", "valueAxisDown",
                                                            "timeAxisBack", "timeAxisForward"};

    explicit CTChart(QWidget* parent = nullptr);
    ~CTChart() override;

    ChartSeries& Series(int index) override;
    // While the operator holds a zoomed or scrolled value axis, the range is kept and shown when
    // the operator returns to the full view.
    void SetValueAxisRange(double minimum, double maximum) override;
    // Under a profile: names in the legend, the read-out and the description; values in their
    // units; lines on the right axis; both value axes labelled with their units when labelled.
    void SetLines(const std::array<LineMeaning, kChartSeriesCount>& lines, bool labelled) override;
    void SetRightAxisRange(double minimum, double maximum) override;

    // Ends the operator's zoom and scrolling: the time axis follows the points again and the
    // value axis shows the range last set through SetValueAxisRange.
    void ShowFullView();

    // The hover read-out: time and the values of the shown lines at the point nearest the
    // mouse; empty while the mouse is not over the plot.
    QString ReadoutText() const;

    // The latest point of the shown lines, "HH:MM:SS AD1 0.771V AD2 ...": what the chart's
    // accessible description carries, refreshed at most once a second while it is shown.
    QString LatestPointText() const;

    static constexpr int kDescriptionPeriodMs = 1000;

    QSize sizeHint() const override;

  protected:
    // The layout, then the backdrop for it (see UpdateBackground).
    void updateLayout() override;
    // The time axis's range, the read-out and the description for the points now held.
    void PrepareDraw() override;
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void processRectZoom(QRect rect, QMouseEvent* event) override;
    // The right button returns to the full view, so the chart keeps the context menu.
    void contextMenuEvent(QContextMenuEvent* event) override;

  private:
    class Line final : public ChartSeries {
      public:
        Line(CTChart& chart, QCPGraph& graph) : chart_(chart), graph_(graph) {}
        QCPGraph& Graph() const { return graph_; }
        void Clear() override;
        // The colour argument is not used: each line keeps its series colour.
        int AppendPoint(double x, double y, std::string_view label, std::int32_t) override;

      private:
        CTChart& chart_;
        QCPGraph& graph_;
    };

    void SetUpLook();
    void SetUpLines();
    void SetUpArrowButtons();
    void RequestReplot();
    void UpdateBackground();
    void PlaceArrowButtons();
    void ScrollAxis(QCPAxis* axis, double direction);
    void ForgetLabelsOnceEmpty();
    QCPRange TimeExtent() const;
    void ShowReadoutAt(std::optional<QPoint> pos);
    void UpdateReadout();
    void RefreshDescription();
    // A line's value as the read-out (spaced) and the description show it.
    QString ValueText(std::size_t line, double value, bool spaced) const;

    ChartTitle* title_ = nullptr;
    // The size, ratio and title look the backdrop was drawn for.
    QSize backdropSize_;
    double backdropRatio_ = 0;
    ChartTitle::Look backdropTitle_;
    QRect arrowsPlacedFor_;  // the axis rect the arrow buttons were placed in
    QSharedPointer<TimeTicker> ticker_;
    std::vector<Line> lines_;
    std::array<QToolButton*, kArrowNames.size()> arrows_{};
    HoverReadout readout_;
    std::optional<QPoint> hoverPos_;
    QCPRange valueRange_{-1.0, 5.0};
    QCPRange rightRange_{-1.0, 5.0};
    std::array<LineMeaning, kChartSeriesCount> meanings_{};
    bool timeHeld_ = false;   // the operator zoomed or scrolled the time axis
    bool valueHeld_ = false;  // the operator zoomed or scrolled the value axis
    bool pressConsumed_ = false;
    // Holds back description updates to one a second; a change inside that second is
    // picked up when it ends.
    QTimer descriptionHold_;
    bool descriptionStale_ = false;
};

}  // namespace corvelle
