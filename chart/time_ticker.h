#pragma once

#include <vector>

#include <qcustomplot.h>
#include <QString>

namespace corvelle {

// Labels the x axis with the time of day stored with each point, so the operator reads clock
// times rather than point numbers. Ticks fall on whole point positions only.
class TimeTicker : public QCPAxisTicker {
  public:
    struct Point {
        double x;
        QString label;
    };

    // Stores the label of the point at x; a later label for the same x replaces it.
    void SetLabel(double x, QString label);
    void ClearLabels() { points_.clear(); }
    // The stored point nearest to x, or nullptr when none is stored.
    const Point* Nearest(double x) const;

  protected:
    double getTickStep(const QCPRange& range) override;
    QString getTickLabel(double tick, const QLocale& locale, QChar formatChar,
                         int precision) override;

  private:
    std::vector<Point> points_;  // ascending x
};

}  // namespace corvelle
