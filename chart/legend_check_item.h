#pragma once

#include <qcustomplot.h>

namespace corvelle {

// Legend entry drawn as [check box][line sample] name, the box ticked while the line is shown.
// Clicks are handled by the chart, which toggles the line's visibility.
class LegendCheckItem : public QCPPlottableLegendItem {
  public:
    LegendCheckItem(QCPLegend* legend, QCPAbstractPlottable* line);

  protected:
    void draw(QCPPainter* painter) override;
    QSize minimumOuterSizeHint() const override;

  private:
    mutable QFont measuredFont_;
    mutable QString measuredName_;
    mutable QSize measuredText_;
};

}  // namespace corvelle
