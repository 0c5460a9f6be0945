#include "Bk_control_main.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <QDateTime>
#include <QLineEdit>
#include <QTreeView>

#include "chart_ordering.h"
#include "dp_scoring.h"
#include "session.h"
#include "window_parts.h"

using namespace window_parts;

namespace {

// 2026-12-09T14:03:22+01:00: the offset always in digits, +00:00 included, so that every line
// reads alike in whatever zone it was played.
void StampTime(PlayLine &line)
{
    const QDateTime now = QDateTime::currentDateTime();
    const QDate date = now.date();
    const QTime time = now.time();
    const int offset = now.offsetFromUtc();
    const int minutes = std::abs(offset) / 60;
    std::snprintf(line.time, sizeof line.time, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", date.year(), date.month(),
                  date.day(), time.hour(), time.minute(), time.second(), offset < 0 ? '-' : '+', minutes / 60,
                  minutes % 60);
    line.utcSeconds = now.toSecsSinceEpoch();
}

// The result the line records: the chart's score as it now stands.
void StampResult(PlayLine &line, const ChartRecord &chart)
{
    StampTime(line);
    line.chart = static_cast<uint16_t>(chart.index);
    line.dpLost = chart.dpLost;
    line.percent = ChartPercent(chart);
    std::snprintf(line.rank, sizeof line.rank, "%s", RankName(line.percent));
}

QString DateText(uint8_t day, uint8_t month, uint16_t year)
{
    return QStringLiteral("%1/%2/%3")
        .arg(day, 2, 10, QLatin1Char('0'))
        .arg(month, 2, 10, QLatin1Char('0'))
        .arg(year, 2, 10, QLatin1Char('0'));
}

}  // namespace

TBK_ControlMain::ChartScore TBK_ControlMain::ScoreOf(const ChartRecord &chart)
{
    return {chart.dpLost, chart.day, chart.month, chart.year};
}

// Before the commit: the counts typed and the score about to be replaced. A field that does not
// convert has stored the whole loss, as the entry does; its line then has no counts.
PlayLine TBK_ControlMain::StartPlayLine() const
{
    PlayLine line;
    if (currentChart == nullptr)
        return line;
    const ChartScore replaced = ScoreOf(*currentChart);
    line.replacedDpLost = replaced.dpLost;
    line.replacedDay = replaced.day;
    line.replacedMonth = replaced.month;
    line.replacedYear = replaced.year;
    const EntryFieldList fields = EntryFields();
    try {
        for (size_t i = 0; i < fields.size(); ++i)
            line.counts[i] = fields[i] != MemoOK || currentChart->freezes != 0 ? ConvertEntryText(fields[i]->text()) : 0;
        line.hasCounts = true;
    } catch (const EConvertError &) {
        line.hasCounts = false;
    }
    return line;
}

// After the commit: the result stored, and the Insert remembered for its undo.
void TBK_ControlMain::FinishPlayLine(PlayLine &line)
{
    StampResult(line, *currentChart);
    lastInsert = {true, false, currentChart->index, ScoreOf(*currentChart),
                  {line.replacedDpLost, line.replacedDay, line.replacedMonth, line.replacedYear}};
}

// Scores.txt, then the play's line, under the one lock; the message for whatever failed.
QString TBK_ControlMain::SaveWithPlay(const ScoreFileLock &lock, const PlayLine &line)
{
    const QString failure = session.SaveOwnScoreFile(lock);
    QString playFailure;
    if (!session.AppendPlays(lock, &line, &playFailure) && lock.Refusal() != nullptr && !failure.isEmpty())
        playFailure = session.PlayFailureMessage(QString(), false);  // the same reason twice says nothing more
    return SaveMessages(failure, playFailure);
}

// The score the last Insert replaced goes back, saved as an Insert saves. Another writer's
// score in between is not overwritten: the undo is refused, and the file's score shows.
void TBK_ControlMain::UndoLastInsert()
{
    if (!lastInsert.valid)
        throw std::runtime_error("There is no Insert to undo: this window has stored none since it opened");
    if (lastInsert.undone)
        throw std::runtime_error("The last Insert is undone already");
    const ScoreFileLock lock;
    const bool merged = session.MergeOwnFile();
    ChartRecord &chart = ChartTable[lastInsert.chart];
    const ChartScore now = ScoreOf(chart);
    const ChartScore &stored = lastInsert.stored;
    if (now.dpLost != stored.dpLost || now.day != stored.day || now.month != stored.month || now.year != stored.year) {
        if (merged)
            ShowMergedScores();
        throw std::runtime_error(QStringLiteral("The last Insert cannot be undone: %1 has another score in %2 now, "
                                                "DP lost %3 of %4, written by another window or an editor")
                                     .arg(QString::fromUtf8(chart.name), QString::fromLatin1(ScoreFileName))
                                     .arg(now.dpLost)
                                     .arg(DateText(now.day, now.month, now.year))
                                     .toStdString());
    }
    const ChartScore &back = lastInsert.replaced;
    PlayLine line;
    line.kind = PlayKind::Undo;
    line.replacedDpLost = stored.dpLost;
    line.replacedDay = stored.day;
    line.replacedMonth = stored.month;
    line.replacedYear = stored.year;
    chart.dpLost = back.dpLost;
    chart.day = back.day;
    chart.month = back.month;
    chart.year = back.year;
    StampResult(line, chart);
    lastInsert.undone = true;
    session.unsavedScore[chart.index] = true;
    SortCharts(chartOrder, sortKey, sortAscending);
    FillScoreList();
    UpdateTotals();
    const QString failure = SaveWithPlay(lock, line);
    if (session.scoresMergedOnSave)
        ShowMergedScores();
    SelectChartByIndex(chart.index);
    const bool hadScore = back.day != 0 || back.month != 0 || back.year != 0 || back.dpLost != chart.maxDp;
    Announce(hadScore ? QStringLiteral("Insert undone: %1 back to DP lost %2 of %3")
                            .arg(QString::fromUtf8(chart.name))
                            .arg(back.dpLost)
                            .arg(DateText(back.day, back.month, back.year))
                      : QStringLiteral("Insert undone: %1 back to no score").arg(QString::fromUtf8(chart.name)));
    if (!failure.isEmpty())
        throw std::runtime_error(failure.toStdString());
}

// Read when a history or an export first needs it, never at start. A refused journal is said
// once a session, by the handler once it has shown what was read before; the message, or nothing.
QString TBK_ControlMain::ReadJournal()
{
    PlayJournalStatus status;
    if (ReadPlayJournal(*playJournal, status) || session.journalRefusalSaid)
        return QString();
    session.journalRefusalSaid = true;
    return QStringLiteral("%1 was not read: %2")
        .arg(QString::fromLatin1(PlayJournalName), QString::fromUtf8(DescribeRefusal(status).text));
}
