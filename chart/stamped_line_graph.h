#pragma once

#include <algorithm>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include <qcustomplot.h>
#include <QImage>
#include <QLine>
#include <QPainter>
#include <QPixmap>
#include <QRect>

namespace corvelle {

// The image painter draws on, when pixels written straight into it are the ones Qt would write
// there for an opaque, aliased drawing: the raster engine on a 32-bit image of its own (a
// widget's painter draws on its window's backing store), moved by whole pixels at most, at full
// opacity, drawing over; a clip of one rectangle at most. Nothing otherwise. origin gets where
// the painter's (0, 0) lies in the image, clip the pixels that may be written, in the painter's
// coordinates.
QImage* StraightImage(QPainter& painter, QRect& clip, QPoint& origin);
// What Qt's solid fill writes for an opaque colour on such an image, in either format.
std::uint32_t StraightColour(const QColor& colour);

// Draws the trend lines' segments with the very pixels Qt's raster engine gives them, at a
// fraction of the cost. QCustomPlot's fast polylines hand Qt one line per segment, and Qt works
// out the covered pixels of each afresh, which was most of a replot at a few thousand points.
// For a 2-pixel pen with square caps between whole pixel positions those pixels depend only on
// the segment's extent, wherever it lies, as long as nothing clips it. That was found so with
// Qt 6.4 for every extent within reach, drawn at positions across a 4096 x 4096 device,
// binade edges included; some other widths differ by position through rounding, so they are
// not stamped. The chart tests hold the stamped lines against QCustomPlot's own.
//
// Qt draws each extent once into a spare image, its covered pixels are kept as spans, and
// later segments of that extent are stamped straight into the image the painter draws on.
class LineStamps {
  public:
    // Takes the painter's image, pen and clip for the segments that follow. False when stamps
    // would not match what the painter draws: a device other than an image of its own in a
    // 32-bit format, antialiasing, a transform, opacity, another composition mode, a clip that
    // is not one rectangle, a device larger than checked, or any pen but an opaque solid
    // 2-pixel one with square caps.
    bool Begin(QPainter& painter);
    // False when the segment is left to the painter: longer than the stamps reach, or too near
    // the clip edge, where Qt cuts a segment before drawing it.
    bool Stamp(const QLine& line) {
        const int dx = line.dx();
        const int dy = line.dy();
        if (dx < -kReach || dx > kReach || dy < -kReach || dy > kReach) {
            return false;
        }
        int index = shapeIndex_[IndexOf(dx, dy)];
        if (index < 0) {
            index = Rasterize(dx, dy);
        }
        const Shape& shape = shapes_[static_cast<std::size_t>(index)];
        const int left = line.x1() + shape.left;
        const int top = line.y1() + shape.top;
        const int right = line.x1() + shape.right;
        const int bottom = line.y1() + shape.bottom;
        if (left < inner_.left() || right > inner_.right() || top < inner_.top() ||
            bottom > inner_.bottom() || left > right) {
            return false;
        }
        std::uint32_t* const start = pixels_ + (origin_ + line.y1() * stride_ + line.x1());
        const Span* const spans = spans_.data() + shape.first;
        // Held apart from the member, which the pixel writes could otherwise alias.
        const std::uint32_t colour = colour_;
        for (std::size_t i = 0; i < shape.count; ++i) {
            std::uint32_t* const pixel = start + spans[i].offset;
            // A 2-pixel pen covers one to three pixels of a row.
            switch (spans[i].length) {
                case 3:
                    pixel[2] = colour;
                    [[fallthrough]];
                case 2:
                    pixel[1] = colour;
                    [[fallthrough]];
                case 1:
                    pixel[0] = colour;
                    break;
                default:
                    std::fill_n(pixel, spans[i].length, colour);
            }
        }
        return true;
    }
    // Whether no pixel of the segment can lie inside the clip, so that Qt would draw nothing.
    bool Outside(const QLine& line) const {
        return std::max(line.x1(), line.x2()) < outer_.left() ||
               std::min(line.x1(), line.x2()) > outer_.right() ||
               std::max(line.y1(), line.y2()) < outer_.top() ||
               std::min(line.y1(), line.y2()) > outer_.bottom();
    }
    // How many extents Qt has drawn for the stamps so far.
    std::size_t ShapeCount() const { return shapes_.size(); }

  private:
    struct Span {
        int dy;
        int x;
        qsizetype offset;  // dy rows and x pixels on in the image
        int length;
    };
    struct Shape {
        std::size_t first;
        std::size_t count;
        // Covered pixels relative to the segment's start, inclusive; left > right when none.
        int left;
        int top;
        int right;
        int bottom;
    };
    static constexpr int kReach = 64;
    static constexpr int kSide = 2 * kReach + 1;
    static_assert(kSide * kSide <= std::numeric_limits<std::int16_t>::max());

    static std::size_t IndexOf(int dx, int dy) {
        return static_cast<std::size_t>(dx + kReach) * kSide +
               static_cast<std::size_t>(dy + kReach);
    }
    // Has Qt draw the extent once and keeps its pixels; returns the new shape's index.
    int Rasterize(int dx, int dy);

    std::vector<Span> spans_;
    std::vector<Shape> shapes_;
    // By extent; short, so that the table stays within the first level cache.
    std::vector<std::int16_t> shapeIndex_ = std::vector<std::int16_t>(kSide * kSide, -1);
    QImage probe_;  // where Qt draws an extent the first time
    QRect inner_;   // where a stamp must lie to be taken
    QRect outer_;   // where a segment's ends must reach for any of its pixels to be in the clip
    std::uint32_t* pixels_ = nullptr;
    qsizetype stride_ = 0;  // in pixels
    qsizetype origin_ = 0;  // the painter's (0, 0), in pixels from the image's first
    std::uint32_t colour_ = 0;
};

// The pixel columns of a line thinned as QCustomPlot thins it, and where the points each column
// gives lie along the key axis: all of the thinning's key arithmetic, two divisions and more per
// column. It depends on the keys alone, so lines with the same keys (the trend chart's six)
// share it, worked out once per replot instead of once per line.
class KeyColumns {
  public:
    using Points = QCPGraphDataContainer::const_iterator;
    // A linear key axis that is not reversed.
    struct Axis {
        double lower;
        double size;
        int left;
        int width;
        bool operator==(const Axis&) const = default;
    };
    struct Column {
        int first;  // the column's points, counted from the first visible one
        int end;
        // The first value is drawn when the line comes from a column before the last, the last
        // value when it goes on to a column after the next.
        bool leadIn;
        bool leadOut;
    };

    // The columns of the points [begin, end), worked out again when the axis or a key differs
    // from the last call.
    void Update(const Axis& axis, Points begin, Points end);
    const std::vector<Column>& Columns() const { return columns_; }
    // Where the points go along the key axis, in the order the columns give them: a column of
    // one point gives it, any other its first value if led in, its lowest, its highest and its
    // last value if led out.
    const std::vector<double>& PixelX() const { return pixelX_; }

  private:
    Axis axis_{};
    std::vector<double> keys_;
    std::vector<Column> columns_;
    std::vector<double> pixelX_;
};

// A graph whose fast polyline is stamped: the same pixels QCustomPlot draws for it, drawn
// through LineStamps where they can be, and by QCustomPlot everywhere else (exports, other
// plotting hints and pens, impulses).
//
// A plain line between linear axes that are not reversed, with no selection, fill or scatters,
// also gets its points here rather than from QCustomPlot: the same thinning to a few points per
// pixel column and the same mapping to pixels, bit for bit, with the axes' arithmetic inlined.
// QCustomPlot calls out to the axes twice per point, which was a third of a replot at 3000
// points.
class StampedLineGraph : public QCPGraph {
  public:
    // The stamps and the key columns are shared by the graphs of one plot; the stamps must
    // outlive their drawing.
    StampedLineGraph(QCPAxis* keyAxis, QCPAxis* valueAxis, LineStamps& stamps, KeyColumns& columns);

  protected:
    void draw(QCPPainter* painter) override;
    void drawLinePlot(QCPPainter* painter, const QVector<QPointF>& lines) const override;

  private:
    bool PlainLine() const;
    // The pixel points of the line, as QCPGraph::getLines gives them for lsLine.
    void GetPlainLines(QVector<QPointF>& lines) const;

    LineStamps& stamps_;
    KeyColumns& columns_;
    QVector<QPointF> lines_;  // kept for its capacity
};

// A plot whose bottom paint buffer is an image, so that its stamped graphs can draw into it. The
// buffer starts each replot as the backdrop when one is set, else transparent; with a backdrop
// it goes on screen as a plain copy instead of being blended over the plot's background.
//
// A plot that changes all over at every replot can instead be drawn in its paint events,
// straight into the window's backing store over the backdrop (SetDrawnInPaintEvents): the
// buffered way goes through the plot's pixels three times (the backdrop into the buffer, the
// buffer out of it and into the backing store), which after the idle time between two replies
// costs more than the drawing itself.
class StampedPlot : public QCustomPlot {
  public:
    explicit StampedPlot(QWidget* parent = nullptr);

    LineStamps& Stamps() { return stamps_; }
    KeyColumns& Columns() { return columns_; }

    // An opaque picture drawn under everything, and for each row of its pixels the one value
    // the row holds throughout, if it does: a replot starts by filling those rows instead of
    // copying them, which halves the memory that start goes through.
    struct BackdropPixels {
        QPixmap pixmap;
        std::vector<std::optional<std::uint32_t>> rowValues;
    };

  protected:
    // The backdrop, of the whole plot's size in device pixels.
    void SetBackdrop(const QPixmap& backdrop);
    const QPixmap& Backdrop() const { return backdrop_.pixmap; }

    // From now on each paint event lays the plot out and draws all of it, after PrepareDraw,
    // while no layer keeps a buffer of its own (DrawsInPaintEvents): a layer drawn into a
    // buffer of its own is blended over the others, which gives other pixels where it is
    // translucent than drawing it over them. Meanwhile a change is shown by update() rather than
    // replot(); replots still fill the buffers, for QCustomPlot's own uses, but nothing shows
    // them.
    void SetDrawnInPaintEvents();
    bool DrawsInPaintEvents() const;
    virtual void PrepareDraw() {}

    void updateLayout() override;
    void paintEvent(QPaintEvent* event) override;

  private:
    void InstallImageBuffer();

    LineStamps stamps_;
    KeyColumns columns_;
    BackdropPixels backdrop_;
    bool drawnInPaintEvents_ = false;
    bool layoutHeld_ = false;  // the layout made for this drawing stands
};

}  // namespace corvelle
