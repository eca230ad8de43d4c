#pragma once

#include <memory>
#include <optional>
#include <vector>

#include <QPoint>
#include <QString>

#include "chart/chart_look.h"
#include "chart/stamped_line_graph.h"
#include "history/history_loader.h"
#include "history/profile_timeline.h"

namespace corvelle {

// What the history chart shows: a load's rows and events, the profiles in force over them, and
// the channels, inputs and relays chosen. Shared as const; the channels point into it, so it is
// made in place and never moved.
struct HistoryView {
    History history;
    ProfileTimeline profiles;
    std::vector<ShownChannel> channels;
    // Numbers 1 to 12.
    std::vector<int> inputs;
    std::vector<int> relays;

    // channels: 0 to 11, in the order of history.series.Selection().values.
    static std::shared_ptr<const HistoryView> Make(History history, std::vector<int> inputs,
                                                   std::vector<int> relays);
};

// Text of the files (UTF-8) as the window shows it.
QString FromUtf8(std::string_view text);

// The history's time axis: a row's wall-clock time as seconds, read back without any zone.
double AxisTime(RowTime time);
RowTime RowTimeAt(double axisTime);

// The history's chart: the chosen channels as lines over time (left or right value axis as
// their profile says), the inputs and relays as step traces on a band of their own below, and
// the events as marks on the time axis with their text on hover. Every pixel column of any
// range shows the true minimum and maximum of its rows, from the min/max pyramids, and a line
// never joins rows across a gap.
//
// The operator zooms into a dragged rectangle or with the wheel over an axis (over the plot:
// the time axis), pans by dragging with the right or middle button or with the arrow keys, and
// returns to the whole range with a double click, a right click or Home. The hover read-out is
// the live chart's, at the row nearest the pointer.
class HistoryChart : public StampedPlot {
    Q_OBJECT

  public:
    explicit HistoryChart(QWidget* parent = nullptr);
    ~HistoryChart() override;

    // Shows view over its whole range; more of the same load (keepRange) keeps the range the
    // operator zoomed or panned to, if any.
    void SetView(std::shared_ptr<const HistoryView> view, bool keepRange);
    const HistoryView* View() const { return view_.get(); }
    std::shared_ptr<const HistoryView> SharedView() const { return view_; }
    // The whole range of the rows, value axes fitted to the lines.
    void ShowWholeRange();
    // The visible time range.
    RowTime VisibleFrom() const;
    RowTime VisibleTo() const;

    // The channels whose lines are shown (the legend's ticked ones), in the legend's order.
    std::vector<ShownChannel> VisibleChannels() const;

    QString ReadoutText() const { return readout_.Text(); }
    // The events' text under pos, empty when no mark is there.
    QString EventTextAt(QPoint pos) const;
    // "2026-12-08 00:00:00.000 至 2026-12-08 23:59:59.800，432000 行": the accessible description.
    QString RangeText() const;

  protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void processRectZoom(QRect rect, QMouseEvent* event) override;

  private:
    class ColumnCache;
    class Trace;
    class ChannelTrace;
    class Overlay;
    class ChannelLines;
    class SwitchTrace;
    class EventMarks;

    void Rebuild();
    void FitValueAxes();
    void UpdateTimeFormat();
    void PrepareReplot();
    void ShowReadoutAt(std::optional<QPoint> pos);
    void Pan(double timeShare, double valueShare);

    std::shared_ptr<const HistoryView> view_;
    std::vector<ChannelTrace*> channelTraces_;
    std::vector<SwitchTrace*> switchTraces_;
    EventMarks* marks_ = nullptr;
    QCPAxisRect* switchRect_ = nullptr;
    QSharedPointer<QCPAxisTickerDateTime> timeTicker_;
    QSharedPointer<QCPAxisTickerText> laneTicker_;
    HoverReadout readout_;
    std::optional<QPoint> hoverPos_;
    // Where a pan by dragging last was.
    std::optional<QPoint> panFrom_;
    bool panMoved_ = false;
    // The operator zoomed or panned since the whole range was last shown.
    bool held_ = false;
    QCPMarginGroup* margins_ = nullptr;
    std::unique_ptr<ColumnCache> columns_;
};

}  // namespace corvelle
