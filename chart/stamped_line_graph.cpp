#include "chart/stamped_line_graph.h"

#include <cmath>

#include <QPaintEngine>
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

// The bottom buffer of a StampedPlot: an image the stamps can write into.
class ImagePaintBuffer final : public QCPAbstractPaintBuffer {
  public:
    ImagePaintBuffer(const QSize& size, double ratio, const QPixmap& backdrop)
        : QCPAbstractPaintBuffer(size, ratio), backdrop_(backdrop) {
        ImagePaintBuffer::reallocateBuffer();
    }

    QCPPainter* startPainting() override { return new QCPPainter(&image_); }

    void draw(QCPPainter* painter) const override {
        if (!opaque_) {
            painter->drawImage(0, 0, image_);
            return;
        }
        painter->save();
        painter->setCompositionMode(QPainter::CompositionMode_Source);
        painter->drawImage(0, 0, image_);
        painter->restore();
    }

    void clear(const QColor& colour) override {
        opaque_ = !backdrop_.isNull() && backdrop_.size() == image_.size();
        // Over an opaque image Qt blends without weighing the destination's alpha.
        const QImage::Format format =
            opaque_ ? QImage::Format_RGB32 : QImage::Format_ARGB32_Premultiplied;
        if (image_.format() != format) {
            image_ = QImage(image_.size(), format);
            image_.setDevicePixelRatio(mDevicePixelRatio);
        }
        if (!opaque_) {
            image_.fill(colour);
            return;
        }
        QPainter painter(&image_);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawPixmap(0, 0, backdrop_);
    }

  protected:
    void reallocateBuffer() override {
        setInvalidated();
        image_ = QImage(mSize * mDevicePixelRatio, QImage::Format_ARGB32_Premultiplied);
        image_.setDevicePixelRatio(mDevicePixelRatio);
    }

  private:
    const QPixmap& backdrop_;
    QImage image_;
    bool opaque_ = false;
};

}  // namespace

bool LineStamps::Begin(QPainter& painter) {
    const QPen& pen = painter.pen();
    const QPaintEngine* engine = painter.paintEngine();
    QPaintDevice* device = painter.device();
    if (engine == nullptr || engine->type() != QPaintEngine::Raster || device == nullptr ||
        device->devType() != QInternal::Image || device->width() > kLargestDevice ||
        device->height() > kLargestDevice || painter.testRenderHint(QPainter::Antialiasing) ||
        painter.combinedTransform().type() != QTransform::TxNone ||
        device->devicePixelRatio() != 1.0 || painter.opacity() != 1.0 ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver ||
        pen.style() != Qt::SolidLine || pen.brush().style() != Qt::SolidPattern ||
        pen.color().alpha() != 255 || pen.isCosmetic() || pen.widthF() != kStampedWidth ||
        pen.capStyle() != Qt::SquareCap) {
        return false;
    }
    auto& image = *static_cast<QImage*>(device);
    // Writing into an image that shares its pixels would need a detach under the painter.
    if ((image.format() != QImage::Format_ARGB32_Premultiplied &&
         image.format() != QImage::Format_RGB32) ||
        !image.isDetached()) {
        return false;
    }
    QRect clip(0, 0, image.width(), image.height());
    if (painter.hasClipping()) {
        const QRegion region = painter.clipRegion();
        if (region.rectCount() != 1) {
            return false;
        }
        clip &= region.boundingRect();
    }
    pixels_ = reinterpret_cast<std::uint32_t*>(image.bits());
    if (stride_ != image.bytesPerLine() / 4) {
        stride_ = image.bytesPerLine() / 4;
        for (Span& span : spans_) {
            span.offset = span.dy * stride_ + span.x;
        }
    }
    // What Qt's solid fill writes for an opaque pen, in either format.
    colour_ = qPremultiply(pen.color().rgba64()).toArgb32();
    inner_ = clip.adjusted(kMargin, kMargin, -kMargin, -kMargin);
    return true;
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

void StampedLineGraph::drawLinePlot(QCPPainter* painter, const QVector<QPointF>& lines) const {
    // QCustomPlot draws one painter line per segment under these conditions.
    const bool fastPolylines = mParentPlot->plottingHints().testFlag(QCP::phFastPolylines) &&
                               !painter->modes().testFlag(QCPPainter::pmVectorized) &&
                               !painter->modes().testFlag(QCPPainter::pmNoCaching);
    if (painter->pen().style() == Qt::NoPen || painter->pen().color().alpha() == 0) {
        return;
    }
    applyDefaultAntialiasingHint(painter);
    if (!fastPolylines || lineStyle() == lsImpulse || !stamps_.Begin(*painter)) {
        QCPGraph::drawLinePlot(painter, lines);
        return;
    }
    // A segment joins two neighbouring points that are both numbers, as in QCustomPlot's loop;
    // those the stamps decline go to the painter as QCustomPlot would send them.
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
            painter->drawLine(*previous, point);
        }
        previous = &point;
        previousPixel = pixel;
        previousNear = near;
    }
}

StampedPlot::StampedPlot(QWidget* parent) : QCustomPlot(parent) {
    // Replots lay the layers into the buffers that are there, the first one at the bottom.
    connect(this, &QCustomPlot::beforeReplot, this, &StampedPlot::InstallImageBuffer);
}

void StampedPlot::InstallImageBuffer() {
    if (!mPaintBuffers.isEmpty() &&
        dynamic_cast<ImagePaintBuffer*>(mPaintBuffers.first().data()) != nullptr) {
        return;
    }
    const QSharedPointer<QCPAbstractPaintBuffer> buffer(
        new ImagePaintBuffer(viewport().size(), bufferDevicePixelRatio(), backdrop_));
    if (mPaintBuffers.isEmpty()) {
        mPaintBuffers.append(buffer);
    } else {
        mPaintBuffers.first() = buffer;
    }
}

}  // namespace corvelle
