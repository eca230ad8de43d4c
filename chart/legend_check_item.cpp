#include "chart/legend_check_item.h"

#include <algorithm>

namespace corvelle {

namespace {

constexpr int kBoxToSampleGap = 3;

}  // namespace

LegendCheckItem::LegendCheckItem(QCPLegend* legend, QCPAbstractPlottable* line)
    : QCPPlottableLegendItem(legend, line) {}

void LegendCheckItem::draw(QCPPainter* painter) {
    const QSize icon = mParentLegend->iconSize();
    const QRect box(mRect.left(), mRect.center().y() - icon.height() / 2, icon.height(),
                    icon.height());
    const QRect sample(box.right() + 1 + kBoxToSampleGap, box.top(), icon.width(), icon.height());
    const int textLeft = sample.right() + 1 + mParentLegend->iconTextPadding();
    const QRect text(textLeft, mRect.top(), mRect.right() + 1 - textLeft, mRect.height());
    const QColor colour = getTextColor();

    painter->setPen(QPen(colour, 1));
    painter->setBrush(Qt::white);
    painter->drawRect(box);
    if (mPlottable->visible()) {
        const QRectF b(box);
        painter->setPen(QPen(colour, 1.6));
        painter->drawPolyline(QPolygonF{{b.left() + 2.0, b.center().y()},
                                        {b.left() + 4.5, b.bottom() - 2.0},
                                        {b.right() - 1.5, b.top() + 2.0}});
    }

    const QPointF middle = QRectF(sample).center();
    painter->setPen(mPlottable->pen());
    painter->drawLine(QLineF(sample.left(), middle.y(), sample.right() + 1, middle.y()));

    painter->setFont(getFont());
    painter->setPen(colour);
    painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter, mPlottable->name());
}

QSize LegendCheckItem::minimumOuterSizeHint() const {
    const QSize icon = mParentLegend->iconSize();
    // Layouts ask several times per replot; measuring the text is most of the answer.
    if (measuredFont_ != getFont() || measuredName_ != mPlottable->name()) {
        measuredFont_ = getFont();
        measuredName_ = mPlottable->name();
        measuredText_ = QFontMetrics(measuredFont_)
                            .boundingRect(0, 0, 0, 0, Qt::TextDontClip, measuredName_)
                            .size();
    }
    const QSize text = measuredText_;
    const int width = icon.height() + kBoxToSampleGap + icon.width() +
                      mParentLegend->iconTextPadding() + text.width();
    const int height = std::max(icon.height(), text.height());
    return {mMargins.left() + width + mMargins.right(),
            mMargins.top() + height + mMargins.bottom()};
}

}  // namespace corvelle
