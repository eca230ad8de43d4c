#include "chart/legend_check_item.h"

#include "chart/chart_look.h"

#include <algorithm>

namespace corvelle {

namespace {

constexpr int kBoxToSampleGap = 3;

// Line breaks and tabs follow drawText's own rules.
bool OneSimpleLine(const QString& text) {
    return std::none_of(text.begin(), text.end(), [](QChar c) {
        return c.category() == QChar::Other_Control || c == QChar::LineSeparator ||
               c == QChar::ParagraphSeparator;
    });
}

}  // namespace

void KeptLineText::Draw(QPainter& painter, const QRect& rect, const QString& text) {
    const QPaintDevice* device = painter.device();
    if (!OneSimpleLine(text) || device == nullptr) {
        painter.drawText(rect, Qt::AlignLeft | Qt::AlignVCenter, text);
        return;
    }
    const QFont font = painter.font();
    if (!laidOut_ || layout_.text() != text || font_ != font || width_ != rect.width() ||
        dpiX_ != device->logicalDpiX() || dpiY_ != device->logicalDpiY()) {
        laidOut_ = true;
        font_ = font;
        width_ = rect.width();
        dpiX_ = device->logicalDpiX();
        dpiY_ = device->logicalDpiY();
        // As drawText lays a single line out.
        QTextOption option;
        option.setWrapMode(QTextOption::ManualWrap);
        option.setTextDirection(painter.layoutDirection());
        layout_.setText(text);
        layout_.setFont(QFont(font, device));
        layout_.setTextOption(option);
        layout_.setCacheEnabled(true);
        layout_.beginLayout();
        QTextLine line = layout_.createLine();
        line.setLineWidth(rect.width());
        line.setPosition(QPointF(0, 0));
        layout_.endLayout();
    }
    const QTextLine line = layout_.lineAt(0);
    // drawText centres the line's unrounded height, and clips only text that leaves the rect.
    const qreal height = line.ascent() + line.descent();
    const QPointF at(rect.x(), rect.y() + (rect.height() - height) / 2);
    const bool clip = !QRectF(rect).contains(QRectF(at, QSizeF(line.naturalTextWidth(), height)));
    if (clip) {
        painter.save();
        painter.setClipRect(rect, Qt::IntersectClip);
    }
    line.draw(&painter, at);
    if (clip) {
        painter.restore();
    }
}

LegendCheckItem::LegendCheckItem(QCPLegend* legend, QCPAbstractPlottable* line)
    : QCPPlottableLegendItem(legend, line) {}

void LegendCheckItem::SetUnit(const QString& unit) {
    unit_ = unit;
}

QString LegendCheckItem::Text() const {
    return unit_.isEmpty() ? mPlottable->name()
                           : mPlottable->name() + QStringLiteral(" (") + unit_ + QLatin1Char(')');
}

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
    if (PaintsExport(*painter)) {
        painter->drawText(text, Qt::AlignLeft | Qt::AlignVCenter, Text());
    } else {
        name_.Draw(*painter, text, Text());
    }
}

QSize LegendCheckItem::minimumOuterSizeHint() const {
    const QSize icon = mParentLegend->iconSize();
    // Layouts ask several times per replot; measuring the text is most of the answer.
    const QString shown = Text();
    if (measuredFont_ != getFont() || measuredName_ != shown) {
        measuredFont_ = getFont();
        measuredName_ = shown;
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
