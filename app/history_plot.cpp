#include "history_plot.h"

#include <algorithm>
#include <array>

#include <QPainter>
#include <QPolygon>

#include "dp_scoring.h"
#include "score_text.h"
#include "window_parts.h"

using namespace window_parts;

namespace {

// Room for the rank letters on the left and the dates below.
constexpr int LeftMargin = 34;
constexpr int RightMargin = 10;
constexpr int TopMargin = 8;
constexpr int BottomMargin = 18;
constexpr int BestHalfSize = 4;  // the best play's square is 9 pixels wide
constexpr int PlayHalfSize = 2;
// Below this many plays a pixel column apart, each play is drawn as a dot of its own.
constexpr int DotSpacing = 6;
// The trend compares the mean of the last third of the plays with that of the first third;
// a difference within one percentage point either way is no trend at all.
constexpr int TrendDeadBand = 100;
constexpr int FewestForTrend = 3;

const QColor PlotBackground(255, 255, 255);
const QColor PlotText(0, 0, 0);

// The lowest percentage of each rank, found from the rank function itself so that the lines
// always stand where the ranks change.
const std::array<uint16_t, RankCount> &RankFloors()
{
    static const std::array<uint16_t, RankCount> floors = [] {
        std::array<uint16_t, RankCount> lowest{};
        for (int percent = PerfectPercent; percent >= 0; --percent)
            lowest[size_t(RankIndex(uint16_t(percent)))] = uint16_t(percent);
        return lowest;
    }();
    return floors;
}

// The ranks whose lines are drawn: all but E, whose floor is the plot's zero.
constexpr int DrawnRanks = RankCount - 1;

// The start of a field of fixed size, up to its end if no zero ends it before.
QString TextOf(const char *text, size_t length)
{
    return QString::fromLatin1(text, std::find(text, text + length, '\0') - text);
}

}  // namespace

const QColor HistoryPlot::ThresholdColour(160, 160, 160);
const QColor HistoryPlot::BestColour = ResultRed;

QString PlayDateText(const PlayLine &line)
{
    return TextOf(line.time, 10);
}

QString PlayMinuteText(const PlayLine &line)
{
    QString text = TextOf(line.time, 16);
    if (text.size() > 10 && text[10] == u'T')
        text[10] = u' ';
    return text;
}

QString SpokenPercent(uint16_t percent)
{
    return QString::fromLatin1(PercentLabelText(percent).text).replace(u'%', QStringLiteral(" percent"));
}

HistoryPlot::HistoryPlot(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("PlotHistory"));
    setFocusPolicy(Qt::TabFocus);  // so that a reader reaches its description by Tab
    setAccessibleName(QStringLiteral("Percentage over time"));
    setFont(WindowFont(SmallPixels, false));
}

QSize HistoryPlot::sizeHint() const
{
    return {640, 200};
}

QSize HistoryPlot::minimumSizeHint() const
{
    return {320, 120};
}

void HistoryPlot::Show(const std::vector<PlayLine> &newestFirst)
{
    points_.clear();
    for (auto line = newestFirst.rbegin(); line != newestFirst.rend(); ++line)
        if (line->kind == PlayKind::Play)
            points_.push_back({line->utcSeconds, std::min(line->percent, PerfectPercent)});
    best_ = 0;
    for (size_t i = 1; i < points_.size(); ++i)
        if (points_[i].percent > points_[best_].percent)
            best_ = i;

    firstDate_ = lastDate_ = bestDate_ = QString();
    size_t play = 0;
    for (auto line = newestFirst.rbegin(); line != newestFirst.rend(); ++line) {
        if (line->kind != PlayKind::Play)
            continue;
        if (play == 0)
            firstDate_ = PlayDateText(*line);
        if (play == best_)
            bestDate_ = PlayDateText(*line);
        lastDate_ = PlayDateText(*line);
        ++play;
    }

    // The bottom edge is the floor of the highest rank below every play, so that the plays fill
    // the height and the lines of the ranks they reached are in sight.
    lowest_ = 0;
    if (!points_.empty()) {
        const uint16_t least = std::min_element(points_.begin(), points_.end(), [](const Point &a, const Point &b) {
                                   return a.percent < b.percent;
                               })->percent;
        for (int rank = 1; rank < DrawnRanks; ++rank)
            if (RankFloors()[size_t(rank)] < least)
                lowest_ = std::max(lowest_, RankFloors()[size_t(rank)]);
    }
    setAccessibleDescription(Description());
    update();
}

QString HistoryPlot::Description() const
{
    const size_t count = points_.size();
    if (count == 0)
        return QStringLiteral("No plays yet.");
    if (count == 1)
        return QStringLiteral("1 play on %1: %2.").arg(firstDate_, SpokenPercent(points_[0].percent));
    QString text = QStringLiteral("%1 plays from %2 to %3. First %4, best %5 on %6, last %7 on %8.")
                       .arg(Decimal(int64_t(count)), firstDate_, lastDate_, SpokenPercent(points_.front().percent),
                            SpokenPercent(points_[best_].percent), bestDate_, SpokenPercent(points_.back().percent),
                            lastDate_);
    if (count < FewestForTrend)
        return text;
    const size_t third = count / 3;
    int64_t early = 0, late = 0;
    for (size_t i = 0; i < third; ++i) {
        early += points_[i].percent;
        late += points_[count - 1 - i].percent;
    }
    const int64_t band = TrendDeadBand * int64_t(third);  // the sums differ by the means' difference times third
    if (late - early > band)
        return text + QStringLiteral(" Rising.");
    if (late - early < -band)
        return text + QStringLiteral(" Falling.");
    return text + QStringLiteral(" Flat.");
}

QRect HistoryPlot::PlotArea() const
{
    return rect().adjusted(LeftMargin, TopMargin, -RightMargin, -BottomMargin);
}

int HistoryPlot::RowOf(uint16_t percent) const
{
    const QRect area = PlotArea();
    const int span = PerfectPercent - lowest_;
    const int above = PerfectPercent - std::clamp<int>(percent, lowest_, PerfectPercent);
    return area.top() + int((int64_t(above) * (area.height() - 1) + span / 2) / span);
}

int HistoryPlot::ColumnOf(int64_t utcSeconds) const
{
    const QRect area = PlotArea();
    if (points_.empty() || points_.back().utcSeconds <= points_.front().utcSeconds)
        return area.left() + area.width() / 2;
    // a time outside the plays' (none the plot is given) is drawn at the nearer edge
    const int64_t first = points_.front().utcSeconds, last = points_.back().utcSeconds;
    const int64_t at = std::clamp(utcSeconds, first, last);
    return area.left() + int((at - first) * (area.width() - 1) / (last - first));
}

void HistoryPlot::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), PlotBackground);
    const QRect area = PlotArea();
    painter.setPen(PlotText);
    if (points_.empty()) {
        painter.drawText(area, Qt::AlignCenter, QStringLiteral("No plays yet."));
        return;
    }
    PaintThresholds(painter, area);
    painter.setPen(PlotText);
    const int textTop = area.bottom() + 2;
    painter.drawText(QRect(area.left(), textTop, area.width(), BottomMargin - 2), Qt::AlignLeft | Qt::AlignTop,
                     firstDate_);
    if (points_.size() > 1)
        painter.drawText(QRect(area.left(), textTop, area.width(), BottomMargin - 2), Qt::AlignRight | Qt::AlignTop,
                         lastDate_);
    PaintPlays(painter);
    PaintBestKey(painter, QRect(area.left(), textTop, area.width(), BottomMargin - 2));
    if (hasFocus()) {
        painter.setPen(QPen(palette().color(QPalette::Highlight), 0));
        painter.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

// What the red square stands for, between the first and the last date.
void HistoryPlot::PaintBestKey(QPainter &painter, const QRect &room) const
{
    const QString key = QStringLiteral("best %1 on %2")
                            .arg(QString::fromLatin1(PercentLabelText(points_[best_].percent).text), bestDate_);
    const int square = 2 * BestHalfSize + 1;
    const int width = square + 4 + QFontMetrics(font()).horizontalAdvance(key);
    const int left = room.left() + (room.width() - width) / 2;
    painter.fillRect(left, room.top() + (QFontMetrics(font()).height() - square) / 2, square, square, BestColour);
    painter.setPen(PlotText);
    painter.drawText(QRect(left + square + 4, room.top(), width - square - 4, room.height()),
                     Qt::AlignLeft | Qt::AlignTop, key);
}

// Drawn without antialiasing, one pixel high, so that each line is one clean row of its colour.
void HistoryPlot::PaintThresholds(QPainter &painter, const QRect &area) const
{
    const QFontMetrics metrics(font());
    int labelBottom = 0;  // a letter never covers the one above it: AAA and AA stand close
    for (int rank = 0; rank < DrawnRanks; ++rank) {
        const uint16_t floor = RankFloors()[size_t(rank)];
        if (floor < lowest_)
            continue;
        const int row = RowOf(floor);
        painter.setPen(QPen(ThresholdColour, 0));
        painter.drawLine(area.left(), row, area.right(), row);
        painter.setPen(PlotText);
        const QRect label(0, std::max(row - metrics.height() / 2, labelBottom), LeftMargin - 4, metrics.height());
        painter.drawText(label, Qt::AlignRight | Qt::AlignVCenter, QString::fromLatin1(RankNameAt(rank)));
        labelBottom = label.bottom() + 1;
    }
}

// Many plays in one pixel column are drawn as that column's first, lowest, highest and last,
// in the order they were played, which looks the same as drawing every one of them.
void HistoryPlot::PaintPlays(QPainter &painter) const
{
    QPolygon line;
    line.reserve(int(std::min<size_t>(points_.size(), size_t(PlotArea().width()) * 4)));
    size_t start = 0;
    while (start < points_.size()) {
        const int column = ColumnOf(points_[start].utcSeconds);
        size_t end = start, lowest = start, highest = start;
        while (end < points_.size() && ColumnOf(points_[end].utcSeconds) == column) {
            if (points_[end].percent < points_[lowest].percent)
                lowest = end;
            if (points_[end].percent > points_[highest].percent)
                highest = end;
            ++end;
        }
        const size_t order[] = {start, std::min(lowest, highest), std::max(lowest, highest), end - 1};
        for (size_t i = 0; i < std::size(order); ++i)
            if (i == 0 || order[i] != order[i - 1])
                line << QPoint(column, RowOf(points_[order[i]].percent));
        start = end;
    }
    // A pen wider than one pixel goes through the stroker, which costs a zigzag of 400 plays
    // about 270 M instructions as one line and 70 M as separate segments; a one-pixel pen costs
    // 4 M. Drawn three times, a pixel right and a pixel down, it is as wide in every direction.
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setPen(QPen(WindowGreen, 0));
    for (const QPoint offset : {QPoint(0, 0), QPoint(1, 0), QPoint(-1, 1)}) {
        line.translate(offset);
        painter.drawPolyline(line);
    }
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (points_.size() * DotSpacing <= size_t(PlotArea().width())) {
        for (const Point &point : points_)
            painter.fillRect(ColumnOf(point.utcSeconds) - PlayHalfSize, RowOf(point.percent) - PlayHalfSize,
                             2 * PlayHalfSize + 1, 2 * PlayHalfSize + 1, WindowGreen);
    }
    const Point &best = points_[best_];
    painter.fillRect(ColumnOf(best.utcSeconds) - BestHalfSize, RowOf(best.percent) - BestHalfSize,
                     2 * BestHalfSize + 1, 2 * BestHalfSize + 1, BestColour);
}
