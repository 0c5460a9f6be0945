// The percentage of a chart's plays over time, painted from points made once for each chart:
// a chart of thousands of plays costs a paint only as many points as the plot has pixel columns.
#pragma once

#include <cstdint>
#include <vector>

#include <QColor>
#include <QRect>
#include <QString>
#include <QWidget>

#include "play_journal.h"

// A line's local date as written, 2026-12-09, and its date and minute, 2026-12-09 14:03.
QString PlayDateText(const PlayLine &line);
QString PlayMinuteText(const PlayLine &line);
// A percentage as a reader says it: 95.10 percent.
QString SpokenPercent(uint16_t percent);

class HistoryPlot : public QWidget {
    Q_OBJECT
public:
    explicit HistoryPlot(QWidget *parent);

    // The plays among lines, which are newest first; undo lines are no points. Also sets the
    // accessible description to what a sighted player reads from the plot.
    void Show(const std::vector<PlayLine> &newestFirst);

    // The words of that description: plays, first, best and last, and the trend.
    QString Description() const;

    // Where the plot's parts fall, for the tests that look at its pixels.
    QRect PlotArea() const;
    int RowOf(uint16_t percent) const;
    int ColumnOf(int64_t utcSeconds) const;
    static const QColor ThresholdColour;
    static const QColor BestColour;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    struct Point {
        int64_t utcSeconds;
        uint16_t percent;
    };
    void PaintThresholds(class QPainter &painter, const QRect &area) const;
    void PaintPlays(QPainter &painter) const;
    void PaintBestKey(QPainter &painter, const QRect &room) const;

    std::vector<Point> points_;  // oldest first
    size_t best_ = 0;            // the first play at the highest percentage
    uint16_t lowest_ = 0;        // the percentage at the plot's bottom edge
    QString firstDate_, lastDate_, bestDate_;
};
