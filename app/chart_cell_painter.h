// Draws the list's cells: the selection's colour, then the text once, in the view's font, as the
// style would place it. Only a title is cut to its column; the other columns always fit. The
// focus frame of the current row is the view's own.
#pragma once

#include <QAbstractItemDelegate>

class ChartCellPainter : public QAbstractItemDelegate {
public:
    using QAbstractItemDelegate::QAbstractItemDelegate;

    // The room a cell's text has: the cell less the style's margin on either side.
    static int TextMargin(const QWidget *view);

    void paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
