// The floor the program's start is measured against: a window of the program's size that paints,
// from one paintEvent and with no child widget, what the program's first frame shows. The same
// texts in the same fonts at the same places, the same picture, and the controls' chrome as plain
// rectangles. Its texts come from the chart table, the score file in the current directory and the
// order by title, as the program's do; the glyph work is the program's, the widget work is not.
#pragma once

#include <QFont>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include "chart_table.h"

class SameTextsWindow : public QWidget {
public:
    // Draws in the program's own fonts: set its fallback font folder before making one.
    SameTextsWindow();

protected:
    void showEvent(QShowEvent *event) override;
    void paintEvent(QPaintEvent *event) override;

private:
    void PaintEntry(QPainter &painter);
    void PaintList(QPainter &painter);
    void PaintTotals(QPainter &painter);

    ChartOrder order{};
    ChartRecord *first = nullptr;
    QString greatText;
    QString dpFreezeText;
    QString dpLostText;
    QString rankText;
    QString percentText;
    QString totalRanksText;
    QString totalDpText;
    QFont small;
    QFont smallBold;
    QFont large;
    QFont largeBold;
    QPixmap picture;
};
