#pragma once

#include <optional>

#include <qcustomplot.h>
#include <QColor>
#include <QPixmap>
#include <QPoint>
#include <QString>

namespace corvelle {

// What the trend charts share, so that the live chart and the history draw alike: the line
// colours and width, the legend of check boxes, the backdrop and the hover read-out.

inline constexpr int kChartLineWidth = 2;
inline constexpr int kChartLineColours = 12;

// The colour of line k (0 to 11); the live chart's six lines take the first six.
QColor ChartLineColour(int k);

// The chart's title. Its size is measured once per text and font rather than on every layout,
// which laid the text out twice per replot. A chart whose backdrop carries the title (it lies
// above the axis rect, where nothing is drawn before it but the backdrop) asks it to leave its
// layer alone: DrawBeneath paints it as its layer would, onto the backdrop.
class ChartTitle final : public QCPTextElement {
  public:
    ChartTitle(QCustomPlot* plot, const QString& text, const QFont& font);

    // Paints the title as its layer does, onto painter; from then on its layer skips it.
    void DrawBeneath(QCPPainter& painter);
    // What the title's pixels depend on besides what lies beneath it.
    struct Look {
        QRect rect;
        QString text;
        int flags = 0;
        QFont font;
        QColor colour;
        bool visible = false;
        bool operator==(const Look&) const = default;
    };
    Look CurrentLook() const;

  protected:
    void draw(QCPPainter* painter) override;
    QSize minimumOuterSizeHint() const override;
    QSize maximumOuterSizeHint() const override;

  private:
    // The base's size hints for the text, font and margins they were asked with.
    void Measure() const;

    bool drawnBeneath_ = false;
    mutable QString measuredKey_;
    mutable QSize minimum_;
    mutable QSize maximum_;
};

// Aliased lines and cached labels, a transparent background over the backdrop (ChartBackdrop),
// title in bold in a row above the axes, no automatic margins, a zoom rectangle. Returns the
// title.
ChartTitle& SetUpChartLook(QCustomPlot& plot, const QString& title);

// Small outer margins for a chart of size, in percent of it: top 3, bottom 1, left and right 2.
void SetChartMargins(QCustomPlot& plot, QSize size);

// A legend of check boxes in one row across the top right inside the default axis rect.
void SetUpCheckLegend(QCustomPlot& plot);
// Adds line's check box in its colour.
void AddToCheckLegend(QCustomPlot& plot, QCPAbstractPlottable& line, const QColor& colour);
// The legend entry under pos, if any.
QCPPlottableLegendItem* CheckLegendItemAt(const QCustomPlot& plot, QPoint pos);

// Whether painter draws an export (a file or another device, painted afresh) rather than the
// widget's buffers: exports get neither the buffers' shortcuts nor their kept drawings.
bool PaintsExport(const QCPPainter& painter);

// The charts' gradient as an opaque picture of size (device-independent) at ratio.
QPixmap ChartBackdrop(QSize size, double ratio);

// One line of a read-out: "AD1  0.771 V", or "AD1  -" without a value.
QString ReadoutLine(const QString& name, const std::optional<QString>& value);

// The hover read-out: a dashed cursor line at a time and a box beside it with the time and the
// values, on the overlay layer, which gets a buffer of its own only while the pointer is over
// the plot. It lies over the plot's default axes and axis rect.
class HoverReadout {
  public:
    explicit HoverReadout(QCustomPlot& plot);

    // Shows text at time x, the box on the side of the cursor with more room.
    void Show(double x, const QString& text);
    void Hide();
    bool Visible() const;
    QString Text() const;
    // The pointer entered (true) or left (false) the plot: the overlay's buffering follows, and
    // the read-out is drawn again; wasShown is whether it was shown before the change.
    void Redraw(bool hovering, bool wasShown);

  private:
    QCustomPlot& plot_;
    QCPItemStraightLine* cursor_;
    QCPItemText* box_;
};

}  // namespace corvelle
