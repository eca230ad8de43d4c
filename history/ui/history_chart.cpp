#include "history/ui/history_chart.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include <QKeyEvent>
#include <QPaintEngine>
#include <QStringList>
#include <QToolTip>
#include <QWheelEvent>

#include "device/time_text.h"
#include "record/csv_rows.h"

namespace corvelle {
namespace {

// A wheel step zooms by this much, a pan key moves by this share of the axis.
constexpr double kWheelZoom = 0.85;
constexpr double kPanStep = 0.1;
// Share of a fitted value range left free above and below the lines.
constexpr double kValuePad = 0.05;
// An input or relay lane: off at its number, on this much higher; lanes one apart.
constexpr double kSwitchHigh = 0.6;
// The band of the inputs and relays gets this much of the height per lane, and the lines at least
// three times as much as the band.
constexpr int kLaneStretch = 1;
constexpr int kLineStretch = 8;
// The event marks: triangles this high on the time axis; a mark's text within this many pixels.
constexpr int kMarkSize = 7;
constexpr int kMarkReach = 4;
constexpr int kMaxEventLines = 12;
constexpr int kMaxDetailChars = 80;
// A column's rows are fetched into the cache this many columns ahead of its range.
constexpr std::size_t kFetchAhead = 8;

QString TimeText(RowTime time) {
    return QString::fromStdString(FormatDateTimeMs(LocalDateTimeOf(time)));
}

QColor EventColour(const EventRecord& event) {
    if (event.event == "已断开" || event.event == "停止记录") {
        return {192, 0, 0};
    }
    if (event.event == "注册" || event.event == "已连接" || event.event == "开始记录") {
        return {0, 140, 0};
    }
    if (event.event == EventName(EventKind::ProfileInForce)) {
        return {96, 0, 160};
    }
    return {90, 90, 90};
}

}  // namespace

std::shared_ptr<const HistoryView> HistoryView::Make(History history, std::vector<int> inputs,
                                                     std::vector<int> relays) {
    auto view = std::make_shared<HistoryView>();
    view->history = std::move(history);
    const Series& series = view->history.series;
    view->profiles = ProfileTimeline(view->history.events, view->history.name, series);
    const auto& kept = series.Selection().values;
    for (std::size_t k = 0; k < kept.size(); ++k) {
        if (kept[k] < kProfileChannels) {
            view->channels.emplace_back(series, view->profiles, k, kept[k]);
        }
    }
    view->inputs = std::move(inputs);
    view->relays = std::move(relays);
    return view;
}

QString FromUtf8(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

double AxisTime(RowTime time) {
    return static_cast<double>(time.time_since_epoch().count()) / 1000.0;
}

RowTime RowTimeAt(double axisTime) {
    return RowTime(std::chrono::milliseconds(std::llround(axisTime * 1000.0)));
}

// The pixel columns of the visible range, piece by piece, and the inputs and relays over each,
// worked out once per picture for all the traces, which share the time axis.
class HistoryChart::ColumnCache {
  public:
    const std::vector<std::vector<PixelColumn>>& For(const Series& series, QCPRange range,
                                                     int width) {
        if (series_ == &series && rows_ == series.Rows() && range_ == range && width_ == width) {
            return columns_;
        }
        series_ = &series;
        rows_ = series.Rows();
        range_ = range;
        width_ = width;
        flags_.clear();
        const auto pieces = series.Pieces();
        columns_.resize(pieces.size());
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            series.Columns(pieces[i], RowTimeAt(range.lower), RowTimeAt(range.upper), width,
                           columns_[i]);
        }
        return columns_;
    }
    // The inputs and relays over each column of piece i of the last For.
    const std::vector<FlagRange>& Flags(std::size_t i) {
        if (flags_.empty()) {
            flags_.resize(columns_.size());
            for (std::size_t p = 0; p < columns_.size(); ++p) {
                const std::vector<PixelColumn>& columns = columns_[p];
                for (std::size_t c = 0; c < columns.size(); ++c) {
                    if (c + kFetchAhead < columns.size()) {
                        series_->FetchFlags(columns[c + kFetchAhead].begin);
                    }
                    flags_[p].push_back(series_->FlagsOver(columns[c].begin, columns[c].end));
                }
            }
        }
        return flags_[i];
    }

  private:
    const Series* series_ = nullptr;
    std::size_t rows_ = 0;
    QCPRange range_;
    int width_ = -1;
    std::vector<std::vector<PixelColumn>> columns_;
    std::vector<std::vector<FlagRange>> flags_;
};

// Fills rects with colour straight into the image painter draws on, where that gives the pixels
// Qt would: an opaque colour, aliased, on a 32-bit image of its own, moved by whole pixels at
// most, a clip of one rectangle. Qt fills a stroke one pixel wide a row at a time, through a call
// for each, which was most of the filling of a dense view. False when the painter is left to do it.
bool FillStraight(QPainter& painter, const QColor& colour, const QVector<QRect>& rects) {
    QRect clip;
    QPoint origin;
    QImage* const image = colour.alpha() == 255 ? StraightImage(painter, clip, origin) : nullptr;
    if (image == nullptr) {
        return false;
    }
    const std::uint32_t value = StraightColour(colour);
    auto* const pixels = reinterpret_cast<std::uint32_t*>(image->bits());
    const qsizetype stride = image->bytesPerLine() / 4;
    for (const QRect& rect : rects) {
        const QRect fill = rect & clip;
        for (int y = fill.top(); y <= fill.bottom(); ++y) {
            std::fill_n(pixels + ((y + origin.y()) * stride + fill.left() + origin.x()),
                        fill.width(), value);
        }
    }
    return true;
}

// For each pixel column, one run of pixel rows that strokes drawn later paint over. A stroke that
// neither overlaps nor touches the run replaces it only when longer, so the run stays within
// what is painted over.
class StrokeCover {
  public:
    void Reset(int left, int width) {
        left_ = left;
        runs_.assign(static_cast<std::size_t>(std::max(0, width)) + kChartLineWidth, Run{});
    }
    // Appends to kept the parts of stroke not covered, column by column where the runs differ.
    void Trim(const QRect& stroke, QVector<QRect>& kept) const {
        const int top = stroke.top();
        const int bottom = stroke.bottom();
        for (int x = stroke.left(); x <= stroke.right();) {
            const Run run = At(x);
            int width = 1;
            while (x + width <= stroke.right() && At(x + width) == run) {
                ++width;
            }
            if (run.Empty() || run.bottom < top || run.top > bottom) {
                kept.append(QRect(x, top, width, bottom - top + 1));
            } else {
                if (top < run.top) {
                    kept.append(QRect(x, top, width, run.top - top));
                }
                if (bottom > run.bottom) {
                    kept.append(QRect(x, run.bottom + 1, width, bottom - run.bottom));
                }
            }
            x += width;
        }
    }
    void Add(const QRect& stroke) {
        const Run add{stroke.top(), stroke.bottom()};
        for (int x = std::max(stroke.left(), left_); x <= stroke.right(); ++x) {
            const auto i = static_cast<std::size_t>(x - left_);
            if (i >= runs_.size()) {
                break;
            }
            Run& run = runs_[i];
            if (run.Empty() || (add.top <= run.bottom + 1 && add.bottom >= run.top - 1)) {
                run = run.Empty()
                          ? add
                          : Run{std::min(run.top, add.top), std::max(run.bottom, add.bottom)};
            } else if (add.bottom - add.top > run.bottom - run.top) {
                run = add;
            }
        }
    }

  private:
    struct Run {
        int top = 1;
        int bottom = 0;
        bool Empty() const { return top > bottom; }
        bool operator==(const Run&) const = default;
    };
    // Empty outside the plot.
    Run At(int x) const {
        const auto i = static_cast<std::size_t>(x - left_);
        return x >= left_ && i < runs_.size() ? runs_[i] : Run{};
    }

    int left_ = 0;
    std::vector<Run> runs_;
};

// A line drawn from the rows of each pixel column of the visible range, piece by piece. A
// column's stroke is a filled rectangle as wide as the line, and where the next column holding
// rows is the neighbour, the join is folded into its stroke: Qt fills rectangles many times
// faster than it strokes wide lines, and a month of dense rows is nearly all strokes. Joins
// across empty columns are lines.
class HistoryChart::Trace : public QCPAbstractPlottable {
  public:
    Trace(QCPAxis* keyAxis, QCPAxis* valueAxis, const HistoryView& view, ColumnCache& cache)
        : QCPAbstractPlottable(keyAxis, valueAxis), view_(view), cache_(cache) {}

    double selectTest(const QPointF&, bool, QVariant*) const override { return -1; }
    QCPRange getKeyRange(bool& found, QCP::SignDomain) const override {
        const auto extent = view_.history.series.Extent();
        found = extent.has_value();
        return found ? QCPRange(AxisTime(extent->first), AxisTime(extent->last)) : QCPRange();
    }
    QCPRange getValueRange(bool& found, QCP::SignDomain, const QCPRange&) const override {
        found = false;
        return {};
    }

    // Works out the strokes and joins of the visible range; false when there is nothing to draw.
    bool Compute() {
        const Series& series = view_.history.series;
        const QCPAxis& time = *keyAxis();
        const QCPRange range = time.range();
        const int width = time.axisRect()->width();
        lines_.clear();
        strokes_.clear();
        if (RowTimeAt(range.upper) <= RowTimeAt(range.lower) || width <= 0) {
            return false;
        }
        const int left = time.axisRect()->left();
        const auto& columns = cache_.For(series, range, width);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (!columns[i].empty()) {
                DrawPiece(i, series.Pieces()[i], columns[i], left);
            }
        }
        return true;
    }
    // The strokes, then the joins over them.
    void Paint(QCPPainter* painter) const {
        if (!FillStraight(*painter, pen().color(), strokes_)) {
            painter->setPen(Qt::NoPen);
            painter->setBrush(pen().color());
            painter->drawRects(strokes_);
        }
        painter->setPen(pen());
        painter->drawLines(lines_);
    }
    // Leaves out of the strokes what cover says lines drawn later paint over, then adds the
    // strokes to it.
    void LeaveOut(StrokeCover& cover) {
        kept_.clear();
        for (const QRect& stroke : strokes_) {
            cover.Trim(stroke, kept_);
        }
        for (const QRect& stroke : strokes_) {
            cover.Add(stroke);
        }
        strokes_.swap(kept_);
    }

  protected:
    void draw(QCPPainter* painter) override {
        if (Compute()) {
            applyDefaultAntialiasingHint(painter);
            Paint(painter);
        }
    }
    void drawLegendIcon(QCPPainter* painter, const QRectF& rect) const override {
        painter->setPen(pen());
        painter->drawLine(QLineF(rect.left(), rect.center().y(), rect.right(), rect.center().y()));
    }

    // Adds the strokes and joins of the columns of piece i.
    virtual void DrawPiece(std::size_t i, const Piece& piece,
                           const std::vector<PixelColumn>& columns, int left) = 0;

    // Where a row lies on the time axis, kept within reach of the plot, so that a row far
    // outside the view still gives a join its direction.
    double TimePixel(std::size_t row) const {
        const QRect plot = keyAxis()->axisRect()->rect();
        const double x = keyAxis()->coordToPixel(AxisTime(view_.history.series.Time(row)));
        return std::clamp(x, plot.left() - 1e4, plot.right() + 1e4);
    }
    // A stroke of the line's width at x over pixel rows top to bottom. Where columns of rows lie
    // side by side the strokes are one pixel wide (each still from its column's minimum to its
    // maximum), which halves the filling of a dense view; the last of a run keeps both.
    void Stroke(int x, double top, double bottom) {
        if (!strokes_.isEmpty() && strokes_.back().left() == x - 1) {
            strokes_.back().setWidth(1);
        }
        const int y = static_cast<int>(std::lround(top));
        strokes_.append(QRect(x, y, kChartLineWidth,
                              static_cast<int>(std::lround(bottom)) - y + kChartLineWidth));
    }

    const HistoryView& view_;
    ColumnCache& cache_;
    QVector<QLineF> lines_;
    QVector<QRect> strokes_;
    QVector<QRect> kept_;  // kept for its capacity
};

// A channel: a vertical stroke over each column's true range, joined to its neighbours through
// the first and the last row of each column.
class HistoryChart::ChannelTrace final : public Trace {
  public:
    ChannelTrace(QCPAxis* keyAxis, QCPAxis* valueAxis, const HistoryView& view, ColumnCache& cache,
                 const ShownChannel& channel)
        : Trace(keyAxis, valueAxis, view, cache), channel_(channel) {}

    const ShownChannel& Channel() const { return channel_; }

  protected:
    // Drawn with the other channels by ChannelLines.
    void draw(QCPPainter*) override {}

  private:
    void DrawPiece(std::size_t, const Piece& piece, const std::vector<PixelColumn>& columns,
                   int left) override {
        const QCPAxis& value = *valueAxis();
        std::optional<QPointF> last;
        const auto at = [&](double x, std::size_t row) -> std::optional<QPointF> {
            const double v = channel_.Value(row);
            return std::isnan(v) ? std::nullopt : std::optional(QPointF(x, value.coordToPixel(v)));
        };
        if (columns.front().begin > piece.begin) {
            last = at(TimePixel(columns.front().begin - 1), columns.front().begin - 1);
        }
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const PixelColumn& column = columns[c];
            if (c + kFetchAhead < columns.size()) {
                channel_.Fetch(columns[c + kFetchAhead].begin);
            }
            const ValueRange range = channel_.Range(column.begin, column.end);
            if (range.Empty()) {
                last.reset();
                continue;
            }
            const int x = left + column.x;
            double top = value.coordToPixel(range.max);
            double bottom = value.coordToPixel(range.min);
            if (const auto first = at(x, column.begin); last && first) {
                if (last->x() == x - 1) {
                    top = std::min(top, last->y());
                    bottom = std::max(bottom, last->y());
                } else {
                    lines_.append(QLineF(*last, *first));
                }
            }
            Stroke(x, std::min(top, bottom), std::max(top, bottom));
            last = at(x, column.end - 1);
        }
        if (const std::size_t next = columns.back().end; last && next < piece.end) {
            if (const auto after = at(TimePixel(next), next)) {
                lines_.append(QLineF(*last, *after));
            }
        }
    }

    const ShownChannel& channel_;
};

// A plottable drawn over a plot's axes that neither holds data ranges nor shows in the legend.
class HistoryChart::Overlay : public QCPAbstractPlottable {
  public:
    using QCPAbstractPlottable::QCPAbstractPlottable;

    double selectTest(const QPointF&, bool, QVariant*) const override { return -1; }
    QCPRange getKeyRange(bool& found, QCP::SignDomain) const override {
        found = false;
        return {};
    }
    QCPRange getValueRange(bool& found, QCP::SignDomain, const QCPRange&) const override {
        found = false;
        return {};
    }

  protected:
    void drawLegendIcon(QCPPainter*, const QRectF&) const override {}
};

// The channels' lines, in the legend's order, each over the ones before. Where a later line's
// stroke covers pixels of a column, the earlier lines' strokes leave them out: the later one
// paints them over anyway, opaque and aliased as the plot draws its lines. In a dense view every
// column of every line spans most of the plot, and filling them all over each other was most of
// a repaint. Painters that blend edges (a PDF) get every stroke whole.
class HistoryChart::ChannelLines final : public Overlay {
  public:
    ChannelLines(QCPAxis* keyAxis, QCPAxis* valueAxis, std::vector<ChannelTrace*> traces)
        : Overlay(keyAxis, valueAxis), traces_(std::move(traces)) {}

  protected:
    void draw(QCPPainter* painter) override {
        shown_.clear();
        for (ChannelTrace* trace : traces_) {
            if (trace->visible() && trace->Compute()) {
                shown_.push_back(trace);
            }
        }
        applyDefaultAntialiasingHint(painter);
        if (painter->paintEngine()->type() == QPaintEngine::Raster &&
            !painter->testRenderHint(QPainter::Antialiasing)) {
            const QCPAxisRect& plot = *keyAxis()->axisRect();
            cover_.Reset(plot.left(), plot.width());
            for (auto it = shown_.rbegin(); it != shown_.rend(); ++it) {
                (*it)->LeaveOut(cover_);
            }
        }
        for (const ChannelTrace* trace : shown_) {
            trace->Paint(painter);
        }
    }

  private:
    std::vector<ChannelTrace*> traces_;
    std::vector<ChannelTrace*> shown_;
    StrokeCover cover_;
};

// An input or relay: a step trace on its lane, a vertical stroke where a column holds both
// states.
class HistoryChart::SwitchTrace final : public Trace {
  public:
    SwitchTrace(QCPAxis* keyAxis, QCPAxis* valueAxis, const HistoryView& view, ColumnCache& cache,
                std::uint32_t bit, double lane)
        : Trace(keyAxis, valueAxis, view, cache), bit_(bit), lane_(lane) {}

    std::uint32_t Bit() const { return bit_; }

  private:
    double Level(bool on) const {
        return valueAxis()->coordToPixel(on ? lane_ + kSwitchHigh : lane_);
    }
    // The level held from x0 to x1.
    void Hold(double x0, double x1, double level) {
        const int y = static_cast<int>(std::lround(level));
        const int from = static_cast<int>(std::lround(x0));
        strokes_.append(
            QRect(from, y, static_cast<int>(std::lround(x1)) - from + 1, kChartLineWidth));
    }

    void DrawPiece(std::size_t i, const Piece& piece, const std::vector<PixelColumn>& columns,
                   int left) override {
        const Series& series = view_.history.series;
        const std::vector<FlagRange>& flags = cache_.Flags(i);
        std::optional<QPointF> last;
        if (columns.front().begin > piece.begin) {
            const std::size_t row = columns.front().begin - 1;
            last = QPointF(TimePixel(row), Level((series.Flags(row) & bit_) != 0));
        }
        for (std::size_t c = 0; c < columns.size(); ++c) {
            const int x = left + columns[c].x;
            double top = Level((flags[c].any & bit_) != 0);
            double bottom = Level((flags[c].all & bit_) != 0);
            if (last) {
                Hold(last->x(), x, last->y());
                top = std::min(top, last->y());
                bottom = std::max(bottom, last->y());
            }
            Stroke(x, top, bottom);
            last = QPointF(x, Level((series.Flags(columns[c].end - 1) & bit_) != 0));
        }
        if (const std::size_t next = columns.back().end; last && next < piece.end) {
            Hold(last->x(), TimePixel(next), last->y());
        }
    }

    std::uint32_t bit_;
    double lane_;
};

// The events as small triangles standing on the time axis, coloured by kind.
class HistoryChart::EventMarks final : public Overlay {
  public:
    EventMarks(QCPAxis* keyAxis, QCPAxis* valueAxis, const HistoryView& view)
        : Overlay(keyAxis, valueAxis), view_(view) {}

    // The events whose marks lie within kMarkReach pixels of x.
    std::vector<const EventRecord*> Near(double x) const {
        std::vector<const EventRecord*> near;
        for (const EventRecord& event : view_.history.events) {
            if (std::abs(keyAxis()->coordToPixel(AxisTime(event.time)) - x) <= kMarkReach) {
                near.push_back(&event);
            }
        }
        return near;
    }

  protected:
    void draw(QCPPainter* painter) override {
        const QCPRange range = keyAxis()->range();
        const double bottom = keyAxis()->axisRect()->bottom();
        painter->setAntialiasing(true);
        painter->setPen(Qt::NoPen);
        double lastX = -1;
        QRgb lastColour = 0;
        for (const EventRecord& event : view_.history.events) {
            const double t = AxisTime(event.time);
            if (!range.contains(t)) {
                continue;
            }
            const double x = std::round(keyAxis()->coordToPixel(t));
            const QColor colour = EventColour(event);
            if (x == lastX && colour.rgb() == lastColour) {
                continue;
            }
            lastX = x;
            lastColour = colour.rgb();
            painter->setBrush(colour);
            painter->drawPolygon(QPolygonF{{x, bottom - kMarkSize},
                                           {x - kMarkSize / 2.0, bottom},
                                           {x + kMarkSize / 2.0, bottom}});
        }
    }

  private:
    const HistoryView& view_;
};

HistoryChart::HistoryChart(QWidget* parent)
    : StampedPlot(parent),
      timeTicker_(new QCPAxisTickerDateTime),
      laneTicker_(new QCPAxisTickerText),
      readout_(*this),
      margins_(new QCPMarginGroup(this)),
      columns_(std::make_unique<ColumnCache>()) {
    SetUpChartLook(*this, QStringLiteral("     历史数据曲线"));
    SetUpCheckLegend(*this);
    timeTicker_->setDateTimeSpec(Qt::UTC);
    xAxis->setTicker(timeTicker_);
    yAxis2->setTickLabels(true);
    axisRect()->setRangeZoomAxes({xAxis}, {yAxis, yAxis2});
    setFocusPolicy(Qt::StrongFocus);
    setAccessibleName(QStringLiteral("历史曲线"));
    connect(this, &QCustomPlot::beforeReplot, this, &HistoryChart::PrepareReplot);
    connect(xAxis, qOverload<const QCPRange&>(&QCPAxis::rangeChanged), this,
            [this](const QCPRange& range) {
                if (switchRect_ != nullptr) {
                    switchRect_->axis(QCPAxis::atBottom)->setRange(range);
                }
                UpdateTimeFormat();
            });
    setAccessibleDescription(RangeText());
}

HistoryChart::~HistoryChart() = default;

void HistoryChart::SetView(std::shared_ptr<const HistoryView> view, bool keepRange) {
    // The traces point into the view: they go before the one they show.
    const auto kept = std::exchange(view_, std::move(view));
    const QCPRange time = xAxis->range();
    const QCPRange left = yAxis->range();
    const QCPRange right = yAxis2->range();
    Rebuild();
    if (keepRange && held_) {
        xAxis->setRange(time);
        yAxis->setRange(left);
        yAxis2->setRange(right);
    } else {
        ShowWholeRange();
    }
    setAccessibleDescription(RangeText());
    replot(rpQueuedReplot);
}

void HistoryChart::Rebuild() {
    clearPlottables();
    channelTraces_.clear();
    switchTraces_.clear();
    marks_ = nullptr;
    if (switchRect_ != nullptr) {
        plotLayout()->remove(switchRect_);
        plotLayout()->simplify();
        switchRect_ = nullptr;
    }
    if (view_ == nullptr) {
        return;
    }
    QStringList leftUnits;
    QStringList rightUnits;
    for (const ShownChannel& channel : view_->channels) {
        QCPAxis* value = channel.RightAxis() ? yAxis2 : yAxis;
        auto* trace = new ChannelTrace(xAxis, value, *view_, *columns_, channel);
        const QColor colour = ChartLineColour(channel.Channel());
        trace->setName(FromUtf8(channel.Name()));
        trace->setPen(QPen(colour, kChartLineWidth));
        AddToCheckLegend(*this, *trace, colour);
        channelTraces_.push_back(trace);
        QStringList& units = channel.RightAxis() ? rightUnits : leftUnits;
        if (!units.contains(FromUtf8(channel.Unit()))) {
            units << FromUtf8(channel.Unit());
        }
    }
    new ChannelLines(xAxis, yAxis, channelTraces_);
    yAxis->setLabel(leftUnits.join(QStringLiteral(", ")));
    yAxis2->setLabel(rightUnits.join(QStringLiteral(", ")));
    yAxis2->setVisible(!rightUnits.isEmpty());
    marks_ = new EventMarks(xAxis, yAxis, *view_);

    const int lanes = static_cast<int>(view_->inputs.size() + view_->relays.size());
    if (lanes == 0) {
        return;
    }
    switchRect_ = new QCPAxisRect(this, false);
    switchRect_->addAxes(QCPAxis::atBottom | QCPAxis::atLeft);
    plotLayout()->addElement(plotLayout()->rowCount(), 0, switchRect_);
    plotLayout()->setRowStretchFactor(plotLayout()->rowCount() - 2, kLineStretch);
    plotLayout()->setRowStretchFactor(plotLayout()->rowCount() - 1,
                                      std::min(kLineStretch / 3, lanes * kLaneStretch));
    axisRect()->setMarginGroup(QCP::msLeft | QCP::msRight, margins_);
    switchRect_->setMarginGroup(QCP::msLeft | QCP::msRight, margins_);
    QCPAxis* time = switchRect_->axis(QCPAxis::atBottom);
    QCPAxis* lane = switchRect_->axis(QCPAxis::atLeft);
    time->setTicker(timeTicker_);
    time->setRange(xAxis->range());
    laneTicker_->clear();
    lane->setTicker(laneTicker_);
    lane->setRange(-0.3, lanes - 0.1);
    int k = lanes;
    const auto add = [&](bool relay, int number) {
        --k;
        const std::uint32_t bit = relay ? RelayBit(number) : InputBit(number);
        auto* trace = new SwitchTrace(time, lane, *view_, *columns_, bit, k);
        trace->setName(FromUtf8(SwitchName(view_->profiles, relay, number)));
        trace->setPen(QPen(relay ? QColor(160, 60, 0) : QColor(0, 90, 160), kChartLineWidth));
        laneTicker_->addTick(k + kSwitchHigh / 2, trace->name());
        switchTraces_.push_back(trace);
    };
    for (const int number : view_->inputs) {
        add(false, number);
    }
    for (const int number : view_->relays) {
        add(true, number);
    }
}

void HistoryChart::ShowWholeRange() {
    held_ = false;
    const auto extent = view_ != nullptr ? view_->history.series.Extent() : std::nullopt;
    if (extent) {
        const double first = AxisTime(extent->first);
        const double last = AxisTime(extent->last);
        xAxis->setRange(first, std::max(last, first + 1.0));
    }
    FitValueAxes();
    replot(rpQueuedReplot);
}

void HistoryChart::FitValueAxes() {
    ValueRange left;
    ValueRange right;
    const std::size_t rows = view_ != nullptr ? view_->history.series.Rows() : 0;
    for (const ChannelTrace* trace : channelTraces_) {
        (trace->Channel().RightAxis() ? right : left).Add(trace->Channel().Range(0, rows));
    }
    for (auto [axis, range] : {std::pair{yAxis, left}, std::pair{yAxis2, right}}) {
        if (range.Empty()) {
            axis->setRange(0, 1);
            continue;
        }
        const double pad = std::max(1e-3, (range.max - range.min) * kValuePad);
        axis->setRange(range.min - pad, range.max + pad);
    }
}

RowTime HistoryChart::VisibleFrom() const {
    return RowTimeAt(xAxis->range().lower);
}

RowTime HistoryChart::VisibleTo() const {
    return RowTimeAt(xAxis->range().upper);
}

std::vector<ShownChannel> HistoryChart::VisibleChannels() const {
    std::vector<ShownChannel> shown;
    for (const ChannelTrace* trace : channelTraces_) {
        if (trace->visible()) {
            shown.push_back(trace->Channel());
        }
    }
    return shown;
}

QString HistoryChart::RangeText() const {
    const auto extent = view_ != nullptr ? view_->history.series.Extent() : std::nullopt;
    if (!extent) {
        return QStringLiteral("0 行");
    }
    return QStringLiteral("%1 至 %2，%3 行")
        .arg(TimeText(extent->first), TimeText(extent->last))
        .arg(view_->history.series.Rows());
}

QString HistoryChart::EventTextAt(QPoint pos) const {
    const QRect plot = axisRect()->rect();
    if (marks_ == nullptr || pos.x() < plot.left() || pos.x() > plot.right() ||
        pos.y() < plot.bottom() - kMarkSize - kMarkReach || pos.y() > plot.bottom() + kMarkReach) {
        return {};
    }
    const auto near = marks_->Near(pos.x());
    QStringList text;
    for (const EventRecord* event : near) {
        if (text.size() == kMaxEventLines) {
            text << QStringLiteral("……（共 %1 条）").arg(near.size());
            break;
        }
        QString detail = FromUtf8(event->detail);
        if (detail.size() > kMaxDetailChars) {
            detail = detail.left(kMaxDetailChars) + QStringLiteral("…");
        }
        QStringList parts;
        for (const QString& part :
             {TimeText(event->time), FromUtf8(event->name), FromUtf8(event->event), detail}) {
            if (!part.isEmpty()) {
                parts << part;
            }
        }
        text << parts.join(QLatin1Char(' '));
    }
    return text.join(QLatin1Char('\n'));
}

void HistoryChart::UpdateTimeFormat() {
    const double span = xAxis->range().size();
    constexpr double kMinute = 60;
    constexpr double kTwoDays = 2 * 86400;
    timeTicker_->setDateTimeFormat(span >= kTwoDays  ? QStringLiteral("MM-dd HH:mm")
                                   : span >= kMinute ? QStringLiteral("HH:mm:ss")
                                                     : QStringLiteral("HH:mm:ss.zzz"));
}

void HistoryChart::PrepareReplot() {
    const double ratio = bufferDevicePixelRatio();
    const QSize size = viewport().size();
    if (Backdrop().size() != (QSizeF(size) * ratio).toSize() ||
        Backdrop().devicePixelRatio() != ratio) {
        SetBackdrop(ChartBackdrop(size, ratio));
    }
}

void HistoryChart::ShowReadoutAt(std::optional<QPoint> pos) {
    hoverPos_ = pos.has_value() && axisRect()->rect().contains(*pos) ? pos : std::nullopt;
    const bool wasShown = readout_.Visible();
    const Series* series = view_ != nullptr ? &view_->history.series : nullptr;
    const std::size_t row = hoverPos_ && series != nullptr
                                ? series->Nearest(RowTimeAt(xAxis->pixelToCoord(hoverPos_->x())))
                                : 0;
    if (series == nullptr || !hoverPos_ || row >= series->Rows()) {
        readout_.Hide();
    } else {
        QStringList text{TimeText(series->Time(row))};
        for (const ChannelTrace* trace : channelTraces_) {
            if (trace->visible()) {
                const ShownChannel& channel = trace->Channel();
                const double value = channel.Value(row);
                text << ReadoutLine(
                    trace->name(),
                    std::isnan(value) ? std::nullopt
                                      : std::optional(QString::fromStdString(ValueText(
                                            value, channel.DecimalsAt(row), channel.UnitAt(row)))));
            }
        }
        for (const SwitchTrace* trace : switchTraces_) {
            text << ReadoutLine(trace->name(), (series->Flags(row) & trace->Bit()) != 0
                                                   ? QStringLiteral("1")
                                                   : QStringLiteral("0"));
        }
        readout_.Show(AxisTime(series->Time(row)), text.join(QLatin1Char('\n')));
    }
    readout_.Redraw(hoverPos_.has_value(), wasShown);
}

void HistoryChart::Pan(double timeShare, double valueShare) {
    held_ = true;
    xAxis->moveRange(timeShare * xAxis->range().size());
    for (QCPAxis* axis : {yAxis, yAxis2}) {
        axis->moveRange(valueShare * axis->range().size());
    }
    replot(rpQueuedReplot);
}

void HistoryChart::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        if (QCPPlottableLegendItem* item = CheckLegendItemAt(*this, event->pos())) {
            item->plottable()->setVisible(!item->plottable()->visible());
            replot(rpQueuedReplot);
            return;
        }
        QCustomPlot::mousePressEvent(event);
        return;
    }
    panFrom_ = event->pos();
    panMoved_ = false;
}

void HistoryChart::mouseMoveEvent(QMouseEvent* event) {
    ShowReadoutAt(event->pos());
    if (const QString text = EventTextAt(event->pos()); !text.isEmpty()) {
        // Event texts come from files: shown as plain text, never as markup.
        QToolTip::showText(
            event->globalPosition().toPoint(),
            QStringLiteral("<p style='white-space:pre'>%1</p>").arg(text.toHtmlEscaped()), this);
    } else {
        QToolTip::hideText();
    }
    if (!panFrom_) {
        QCustomPlot::mouseMoveEvent(event);
        return;
    }
    const QPoint delta = event->pos() - std::exchange(*panFrom_, event->pos());
    panMoved_ = panMoved_ || !delta.isNull();
    const QRect plot = axisRect()->rect();
    Pan(-static_cast<double>(delta.x()) / std::max(1, plot.width()),
        static_cast<double>(delta.y()) / std::max(1, plot.height()));
}

void HistoryChart::mouseReleaseEvent(QMouseEvent* event) {
    if (!panFrom_) {
        QCustomPlot::mouseReleaseEvent(event);
        return;
    }
    panFrom_.reset();
    if (!panMoved_ && event->button() == Qt::RightButton) {
        ShowWholeRange();
    }
}

void HistoryChart::mouseDoubleClickEvent(QMouseEvent* event) {
    if (selectionRect()->isActive()) {
        selectionRect()->cancel();
    }
    if (CheckLegendItemAt(*this, event->pos()) == nullptr) {
        ShowWholeRange();
    }
}

void HistoryChart::wheelEvent(QWheelEvent* event) {
    const QPointF pos = event->position();
    const QRect plot = axisRect()->rect();
    const double factor = std::pow(kWheelZoom, event->angleDelta().y() / 120.0);
    if (pos.x() < plot.left()) {
        yAxis->scaleRange(factor, yAxis->pixelToCoord(pos.y()));
    } else if (pos.x() > plot.right()) {
        yAxis2->scaleRange(factor, yAxis2->pixelToCoord(pos.y()));
    } else {
        xAxis->scaleRange(factor, xAxis->pixelToCoord(pos.x()));
    }
    held_ = true;
    event->accept();
    replot(rpQueuedReplot);
}

void HistoryChart::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Left:
            Pan(-kPanStep, 0);
            break;
        case Qt::Key_Right:
            Pan(kPanStep, 0);
            break;
        case Qt::Key_Up:
            Pan(0, kPanStep);
            break;
        case Qt::Key_Down:
            Pan(0, -kPanStep);
            break;
        case Qt::Key_Home:
            ShowWholeRange();
            break;
        default:
            QCustomPlot::keyPressEvent(event);
            return;
    }
    event->accept();
}

void HistoryChart::leaveEvent(QEvent* event) {
    ShowReadoutAt(std::nullopt);
    QCustomPlot::leaveEvent(event);
}

void HistoryChart::resizeEvent(QResizeEvent* event) {
    SetChartMargins(*this, event->size());
    QCustomPlot::resizeEvent(event);
}

void HistoryChart::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
}

void HistoryChart::processRectZoom(QRect rect, QMouseEvent* event) {
    held_ = true;
    QCustomPlot::processRectZoom(rect, event);
}

}  // namespace corvelle

#include "moc_history_chart.cpp"  // NOLINT(bugprone-suspicious-include): moc output
