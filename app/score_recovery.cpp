#include "session.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <string>

#include "recovery_file.h"

namespace {

// "2 scores and 1 play", "1 score", "3 plays".
QString CountText(int scores, int plays)
{
    const QString scoreText = scores == 1 ? QStringLiteral("1 score") : QStringLiteral("%1 scores").arg(scores);
    const QString playText = plays == 1 ? QStringLiteral("1 play") : QStringLiteral("%1 plays").arg(plays);
    if (plays == 0)
        return scoreText;
    return scores == 0 ? playText : scoreText + QStringLiteral(" and ") + playText;
}

}  // namespace

// On the way out, with nobody left to ask: the scores and plays that reached neither file go
// into a recovery file beside Scores.txt, and one line on standard error says where, or that
// they are lost.
void TSession::KeepInRecoveryFile(const QString &why)
{
    const QString what = CountText(UnsavedScoreCount(), UnsavedPlayCount());
    char path[PATH_MAX];
    SaveFailure failure;
    const bool kept = WriteRecoveryFile(unsavedScore, unsavedPlays, path, &failure);
    const QString line =
        kept ? QStringLiteral("%1; %2 %3 kept in %4 until the next window opened there takes them in")
                   .arg(why, what, UnsavedScoreCount() + UnsavedPlayCount() == 1 ? QStringLiteral("is") : QStringLiteral("are"),
                        QString::fromUtf8(path))
             : QStringLiteral("%1; %2 could not be kept in %3 either (%4): they are lost")
                   .arg(why, what, QString::fromUtf8(path), QString::fromUtf8(failure.reason));
    std::fprintf(stderr, "brisko-calculator: %s\n", line.toUtf8().constData());
    std::fflush(stderr);
    if (kept)
        Discard();
}

// A window that could not save on its way out left its scores and plays in recovery files:
// taken in under the lock, each score where it is better than the file's, saved, the plays
// appended after them, and the files removed only once both are in their own files. Until then
// the files stay, and the scores wait in this session as well.
QString TSession::TakeInRecoveryFiles()
{
    RecoveredScores recovered;
    if (!ReadRecoveryFiles(recovered))
        return QString();  // the start of almost every window: nothing more than a look at the names
    const ScoreFileLock lock;
    recovered = RecoveredScores{};
    if (!ReadRecoveryFiles(recovered))
        return QString();  // another window took them in meanwhile
    // Without the lock nothing is taken in: the next start tries again.
    const QString failure =
        lock.Refusal() != nullptr ? QString::fromUtf8(lock.Refusal()) : SaveRecoveredScores(recovered, lock);
    SaveFailure removal;
    if (failure.isEmpty() && RemoveRecoveryFiles(recovered, &removal))
        return QString();
    if (failure.isEmpty())
        return QStringLiteral("%1 could not be removed once its scores and plays were saved (%2): remove it, or "
                              "the next window appends its plays to %3 again")
            .arg(QString::fromUtf8(recovered.firstPath), QString::fromUtf8(removal.reason),
                 QString::fromLatin1(PlayJournalName));
    return QStringLiteral("%1 holds scores and plays of a window that could not save them; it stays "
                          "until they are in their own files: %2")
        .arg(QString::fromUtf8(recovered.firstPath), failure);
}

// The recovered scores that beat the file's as unsaved ones of this session (the file read
// first, as a window that holds the file's scores would not count its own as changed); then the
// plays, only once the scores are saved, so that a recovery file that stays never brings its
// plays twice. Yields what failed.
QString TSession::SaveRecoveredScores(const RecoveredScores &recovered, const ScoreFileLock &lock)
{
    MergeOwnFile();
    for (int i = 0; i < ChartCount; ++i)
        if (recovered.hasScore[i] && TakeBetterScore(ChartTable[i], recovered.dpLost[i], recovered.day[i],
                                                     recovered.month[i], recovered.year[i]))
            unsavedScore[i] = true;
    const QString failure = UnsavedScoreCount() != 0 ? SaveOwnScoreFile(lock) : QString();
    std::string plays;
    char line[MaxPlayLineSize];
    for (const PlayLine &play : recovered.plays)
        plays.append(line, FormatPlayLine(play, line));
    SaveFailure journalFailure;
    if (!failure.isEmpty() || plays.empty() || AppendPlayLines(plays.data(), plays.size(), &journalFailure))
        return failure;
    return QStringLiteral("%1 could not be written: %2")
        .arg(QString::fromLatin1(PlayJournalName), QString::fromUtf8(journalFailure.reason));
}
