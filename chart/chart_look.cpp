#include "chart/chart_look.h"

#include <array>

#include <QLinearGradient>
#include <QPainter>

#include "chart/legend_check_item.h"

namespace corvelle {
namespace {

constexpr std::array<QRgb, kChartLineColours> kLineColours{
    qRgb(255, 0, 0),   qRgb(0, 128, 0),  qRgb(128, 128, 0), qRgb(0, 0, 255),
    qRgb(128, 64, 64), qRgb(64, 0, 128), qRgb(0, 128, 128), qRgb(192, 0, 192),
    qRgb(255, 128, 0), qRgb(96, 96, 96), qRgb(0, 160, 224), qRgb(160, 96, 0)};

const QString kOverlay = QStringLiteral("overlay");

}  // namespace

QColor ChartLineColour(int k) {
    return QColor::fromRgb(kLineColours.at(static_cast<std::size_t>(k) % kLineColours.size()));
}

ChartTitle::ChartTitle(QCustomPlot* plot, const QString& text, const QFont& font)
    : QCPTextElement(plot, text, font) {}

void ChartTitle::DrawBeneath(QCPPainter& painter) {
    drawnBeneath_ = true;
    if (!realVisibility()) {
        return;
    }
    // As QCPLayer::draw paints each of its children.
    painter.save();
    painter.setClipRect(clipRect().translated(0, -1));
    applyDefaultAntialiasingHint(&painter);
    QCPTextElement::draw(&painter);
    painter.restore();
}

ChartTitle::Look ChartTitle::CurrentLook() const {
    return {rect(),
            mText,
            mTextFlags,
            mSelected ? mSelectedFont : mFont,
            mSelected ? mSelectedTextColor : mTextColor,
            realVisibility()};
}

bool PaintsExport(const QCPPainter& painter) {
    return painter.modes().testFlag(QCPPainter::pmNoCaching) ||
           painter.modes().testFlag(QCPPainter::pmVectorized);
}

void ChartTitle::draw(QCPPainter* painter) {
    // Exports paint every layer afresh, without the backdrop.
    if (!drawnBeneath_ || PaintsExport(*painter)) {
        QCPTextElement::draw(painter);
    }
}

void ChartTitle::Measure() const {
    const QString key = mFont.toString() + QLatin1Char(' ') + QString::number(mMargins.left()) +
                        QLatin1Char(' ') + QString::number(mMargins.top()) + QLatin1Char(' ') +
                        QString::number(mMargins.right()) + QLatin1Char(' ') +
                        QString::number(mMargins.bottom()) + QLatin1Char(' ') + mText;
    if (key != measuredKey_) {
        measuredKey_ = key;
        minimum_ = QCPTextElement::minimumOuterSizeHint();
        maximum_ = QCPTextElement::maximumOuterSizeHint();
    }
}

QSize ChartTitle::minimumOuterSizeHint() const {
    Measure();
    return minimum_;
}

QSize ChartTitle::maximumOuterSizeHint() const {
    Measure();
    return maximum_;
}

ChartTitle& SetUpChartLook(QCustomPlot& plot, const QString& title) {
    // Measured with bench_chart: antialiased 2-pixel lines cost several times the drawing time
    // of aliased ones at 3000 points, and aliased lines of that width stay easy to read.
    plot.setPlottingHints(QCP::phFastPolylines | QCP::phCacheLabels);
    plot.setNotAntialiasedElements(QCP::aePlottables);
    // The background gradient is the bottom paint buffer's backdrop (ChartBackdrop).
    plot.setBackground(QBrush(Qt::NoBrush));

    QFont titleFont = plot.font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() + 1.0);
    plot.plotLayout()->setAutoMargins(QCP::msNone);
    plot.plotLayout()->insertRow(0);
    auto* element = new ChartTitle(&plot, title, titleFont);
    plot.plotLayout()->addElement(0, 0, element);

    plot.setSelectionRectMode(QCP::srmZoom);
    plot.selectionRect()->setPen(Qt::NoPen);
    plot.selectionRect()->setBrush(QColor(0, 0, 255, 40));
    plot.setMouseTracking(true);
    return *element;
}

void SetChartMargins(QCustomPlot& plot, QSize size) {
    plot.plotLayout()->setMargins(QMargins(size.width() * 2 / 100, size.height() * 3 / 100,
                                           size.width() * 2 / 100, size.height() / 100));
}

void SetUpCheckLegend(QCustomPlot& plot) {
    plot.setAutoAddPlottableToLegend(false);
    QCPLegend* legend = plot.legend;
    legend->setVisible(true);
    legend->setBrush(Qt::NoBrush);
    legend->setBorderPen(Qt::NoPen);
    legend->setIconSize(10, 10);
    legend->setColumnSpacing(10);
    // One row across the top right, inside the plot so it takes no room from the lines.
    legend->setFillOrder(QCPLayoutGrid::foColumnsFirst);
    plot.axisRect()->insetLayout()->setInsetAlignment(0, Qt::AlignTop | Qt::AlignRight);
    plot.axisRect()->insetLayout()->setMargins(QMargins(4, 4, 4, 4));
}

void AddToCheckLegend(QCustomPlot& plot, QCPAbstractPlottable& line, const QColor& colour) {
    auto* item = new LegendCheckItem(plot.legend, &line);
    item->setTextColor(colour);
    plot.legend->addItem(item);
}

QCPPlottableLegendItem* CheckLegendItemAt(const QCustomPlot& plot, QPoint pos) {
    for (int i = 0; i < plot.legend->itemCount(); ++i) {
        auto* item = qobject_cast<QCPPlottableLegendItem*>(plot.legend->item(i));
        if (item != nullptr && item->outerRect().contains(pos)) {
            return item;
        }
    }
    return nullptr;
}

QPixmap ChartBackdrop(QSize size, double ratio) {
    QLinearGradient gradient(0.0, 0.0, 0.0, 1.0);
    gradient.setCoordinateMode(QGradient::ObjectMode);
    gradient.setColorAt(0.0, QColor(226, 234, 246));
    gradient.setColorAt(1.0, Qt::white);
    QPixmap backdrop((QSizeF(size) * ratio).toSize());
    backdrop.setDevicePixelRatio(ratio);
    QPainter(&backdrop).fillRect(QRect(QPoint(), size), gradient);
    return backdrop;
}

QString ReadoutLine(const QString& name, const std::optional<QString>& value) {
    return name + QStringLiteral("  ") + value.value_or(QStringLiteral("-"));
}

HoverReadout::HoverReadout(QCustomPlot& plot)
    : plot_(plot), cursor_(new QCPItemStraightLine(&plot)), box_(new QCPItemText(&plot)) {
    // The overlay layer gets a buffer of its own only while the pointer is over the plot, so
    // hovering redraws just the read-out while other replots fill and draw one buffer less.
    plot.layer(kOverlay)->setMode(QCPLayer::lmLogical);
    cursor_->setLayer(kOverlay);
    box_->setLayer(kOverlay);
    cursor_->setPen(QPen(Qt::darkGray, 1, Qt::DashLine));
    box_->position->setAxisRect(plot.axisRect());
    box_->position->setTypeY(QCPItemPosition::ptAxisRectRatio);
    box_->setTextAlignment(Qt::AlignLeft);
    box_->setPadding(QMargins(4, 3, 4, 3));
    box_->setPen(QPen(Qt::darkGray));
    box_->setBrush(QColor(255, 255, 255, 225));
    box_->setClipToAxisRect(false);
    Hide();
}

void HoverReadout::Show(double x, const QString& text) {
    box_->setText(text);
    const bool leftHalf = plot_.xAxis->coordToPixel(x) < plot_.axisRect()->center().x();
    box_->setPositionAlignment(Qt::AlignTop | (leftHalf ? Qt::AlignLeft : Qt::AlignRight));
    box_->position->setCoords(x, 0.12);
    cursor_->point1->setCoords(x, 0.0);
    cursor_->point2->setCoords(x, 1.0);
    box_->setVisible(true);
    cursor_->setVisible(true);
}

void HoverReadout::Hide() {
    box_->setVisible(false);
    cursor_->setVisible(false);
}

bool HoverReadout::Visible() const {
    return box_->visible();
}

QString HoverReadout::Text() const {
    return box_->visible() ? box_->text() : QString();
}

void HoverReadout::Redraw(bool hovering, bool wasShown) {
    QCPLayer* overlay = plot_.layer(kOverlay);
    const QCPLayer::LayerMode mode = hovering ? QCPLayer::lmBuffered : QCPLayer::lmLogical;
    if (overlay->mode() != mode) {
        overlay->setMode(mode);
        plot_.replot(QCustomPlot::rpQueuedReplot);
    } else if (wasShown || box_->visible()) {
        overlay->replot();
    }
}

}  // namespace corvelle
