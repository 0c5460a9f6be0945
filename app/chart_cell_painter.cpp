#include "chart_cell_painter.h"

#include <QApplication>
#include <QFontMetrics>
#include <QPainter>
#include <QStyle>
#include <QTextLayout>
#include <QtMath>

namespace {

void LayOutOneLine(QTextLayout &layout, int width)
{
    layout.beginLayout();
    QTextLine line = layout.createLine();
    line.setLineWidth(width);
    line.setPosition(QPointF(0, 0));
    layout.endLayout();
}

}  // namespace

int ChartCellPainter::TextMargin(const QWidget *view)
{
    const QStyle *style = view != nullptr ? view->style() : QApplication::style();
    return style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, view) + 1;
}

void ChartCellPainter::paint(QPainter *painter, const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const bool enabled = option.widget != nullptr ? option.widget->isEnabled() : bool(option.state & QStyle::State_Enabled);
    QPalette::ColorGroup group = enabled ? QPalette::Normal : QPalette::Disabled;
    if (group == QPalette::Normal && !(option.state & QStyle::State_Active))
        group = QPalette::Inactive;
    const bool selected = option.state & QStyle::State_Selected;
    if (selected)
        painter->fillRect(option.rect, option.palette.brush(group, QPalette::Highlight));

    QString text = index.data(Qt::DisplayRole).toString();
    if (text.isEmpty())
        return;
    const auto alignment = Qt::Alignment(index.data(Qt::TextAlignmentRole).toInt());
    const int margin = TextMargin(option.widget);
    const QRect textRect = option.rect.adjusted(margin, 0, -margin, 0);
    QTextOption textOption;
    textOption.setWrapMode(QTextOption::ManualWrap);
    textOption.setTextDirection(option.direction);
    textOption.setAlignment(QStyle::visualAlignment(option.direction, alignment));

    QTextLayout layout(text, option.font);
    // Without its cache a layout drops the shaped glyphs when the line is laid out, and draw()
    // would shape the whole text a second time.
    layout.setCacheEnabled(true);
    layout.setTextOption(textOption);
    LayOutOneLine(layout, textRect.width());
    // placed by the whole text's line, as the style places it, also when the text is cut
    const QRect lineRect = QStyle::alignedRect(Qt::LayoutDirectionAuto, alignment,
                                               layout.boundingRect().size().toSize(), textRect);
    if (index.column() == 0 && layout.lineAt(0).naturalTextWidth() > textRect.width()) {
        layout.setText(QFontMetrics(option.font).elidedText(text, option.textElideMode, textRect.width()));
        LayOutOneLine(layout, textRect.width());
    }
    painter->setPen(option.palette.color(group, selected ? QPalette::HighlightedText : QPalette::Text));
    layout.draw(painter, QPointF(textRect.x(), lineRect.top()));
}

// The width matters only where a column is fitted to its contents (a double click on the header's
// divider); the height is the line the text is drawn on, which every text of the font shares.
QSize ChartCellPainter::sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const
{
    const QFontMetricsF metrics(option.font);
    const qreal width = metrics.horizontalAdvance(index.data(Qt::DisplayRole).toString());
    return QSize(qCeil(width) + 2 * TextMargin(option.widget), qCeil(metrics.height()));
}
