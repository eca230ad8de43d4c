#include "chart/ct_chart.h"

#include <algorithm>
#include <limits>
#include <utility>

#include <QPainter>
#include <QPixmap>
#include <QStringList>
#include <QToolButton>

#include "chart/chart_look.h"
#include "chart/legend_check_item.h"
#include "chart/time_ticker.h"
#include "profile/profile.h"

namespace corvelle {

namespace {

// Shortest span of the followed time axis, in points: a chart just started or reset fills in
// from the left instead of stretching its first few points across the whole width.
constexpr double kMinimumTimeSpan = 60.0;
// Share of the current axis span moved by one arrow click.
constexpr double kArrowStep = 0.01;
constexpr int kArrowSize = 14;
constexpr int kArrowInset = 2;
// Room per x tick label ("HH:MM:SS" plus spacing), in pixels.
constexpr int kPixelsPerTimeTick = 120;
// The page template's chart area, 497 x 202 dialog units at 1.5 pixels per unit.
constexpr QSize kPreferredSize{746, 303};

}  // namespace

void CTChart::Line::Clear() {
    graph_.data()->clear();
    chart_.ForgetLabelsOnceEmpty();
    chart_.RequestReplot();
}

int CTChart::Line::AppendPoint(double x, double y, std::string_view label, std::int32_t) {
    const QCPGraphDataContainer& data = *graph_.data();
    const bool atEnd = data.isEmpty() || x >= (data.constEnd() - 1)->key;
    graph_.addData(x, y);
    chart_.ticker_->SetLabel(x,
                             QString::fromUtf8(label.data(), static_cast<qsizetype>(label.size())));
    chart_.RequestReplot();
    // The container appends at the end and otherwise inserts before equal keys.
    return atEnd ? data.size() - 1 : static_cast<int>(data.findBegin(x, false) - data.constBegin());
}

CTChart::CTChart(QWidget* parent) : StampedPlot(parent), ticker_(new TimeTicker), readout_(*this) {
    SetUpLook();
    SetUpLines();
    SetUpArrowButtons();
    // The time axis follows the points, so every reply changes the whole plot.
    SetDrawnInPaintEvents();
    // A replot asked for by QCustomPlot or a caller lays out what a paint would.
    connect(this, &QCustomPlot::beforeReplot, this, &CTChart::PrepareDraw);
    connect(this, &QCustomPlot::afterLayout, this, &CTChart::PlaceArrowButtons);
    descriptionHold_.setSingleShot(true);
    descriptionHold_.setInterval(kDescriptionPeriodMs);
    connect(&descriptionHold_, &QTimer::timeout, this, [this] {
        if (descriptionStale_ && isVisible()) {
            RefreshDescription();
        }
    });
}

CTChart::~CTChart() = default;

void CTChart::SetUpLook() {
    title_ = &SetUpChartLook(*this, QStringLiteral("     数据采集曲线"));
    xAxis->setTicker(ticker_);
    yAxis->setRange(valueRange_);
}

void CTChart::SetUpLines() {
    SetUpCheckLegend(*this);
    lines_.reserve(kChartSeriesCount);
    for (int k = 0; k < kChartSeriesCount; ++k) {
        const QColor colour = ChartLineColour(k);
        auto* graph = new StampedLineGraph(xAxis, yAxis, Stamps(), Columns());
        graph->setName(QStringLiteral("AD%1").arg(k + 1));
        meanings_.at(static_cast<std::size_t>(k)).name = graph->name().toStdString();
        graph->setPen(QPen(colour, kChartLineWidth));
        AddToCheckLegend(*this, *graph, colour);
        lines_.emplace_back(*this, *graph);
    }
}

void CTChart::SetUpArrowButtons() {
    const std::array<QString, kArrowNames.size()> tips{
        QStringLiteral("数值轴上移 1%"), QStringLiteral("数值轴下移 1%"),
        QStringLiteral("时间轴左移 1%"), QStringLiteral("时间轴右移 1%")};
    const std::array<Qt::ArrowType, kArrowNames.size()> arrows{Qt::UpArrow, Qt::DownArrow,
                                                               Qt::LeftArrow, Qt::RightArrow};
    const std::array<QCPAxis*, kArrowNames.size()> axes{yAxis, yAxis, xAxis, xAxis};
    const std::array<double, kArrowNames.size()> directions{1.0, -1.0, -1.0, 1.0};
    for (std::size_t i = 0; i < kArrowNames.size(); ++i) {
        auto* button = new QToolButton(this);
        button->setObjectName(QString::fromLatin1(kArrowNames.at(i)));
        button->setArrowType(arrows.at(i));
        button->setToolTip(tips.at(i));
        button->setAccessibleName(tips.at(i));
        button->setAutoRaise(true);
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setFixedSize(kArrowSize, kArrowSize);
        connect(button, &QToolButton::clicked, this,
                [this, axis = axes.at(i), direction = directions.at(i)] {
                    ScrollAxis(axis, direction);
                });
        arrows_.at(i) = button;
    }
}

ChartSeries& CTChart::Series(int index) {
    return lines_.at(static_cast<std::size_t>(index));
}

void CTChart::SetValueAxisRange(double minimum, double maximum) {
    valueRange_ = QCPRange(minimum, maximum);
    if (!valueHeld_) {
        yAxis->setRange(valueRange_);
    }
    RequestReplot();
}

void CTChart::SetLines(const std::array<LineMeaning, kChartSeriesCount>& lines, bool labelled) {
    meanings_ = lines;
    QStringList units[2];
    bool rightUsed = false;
    for (std::size_t k = 0; k < lines.size(); ++k) {
        const LineMeaning& line = lines[k];
        QCPGraph& graph = lines_.at(k).Graph();
        const QString unit = line.scaled ? QString::fromStdString(line.unit) : QStringLiteral("V");
        graph.setName(QString::fromStdString(line.name));
        if (auto* item = dynamic_cast<LegendCheckItem*>(legend->itemWithPlottable(&graph))) {
            item->SetUnit(line.scaled ? unit : QString());
        }
        graph.setValueAxis(line.rightAxis ? yAxis2 : yAxis);
        rightUsed = rightUsed || line.rightAxis;
        if (!unit.isEmpty() && !units[line.rightAxis ? 1 : 0].contains(unit)) {
            units[line.rightAxis ? 1 : 0] << unit;
        }
    }
    yAxis->setLabel(labelled ? units[0].join(QStringLiteral(" / ")) : QString());
    yAxis2->setLabel(units[1].join(QStringLiteral(" / ")));
    yAxis2->setVisible(rightUsed);
    // A dragged rectangle zooms the lines of both value axes.
    axisRect()->setRangeZoomAxes({xAxis}, {yAxis, yAxis2});
    RequestReplot();
}

void CTChart::SetRightAxisRange(double minimum, double maximum) {
    rightRange_ = QCPRange(minimum, maximum);
    if (!valueHeld_) {
        yAxis2->setRange(rightRange_);
    }
    RequestReplot();
}

void CTChart::ShowFullView() {
    timeHeld_ = false;
    valueHeld_ = false;
    if (selectionRect()->isActive()) {
        selectionRect()->cancel();
    }
    xAxis->setRange(TimeExtent());
    yAxis->setRange(valueRange_);
    yAxis2->setRange(rightRange_);
    RequestReplot();
}

QString CTChart::ValueText(std::size_t line, double value, bool spaced) const {
    const LineMeaning& meaning = meanings_.at(line);
    if (meaning.scaled) {
        return QString::fromStdString(corvelle::ValueText(value, meaning.decimals, meaning.unit));
    }
    return QString::number(value, 'f', 3) + (spaced ? QStringLiteral(" V") : QStringLiteral("V"));
}

QString CTChart::ReadoutText() const {
    return readout_.Text();
}

QSize CTChart::sizeHint() const {
    return kPreferredSize;
}

void CTChart::RequestReplot() {
    // Drawn by the next paint event, or, while a layer keeps a buffer of its own, into the
    // buffers by a replot first. Nothing while hidden: showing the chart paints it.
    if (DrawsInPaintEvents() || !isVisible()) {
        update();
    } else {
        replot(rpQueuedReplot);
    }
}

void CTChart::updateLayout() {
    StampedPlot::updateLayout();
    UpdateBackground();
}

void CTChart::UpdateBackground() {
    // The gradient and the title are drawn once per size and title look; each replot then starts
    // from a copy of them. The title lies above the axis rect, where no layer draws before it.
    const double ratio = bufferDevicePixelRatio();
    const QSize size = viewport().size();
    ChartTitle::Look title = title_->CurrentLook();
    if (size == backdropSize_ && ratio == backdropRatio_ && title == backdropTitle_) {
        return;
    }
    backdropSize_ = size;
    backdropRatio_ = ratio;
    backdropTitle_ = std::move(title);
    // Drawn in the format of the paint buffer it is copied into.
    QImage backdrop = ChartBackdrop(size, ratio).toImage().convertToFormat(QImage::Format_RGB32);
    {
        QCPPainter painter(&backdrop);
        title_->DrawBeneath(painter);
    }
    SetBackdrop(QPixmap::fromImage(std::move(backdrop)));
}

void CTChart::PrepareDraw() {
    if (!timeHeld_) {
        xAxis->setRange(TimeExtent());
    }
    UpdateReadout();
    // Paints run only while the chart is shown, so a hidden page's description rests.
    if (descriptionHold_.isActive()) {
        descriptionStale_ = true;
    } else {
        RefreshDescription();
    }
}

void CTChart::RefreshDescription() {
    descriptionStale_ = false;
    descriptionHold_.start();
    const QString text = LatestPointText();
    if (accessibleDescription() != text) {
        setAccessibleDescription(text);
    }
}

QString CTChart::LatestPointText() const {
    double last = -std::numeric_limits<double>::infinity();
    for (const Line& line : lines_) {
        const QCPGraphDataContainer& data = *line.Graph().data();
        if (line.Graph().visible() && !data.isEmpty()) {
            last = std::max(last, (data.constEnd() - 1)->key);
        }
    }
    const TimeTicker::Point* point = ticker_->Nearest(last);
    if (point == nullptr || point->x != last) {
        return {};
    }
    QStringList text{point->label};
    for (std::size_t k = 0; k < lines_.size(); ++k) {
        const QCPGraph& graph = lines_[k].Graph();
        const QCPGraphDataContainer& data = *graph.data();
        if (graph.visible() && !data.isEmpty() && (data.constEnd() - 1)->key == last) {
            text << graph.name() + QLatin1Char(' ') +
                        ValueText(k, (data.constEnd() - 1)->value, false);
        }
    }
    return text.join(QLatin1Char(' '));
}

void CTChart::PlaceArrowButtons() {
    const QRect plot = axisRect()->rect();
    if (plot == arrowsPlacedFor_) {
        return;
    }
    arrowsPlacedFor_ = plot;
    const int left = plot.left() + kArrowInset;
    const int right = plot.right() + 1 - kArrowInset - kArrowSize;
    const int bottom = plot.bottom() + 1 - kArrowInset - kArrowSize;
    // Value arrows stacked at the start of the value axis, time arrows side by side at the end
    // of the time axis.
    arrows_[0]->move(left, bottom - kArrowSize);
    arrows_[1]->move(left, bottom);
    arrows_[2]->move(right - kArrowSize, bottom);
    arrows_[3]->move(right, bottom);
}

void CTChart::ScrollAxis(QCPAxis* axis, double direction) {
    axis->moveRange(direction * kArrowStep * axis->range().size());
    if (axis == yAxis) {
        yAxis2->moveRange(direction * kArrowStep * yAxis2->range().size());
    }
    (axis == xAxis ? timeHeld_ : valueHeld_) = true;
    RequestReplot();
}

void CTChart::ForgetLabelsOnceEmpty() {
    const bool allEmpty = std::all_of(lines_.begin(), lines_.end(), [](const Line& line) {
        return line.Graph().data()->isEmpty();
    });
    if (allEmpty) {
        ticker_->ClearLabels();
    }
}

QCPRange CTChart::TimeExtent() const {
    double first = std::numeric_limits<double>::infinity();
    double last = -first;
    for (const Line& line : lines_) {
        const QCPGraphDataContainer& data = *line.Graph().data();
        if (!data.isEmpty()) {
            first = std::min(first, data.constBegin()->key);
            last = std::max(last, (data.constEnd() - 1)->key);
        }
    }
    if (first > last) {
        return {0.0, kMinimumTimeSpan};
    }
    return {first, std::max(last, first + kMinimumTimeSpan)};
}

void CTChart::showEvent(QShowEvent* event) {
    QCustomPlot::showEvent(event);
    // Buffers are filled only while shown.
    if (!DrawsInPaintEvents()) {
        replot();
    }
}

void CTChart::resizeEvent(QResizeEvent* event) {
    const QSize size = event->size();
    SetChartMargins(*this, size);
    ticker_->setTickCount(std::max(2, size.width() / kPixelsPerTimeTick));
    setViewport(rect());
    RequestReplot();
}

void CTChart::mousePressEvent(QMouseEvent* event) {
    QCPPlottableLegendItem* item =
        event->button() == Qt::LeftButton ? CheckLegendItemAt(*this, event->pos()) : nullptr;
    pressConsumed_ = item != nullptr || event->button() == Qt::RightButton;
    if (!pressConsumed_) {
        QCustomPlot::mousePressEvent(event);
        return;
    }
    if (item != nullptr) {
        item->plottable()->setVisible(!item->plottable()->visible());
        RequestReplot();
    } else {
        ShowFullView();
    }
}

void CTChart::mouseDoubleClickEvent(QMouseEvent* event) {
    // The second click of a quick double click on the legend still toggles its line.
    pressConsumed_ = true;
    if (QCPPlottableLegendItem* item = CheckLegendItemAt(*this, event->pos())) {
        item->plottable()->setVisible(!item->plottable()->visible());
        RequestReplot();
    } else {
        ShowFullView();
    }
}

void CTChart::mouseMoveEvent(QMouseEvent* event) {
    ShowReadoutAt(event->pos());
    if (!pressConsumed_) {
        QCustomPlot::mouseMoveEvent(event);
    }
}

void CTChart::mouseReleaseEvent(QMouseEvent* event) {
    if (!std::exchange(pressConsumed_, false)) {
        QCustomPlot::mouseReleaseEvent(event);
    }
}

void CTChart::leaveEvent(QEvent* event) {
    ShowReadoutAt(std::nullopt);
    QCustomPlot::leaveEvent(event);
}

void CTChart::processRectZoom(QRect rect, QMouseEvent* event) {
    const QCPRange time = xAxis->range();
    const QCPRange value = yAxis->range();
    const QCPRange right = yAxis2->range();
    QCustomPlot::processRectZoom(rect, event);
    timeHeld_ = timeHeld_ || xAxis->range() != time;
    valueHeld_ = valueHeld_ || yAxis->range() != value || yAxis2->range() != right;
}

void CTChart::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
}

void CTChart::ShowReadoutAt(std::optional<QPoint> pos) {
    hoverPos_ = pos.has_value() && axisRect()->rect().contains(*pos) ? pos : std::nullopt;
    const bool wasShown = readout_.Visible();
    UpdateReadout();
    readout_.Redraw(hoverPos_.has_value(), wasShown);
}

void CTChart::UpdateReadout() {
    const TimeTicker::Point* point =
        hoverPos_.has_value() ? ticker_->Nearest(xAxis->pixelToCoord(hoverPos_->x())) : nullptr;
    if (point == nullptr) {
        readout_.Hide();
        return;
    }
    QStringList text{point->label};
    for (std::size_t k = 0; k < lines_.size(); ++k) {
        const QCPGraph& graph = lines_[k].Graph();
        if (!graph.visible()) {
            continue;
        }
        const QCPGraphDataContainer& data = *graph.data();
        const auto it = data.findBegin(point->x, false);
        const bool found = it != data.constEnd() && it->key == point->x;
        text << ReadoutLine(graph.name(),
                            found ? std::optional(ValueText(k, it->value, true)) : std::nullopt);
    }
    readout_.Show(point->x, text.join(QLatin1Char('\n')));
}

}  // namespace corvelle

#include "moc_ct_chart.cpp"  // NOLINT(bugprone-suspicious-include): moc output
