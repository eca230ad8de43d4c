#pragma once

#include <QCache>
#include <QFont>
#include <QPoint>
#include <QString>
#include <QStyledItemDelegate>
#include <QTextLayout>

namespace corvelle {

// Paints the value list's cells as the style does, with each distinct text laid out once. The
// style lays a cell's text out four times a paint (three times to place it, once to draw it),
// and a reply repaints a dozen cells of the shown page. Cells in any but the plain state
// (selected, current, hovered, edited, with a check box, icon or background) and texts that
// need eliding or more than one line are left to the style.
class ValueCellDelegate final : public QStyledItemDelegate {
  public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

  private:
    // A text laid out as the style lays it out in a cell of one size, and where it goes
    // relative to the cell's top left.
    struct PlacedText {
        QTextLayout layout;
        QPoint offset;
    };
    // Enough for the texts of a page's list that repeat; a miss costs one layout of a text.
    static constexpr int kCachedTexts = 512;

    // Null when the style must draw the text itself.
    const PlacedText* Place(const QStyleOptionViewItem& option) const;

    mutable QCache<QString, PlacedText> placed_{kCachedTexts};
    mutable QFont font_;  // the font of the cached layouts
};

}  // namespace corvelle
