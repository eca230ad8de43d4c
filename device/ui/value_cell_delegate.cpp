#include "device/ui/value_cell_delegate.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QTextLine>
#include <QtMath>
#include <memory>

namespace corvelle {
namespace {

// Lays text out in one line of the given width, as the style does before drawing it.
void LayOut(QTextLayout& layout, const QStyleOptionViewItem& option, int lineWidth) {
    QTextOption textOption;
    textOption.setWrapMode(QTextOption::ManualWrap);
    textOption.setTextDirection(option.direction);
    textOption.setAlignment(QStyle::visualAlignment(option.direction, option.displayAlignment));
    layout.setTextOption(textOption);
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(lineWidth);
        line.setPosition(QPointF(0, 0));
    }
    layout.endLayout();
}

const QStyle& StyleOf(const QStyleOptionViewItem& option) {
    return option.widget != nullptr ? *option.widget->style() : *QApplication::style();
}

}  // namespace

void ValueCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                              const QModelIndex& index) const {
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    const PlacedText* placed = Place(opt);
    if (placed == nullptr) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    // The style draws the cell without its text, then the text goes where it would put it.
    QStyleOptionViewItem bare = opt;
    bare.text.clear();
    bare.features &= ~QStyleOptionViewItem::HasDisplay;
    StyleOf(opt).drawControl(QStyle::CE_ItemViewItem, &bare, painter, opt.widget);
    QPalette::ColorGroup group =
        (opt.state & QStyle::State_Enabled) != 0 ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && (opt.state & QStyle::State_Active) == 0) {
        group = QPalette::Inactive;
    }
    painter->save();
    painter->setClipRect(opt.rect);
    painter->setPen(opt.palette.color(group, QPalette::Text));
    placed->layout.draw(painter, opt.rect.topLeft() + placed->offset);
    painter->restore();
}

const ValueCellDelegate::PlacedText* ValueCellDelegate::Place(
    const QStyleOptionViewItem& option) const {
    constexpr QStyle::State kPlain = QStyle::State_Selected | QStyle::State_HasFocus |
                                     QStyle::State_MouseOver | QStyle::State_Editing;
    constexpr QStyleOptionViewItem::ViewItemFeatures kExtras =
        QStyleOptionViewItem::HasCheckIndicator | QStyleOptionViewItem::HasDecoration |
        QStyleOptionViewItem::WrapText;
    if ((option.state & kPlain) != 0 || (option.features & kExtras) != 0 ||
        option.backgroundBrush.style() != Qt::NoBrush || option.text.isEmpty() ||
        option.decorationPosition != QStyleOptionViewItem::Left) {
        return nullptr;
    }
    if (option.font != font_) {
        placed_.clear();
        font_ = option.font;
    }
    // The cell's size and the text's placement, then the text itself.
    QString key;
    key.reserve(option.text.size() + 4);
    key.append(QChar(static_cast<char16_t>(option.rect.width())))
        .append(QChar(static_cast<char16_t>(option.rect.height())))
        .append(QChar(static_cast<char16_t>(option.displayAlignment.toInt())))
        .append(QChar(static_cast<char16_t>(static_cast<int>(option.direction) * 2 +
                                            (option.showDecorationSelected ? 1 : 0))))
        .append(option.text);
    if (const PlacedText* found = placed_.object(key)) {
        return found;
    }
    // The style asks for the margin with the option when it sizes the text, without when it
    // draws it.
    const QStyle& style = StyleOf(option);
    const int sizeMargin =
        style.pixelMetric(QStyle::PM_FocusFrameHMargin, &option, option.widget) + 1;
    const int margin = style.pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, option.widget) + 1;
    const QRect cell(QPoint(0, 0), option.rect.size());
    auto placed = std::make_unique<PlacedText>();
    placed->layout.setText(option.text);
    placed->layout.setFont(option.font);
    // Without the cache the layout lets go of its shaped glyphs at the end of each layout, and
    // every paint of the cell shapes the text once more.
    placed->layout.setCacheEnabled(true);
    // Where the style puts the text's rectangle: the whole cell, or the text's natural size
    // plus margins aligned in it, which takes a first layout to measure.
    QRect textRect = cell;
    if (!option.showDecorationSelected) {
        LayOut(placed->layout, option, cell.width());
        if (placed->layout.lineCount() != 1) {
            return nullptr;
        }
        const QTextLine measured = placed->layout.lineAt(0);
        const QSize natural(qCeil(measured.naturalTextWidth()) + 2 * sizeMargin,
                            qCeil(measured.height()));
        textRect = QStyle::alignedRect(option.direction, option.displayAlignment,
                                       natural.boundedTo(cell.size()), cell);
    }
    // Then the text is laid out in that rectangle less the margins and the line aligned in it.
    const QRect inner = textRect.adjusted(margin, 0, -margin, 0);
    LayOut(placed->layout, option, inner.width());
    const QTextLine line = placed->layout.lineAt(0);
    if (placed->layout.lineCount() != 1 || line.naturalTextWidth() > inner.width()) {
        return nullptr;  // elided by the style
    }
    placed->offset =
        QStyle::alignedRect(option.direction, option.displayAlignment,
                            QSize(static_cast<int>(line.width()), static_cast<int>(line.height())),
                            inner)
            .topLeft();
    // The cache owns what it takes, and may drop it at once.
    placed_.insert(key, placed.release());
    return placed_.object(key);
}

}  // namespace corvelle
