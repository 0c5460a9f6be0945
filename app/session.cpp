#include "session.h"

#include <algorithm>
#include <cstdlib>
#include <iterator>
#include <string>

#include <QCoreApplication>

namespace {

TSession *currentSession = nullptr;  // what exit() saves, and what the window and the hooks reach

// A pipe, a device or a file too large to be a journal stays so until the player mends it, and
// is said once.
bool IsLastingRefusal(PlayJournalRefusal refused)
{
    return refused == PlayJournalRefusal::NotRegular || refused == PlayJournalRefusal::TooLarge;
}

}  // namespace

// Qt 6.4 ends the program with exit() when the display's connection breaks, inside its event
// loop with the window still alive: what is missing from Scores.txt is saved on the way out.
TSession::TSession()
{
    if (currentSession != nullptr)
        qFatal("a second session of the program");
    currentSession = this;
    static const bool registered = std::atexit(SaveBeforeExit) == 0;
    (void)registered;
}

TSession::~TSession()
{
    StopEndingOnSignals();
    currentSession = nullptr;
}

TSession &TSession::Current()
{
    if (currentSession == nullptr)
        qFatal("no session of the program: make one beside the application");
    return *currentSession;
}

int TSession::UnsavedScoreCount() const
{
    return int(std::count(std::begin(unsavedScore), std::end(unsavedScore), true));
}

int TSession::UnsavedPlayCount() const
{
    return int(unsavedPlays.size());
}

void TSession::Discard()
{
    std::fill(std::begin(unsavedScore), std::end(unsavedScore), false);
    unsavedPlays.clear();
}

QString TSession::LoadOwnScoreFile()
{
    LoadScoreFile(nullptr, &ownFileStatus);
    if (!IsRefusal(ownFileStatus))
        return QString();
    return QStringLiteral("%1 was not read: %2. The window starts without scores and leaves that file as it is")
        .arg(QString::fromLatin1(ScoreFileName), QString::fromLocal8Bit(DescribeRefusal(ownFileStatus).text));
}

// True when a score in the table changed. A refused file is tried again every time, as the
// player may have mended it.
bool TSession::MergeOwnFile()
{
    return MergeOwnScoreFile(unsavedScore, ownFileStatus);
}

// Yields the message for a Scores.txt that was not saved, or nothing when it was.
QString TSession::SaveOwnScoreFile(const ScoreFileLock &lock)
{
    scoresMergedOnSave = false;
    QString reason;
    SaveFailure failure;
    if (IsRefusal(ownFileStatus))
        reason = QString::fromLocal8Bit(DescribeRefusal(ownFileStatus).text);
    else if (lock.Refusal() != nullptr)
        reason = QString::fromUtf8(lock.Refusal());
    else if (!SaveMergedScoreFile(unsavedScore, ownFileStatus, &failure, scoresMergedOnSave))
        reason = QString::fromUtf8(failure.reason);
    else
        std::fill(std::begin(unsavedScore), std::end(unsavedScore), false);
    return reason.isEmpty() ? reason
                            : QStringLiteral("%1 could not be saved: %2").arg(QString::fromLatin1(ScoreFileName), reason);
}

// Every line not yet in Plays.csv goes in one append, the new one last, so that the journal
// keeps the order they were played in. True when none is left; message, when given, then says
// why, except for a refusal already said.
bool TSession::AppendPlays(const ScoreFileLock &lock, const PlayLine *line, QString *message)
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

QString TSession::PlayFailureMessage(const QString &reason, bool lasting)
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

// Under the lock, waited for as long as the end of a session allows, since another window may
// be saving at the same logout; the file read again first, as Insert reads it: scores it lost
// since the last Insert count as unsaved too, and a refused file the player mended is written.
// No widget is touched: this also runs inside exit().
bool TSession::SaveQuietly()
{
    // Read once without the lock: a session with nothing left to save ends at once, even while
    // another window holds the lock.
    MergeOwnFile();
    if (UnsavedScoreCount() == 0 && UnsavedPlayCount() == 0)
        return true;
    const ScoreFileLock lock(endingLockWaitMs);
    MergeOwnFile();
    const QString failure = UnsavedScoreCount() != 0 ? SaveOwnScoreFile(lock) : QString();
    AppendPlays(lock, nullptr, nullptr);
    if (UnsavedScoreCount() == 0 && UnsavedPlayCount() == 0)
        return true;
    QString why = failure;
    if (why.isEmpty())
        why = QStringLiteral("%1 could not be written").arg(QString::fromLatin1(PlayJournalName)) +
              (lock.Refusal() != nullptr ? QStringLiteral(": ") + QString::fromUtf8(lock.Refusal()) : QString());
    KeepInRecoveryFile(why);
    endStatus_ = EXIT_FAILURE;
    return false;
}

// Also while the close question is open: exit ends every event loop, the question's included.
// What is not saved by then is in a recovery file, or standard error has said it is lost.
void TSession::EndWithoutQuestions()
{
    SaveQuietly();
    Discard();
    QCoreApplication::exit(endStatus_);
}

// Runs inside exit(), after the session ended where main returned.
void TSession::SaveBeforeExit()
{
    if (currentSession != nullptr)
        currentSession->SaveQuietly();
}
