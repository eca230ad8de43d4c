#include "chart/stamped_line_graph.h"

#include <cmath>
#include <cstring>
#include <limits>

#include <QPaintEngine>
#include <QPainter>
#include <QRegion>
#include <QRgba64>

namespace corvelle {

namespace {

// The pen whose pixels were found the same for an extent wherever it lies.
constexpr qreal kStampedWidth = 2.0;
// Largest device the stamps were checked on.
constexpr int kLargestDevice = 4096;
// Qt cuts a segment whose capped ends come within half the pen width of the clip; a stamp this
// far inside is never cut.
constexpr int kMargin = 4;
// The probe image leaves this much room around the longest extent.
constexpr int kProbePad = kMargin + 2;

// Pixel positions beyond this are left to Qt, which has its own ways with them.
constexpr double kFarthestPixel = 1 << 20;

bool Near(const QPointF& point) {
    return std::abs(point.x()) < kFarthestPixel && std::abs(point.y()) < kFarthestPixel;
}

}  // namespace

bool LineStamps::Begin(const QPainter& painter) {
    const QPen& pen = painter.pen();
    const QPaintEngine* engine = painter.paintEngine();
    const QPaintDevice* device = painter.device();
    if (engine == nullptr || engine->type() != QPaintEngine::Raster || device == nullptr ||
        device->width() > kLargestDevice || device->height() > kLargestDevice ||
        painter.testRenderHint(QPainter::Antialiasing) ||
        painter.combinedTransform().type() != QTransform::TxNone ||
        device->devicePixelRatio() != 1.0 || painter.opacity() != 1.0 ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver ||
        pen.style() != Qt::SolidLine || pen.brush().style() != Qt::SolidPattern ||
        pen.color().alpha() != 255 || pen.isCosmetic() || pen.widthF() != kStampedWidth ||
        pen.capStyle() != Qt::SquareCap) {
        return false;
    }
    QRect clip(0, 0, device->width(), device->height());
    if (painter.hasClipping()) {
        const QRegion region = painter.clipRegion();
        if (region.rectCount() != 1) {
            return false;
        }
        clip &= region.boundingRect();
    }
    if (canvas_.size() != QSize(device->width(), device->height())) {
        canvas_ = QImage(device->width(), device->height(), QImage::Format_ARGB32_Premultiplied);
        canvas_.fill(Qt::transparent);
        ForgetDirty();
    }
    pixels_ = reinterpret_cast<std::uint32_t*>(canvas_.bits());
    if (stride_ != canvas_.bytesPerLine() / 4) {
        stride_ = canvas_.bytesPerLine() / 4;
        for (Span& span : spans_) {
            span.offset = span.dy * stride_ + span.x;
        }
    }
    // What Qt's solid fill writes for an opaque pen.
    colour_ = qPremultiply(pen.color().rgba64()).toArgb32();
    pen_ = pen;
    clip_ = clip;
    inner_ = clip.adjusted(kMargin, kMargin, -kMargin, -kMargin);
    return true;
}

void LineStamps::DrawDeclined(const std::vector<QLineF>& segments) {
    if (segments.empty()) {
        return;
    }
    QPainter painter(&canvas_);
    painter.setClipRect(clip_);
    painter.setPen(pen_);
    QRect drawn;
    for (const QLineF& segment : segments) {
        // What QCustomPlot's painter does with a line when not antialiasing.
        const QLine line = segment.toLine();
        painter.drawLine(line);
        // The pen reaches a pixel beyond the ends and to either side; far points are cut.
        drawn |= Near(segment.p1()) && Near(segment.p2())
                     ? QRect(line.p1(), line.p2()).normalized().adjusted(-3, -3, 3, 3)
                     : clip_;
    }
    drawn &= clip_;
    if (drawn.isEmpty()) {
        return;
    }
    dirtyLeft_ = std::min(dirtyLeft_, drawn.left());
    dirtyTop_ = std::min(dirtyTop_, drawn.top());
    dirtyRight_ = std::max(dirtyRight_, drawn.right());
    dirtyBottom_ = std::max(dirtyBottom_, drawn.bottom());
}

void LineStamps::Flush(QPainter& painter) {
    if (dirtyLeft_ > dirtyRight_) {
        return;
    }
    const QRect dirty(QPoint(dirtyLeft_, dirtyTop_), QPoint(dirtyRight_, dirtyBottom_));
    // The canvas is in device pixels and holds only what the lines' own clips let through.
    painter.save();
    painter.resetTransform();
    painter.setClipping(false);
    painter.drawImage(dirty.topLeft(), canvas_, dirty);
    painter.restore();
    const std::size_t bytes = static_cast<std::size_t>(dirty.width()) * sizeof(std::uint32_t);
    for (int row = dirty.top(); row <= dirty.bottom(); ++row) {
        std::memset(pixels_ + static_cast<qsizetype>(row) * stride_ + dirty.left(), 0, bytes);
    }
    ForgetDirty();
}

void LineStamps::Release() {
    if (dirtyLeft_ <= dirtyRight_) {
        return;  // only between a line and its flush
    }
    canvas_ = QImage();
    probe_ = QImage();
    pixels_ = nullptr;
}

void LineStamps::ForgetDirty() {
    dirtyLeft_ = std::numeric_limits<int>::max();
    dirtyTop_ = std::numeric_limits<int>::max();
    dirtyRight_ = -1;
    dirtyBottom_ = -1;
}

int LineStamps::Rasterize(int dx, int dy) {
    if (probe_.isNull()) {
        probe_ = QImage(kSide + 2 * kProbePad, kSide + 2 * kProbePad,
                        QImage::Format_ARGB32_Premultiplied);
    }
    probe_.fill(Qt::transparent);
    const QPoint start(kReach + kProbePad, kReach + kProbePad);
    {
        QPainter painter(&probe_);
        painter.setPen(QPen(Qt::black, kStampedWidth, Qt::SolidLine, Qt::SquareCap));
        painter.drawLine(QLine(start, start + QPoint(dx, dy)));
    }
    Shape shape{spans_.size(), 0, kSide, kSide, -kSide, -kSide};
    const QRect scan = QRect(start, start + QPoint(dx, dy))
                           .normalized()
                           .adjusted(-kProbePad, -kProbePad, kProbePad, kProbePad);
    for (int y = scan.top(); y <= scan.bottom(); ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(probe_.constScanLine(y));
        int x = scan.left();
        while (x <= scan.right()) {
            if (qAlpha(row[x]) == 0) {
                ++x;
                continue;
            }
            const int first = x;
            while (x <= scan.right() && qAlpha(row[x]) != 0) {
                ++x;
            }
            const int spanDy = y - start.y();
            const int spanX = first - start.x();
            spans_.push_back({spanDy, spanX, spanDy * stride_ + spanX, x - first});
            shape.left = std::min(shape.left, spanX);
            shape.right = std::max(shape.right, x - 1 - start.x());
            shape.top = std::min(shape.top, spanDy);
            shape.bottom = std::max(shape.bottom, spanDy);
        }
    }
    shape.count = spans_.size() - shape.first;
    shapes_.push_back(shape);
    const int index = static_cast<int>(shapes_.size()) - 1;
    shapeIndex_[IndexOf(dx, dy)] = index;
    return index;
}

StampedLineGraph::StampedLineGraph(QCPAxis* keyAxis, QCPAxis* valueAxis, LineStamps& stamps)
    : QCPGraph(keyAxis, valueAxis), stamps_(stamps) {}

bool StampedLineGraph::LineOnly() const {
    return brush().style() == Qt::NoBrush && scatterStyle().isNone() && lineStyle() != lsImpulse &&
           selection().isEmpty();
}

void StampedLineGraph::draw(QCPPainter* painter) {
    // Whatever else this graph draws goes straight onto the plot, over the lines before it.
    if (!LineOnly()) {
        stamps_.Flush(*painter);
    }
    QCPGraph::draw(painter);
}

void StampedLineGraph::drawLinePlot(QCPPainter* painter, const QVector<QPointF>& lines) const {
    // QCustomPlot draws one painter line per segment under these conditions.
    const bool fastPolylines = mParentPlot->plottingHints().testFlag(QCP::phFastPolylines) &&
                               !painter->modes().testFlag(QCPPainter::pmVectorized) &&
                               !painter->modes().testFlag(QCPPainter::pmNoCaching);
    if (painter->pen().style() == Qt::NoPen || painter->pen().color().alpha() == 0) {
        return;
    }
    applyDefaultAntialiasingHint(painter);
    if (!fastPolylines || !LineOnly() || !stamps_.Begin(*painter)) {
        stamps_.Flush(*painter);
        QCPGraph::drawLinePlot(painter, lines);
        return;
    }
    // A segment joins two neighbouring points that are both numbers, as in QCustomPlot's loop.
    std::vector<QLineF> declined;
    const QPointF* previous = nullptr;
    QPoint previousPixel;
    bool previousNear = false;
    for (const QPointF& point : lines) {
        if (std::isnan(point.x()) || std::isnan(point.y())) {
            previous = nullptr;
            continue;
        }
        const bool near = Near(point);
        const QPoint pixel = near ? point.toPoint() : QPoint();
        if (previous != nullptr &&
            !(previousNear && near && stamps_.Stamp(QLine(previousPixel, pixel)))) {
            declined.emplace_back(*previous, point);
        }
        previous = &point;
        previousPixel = pixel;
        previousNear = near;
    }
    stamps_.DrawDeclined(declined);
}

StampedLinesFlush::StampedLinesFlush(QCustomPlot* plot, LineStamps& stamps)
    : QCPLayerable(plot), stamps_(stamps) {}

void StampedLinesFlush::applyDefaultAntialiasingHint(QCPPainter*) const {}

void StampedLinesFlush::draw(QCPPainter* painter) {
    stamps_.Flush(*painter);
}

}  // namespace corvelle
