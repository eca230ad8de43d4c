#include "chart/stamped_line_graph.h"

#include "chart/chart_look.h"

#include <cmath>
#include <cstring>
#include <limits>

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
// far inside is never cut, and a segment whose ends stay this far outside on one side leaves
// no pixel inside.
constexpr int kMargin = 4;
// The probe image leaves this much room around the longest extent.
constexpr int kProbePad = kMargin + 2;

// Pixel positions beyond this are left to Qt, which has its own ways with them.
constexpr double kFarthestPixel = 1 << 20;

bool Near(const QPointF& point) {
    return std::abs(point.x()) < kFarthestPixel && std::abs(point.y()) < kFarthestPixel;
}

// Writes area of the backdrop into image with its (0, 0) at origin: the rows that hold one value
// throughout are filled, which needs no reading, the others copied. False when the formats do
// not allow it or area is not within both; an opaque colour is the same bytes in either 32-bit
// format.
bool FillFromBackdrop(QImage& image, QPoint origin, const QRect& area,
                      const StampedPlot::BackdropPixels& backdrop) {
    // The raster platform's pixmap shares its image: no copy.
    const QImage source = backdrop.pixmap.toImage();
    const auto& rows = backdrop.rowValues;
    const QRect target = area.translated(origin);
    if (area.isEmpty() || rows.size() != static_cast<std::size_t>(source.height()) ||
        !source.rect().contains(area) || !image.rect().contains(target) ||
        (image.format() != QImage::Format_RGB32 &&
         image.format() != QImage::Format_ARGB32_Premultiplied)) {
        return false;
    }
    const auto width = static_cast<std::size_t>(area.width());
    uchar* const bits = image.bits();
    const auto stride = static_cast<std::size_t>(image.bytesPerLine());
    for (int y = area.top(); y <= area.bottom(); ++y) {
        auto* const row = reinterpret_cast<std::uint32_t*>(
                              bits + static_cast<std::size_t>(y + origin.y()) * stride) +
                          target.left();
        const std::optional<std::uint32_t>& value = rows[static_cast<std::size_t>(y)];
        if (value.has_value()) {
            std::fill_n(row, width, *value);
        } else {
            std::memcpy(
                row, reinterpret_cast<const std::uint32_t*>(source.constScanLine(y)) + area.left(),
                width * sizeof(std::uint32_t));
        }
    }
    return true;
}

// The bottom buffer of a StampedPlot: an image the stamps can write into.
class ImagePaintBuffer final : public QCPAbstractPaintBuffer {
  public:
    ImagePaintBuffer(const QSize& size, double ratio, const StampedPlot::BackdropPixels& backdrop)
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

    bool Opaque() const { return opaque_; }

    void clear(const QColor& colour) override {
        const QPixmap& backdrop = backdrop_.pixmap;
        opaque_ = !backdrop.isNull() && backdrop.size() == image_.size();
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
        if (FillFromBackdrop(image_, QPoint(), image_.rect(), backdrop_)) {
            return;
        }
        QPainter painter(&image_);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawPixmap(0, 0, backdrop);
    }

  protected:
    void reallocateBuffer() override {
        setInvalidated();
        image_ = QImage(mSize * mDevicePixelRatio, QImage::Format_ARGB32_Premultiplied);
        image_.setDevicePixelRatio(mDevicePixelRatio);
    }

  private:
    const StampedPlot::BackdropPixels& backdrop_;
    QImage image_;
    bool opaque_ = false;
};

}  // namespace

QImage* StraightImage(QPainter& painter, QRect& clip, QPoint& origin) {
    QPaintEngine* const engine = painter.paintEngine();
    QPaintDevice* const device = engine != nullptr ? engine->paintDevice() : nullptr;
    const QTransform transform = painter.deviceTransform();
    if (engine == nullptr || engine->type() != QPaintEngine::Raster || device == nullptr ||
        device->devType() != QInternal::Image || painter.testRenderHint(QPainter::Antialiasing) ||
        transform.type() > QTransform::TxTranslate ||
        transform.dx() != std::round(transform.dx()) ||
        transform.dy() != std::round(transform.dy()) || std::abs(transform.dx()) > kFarthestPixel ||
        std::abs(transform.dy()) > kFarthestPixel || device->devicePixelRatio() != 1.0 ||
        painter.opacity() != 1.0 ||
        painter.compositionMode() != QPainter::CompositionMode_SourceOver) {
        return nullptr;
    }
    auto& image = *static_cast<QImage*>(device);
    // Writing into an image that shares its pixels would need a detach under the painter.
    if ((image.format() != QImage::Format_ARGB32_Premultiplied &&
         image.format() != QImage::Format_RGB32) ||
        !image.isDetached()) {
        return nullptr;
    }
    origin = QPoint(static_cast<int>(transform.dx()), static_cast<int>(transform.dy()));
    QRect reach = image.rect();
    // A widget's painter is held to the region being painted.
    const QRegion system = engine->systemClip();
    if (!system.isEmpty()) {
        if (system.rectCount() != 1) {
            return nullptr;
        }
        reach &= system.boundingRect();
    }
    clip = reach.translated(-origin);
    if (painter.hasClipping()) {
        const QRegion region = painter.clipRegion();
        if (region.rectCount() != 1) {
            return nullptr;
        }
        clip &= region.boundingRect();
    }
    return &image;
}

std::uint32_t StraightColour(const QColor& colour) {
    return qPremultiply(colour.rgba64()).toArgb32();
}

bool LineStamps::Begin(QPainter& painter) {
    const QPen& pen = painter.pen();
    QRect clip;
    QPoint origin;
    QImage* const device = StraightImage(painter, clip, origin);
    if (device == nullptr || device->width() > kLargestDevice ||
        device->height() > kLargestDevice || pen.style() != Qt::SolidLine ||
        pen.brush().style() != Qt::SolidPattern || pen.color().alpha() != 255 || pen.isCosmetic() ||
        pen.widthF() != kStampedWidth || pen.capStyle() != Qt::SquareCap) {
        return false;
    }
    QImage& image = *device;
    pixels_ = reinterpret_cast<std::uint32_t*>(image.bits());
    if (stride_ != image.bytesPerLine() / 4) {
        stride_ = image.bytesPerLine() / 4;
        for (Span& span : spans_) {
            span.offset = span.dy * stride_ + span.x;
        }
    }
    origin_ = origin.y() * stride_ + origin.x();
    colour_ = StraightColour(pen.color());
    inner_ = clip.adjusted(kMargin, kMargin, -kMargin, -kMargin);
    outer_ = clip.adjusted(-kMargin, -kMargin, kMargin, kMargin);
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
    shapeIndex_[IndexOf(dx, dy)] = static_cast<std::int16_t>(index);
    return index;
}

void KeyColumns::Update(const Axis& axis, Points begin, Points end) {
    const auto count = static_cast<std::size_t>(end - begin);
    if (axis == axis_ && keys_.size() == count &&
        std::equal(keys_.begin(), keys_.end(), begin,
                   [](double key, const QCPGraphData& point) { return key == point.key; })) {
        return;
    }
    axis_ = axis;
    keys_.resize(count);
    std::transform(begin, end, keys_.begin(), [](const QCPGraphData& point) { return point.key; });
    columns_.clear();
    pixelX_.clear();
    if (count == 0) {
        return;
    }
    // QCPGraph::getOptimizedLineData's key arithmetic, the same operations in the same order
    // (QCPAxis::coordToPixel and pixelToCoord for such an axis).
    const auto keyToPixel = [&](double k) {
        return (k - axis.lower) / axis.size * axis.width + axis.left;
    };
    const auto pixelToKey = [&](double p) {
        return (p - axis.left) / static_cast<double>(axis.width) * axis.size + axis.lower;
    };
    const double* const keys = keys_.data();
    const int last = static_cast<int>(count);
    int first = 0;
    double start = pixelToKey(static_cast<int>(keyToPixel(keys[0])));
    double lastEnd = start;
    const double epsilon = qAbs(start - pixelToKey(keyToPixel(start) + 1.0));
    const auto closeColumn = [&](int columnEnd) {
        if (columnEnd - first < 2) {
            columns_.push_back({first, columnEnd, false, false});
            pixelX_.push_back(keyToPixel(keys[first]));
            return;
        }
        const bool leadIn = lastEnd < start - epsilon;
        const bool leadOut = columnEnd < last && keys[columnEnd] > start + epsilon * 2;
        columns_.push_back({first, columnEnd, leadIn, leadOut});
        if (leadIn) {
            pixelX_.push_back(keyToPixel(start + epsilon * 0.2));
        }
        pixelX_.push_back(keyToPixel(start + epsilon * 0.25));
        pixelX_.push_back(keyToPixel(start + epsilon * 0.75));
        if (leadOut) {
            pixelX_.push_back(keyToPixel(start + epsilon * 0.8));
        }
    };
    for (int i = 1; i < last; ++i) {
        if (keys[i] < start + epsilon) {
            continue;
        }
        closeColumn(i);
        lastEnd = keys[i - 1];
        first = i;
        start = pixelToKey(static_cast<int>(keyToPixel(keys[i])));
    }
    closeColumn(last);
}

StampedLineGraph::StampedLineGraph(QCPAxis* keyAxis, QCPAxis* valueAxis, LineStamps& stamps,
                                   KeyColumns& columns)
    : QCPGraph(keyAxis, valueAxis), stamps_(stamps), columns_(columns) {}

bool StampedLineGraph::PlainLine() const {
    const QCPAxis* key = mKeyAxis.data();
    const QCPAxis* value = mValueAxis.data();
    return key != nullptr && value != nullptr && mLineStyle == lsLine && mScatterStyle.isNone() &&
           mAdaptiveSampling && selection().isEmpty() && mBrush.style() == Qt::NoBrush &&
           key->orientation() == Qt::Horizontal && value->orientation() == Qt::Vertical &&
           key->scaleType() == QCPAxis::stLinear && value->scaleType() == QCPAxis::stLinear &&
           !key->rangeReversed() && !value->rangeReversed();
}

void StampedLineGraph::draw(QCPPainter* painter) {
    if (!PlainLine()) {
        QCPGraph::draw(painter);
        return;
    }
    if (mKeyAxis->range().size() <= 0 || mDataContainer->isEmpty()) {
        return;
    }
    GetPlainLines(lines_);
    // The painter as QCPGraph::draw sets it for the line.
    painter->setPen(mPen);
    painter->setBrush(Qt::NoBrush);
    drawLinePlot(painter, lines_);
}

void StampedLineGraph::GetPlainLines(QVector<QPointF>& lines) const {
    // QCPAxis::coordToPixel and pixelToCoord for a linear axis that is not reversed, the same
    // operations in the same order.
    const QCPRange keyRange = mKeyAxis->range();
    const QCPRange valueRange = mValueAxis->range();
    const QRect keyRect = mKeyAxis->axisRect()->rect();
    const QRect valueRect = mValueAxis->axisRect()->rect();
    const double keyLower = keyRange.lower;
    const double keySize = keyRange.size();
    const double valueLower = valueRange.lower;
    const double valueSize = valueRange.size();
    const int left = keyRect.left();
    const int width = keyRect.width();
    const int bottom = valueRect.bottom();
    const int height = valueRect.height();
    const auto keyToPixel = [&](double k) { return (k - keyLower) / keySize * width + left; };
    const auto pixelY = [&](double v) { return bottom - (v - valueLower) / valueSize * height; };
    const auto point = [&](double k, double v) { return QPointF(keyToPixel(k), pixelY(v)); };

    // The visible points and one beyond each end, as QCPGraph::getVisibleDataBounds.
    auto begin = mDataContainer->findBegin(keyRange.lower);
    auto end = mDataContainer->findEnd(keyRange.upper);
    lines.resize(0);
    if (begin == end) {
        return;
    }
    // QCPGraph::getOptimizedLineData: at two points or more per pixel column on average, each
    // column's points become its first, lowest, highest and last value at fixed places.
    const int count = static_cast<int>(end - begin);
    int maxCount = std::numeric_limits<int>::max();
    const double keyPixelSpan = qAbs(keyToPixel(begin->key) - keyToPixel((end - 1)->key));
    if (2 * keyPixelSpan + 2 < static_cast<double>(std::numeric_limits<int>::max())) {
        maxCount = static_cast<int>(2 * keyPixelSpan + 2);
    }
    if (count < maxCount) {
        lines.reserve(count);
        for (auto it = begin; it != end; ++it) {
            lines.append(point(it->key, it->value));
        }
        return;
    }
    columns_.Update({keyLower, keySize, left, width}, begin, end);
    const std::vector<KeyColumns::Column>& columns = columns_.Columns();
    const std::vector<double>& pixelX = columns_.PixelX();
    lines.resize(static_cast<qsizetype>(pixelX.size()));
    QPointF* out = lines.data();
    const double* x = pixelX.data();
    for (const KeyColumns::Column& column : columns) {
        const auto first = begin + column.first;
        const double firstValue = first->value;
        if (column.end - column.first < 2) {
            *out++ = QPointF(*x++, pixelY(firstValue));
            continue;
        }
        // As QCustomPlot's "lower, else higher" test: the highest never falls below the lowest.
        double minValue = firstValue;
        double maxValue = firstValue;
        for (auto it = first + 1; it != begin + column.end; ++it) {
            const double value = it->value;
            minValue = value < minValue ? value : minValue;
            maxValue = value > maxValue ? value : maxValue;
        }
        if (column.leadIn) {
            *out++ = QPointF(*x++, pixelY(firstValue));
        }
        *out++ = QPointF(*x++, pixelY(minValue));
        *out++ = QPointF(*x++, pixelY(maxValue));
        if (column.leadOut) {
            *out++ = QPointF(*x++, pixelY((begin + column.end - 1)->value));
        }
    }
}

void StampedLineGraph::drawLinePlot(QCPPainter* painter, const QVector<QPointF>& lines) const {
    // QCustomPlot draws one painter line per segment under these conditions.
    const bool fastPolylines =
        mParentPlot->plottingHints().testFlag(QCP::phFastPolylines) && !PaintsExport(*painter);
    if (painter->pen().style() == Qt::NoPen || painter->pen().color().alpha() == 0) {
        return;
    }
    applyDefaultAntialiasingHint(painter);
    if (!fastPolylines || lineStyle() == lsImpulse || !stamps_.Begin(*painter)) {
        QCPGraph::drawLinePlot(painter, lines);
        return;
    }
    // A segment joins two neighbouring points that are both numbers, as in QCustomPlot's loop;
    // those the stamps decline go to the painter as QCustomPlot would send them, unless they
    // lie wholly outside the clip (readings beyond the value axis), where Qt draws nothing.
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
        const QLine line(previousPixel, pixel);
        if (previous != nullptr &&
            !(previousNear && near && (stamps_.Stamp(line) || stamps_.Outside(line)))) {
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
    // An opaque bottom buffer covers the whole plot, so nothing beneath it needs painting.
    connect(this, &QCustomPlot::afterReplot, this, [this] {
        const auto* bottom = dynamic_cast<const ImagePaintBuffer*>(mPaintBuffers.first().data());
        setAttribute(Qt::WA_OpaquePaintEvent,
                     drawnInPaintEvents_ || (bottom != nullptr && bottom->Opaque()));
    });
}

void StampedPlot::SetDrawnInPaintEvents() {
    drawnInPaintEvents_ = true;
    // The backdrop covers the whole plot.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

bool StampedPlot::DrawsInPaintEvents() const {
    if (!drawnInPaintEvents_) {
        return false;
    }
    for (int i = 0; i < layerCount(); ++i) {
        if (layer(i)->mode() == QCPLayer::lmBuffered) {
            return false;
        }
    }
    return true;
}

void StampedPlot::updateLayout() {
    if (!layoutHeld_) {
        QCustomPlot::updateLayout();
    }
}

void StampedPlot::paintEvent(QPaintEvent* event) {
    if (!DrawsInPaintEvents()) {
        QCustomPlot::paintEvent(event);
        return;
    }
    PrepareDraw();
    updateLayout();
    QCPPainter painter(this);
    QRect clip;
    QPoint origin;
    QImage* const image = StraightImage(painter, clip, origin);
    const QPixmap& backdrop = backdrop_.pixmap;
    if (image == nullptr || backdrop.devicePixelRatio() != 1.0 ||
        !FillFromBackdrop(*image, origin, clip & rect(), backdrop_)) {
        painter.save();
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawPixmap(0, 0, backdrop);
        painter.restore();
    }
    // QCustomPlot::draw lays the plot out first; the layout just made stands.
    layoutHeld_ = true;
    draw(&painter);
    layoutHeld_ = false;
}

void StampedPlot::SetBackdrop(const QPixmap& backdrop) {
    backdrop_.pixmap = backdrop;
    backdrop_.rowValues.clear();
    const QImage image = backdrop.toImage();
    // Rows are filled only in the format the buffer takes a backdrop's bytes in.
    if (image.format() != QImage::Format_RGB32) {
        return;
    }
    backdrop_.rowValues.resize(static_cast<std::size_t>(image.height()));
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const std::uint32_t*>(image.constScanLine(y));
        const auto* end = row + image.bytesPerLine() / 4;
        if (std::all_of(row, end, [first = *row](std::uint32_t pixel) { return pixel == first; })) {
            backdrop_.rowValues[static_cast<std::size_t>(y)] = *row;
        }
    }
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
