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
#include "score_file_lock.h"
#include "window_parts.h"

using namespace window_parts;

namespace {

// A pipe, a device or a file too large to be a journal stays so until the player mends it, and
// is said once.
bool IsLastingRefusal(PlayJournalRefusal refused)
{
    return refused == PlayJournalRefusal::NotRegular || refused == PlayJournalRefusal::TooLarge;
}

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

// Every line not yet in Plays.csv goes in one append, the new one last, so that the journal
// keeps the order they were played in. True when none is left; message, when given, then says
// why, except for a refusal already said.
bool TBK_ControlMain::AppendPlays(const ScoreFileLock &lock, const PlayLine *line, QString *message)
{
    if (line != nullptr)
        unsavedPlays.push_back(*line);
    if (unsavedPlays.empty())
        return true;
    SaveFailure failure;
    PlayJournalRefusal refused = PlayJournalRefusal::None;
    const char *lockRefusal = lock.Refusal();
    if (lockRefusal == nullptr) {
        std::string text;
        char formatted[MaxPlayLineSize];
        for (const PlayLine &kept : unsavedPlays)
            text.append(formatted, FormatPlayLine(kept, formatted));
        if (AppendPlayLines(text.data(), text.size(), &failure, &refused)) {
            unsavedPlays.clear();
            return true;
        }
    }
    const QString reason = QString::fromUtf8(lockRefusal != nullptr ? lockRefusal : failure.reason);
    const QString said = PlayFailureMessage(reason, IsLastingRefusal(refused));
    if (message != nullptr)
        *message = said;
    return false;
}

QString TBK_ControlMain::PlayFailureMessage(const QString &reason, bool lasting)
{
    const QString journal = QString::fromLatin1(PlayJournalName);
    if (lasting) {
        if (journalRefusalSaid)
            return QString();
        journalRefusalSaid = true;
        return QStringLiteral("%1 is not written: %2. Only a regular file of a journal's size is read or written; "
                              "plays are kept in the window meanwhile, and this is not said again")
            .arg(journal, reason);
    }
    const int kept = UnsavedPlayCount();
    const QString keptText = kept == 1 ? QStringLiteral("The play is kept in the window")
                                       : QStringLiteral("The %1 plays are kept in the window").arg(kept);
    const QString failed = reason.isEmpty() ? QStringLiteral("%1 could not be written either").arg(journal)
                                            : QStringLiteral("%1 could not be written: %2").arg(journal, reason);
    return QStringLiteral("%1. %2; the next Insert or closing tries again").arg(failed, keptText);
}

// Scores.txt, then the play's line, under the one lock; the message for whatever failed.
QString TBK_ControlMain::SaveWithPlay(const ScoreFileLock &lock, const PlayLine &line)
{
    const QString failure = SaveOwnScoreFile(lock);
    QString playFailure;
    if (!AppendPlays(lock, &line, &playFailure) && lock.Refusal() != nullptr && !failure.isEmpty())
        playFailure = PlayFailureMessage(QString(), false);  // the same reason twice says nothing more
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
    const bool merged = MergeOwnFile();
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
    unsavedScore[chart.index] = true;
    SortCharts(chartOrder, sortKey, sortAscending);
    FillScoreList();
    UpdateTotals();
    const QString failure = SaveWithPlay(lock, line);
    if (scoresMergedOnSave)
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
// once a session; what was read before stays.
bool TBK_ControlMain::ReadJournal()
{
    PlayJournalStatus status;
    if (ReadPlayJournal(playJournal, status))
        return true;
    if (!journalRefusalSaid) {
        journalRefusalSaid = true;
        ShowError(QStringLiteral("%1 was not read: %2")
                      .arg(QString::fromLatin1(PlayJournalName), QString::fromUtf8(DescribeRefusal(status).text)));
    }
    return false;
}
