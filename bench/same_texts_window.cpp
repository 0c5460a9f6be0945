#include "same_texts_window.h"

#include <QFontMetricsF>
#include <QImageReader>
#include <QPainter>
#include <QtMath>

#include "chart_list_model.h"
#include "chart_ordering.h"
#include "dp_scoring.h"
#include "score_file.h"
#include "score_text.h"
#include "totals.h"
#include "window_parts.h"

namespace {

using window_parts::ClientHeight;
using window_parts::ClientWidth;
using window_parts::PanelSilver;
using window_parts::ResultRed;
using window_parts::WindowGreen;
const QColor ChromeGrey(224, 224, 224);
const QColor ChromeEdge(160, 160, 160);

// The list as the program lays it out under its style: frame, header and rows.
constexpr QRect ListBox(346, 7, 415, 295);
constexpr int ListFrame = 1;
constexpr int ScrollBarWidth = 14;
constexpr int HeaderMargin = 2;
constexpr int CellMargin = 3;

// The height the toolkit gives a label or a list row of one line in this font.
int LineHeight(const QFont &font)
{
    return qCeil(QFontMetricsF(font).height());
}

QPixmap ReadPicture(QSize size, qreal ratio)
{
    QImageReader reader(ratio > 1.0 ? QStringLiteral(":/brisko@2x.ppm") : QStringLiteral(":/brisko.ppm"), "ppm");
    reader.setAutoDetectImageFormat(false);
    QPixmap picture = QPixmap::fromImage(reader.read());
    const QSize deviceSize = (QSizeF(size) * ratio).toSize();
    if (picture.size() != deviceSize)
        picture = picture.scaled(deviceSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    picture.setDevicePixelRatio(ratio);
    return picture;
}

void Text(QPainter &painter, const QFont &font, int x, int y, const QString &text)
{
    painter.setFont(font);
    painter.drawText(QRect(x, y, ClientWidth - x, LineHeight(font)), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic,
                     text);
}

void Chrome(QPainter &painter, QRect box, const QColor &fill)
{
    painter.setPen(ChromeEdge);
    painter.setBrush(fill);
    painter.drawRect(box.adjusted(0, 0, -1, -1));
}

QStringList RowTexts(const ChartRecord &chart)
{
    const uint16_t percent = ChartPercent(chart);
    return {QString::fromLatin1(chart.name),
            QString::fromLatin1(ListDateText(chart).text),
            QString::number(chart.aaAllowance),
            QString::fromLatin1(RankName(percent)),
            chart.dpLost == chart.maxDp ? QStringLiteral("N/A") : QString::number(chart.dpLost),
            QString::fromLatin1(PercentFieldText(percent).text)};
}

}  // namespace

SameTextsWindow::SameTextsWindow()
{
    Q_INIT_RESOURCE(brisko);  // the program's picture, compiled into its window library
    setWindowTitle(QStringLiteral("Brisko Calculator - ver. 1.1.00  (by Wren)"));
    setFixedSize(ClientWidth, ClientHeight);
    // the program's own choice of face, so that both pay the same font database work
    small = window_parts::WindowFont(window_parts::SmallPixels, false);
    smallBold = window_parts::WindowFont(window_parts::SmallPixels, true);
    large = window_parts::WindowFont(window_parts::LargePixels, false);
    largeBold = window_parts::WindowFont(window_parts::LargePixels, true);

    // The program's start: the table, the own score file, the order by title, the first chart
    // chosen with its stored DP lost as Greats and every freeze OK, and the totals.
    InitChartTable(&order);
    LoadScoreFile();
    SortCharts(&order, SortByName, true);
    first = order[0];
    greatText = QString::number(first->dpLost);
    const uint16_t dpLost = ComputeDpLost(first->maxDp, first->freezes, first->dpLost, 0, 0, 0, first->freezes);
    const uint16_t percent = PercentHundredths(first->maxDp, dpLost);
    dpFreezeText = QStringLiteral("%1 / %2").arg(first->maxDp).arg(first->freezes);
    dpLostText = QString::number(dpLost);
    rankText = QString::fromLatin1(RankName(percent));
    percentText = QString::fromLatin1(PercentLabelText(percent).text);
    const TotalsCaptions captions = TotalsCaptionTexts(TallyCharts(ChartTable), false);
    totalRanksText = QString::fromLatin1(captions.ranks);
    totalDpText = QString::fromLatin1(captions.dp);
}

void SameTextsWindow::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    picture = ReadPicture(QSize(165, 338), devicePixelRatioF());
}

void SameTextsWindow::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), WindowGreen);
    painter.drawPixmap(8, 8, picture);
    PaintEntry(painter);
    PaintList(painter);
    PaintTotals(painter);
}

void SameTextsWindow::PaintEntry(QPainter &painter)
{
    const struct {
        const char *caption;
        int top;
    } fields[] = {{"&Great", 12}, {"Goo&d", 42}, {"&Boo", 72}, {"&Miss", 102}, {"&OK", 132}};
    for (const auto &field : fields) {
        painter.setPen(Qt::black);
        Text(painter, small, 185, field.top + 3, QString::fromLatin1(field.caption));
        Chrome(painter, QRect(250, field.top, 85, 20), Qt::white);
    }
    // A field's text sits inside its frame and margins, centred on the line.
    const int fieldTextTop = 1 + 1 + (16 - QFontMetrics(small).height() + 1) / 2;
    painter.setPen(Qt::black);
    painter.setFont(small);
    painter.drawText(QPoint(250 + 3, 12 + fieldTextTop + QFontMetrics(small).ascent()), greatText);
    painter.drawText(QPoint(250 + 3, 132 + fieldTextTop + QFontMetrics(small).ascent()),
                     QString::number(first->freezes));

    painter.setPen(ChromeEdge);
    painter.drawLine(180, 161, 339, 161);
    painter.drawLine(180, 275, 339, 275);

    painter.setPen(Qt::black);
    Text(painter, large, 184, 173, QStringLiteral("Max DP:"));
    Text(painter, large, 185, 209, QStringLiteral("Greats:"));
    Text(painter, large, 185, 249, QStringLiteral("Rank:"));
    painter.setPen(ResultRed);
    Text(painter, largeBold, 250, 173, dpFreezeText);
    Text(painter, largeBold, 250, 209, dpLostText);
    Text(painter, largeBold, 250, 249, rankText);
    Text(painter, smallBold, 300, 254, percentText);

    const struct {
        QRect box;
        const char *caption;
        bool enabled;
    } buttons[] = {
        {{184, 288, 70, 25}, "&Insert", true},
        {{266, 288, 70, 25}, "&File Print", true},
        {{184, 321, 70, 25}, "Co&mpare", true},
        {{266, 321, 70, 25}, "Comp. &Reset", false},
    };
    painter.setFont(small);
    for (const auto &button : buttons) {
        Chrome(painter, button.box, ChromeGrey);
        painter.setPen(palette().color(button.enabled ? QPalette::Active : QPalette::Disabled, QPalette::ButtonText));
        painter.drawText(button.box, Qt::AlignCenter | Qt::TextShowMnemonic, QString::fromLatin1(button.caption));
    }
}

void SameTextsWindow::PaintList(QPainter &painter)
{
    Chrome(painter, ListBox, Qt::white);
    const int left = ListBox.left() + ListFrame;
    const int headerTop = ListBox.top() + ListFrame;
    const int headerHeight = LineHeight(small) + 2 * HeaderMargin;
    const int viewWidth = ListBox.width() - 2 * ListFrame - ScrollBarWidth;
    Chrome(painter, QRect(left + viewWidth, headerTop, ScrollBarWidth, ListBox.height() - 2 * ListFrame), ChromeGrey);

    painter.setFont(small);
    int x = left;
    for (int index = 0; index < window_parts::ListColumnCount; ++index) {
        const ChartListModel::ColumnLook &column = ChartListModel::Column(index);
        Chrome(painter, QRect(x, headerTop, column.width, headerHeight), ChromeGrey);
        painter.setPen(Qt::black);
        painter.drawText(QRect(x, headerTop, column.width, headerHeight).adjusted(HeaderMargin, HeaderMargin, -HeaderMargin, -HeaderMargin),
                         int(column.alignment), QString::fromLatin1(column.caption));
        x += column.width;
    }

    const QRect rows(left, headerTop + headerHeight, viewWidth, ListBox.bottom() - ListFrame - headerTop - headerHeight + 1);
    painter.save();
    painter.setClipRect(rows);
    const int rowHeight = LineHeight(small);
    const QFontMetrics metrics(small);
    for (int row = 0; row < ChartCount && row * rowHeight < rows.height(); ++row) {
        const int top = rows.top() + row * rowHeight;
        const bool selected = order[size_t(row)] == first;
        if (selected)
            painter.fillRect(QRect(left, top, x - left, rowHeight), palette().color(QPalette::Highlight));
        painter.setPen(selected ? palette().color(QPalette::HighlightedText) : palette().color(QPalette::Text));
        const QStringList texts = RowTexts(*order[size_t(row)]);
        int cellLeft = left;
        for (int column = 0; column < window_parts::ListColumnCount; ++column) {
            const ChartListModel::ColumnLook &look = ChartListModel::Column(column);
            const QRect cell = QRect(cellLeft, top, look.width, rowHeight).adjusted(CellMargin, 0, -CellMargin, 0);
            // Only a title can be longer than its column.
            const QString text = column == 0 ? metrics.elidedText(texts[column], Qt::ElideRight, cell.width()) : texts[column];
            painter.drawText(cell, int(look.alignment), text);
            cellLeft += look.width;
        }
    }
    painter.restore();
}

void SameTextsWindow::PaintTotals(QPainter &painter)
{
    painter.fillRect(QRect(346, 307, 415, 37), PanelSilver);
    painter.setPen(Qt::black);
    Text(painter, large, 349, 307, totalRanksText);
    Text(painter, small, 349, 329, totalDpText);
}
