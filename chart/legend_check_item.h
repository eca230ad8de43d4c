#pragma once

#include <qcustomplot.h>

#include <QTextLayout>

namespace corvelle {

// A text drawn exactly as QPainter::drawText(rect, Qt::AlignLeft | Qt::AlignVCenter, text) draws
// it, from a layout kept until the text, font or resolution changes: the legend draws its names
// on every replot, and laying them out again each time was most of its cost.
class KeptLineText {
  public:
    void Draw(QPainter& painter, const QRect& rect, const QString& text);

  private:
    QTextLayout layout_;
    QFont font_;
    int width_ = 0;
    int dpiX_ = 0;
    int dpiY_ = 0;
    bool laidOut_ = false;
};

// Legend entry drawn as [check box][line sample] name, the box ticked while the line is shown.
// Clicks are handled by the chart, which toggles the line's visibility.
class LegendCheckItem : public QCPPlottableLegendItem {
  public:
    LegendCheckItem(QCPLegend* legend, QCPAbstractPlottable* line);

    // Shown after the line's name, "水位 (m)"; empty for none.
    void SetUnit(const QString& unit);
    // What the entry shows.
    QString Text() const;

  protected:
    void draw(QCPPainter* painter) override;
    QSize minimumOuterSizeHint() const override;

  private:
    QString unit_;
    mutable QFont measuredFont_;
    mutable QString measuredName_;
    mutable QSize measuredText_;
    KeptLineText name_;
};

}  // namespace corvelle
